#include "render/HeadlessSession.h"

#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "render/Workers.h"

#include <atomic>
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
    headless.setImmediate(true);
    headless.setHandler(WindowId::Trace, [&released, &run](const WindowMessage& message) {
        if (message.type != MSG_ADVANCE || released >= run.frames) return;
        if (run.endWithTheFlight && state().flightMode == FLIGHT_STOPPED) return;
        const bool parked = state().renderHold;
        handleAdvanceMessage();
        if (parked && !state().renderHold) ++released;
    });
    ScopedPlatform installed(&headless);
    if (!run.programDirectory.empty()) setProgramDirectory(run.programDirectory);

    if (!initialiseProjectState()) {
        result.error = "not enough memory for the project buffers";
        return result;
    }
    if (run.configure) run.configure();
    ProjectState& s = state();
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
        if (run.onFrame) run.onFrame(frame, index);
        lastFrameUs = sinceStartUs();
        // Enough: the render thread parks after the frame in flight.
        if (index + 1 == run.frames) state().flightMode = FLIGHT_STOPPED;
        delivered = index + 1;
        if (index + 1 == run.frames) {
            std::lock_guard lock(endMutex);
            lastFrame.notify_all();
        }
    });

    if (run.flightMode >= 0) s.flightMode = run.flightMode;
    s.runAfterCompile.set();
    startWorkers();
    s.compileRequest.set();
    s.resizeRequest.set();

    // The render thread parks after a frame when the flight has stopped. The
    // motion step that stops it runs just before the last frame is released,
    // so the parked state must hold a moment with no new frame.
    auto parked = [&] {
        return run.endWithTheFlight && delivered.load() > 0 && s.flightMode == FLIGHT_STOPPED &&
               s.renderHold && !s.frameReady;
    };
    auto flightOver = [&] {
        if (!parked()) return false;
        const int seen = delivered.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return parked() && delivered.load() == seen;
    };
    auto finished = [&] {
        return delivered.load() >= run.frames || renderContextFailed() ||
               !headless.messageBoxes().empty() || flightOver();
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(run.timeoutMs);
    bool done = false;
    while (!(done = finished()) && Clock::now() < deadline) {
        std::unique_lock lock(endMutex);
        lastFrame.wait_for(lock, std::chrono::milliseconds(20),
                           [&] { return delivered.load() >= run.frames; });
    }
    result.flightEnded = delivered.load() < run.frames && flightOver();
    result.framesDelivered = delivered.load();
    result.firstFrameMs = firstFrameUs.load() / 1000.0;
    result.totalMs = lastFrameUs.load() / 1000.0;
    if (!headless.messageBoxes().empty()) {
        const auto box = headless.messageBoxes().front();
        result.error = box.caption + ": " + box.text;
    } else if (renderContextFailed()) {
        result.error = "no OpenGL context could be created";
    } else if (!done) {
        result.error = "timed out after " + std::to_string(result.framesDelivered) + " frames";
    }
    result.ok = done && (result.framesDelivered >= run.frames || result.flightEnded) &&
                result.error.empty();

    s.flightMode = FLIGHT_STOPPED;
    if (!runExitPath() && result.error.empty()) result.error = "a worker did not end";
    setFrameSink(nullptr);
    return result;
}

} // namespace vortigo
