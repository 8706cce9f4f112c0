#include "app/Studio.h"

#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "persist/ProjectDefaults.h"
#include "render/Workers.h"
#include "resources/Resources.h"
#include "ui/AboutDialog.h"
#include "ui/FileFlows.h"
#include "ui/MainWindow.h"
#include "ui/QtPlatform.h"
#include "ui/TraceWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace vortigo {
namespace {

MainWindow* g_main = nullptr;
TraceWindow* g_trace = nullptr;
bool g_workersLeftRunning = false;

// What the message loop does with a message before it is dispatched:
// function keys go to the main window from any window, Enter in the editor
// marks the text edited and carries the line's leading tabs to the new line,
// and Alt+? or Alt+/ opens the About box.
class KeyRouter : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !g_main) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F12) {
            g_main->onFunctionKey(112 + (key->key() - Qt::Key_F1));
            return true;
        }
        if ((key->modifiers() & Qt::AltModifier) &&
            (key->key() == Qt::Key_Question || key->key() == Qt::Key_Slash)) {
            g_main->onCommand(CMD_ABOUT);
            return true;
        }
        QPlainTextEdit* editor = g_main->editor();
        if (watched == editor && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !key->isAutoRepeat()) {
            g_main->markShownTextEdited();
            repeatLeadingTabs(editor);
        }
        return false;
    }

  private:
    // The posted tabs arrive after the Enter has made the new line.
    static void repeatLeadingTabs(QPlainTextEdit* editor) {
        const QString line = editor->textCursor().block().text().left(255);
        int tabs = 0;
        while (tabs < line.size() && line[tabs] == QLatin1Char('\t'))
            ++tabs;
        for (int i = 0; i < tabs; ++i) {
            QCoreApplication::postEvent(
                editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t"));
            QCoreApplication::postEvent(
                editor, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, "\t"));
        }
    }
};

bool hasDisplay() {
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName && *platformName) return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

void shutDownStudio() {
    state().mainWindowExists = false;
    g_workersLeftRunning = !runExitPath();
    if (g_workersLeftRunning)
        std::fprintf(stderr, "vortigo: a worker thread did not end in time; exiting without it\n");
    if (g_trace) g_trace->hide();
    QCoreApplication::exit(0);
}

int runStudio(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "vortigo: the studio needs a desktop, and no display was found (DISPLAY "
                     "and WAYLAND_DISPLAY are unset).\n"
                     "Run it on a desktop, or under a virtual X server: xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "vortigo");
        return 2;
    }

    QApplication application(argc, argv);
    // Qt takes the C locale from the environment; numbers in files and
    // titles must not get a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromLatin1(APP_TITLE));
    QApplication::setWindowIcon(programIcon());

    QtPlatform qtPlatform;
    setPlatform(&qtPlatform);

    if (!initialiseProjectState()) {
        std::fprintf(stderr, "vortigo: not enough memory for the project buffers\n");
        setPlatform(nullptr);
        return 1;
    }

    auto* mainWindow = new MainWindow;
    mainWindow->setExitPath(shutDownStudio);
    g_main = mainWindow;
    auto* trace = new TraceWindow;
    g_trace = trace;
    mainWindow->setTraceWindow(trace);
    qtPlatform.registerWindow(WindowId::Main, mainWindow);
    qtPlatform.registerWindow(WindowId::Trace, trace);
    qtPlatform.registerEditor(mainWindow->editor());
    qtPlatform.setHandler(WindowId::Trace, [](const WindowMessage& message) {
        if (message.type == MSG_ADVANCE) handleAdvanceMessage();
    });
    qtPlatform.setHandler(WindowId::Main, [](const WindowMessage& message) {
        if (message.type == MSG_GOTO_LINE && g_main)
            g_main->goToLine(static_cast<int>(message.p1), static_cast<int>(message.p2));
    });
    state().mainWindowExists = true;

    mainWindow->showCurrentText();
    mainWindow->checkLayerItem(0);

    mainWindow->show();
    trace->show();

    // A file named on the command line (a desktop entry, "Open with") opens
    // as File > Open would open it; the workers are not running yet, so the
    // render thread is at rest.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && !arguments[1].isEmpty())
        openFileAsked(*mainWindow, QFileInfo(arguments[1]).absoluteFilePath().toStdString());

    startWorkers();
    state().compileRequest.set();
    state().resizeRequest.set();

    KeyRouter router;
    application.installEventFilter(&router);

    const int code = application.exec();
    application.removeEventFilter(&router);

    if (g_workersLeftRunning) {
        // A stuck worker may still use the state; end without destructors.
        std::fflush(nullptr);
        _exit(code);
    }
    g_main = nullptr;
    g_trace = nullptr;
    delete trace;
    delete mainWindow;
    setPlatform(nullptr);
    return code;
}

} // namespace vortigo
