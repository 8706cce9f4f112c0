// The render thread and the post-processing thread, their handshake through
// the run-control flags, the idle test and the exit path.
#pragma once

#include "platform/Platform.h"

namespace vortigo {

struct Timeouts {
    int postProcessingWaitMs = 120000; // before a hand-over or a reallocation
    int workerExitMs = 12000;          // per worker at exit
};
// Tests shorten the limits; the studio keeps the defaults.
Timeouts& timeouts();

// User-interface thread, once at the end of start-up: clears capturing,
// starts the post-processing thread unless it runs, raises renderRun, clears
// renderHold and starts the render thread.
void startWorkers();

// Stops the flight; true when the render thread is stopped or parked with
// nothing in flight.
bool idleTest();

// While frameReady and renderRun are both set, waits up to `limitMs`; true
// when the wait ended within the limit.
bool waitForPostProcessing(int limitMs);

// Render thread (frame-buffer allocation): a post-processing thread that did
// not finish in time is left alone and a fresh one takes over.
void replacePostProcessingThread();

// The Trace window's handling of the advance message (user-interface thread).
void handleAdvanceMessage();

// The render thread's request for the next frame; waits until the Trace
// window has handled it or renderRun clears.
void sendAdvance();

// User-interface thread, when the main window is destroyed: stops both
// workers, waiting at most workerExitMs for each. Returns false when a
// worker had to be left running; then the buffers stay allocated (the worker
// may still use them) and the process must end without running destructors.
bool runExitPath();

bool renderThreadRunning();
bool postThreadRunning();

// The render thread's context could not be created (nothing will be drawn).
bool renderContextFailed();

} // namespace vortigo
