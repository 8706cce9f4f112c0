// The hand-offs between the three threads that every layer needs: the idle
// test, the wait for post-processing, the advance message and their limits.
// The threads themselves are started and stopped by the renderer.
#pragma once

#include <atomic>

namespace vortigo {

struct Timeouts {
    int postProcessingWaitMs = 120000; // before a hand-over or a reallocation
    int workerExitMs = 12000;          // per worker at exit
    int scriptThreadsEndMs = 2000;     // for a replaced script's own threads
};
// Tests shorten the limits; the studio keeps the defaults.
Timeouts& timeouts();

// Stops the flight; true when the render thread is stopped or parked with
// nothing in flight.
bool idleTest();

// While frameReady and renderRun are both set, waits up to `limitMs`; true
// when the wait ended within the limit.
bool waitForPostProcessing(int limitMs);

// Set by the render thread when only a failed compile or allocation holds it
// (renderHold was clear before): the next success releases that hold. The
// reset to defaults clears it, since its own hold must stay.
std::atomic<bool>& heldByFailure();

// The render thread's request for the next frame; waits until the Trace
// window has handled it or renderRun clears.
void sendAdvance();

} // namespace vortigo
