// The Watch dialog: four rows that show or set globals of the running
// animation script by name, offset and type. Modeless, owned by the main
// window, at most one at a time (viewFlags().watchOpen). While it is open the
// post-processing thread asks for a refresh after every frame; the refresh
// itself runs here, on the user-interface thread.
//
// Threads: everything but refreshWatchFromPostThread runs on the
// user-interface thread.
#pragma once

#include "script/WatchRows.h"

#include <QDialog>
#include <array>
#include <functional>

class QCloseEvent;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace vortigo {

class WatchDialog : public QDialog {
  public:
    // Sets watchOpen and installs the per-frame refresh hook.
    explicit WatchDialog(QWidget* owner);
    ~WatchDialog() override;

    // The dialog's controls, as the user reaches them: one row of name,
    // offset, type and value per watched global, and the three buttons.
    struct Controls {
        std::array<QLineEdit*, WATCH_ROW_COUNT> names, offsets;
        std::array<QComboBox*, WATCH_ROW_COUNT> types;
        std::array<QLineEdit*, WATCH_ROW_COUNT> values;
        QPushButton *watch, *set, *close;
    };
    const Controls& controls() const { return m_controls; }

    // The three buttons.
    void watch();
    void set();
    void closeWatch();

    // The per-frame read. Quiet when no script is ready; it leaves alone a
    // value box the user has typed into since the last Watch or Set, so a
    // running animation cannot overwrite a value before it is set, and it
    // pauses after a fault until the next Watch or Set, so a bad row cannot
    // raise one message per frame.
    void refresh();

    // Where the dialog's message boxes go; unset, they are modal boxes owned
    // by the dialog. Tests record them instead.
    using MessageSink = std::function<void(const QString& text, const QString& caption)>;
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void handleRows(bool write, bool perFrame);
    void showMessage(const QString& text, const QString& caption);
    // Clears watchOpen and removes the hook, once.
    void detach();

    Controls m_controls{};
    MessageSink m_messageSink;
    bool m_attached = false;
    bool m_boxOpen = false;
    bool m_refreshPaused = false;
};

// Opens the dialog unless one is open (then that one is brought to the
// front). Returns the new dialog, or null.
WatchDialog* openWatchDialog(QWidget* owner);

// The open dialog, or null.
WatchDialog* watchDialog();

// The refresh hook, called by the post-processing thread after a frame: it
// queues one refresh on the user-interface thread and returns at once. While
// a refresh is queued, further calls add nothing, so a slow user interface
// is never flooded.
void refreshWatchFromPostThread();

} // namespace vortigo
