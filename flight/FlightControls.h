// Flying the camera: the motion step of every advance, the pointer it
// steers by, and the Replay menu's edits of the recording.
//
// Threads: user-interface thread (the headless session runs the motion step
// on the render thread, which is then the only thread touching the camera).
#pragma once

#include <functional>

namespace vortigo {

// The pointer in the Trace window's client coordinates; false without one
// (then free flight steers straight ahead).
using PointerSource = std::function<bool(int& x, int& y)>;
void setPointerSource(PointerSource source);

// The point frozen steering steers by (stored by Esc).
void setSteeringPoint(int x, int y);

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

// The motion of an advance: when the render thread waits for it with a
// compiled script and frame buffers, the kept ring edits and one motion
// step. Returns whether they ran; the caller then releases the next frame.
// False, with nothing done, in any other state.
bool advanceFlight();

} // namespace vortigo
