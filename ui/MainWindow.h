// The main window: the editor for the animation script, the eight shader
// texts and the debug output, carrying the menus. Each menu item is bound to
// its work where the menus are built; onCommand(id) runs the same work by
// command number, for the function keys and the tests. User-interface
// thread only.
#pragma once

#include "flight/FlightControls.h"
#include "ui/EditorControl.h"

#include <QMainWindow>
#include <functional>
#include <map>

class QAction;
class QActionGroup;
class QPlainTextEdit;

namespace vortigo {

class LiveReload;
class TraceWindow;

class MainWindow : public QMainWindow {
  public:
    MainWindow();

    // Runs once when the window closes: the studio's exit path.
    void setExitPath(std::function<void()> exitPath) { m_exitPath = std::move(exitPath); }
    // Closes and runs the exit path without asking about edited texts,
    // which stay unsaved: the session is ending (SIGTERM, SIGHUP).
    void closeWithoutAsking();

    EditorControl* editor() const { return m_editor; }

    // The menu command `id` as if its item were chosen; nothing for an
    // unknown or disabled one.
    void onCommand(int id);
    // F1 to F12 as virtual-key codes 112 to 123, from whichever window had
    // the focus.
    void onFunctionKey(int virtualKey);

    // Copies the editor into the shown kind's buffer and records its top line.
    void storeShownText();
    // Puts the current kind's buffer into the editor, sets the title and
    // scrolls to the kind's top line.
    void showCurrentText();
    void checkLayerItem(int layer);

    // A go-to-line request: shows text kind `kind` (0 to 2) of the current
    // layer, scrolls line `line` (from 1) to the top and selects its first
    // character. A line past the end selects the last line; 0 or below
    // goes to the top.
    void goToLine(int line, int kind);

    // Sets the dirty flag of the shown text (the debug output has none).
    void markShownTextEdited();

    // Find next from the selection (F3); nothing when findText is empty.
    void findNext();

    // A text changed on disk was loaded: compile and draw as Run does, but
    // with errors in the status line instead of a box, and the keyboard left
    // where it is.
    void recompileAfterReload();
    LiveReload* liveReload() const { return m_liveReload; }

    // Called with the Trace window so Run can give it the keyboard focus.
    void setTraceWindow(TraceWindow* trace) { m_trace = trace; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenus();
    bool ringIsIdle(int id);
    void editRing(RingEdit edit);
    void editRingLater();
    QAction* addCommand(QMenu* menu, const QString& text, int id, std::function<void()> work);
    void switchKind(int kind);
    void switchLayer(int layer);
    void compile(bool run);
    int firstVisibleLine() const;
    void scrollToLine(int line);
    void selectLineStart(int line);
    void openFind();
    void deleteLayer();
    void showLineTitle();
    void giveKeysToTrace();

    EditorControl* m_editor = nullptr;
    TraceWindow* m_trace = nullptr;
    LiveReload* m_liveReload = nullptr;
    struct BoundCommand {
        QAction* action = nullptr;
        std::function<void()> work;
    };
    std::map<int, BoundCommand> m_commands; // by command number
    QAction* m_recordData = nullptr;
    QActionGroup* m_layerGroup = nullptr;
    bool m_closing = false;
    bool m_exitAnswered = false; // Exit has asked about the edited texts
    std::function<void()> m_exitPath;
    bool m_settingText = false; // the control changes because a text is shown, not edited
};

} // namespace vortigo
