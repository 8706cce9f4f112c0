// The services the core asks of the desktop: message boxes, beeps, posted
// and sent window messages, window titles and repaints. One implementation
// drives the real Qt windows, the headless one records everything for tests
// and batch work. Every function here may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vortigo {

enum class WindowId { None, Main, Trace };

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Error, Warning, Information, Question };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// Private window messages, numbered as the first user message (1024) plus an
// offset; scripts and tests rely on these numbers.
constexpr int MSG_ADVANCE = 1057;   // to the Trace window: one motion step, one frame
constexpr int MSG_GOTO_LINE = 1059; // to the main window: p1 line from 1, p2 text kind
constexpr int MSG_KEYDOWN = 0x0100; // a key pressed: p1 the virtual-key code
// To the Trace window: format the status line again (after a failed capture write).
constexpr int MSG_STATUS_LINE = 1058;

struct WindowMessage {
    WindowId target = WindowId::None;
    int type = 0;
    intptr_t p1 = 0;
    intptr_t p2 = 0;
};

// Receives the private messages addressed to a window, on the
// user-interface thread.
using MessageHandler = std::function<void(const WindowMessage&)>;

class Platform {
  public:
    virtual ~Platform() = default;

    // Shows a modal message box and returns the answer. A worker thread
    // blocks until the user answers, unless the waiting is cancelled by
    // `cancelWaits` (then the least committal answer comes back).
    virtual MsgAnswer messageBox(WindowId owner, const std::string& text,
                                 const std::string& caption, MsgButtons buttons, MsgIcon icon) = 0;

    // A tone of about `hz` for `ms`; never blocks longer than the tone.
    virtual void beep(int hz, int ms) = 0;

    // Queues a message for `target`'s handler and returns at once.
    virtual void postMessage(const WindowMessage& message) = 0;

    // Queues a message and waits until the handler has run it. The wait also
    // ends when keepWaiting() turns false (the exit path stops the render thread);
    // returns true when the handler ran.
    virtual bool sendMessage(const WindowMessage& message,
                             const std::function<bool()>& keepWaiting) = 0;

    virtual void setTitle(WindowId window, const std::string& title) = 0;

    // Asks the window to repaint itself from the state it shows.
    virtual void invalidate(WindowId window) = 0;

    // Replaces the editor control's text (the debug output page refresh).
    virtual void setEditorText(const std::string& text) = 0;

    // Installs the handler of a window's private messages.
    virtual void setHandler(WindowId window, MessageHandler handler) = 0;

    // Ends every wait of a worker thread for the user-interface thread
    // (message boxes, sent messages) so the exit path cannot deadlock.
    virtual void cancelWaits() {}
};

// The installed platform. Every program installs one before anything runs;
// calling this with none installed stops the program with a message.
Platform& platform();
// Installs `platform` (nullptr: none) and returns the one it replaces.
Platform* setPlatform(Platform* platform);

// Installs a platform for a scope and puts the previous one back at its end.
class ScopedPlatform {
  public:
    explicit ScopedPlatform(Platform* platform) : m_previous(setPlatform(platform)) {}
    ~ScopedPlatform() { setPlatform(m_previous); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

  private:
    Platform* m_previous;
};

// printf-style formatting that never depends on the desktop's locale.
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace vortigo
