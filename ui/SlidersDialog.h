// The Sliders dialog: udef[4] to udef[15] on twelve horizontal scroll bars
// from -1.0 to 1.0 in steps of 0.01, and Insert, which writes the values
// into the shown text in place of their names. Modeless, owned by the main
// window, at most one at a time (editorState().slidersOpen). The controls keep
// their resource identifiers so tests drive them by number.
// User-interface thread only.
#pragma once

#include <QDialog>
#include <map>
#include <string>

class QScrollBar;

namespace vortigo {

class MainWindow;

constexpr int SLIDER_FIRST = 4;
constexpr int SLIDER_LAST = 15;
constexpr int IDC_SLIDERS_CANCEL = 2;
constexpr int IDC_SLIDERS_INSERT = 1065;
// Row k (4 to 15): scroll bar 2k + 1033, value box 2k + 1034.
constexpr int sliderBarId(int k) {
    return 2 * k + 1033;
}
constexpr int sliderValueId(int k) {
    return 2 * k + 1034;
}

// The scroll bar position that shows value v (before the bar clamps it to
// 0 to 200), and the value of a position.
int sliderPositionOf(float value);
float sliderValueOf(int position);

// The design's horizontal scroll requests.
enum class ScrollRequest {
    LineLeft,
    LineRight,
    PageLeft,
    PageRight,
    ThumbPosition,
    ThumbTrack,
    End
};

class SlidersDialog : public QDialog {
  public:
    // Sets slidersOpen and shows every row.
    explicit SlidersDialog(MainWindow* owner);
    ~SlidersDialog() override;

    QWidget* control(int id) const;

    // A scroll request from bar `barId`; `thumb` is the position a thumb
    // request carries.
    void scroll(int barId, ScrollRequest request, int thumb = 0);
    // Asks, inserts the values on Yes, and closes.
    void insert();
    void cancel();

  protected:
    void done(int result) override;

  private:
    void showRow(int k);
    void detach();

    MainWindow* m_owner;
    std::map<int, QWidget*> m_controls;
    bool m_attached = false;
};

// Opens the dialog unless one exists; returns it, or null.
SlidersDialog* openSlidersDialog(MainWindow* owner);

// Writes "%.4f" of udef[4] to udef[15] into `text` in place of the first
// "udef[4]" to "udef[15]", each only while the text stays within the
// buffer's 65535 characters; true when anything was replaced.
bool insertSliderValues(std::string& text);

} // namespace vortigo
