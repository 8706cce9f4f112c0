#include "app/Studio.h"

#include "app/StudioArguments.h"
#include "control/TraceKeys.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ThreadRole.h"
#include "core/ViewFlags.h"
#include "flight/FlightControls.h"
#include "media/Capture.h"
#include "persist/Options.h"
#include "persist/ProjectDefaults.h"
#include "platform/VirtualKeys.h"
#include "render/Workers.h"
#include "resources/Resources.h"
#include "ui/AboutDialog.h"
#include "ui/CompressionDialog.h"
#include "ui/EditorState.h"
#include "ui/FileFlows.h"
#include "ui/KeyRouter.h"
#include "ui/MainWindow.h"
#include "ui/QtPlatform.h"
#include "ui/TraceWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vortigo {
namespace {

MainWindow* g_main = nullptr;
TraceWindow* g_trace = nullptr;
bool g_workersLeftRunning = false;

// SIGTERM and SIGHUP (log-out, shutdown, kill) end the studio through its
// exit path, so a capture is finished and udShutdown runs. The handler only
// writes the signal into a pipe that the message loop watches.
int g_signalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    if (write(g_signalPipe[1], &byte, 1) < 0) {
        // The pipe is full: an earlier signal is already waiting.
    }
    errno = saved;
}

void setEndSignalHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// Returns the watcher, or nullptr (the signals then keep their default).
QSocketNotifier* watchEndSignals(MainWindow* mainWindow) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [mainWindow] {
        char bytes[16];
        while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        std::fprintf(stderr, "vortigo: ending on a signal; edited texts are not saved\n");
        mainWindow->closeWithoutAsking();
    });
    setEndSignalHandler(onEndSignal);
    return notifier;
}

void stopWatchingEndSignals(QSocketNotifier* notifier) {
    if (!notifier) return;
    setEndSignalHandler(SIG_DFL);
    delete notifier;
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

// Qt ends the process when the display it is given cannot be opened, so the
// studio tries the connection itself first, through the same client
// libraries Qt's platform plugins load.
bool canOpenX11(const char* name) {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool ok = false;
    if (connect && hasError && disconnect) {
        void* connection = connect(name, nullptr);
        ok = connection && hasError(connection) == 0;
        if (connection) disconnect(connection);
    }
    dlclose(xcb);
    return ok;
}

bool canOpenWayland(const char* name) {
    void* wayland = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!wayland) return false;
    using Connect = void* (*)(const char*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(wayland, "wl_display_connect"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(wayland, "wl_display_disconnect"));
    bool ok = false;
    if (connect && disconnect) {
        void* display = connect(name);
        ok = display != nullptr;
        if (display) disconnect(display);
    }
    dlclose(wayland);
    return ok;
}

// Empty when the studio can open a window, else why it cannot.
std::string displayProblem() {
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName && *platformName) return {}; // chosen by hand: Qt's own check
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool hasX11 = x11 && *x11, hasWayland = wayland && *wayland;
    if (!hasX11 && !hasWayland)
        return "the studio needs a desktop, and no display was found (DISPLAY and "
               "WAYLAND_DISPLAY are unset).";
    if ((hasWayland && canOpenWayland(wayland)) || (hasX11 && canOpenX11(x11))) return {};
    std::string names;
    if (hasWayland) names += std::string("WAYLAND_DISPLAY=") + wayland;
    if (hasX11) names += std::string(names.empty() ? "" : ", ") + "DISPLAY=" + x11;
    return "the display cannot be opened (" + names + ").";
}

void printUsage(const char* program) {
    std::printf("Usage: %s [OPTION]... [--] [FILE]\n"
                "A desktop studio for animated fractal imagery: GLSL shader layers driven by\n"
                "an animation script in C.\n\n"
                "  FILE           a project (.vort), a flight recording (.vorn) or a text\n"
                "                 (.anim, .frag, .vert) to open; after \"--\" it may start\n"
                "                 with \"-\"\n"
                "  -h, --help     show this help and exit\n"
                "  -V, --version  show the version and exit\n"
                "  Qt's own options (-platform NAME, -style NAME, -reverse, ...) pass to Qt.\n\n"
                "Without a desktop, render with vortigo-render, or run the studio under a\n"
                "virtual X server: xvfb-run -a %s\n",
                program, program);
}

} // namespace

void shutDownStudio() {
    viewFlags().mainWindowExists = false;
    g_workersLeftRunning = !runExitPath();
    if (g_workersLeftRunning)
        std::fprintf(stderr, "vortigo: a worker thread did not end in time; exiting without it\n");
    if (g_trace) g_trace->hide();
    QCoreApplication::exit(0);
}

int runStudio(int argc, char** argv) {
    // This thread writes the editor and the files and, in the studio, steps
    // the flight.
    registerThreadRole(ThreadRole::Ui);
    claimMotion();
    const char* program = argc > 0 ? argv[0] : "vortigo";
    const StudioArguments arguments = parseStudioArguments(argc, argv);
    switch (arguments.action) {
    case StudioArguments::Action::Help:
        printUsage(program);
        return 0;
    case StudioArguments::Action::Version:
        std::printf("vortigo %s\n", VORTIGO_VERSION);
        return 0;
    case StudioArguments::Action::Error:
        std::fprintf(stderr, "vortigo: %s (see %s --help)\n", arguments.error.c_str(), program);
        return 2;
    case StudioArguments::Action::Run:
        break;
    }
    const std::string problem = arguments.platformChosen ? std::string() : displayProblem();
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "vortigo: %s\n"
                     "Run it on a desktop, or under a virtual X server: xvfb-run -a %s\n",
                     problem.c_str(), program);
        return 2;
    }

    // Qt sees only its own options: a file named after "--" may look like one.
    std::vector<std::string> qtWords = arguments.qt;
    std::vector<char*> qtArgv;
    qtArgv.reserve(qtWords.size() + 1);
    for (std::string& word : qtWords)
        qtArgv.push_back(word.data());
    int qtArgc = static_cast<int>(qtArgv.size());
    qtArgv.push_back(nullptr);
    QApplication application(qtArgc, qtArgv.data());
    // Qt takes the C locale from the environment; numbers in files and
    // titles must not get a decimal comma. None of our threads runs yet.
    std::setlocale(LC_NUMERIC, "C"); // NOLINT(concurrency-mt-unsafe)
    QApplication::setApplicationName(QString::fromLatin1(APP_TITLE));
    QApplication::setWindowIcon(programIcon());

    QtPlatform qtPlatform;
    ScopedPlatform installed(&qtPlatform);

    if (!initialiseProjectState()) {
        std::fprintf(stderr, "vortigo: not enough memory for the project buffers\n");
        return 1;
    }
    EditorState& editor = editorState();
    static_cast<WindowLayout&>(editor) = readWindowLayout(optionsPath());
    editor.showNewProject();

    auto* mainWindow = new MainWindow;
    mainWindow->setExitPath(shutDownStudio);
    g_main = mainWindow;
    auto* trace = new TraceWindow;
    g_trace = trace;
    mainWindow->setTraceWindow(trace);
    qtPlatform.registerWindow(WindowId::Main, mainWindow);
    qtPlatform.registerWindow(WindowId::Trace, trace);
    qtPlatform.registerEditor(mainWindow->editor());
    qtPlatform.setHandler(WindowId::Trace, handleTraceMessage);
    qtPlatform.setHandler(WindowId::Main, [](const WindowMessage& message) {
        if (message.type == MSG_GOTO_LINE && g_main)
            g_main->goToLine(static_cast<int>(message.p1), static_cast<int>(message.p2));
    });
    viewFlags().mainWindowExists = true;
    // The capture's first AVI file asks for its compression over the Trace window.
    setCompressionChooser(
        [trace](CompressionChoice& choice) { return CompressionDialog::choose(choice, trace); });

    mainWindow->showCurrentText();
    mainWindow->checkLayerItem(0);

    mainWindow->show();
    trace->show();

    // A file named on the command line (a desktop entry, "Open with") opens
    // as File > Open would open it; the workers are not running yet, so the
    // render thread is at rest.
    if (!arguments.file.empty())
        openFileAsked(*mainWindow, QFileInfo(QString::fromLocal8Bit(arguments.file.c_str()))
                                       .absoluteFilePath()
                                       .toStdString());

    startWorkers();
    runState().compileRequest.set();
    runState().resizeRequest.set();

    KeyRouter router(mainWindow);
    application.installEventFilter(&router);
    QSocketNotifier* endSignals = watchEndSignals(mainWindow);

    const int code = application.exec();
    stopWatchingEndSignals(endSignals);
    application.removeEventFilter(&router);

    if (g_workersLeftRunning) {
        // A stuck worker may still use the state; end without destructors.
        std::fflush(nullptr);
        _exit(code);
    }
    setCompressionChooser(nullptr);
    g_main = nullptr;
    g_trace = nullptr;
    delete trace;
    delete mainWindow;
    return code;
}

} // namespace vortigo
