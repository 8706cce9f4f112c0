// Work that only fills the time the drawing leaves free (finishing frames,
// encoding them) runs below normal priority. Where the drawing itself takes
// every core (a software renderer), such work then waits for an idle core
// instead of pushing a drawing thread off its core in the middle of a frame,
// which stalls the whole frame. With a graphics card the drawing leaves the
// cores free and nothing changes.
#pragma once

#include <functional>

namespace vortigo {

// How far below normal: the nice value added.
constexpr int BACKGROUND_NICENESS = 10;

// Lowers the calling thread's priority for good, to BACKGROUND_NICENESS
// below the main thread's: an ordinary process may lower a thread's
// priority but never raise it again. Threads it starts later inherit the
// lower priority; a thread already that low is left alone.
void lowerThisThreadPriority();

// Runs fn on a short-lived thread of lowered priority and waits for it, so
// that threads fn starts (an encoder's workers) run at that priority while
// the calling thread keeps its own.
void runAtLowerPriority(const std::function<void()>& fn);

} // namespace vortigo
