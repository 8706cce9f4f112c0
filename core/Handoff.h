// The hand-offs between the three threads that every layer needs: the stop
// of the flight with the test that the render thread rests, the wait for
// post-processing, the advance message and their limits. The threads
// themselves are started and stopped by the renderer.
#pragma once

namespace vortigo {

struct Timeouts {
    int postProcessingWaitMs = 120000; // before a hand-over or a reallocation
    int workerExitMs = 12000;          // per worker at exit
    int scriptThreadsEndMs = 2000;     // for a replaced script's own threads
};
// Tests shorten the limits; the studio keeps the defaults.
Timeouts& timeouts();

// Stops the flight; true when the render thread is stopped, or held with no
// frame in flight.
bool stopFlightAndCheckParked();

// While a frame is in flight and the render thread runs, waits up to
// `limitMs`; true when the wait ended within the limit.
bool waitForPostProcessing(int limitMs);

// The render thread's request for the next frame (Parked or HeldByFailure
// becomes AwaitingAdvance); waits until the Trace window has handled it or
// the thread is told to end. Not released by it, the thread is Parked.
void sendAdvance();

} // namespace vortigo
