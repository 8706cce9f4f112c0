// The Sliders dialog: udef[4] to udef[15] on twelve horizontal scroll bars
// from -1.0 to 1.0 in steps of 0.01, and Insert, which writes the values
// into the shown text in place of their names. Modeless, owned by the main
// window, at most one at a time (editorState().slidersOpen).
// User-interface thread only.
#pragma once

#include <QDialog>
#include <array>
#include <string>

class QLineEdit;
class QPushButton;
class QScrollBar;

namespace vortigo {

class MainWindow;

constexpr int SLIDER_FIRST = 4;
constexpr int SLIDER_LAST = 15;
constexpr int SLIDER_COUNT = SLIDER_LAST - SLIDER_FIRST + 1;

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

    // The dialog's controls, as the user reaches them: row i holds the bar
    // and the value box of udef[SLIDER_FIRST + i].
    struct Controls {
        std::array<QScrollBar*, SLIDER_COUNT> bars;
        std::array<QLineEdit*, SLIDER_COUNT> values;
        QPushButton *insert, *cancel;
    };
    const Controls& controls() const { return m_controls; }

    // A scroll request from the bar of udef[k]; `thumb` is the position a
    // thumb request carries.
    void scroll(int k, ScrollRequest request, int thumb = 0);
    // Asks, inserts the values on Yes, and closes.
    void insert();
    void cancel();

  protected:
    void done(int result) override;

  private:
    void showRow(int k);
    void detach();

    MainWindow* m_owner;
    Controls m_controls{};
    bool m_attached = false;
};

// Opens the dialog unless one exists; returns it, or null.
SlidersDialog* openSlidersDialog(MainWindow* owner);

// Writes "%.4f" of udef[4] to udef[15] into `text` in place of the first
// "udef[4]" to "udef[15]", each only while the text stays within the
// buffer's 65535 characters; true when anything was replaced.
bool insertSliderValues(std::string& text);

} // namespace vortigo
