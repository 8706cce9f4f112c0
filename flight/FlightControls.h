// Flying the camera: the motion step of every advance and what the Trace
// window's keys, wheel and buttons do to the flight state.
//
// Threads: user-interface thread (the headless session runs the motion step
// on the render thread, which is then the only thread touching the camera).
#pragma once

#include "platform/VirtualKeys.h"

#include <functional>

namespace vortigo {

// What the window must do after a key the core has handled.
enum class KeyAction {
    None,
    Advance,              // send the advance message to itself
    CentrePointer,        // move the pointer to the middle of the frame
    CentrePointerAdvance, // the same, then advance
    StoreSteeringPoint,   // remember the pointer as the steering point
    RepostKey,            // the system is busy: post the same key again
};

// The pointer in the Trace window's client coordinates; false without one
// (then free flight steers straight ahead).
using PointerSource = std::function<bool(int& x, int& y)>;
void setPointerSource(PointerSource source);

// The point frozen steering steers by (stored by Esc).
void setSteeringPoint(int x, int y);

// The capture writer as the keys C and X reach it. The writer lives in a
// layer above and installs these before any window exists.
struct CaptureKeys {
    std::function<bool()> fileOpen; // a capture is active (possibly paused)
    std::function<void()> start;    // starts with the output settings of the state
    std::function<void()> finish;   // clears capturing and completes the file
};
void setCaptureKeys(CaptureKeys keys);

// The Replay menu's edits of the recording's marks. They stop nothing: a
// running flight or replay goes on from the changed marks.
enum class RingEdit { Rewind, JumpToEnd, MarkBeginning, MarkEnd, Smooth, Clear };

// Applies the edit now when the render thread is between two frames (the
// script reads the same words while it draws), else keeps it for the next
// advance or applyPendingRingEdits(). Returns whether nothing is left
// waiting. User-interface thread.
bool requestRingEdit(RingEdit edit);
// The kept edits, in order, if the render thread is between frames now.
bool applyPendingRingEdits();

// One motion step for the current flightMode (no step in mode 0).
void motionStep();

// The Trace window's handling of the advance message (user-interface
// thread): one motion step, the status line, and the next frame released.
void handleAdvanceMessage();

// A key pressed in the Trace window, by virtual-key code. Ignored (None)
// unless the studio runs with a compiled script and frame buffers.
KeyAction traceKeyDown(int virtualKey);
// A key released: always clears its keyDown and the Shift/Ctrl state.
void traceKeyUp(int virtualKey);
// A wheel notch in free flight rolls the camera.
void traceWheel(int delta);
// A mouse button in free flight: the key it stands for (Up or Down), or 0.
int traceMouseButton(bool left);

} // namespace vortigo
