#include "render/HeadlessSession.h"

#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ThreadRole.h"
#include "flight/FlightControls.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "platform/Waits.h"
#include "render/Workers.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vortigo {

HeadlessResult renderHeadless(const HeadlessRun& run) {
    HeadlessResult result;
    HeadlessPlatform headless;
    // No window thread: the render thread handles its own advance messages.
    // The worker start releases the first frame and each advance that finds
    // the thread parked one more; the advance after the last wanted frame is
    // dropped, so the script draws no frame beyond it (the frame sink sees a
    // frame only once the next one is being drawn). So is one that finds an
    // ended replay: it would draw the last frame again.
    int released = 1; // render thread only
    // The first frame not to deliver: the one the script faulted in. A fault
    // while drawing stops the flight through the Trace window's X key before
    // its message is raised, while the frame is still being drawn.
    std::atomic<int> dropFrom{INT_MAX};
    // An advance was held back because the run is stopping: the render
    // thread has finished its last frame and parks.
    std::atomic<bool> advanceHeld{false};
    auto stopping = [&run] { return run.stop && run.stop->load() != 0; };
    // The render thread steps the flight in its own advance messages: it is
    // the motion thread while the session runs, then the caller's thread is
    // again.
    std::once_flag motionClaimed;
    std::atomic<bool> motionMoved{false};
    std::thread::id motionBefore;
    headless.setImmediate(true);
    headless.setHandler(WindowId::Trace, [&](const WindowMessage& message) {
        std::call_once(motionClaimed, [&] {
            motionBefore = claimMotion();
            motionMoved = true;
        });
        if (message.type == MSG_KEYDOWN && message.p1 == 'X') {
            int expected = INT_MAX;
            dropFrom.compare_exchange_strong(expected, released - 1);
            return;
        }
        if (message.type != MSG_ADVANCE) return;
        if (stopping()) {
            advanceHeld = true;
            return;
        }
        if (released >= run.frames) return;
        if (run.endWithTheFlight && cameraView().flightMode == FLIGHT_STOPPED) return;
        // No window shows a status line here: the motion, then the next frame.
        if ((run.holdCamera || advanceFlight()) && runState().release()) ++released;
    });
    ScopedPlatform installed(&headless);
    if (!run.programDirectory.empty()) setProgramDirectory(run.programDirectory);

    if (!initialiseProjectState()) {
        result.error = "not enough memory for the project buffers";
        return result;
    }
    if (run.configure) run.configure();
    if (run.check) result.error = run.check();
    if (result.error.empty() && !headless.messageBoxes().empty()) {
        const auto box = headless.messageBoxes().front();
        result.error = box.caption + ": " + box.text;
    }
    if (!result.error.empty()) {
        releaseProjectBuffers();
        return result;
    }

    std::atomic<int> delivered{0};
    // This thread only waits for the end: it is woken by the last frame and
    // looks at the rest every 20 ms, not at every flag change of the workers
    // (several a frame), each of which would take a core from the drawing.
    std::mutex endMutex;
    std::condition_variable lastFrame;
    std::atomic<int64_t> firstFrameUs{0}, lastFrameUs{0};
    const auto start = Clock::now();
    auto sinceStartUs = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    };
    setFrameSink([&](const FrameView& frame) {
        const int index = delivered.load();
        if (index >= run.frames) return;
        if (index == 0) firstFrameUs = sinceStartUs();
        // A message from this thread (udPostFrame faulted) or one raised
        // before a drawing fault's X key was seen ends the output here.
        if (!headless.messageBoxes().empty()) {
            int expected = INT_MAX;
            dropFrom.compare_exchange_strong(expected, index);
        }
        if (run.onFrame && index < dropFrom.load()) run.onFrame(frame, index);
        lastFrameUs = sinceStartUs();
        // Enough: the render thread parks after the frame in flight.
        if (index + 1 == run.frames) cameraView().flightMode = FLIGHT_STOPPED;
        delivered = index + 1;
        if (index + 1 == run.frames) {
            std::lock_guard lock(endMutex);
            lastFrame.notify_all();
        }
    });

    if (run.flightMode >= 0) cameraView().flightMode = run.flightMode;
    RunState& runs = runState();
    const FrameQueue& queue = frameQueue();
    runs.runAfterCompile.set();
    setDeepFrames(run.deep);
    startWorkers();
    runs.compileRequest.set();
    runs.resizeRequest.set();

    // The render thread parks after a frame when the flight has stopped. The
    // motion step that stops it runs just before the last frame is released,
    // so the parked state must hold a moment with no new frame.
    auto parked = [&] {
        return run.endWithTheFlight && delivered.load() > 0 &&
               cameraView().flightMode == FLIGHT_STOPPED && runs.held() && !queue.inFlight();
    };
    auto flightOver = [&] {
        if (!parked()) return false;
        const int seen = delivered.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return parked() && delivered.load() == seen;
    };
    // Nothing more will be drawn: the render thread ended (its context
    // failed), or the one compile or allocation of the run failed.
    auto startFailed = [&] {
        return !renderThreadRunning() || scriptCompileFailed() || frameBufferAllocationFailed();
    };
    // Stopping: the render thread has finished the frame in hand (or was
    // idle) and the post-processing thread has delivered it.
    uint64_t idleAtStop = 0;
    bool stopSeen = false;
    auto stopped = [&] {
        if (!stopping()) return false;
        if (!stopSeen) {
            stopSeen = true;
            idleAtStop = renderIdlePasses();
        }
        return !queue.inFlight() && (advanceHeld.load() || renderIdlePasses() >= idleAtStop + 2);
    };
    auto finished = [&] {
        return delivered.load() >= run.frames || startFailed() ||
               !headless.messageBoxes().empty() || flightOver() || stopped();
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(run.timeoutMs);
    bool done = false;
    while (!(done = finished()) && Clock::now() < deadline) {
        std::unique_lock lock(endMutex);
        lastFrame.wait_for(lock, std::chrono::milliseconds(20),
                           [&] { return delivered.load() >= run.frames; });
    }
    // The frames drawn before the one the script faulted in were handed
    // over before its drawing began: they are still delivered.
    auto owedBeforeFault = [&] {
        const int faulted = dropFrom.load();
        return faulted != INT_MAX && delivered.load() < std::min(faulted, run.frames) &&
               postThreadRunning();
    };
    while (done && owedBeforeFault() && Clock::now() < deadline) {
        std::unique_lock lock(endMutex);
        lastFrame.wait_for(lock, std::chrono::milliseconds(20));
    }
    result.flightEnded = delivered.load() < run.frames && flightOver();
    result.framesDelivered = delivered.load();
    result.firstFrameMs = static_cast<double>(firstFrameUs.load()) / 1000.0;
    result.totalMs = static_cast<double>(lastFrameUs.load()) / 1000.0;
    if (!headless.messageBoxes().empty()) {
        const auto box = headless.messageBoxes().front();
        result.error = box.caption + ": " + box.text;
    } else if (renderContextFailed()) {
        result.error = "no OpenGL context could be created";
    } else if (scriptCompileFailed()) {
        result.error = "the animation script could not be started";
    } else if (frameBufferAllocationFailed()) {
        result.error = "the frame buffers could not be allocated";
    } else if (!renderThreadRunning()) {
        result.error = "the render thread ended";
    } else if (done && stopping() && delivered.load() < run.frames) {
        result.stopped = true;
    } else if (!done) {
        result.error = "timed out after " + std::to_string(result.framesDelivered) + " frames";
    }
    result.ok = done && (result.framesDelivered >= run.frames || result.flightEnded) &&
                result.error.empty() && !result.stopped;

    cameraView().flightMode = FLIGHT_STOPPED;
    if (!runExitPath() && result.error.empty()) result.error = "a worker did not end";
    setDeepFrames(false);
    if (motionMoved) restoreMotion(motionBefore);
    setFrameSink(nullptr);
    return result;
}

} // namespace vortigo
