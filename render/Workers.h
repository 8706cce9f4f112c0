// The render thread and the post-processing thread: their start, the
// replacement of a stuck post-processing thread, and the exit path.
#pragma once

#include <cstdint>

#include "core/Handoff.h"

namespace vortigo {

// User-interface thread, once at the end of start-up: clears capturing,
// starts the post-processing thread unless it runs, releases the run state
// (Drawing) and starts the render thread.
void startWorkers();

// Render thread (frame-buffer allocation): a post-processing thread that did
// not finish in time is left alone and a fresh one takes over.
void replacePostProcessingThread();

// User-interface thread, when the main window is destroyed: stops both
// workers, waiting at most workerExitMs for each. Returns false when a
// worker had to be left running; then the buffers stay allocated (the worker
// may still use them) and the process must end without running destructors.
// A capture is completed and udShutdown called unless the post-processing
// thread is the one left running.
bool runExitPath();

// Render thread, once a frame's drawing has gone to the driver: the frame
// handed over before it may now be finished.
void frameDrawingStarted();

bool renderThreadRunning();
bool postThreadRunning();

// The render thread's context could not be created (nothing will be drawn).
bool renderContextFailed();

// The render thread's last compile (script and layer programs) or
// frame-buffer allocation failed; cleared by the next success and by
// startWorkers.
bool scriptCompileFailed();
bool frameBufferAllocationFailed();

// How often the render thread has gone round its loop finding nothing to do:
// two more passes than now mean that whatever was due has been done.
uint64_t renderIdlePasses();

} // namespace vortigo
