// What the Trace window's keys, wheel and buttons do, and its private
// messages: the advance and the status line refresh. The keys C and X drive
// the capture writer.
//
// Threads: user-interface thread.
#pragma once

#include "platform/Platform.h"

namespace vortigo {

// What the window must do after a key handled here.
enum class KeyAction {
    None,
    Advance,              // send the advance message to itself
    CentrePointer,        // move the pointer to the middle of the frame
    CentrePointerAdvance, // the same, then advance
    StoreSteeringPoint,   // remember the pointer as the steering point
    RepostKey,            // the system is busy: post the same key again
};

// A key pressed in the Trace window, by virtual-key code. Ignored (None)
// unless the studio runs with a compiled script and frame buffers.
KeyAction traceKeyDown(int virtualKey);
// A key released: always clears its keyDown and the Shift/Ctrl state.
void traceKeyUp(int virtualKey);
// A wheel notch in free flight rolls the camera; `delta` is the vertical
// part, and a scroll without one rolls nothing.
void traceWheel(int delta);
// A mouse button in free flight: the key it stands for (Up or Down), or 0.
int traceMouseButton(bool left);

// The advance message: one motion step, the status line, and the next frame
// released.
void handleAdvanceMessage();

// The Trace window's handler of its private messages.
void handleTraceMessage(const WindowMessage& message);

} // namespace vortigo
