#include "render/Workers.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ThreadRole.h"
#include "media/AviGrab.h"
#include "media/Capture.h"
#include "platform/ThreadPriority.h"
#include "platform/Waits.h"
#include "render/FramePipeline.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/LayerPrograms.h"
#include "render/Tiles.h"
#include "script/CompileNotes.h"
#include "script/ScriptHost.h"

#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

namespace vortigo {
namespace {

// Thread handles. Each worker clears its own "running" flag as its last act;
// only the user-interface thread starts, joins or detaches them, except the
// replacement of a stuck post-processing thread by the render thread.
std::thread g_renderThread;
std::atomic<bool> g_renderRunning{false};
std::atomic<bool> g_contextFailed{false};
std::atomic<uint64_t> g_idlePasses{0};
// The last compile or frame-buffer allocation failed: nothing is drawn
// until the next one succeeds.
std::atomic<bool> g_compileFailed{false};
std::atomic<bool> g_allocationFailed{false};

std::mutex g_postThreadMutex; // guards g_postThread between the two starters
std::thread g_postThread;
std::atomic<bool> g_postRunning{false};
// A replaced post-processing thread sees a newer generation and ends
// without touching the queue.
std::atomic<int> g_postGeneration{0};

// A failed compile or allocation holds a released thread, only so that
// stopFlightAndCheckParked() passes while nothing can be drawn
// (HeldByFailure); a thread held already stays as it is.
void parkAfterFailure() {
    runState().holdAfterFailure();
}

// After a successful compile or allocation that no advance follows.
void releaseFailureHold() {
    RunState& run = runState();
    if (!run.scriptReady || !run.buffersReady) return;
    run.moveFrom(RunPhase::HeldByFailure, RunPhase::Drawing);
}

// The post-processing thread waits on the frame queue's condition variable,
// not in waitUntil(), which wakes at every run-state change (several a
// frame): each needless wake-up takes a core from the drawing. Woken for a
// frame, for the exit and for its replacement; a missed wake costs at most
// one 100 ms step.
void wakePostThread() {
    frameQueue().wake();
}

// A frame handed over while the next one follows at once wakes the
// post-processing thread only when that next frame's drawing is under way
// (or shortly after, should it not come): woken earlier, the thread takes
// the free core and the scheduler then stacks both rasteriser threads on
// the other one.
std::atomic<bool> g_postWakeOwed{false};

void settlePostWake() {
    if (g_postWakeOwed.exchange(false)) wakePostThread();
}

void postProcessingMain(int generation) {
    const RunState& run = runState();
    FrameQueue& queue = frameQueue();
    auto current = [&] { return g_postGeneration.load() == generation; };
    auto stop = [&] { return run.shuttingDown() || !current(); };
    // Finishing and encoding frames overlaps the next frame's drawing: it
    // must not take a core the drawing needs.
    registerThreadRole(ThreadRole::PostProcessing);
    lowerThisThreadPriority();
    while (!stop()) {
        queue.waitForFrame(stop, std::chrono::milliseconds(100));
        if (stop()) break;
        // A frame of buffers given up on is released by nobody: the queue
        // ignores a replaced thread's release.
        finishFrame();
    }
    if (current()) {
        g_postRunning.store(false);
        notifyFlagChange();
    }
}

// A thread whose stack does not fit (an address-space limit) is said, not
// thrown through the caller.
void reportThreadFailure(const char* which, const std::system_error& error) {
    std::fprintf(stderr, "vortigo: could not start the %s thread: %s\n", which, error.what());
}

void startPostThreadLocked() {
    const int generation = ++g_postGeneration;
    g_postRunning.store(true);
    try {
        g_postThread = std::thread(postProcessingMain, generation);
    } catch (const std::system_error& error) {
        g_postRunning.store(false);
        reportThreadFailure("post-processing", error);
    }
}

// Compiles the script and then the programs of all active layers.
bool compileAll() {
    beginCompile();
    publishLayerTextures(glState()); // udSetup may read them
    return compileScript(projectFiles().scriptText.get()) &&
           buildLayerPrograms(glState(), WindowId::Main);
}

// Each video background gets the frame due now; a reader that fails is
// closed and its layer keeps the last frame it showed.
void pullVideoFrames() {
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& slot = projectFiles().layers[i];
        if (!slot.backgroundIsVideo) continue;
        AVIGrab& reader = videoReader(i);
        if (reader.isOpen && slot.backgroundPixels) {
            reader.targetPixels = slot.backgroundPixels.get();
            if (!reader.nextFrame()) reader.close();
        }
        slot.backgroundChanged = 1;
    }
}

void drawingCase() {
    RunState& run = runState();
    FrameQueue& queue = frameQueue();
    const int64_t now = tickCountMs();
    const int64_t elapsed = now - queue.lastFrameTick;
    queue.frameMs = static_cast<int>(std::min<int64_t>(elapsed, 1 << 30));
    queue.lastFrameTick = now;
    pullVideoFrames();

    uint8_t* target = queue.target();
    if (target) drawFrame(0, target);
    settlePostWake(); // owed still when nothing was drawn

    if (!waitForPostProcessing(timeouts().postProcessingWaitMs)) {
        platform().beep(1000, 250);
        // Never hand over while the post-processing thread still reads the
        // frame in flight or the extra frame: keep waiting, ending only when
        // the thread is told to end.
        while (queue.inFlight() && run.running())
            waitUntil([&] { return !(queue.inFlight() && run.running()); }, 60000);
    }

    if (run.running() && run.buffersReady && target) {
        uint8_t* extra = queue.extra();
        if (projectFiles().superSample && extra) drawFrame(1, extra);
        queue.handOver();
        g_postWakeOwed.store(true);
    }
    run.park();

    const bool owed = std::exchange(run.advanceOwed, false);
    const bool advancing = (cameraView().flightMode != FLIGHT_STOPPED || owed) && run.running() &&
                           run.scriptReady && run.buffersReady;
    if (advancing)
        sendAdvance();
    else
        settlePostWake(); // no frame follows to wake it
}

void compileCase() {
    RunState& run = runState();
    for (int k = 0; k < KEY_COUNT; ++k)
        cameraView().keyDown[k] = 0;
    run.compileRequest.clear();
    const bool ready = compileAll();
    g_compileFailed.store(!ready);
    if (ready) {
        run.scriptReady.set();
    } else {
        run.scriptReady.clear();
        // Nothing will be drawn until the next compile: the thread is parked,
        // and New, Open and the Output dialog may go ahead.
        parkAfterFailure();
    }
    if (run.scriptReady && run.runAfterCompile) {
        // The advance releases the thread with a motion step.
        if (run.buffersReady) {
            sendAdvance();
        } else {
            run.advanceOwed = true;
        }
    } else if (ready) {
        releaseFailureHold();
    }
}

void allocationCase() {
    RunState& run = runState();
    run.resizeRequest.clear();
    const bool ready = allocateFrameBuffers();
    g_allocationFailed.store(!ready);
    if (ready) {
        run.buffersReady.set();
        // Held: the owed advance releases the first frame. Otherwise the
        // frame about to be drawn pays it (see the drawing case).
        if (run.advanceOwed && run.scriptReady && run.held()) {
            run.advanceOwed = false;
            sendAdvance();
        } else {
            releaseFailureHold();
        }
    } else {
        run.buffersReady.clear();
        parkAfterFailure();
    }
}

void renderMain() {
    registerThreadRole(ThreadRole::Render);
    RunState& run = runState();
    GlState& gl = glState();
    if (!createGlContext(gl, projectFiles().maxWidth, projectFiles().maxHeight, WindowId::Main)) {
        std::fprintf(stderr, "vortigo: no OpenGL context: %s\n", lastGlContextError().c_str());
        g_contextFailed.store(true);
        g_renderRunning.store(false);
        notifyFlagChange();
        return;
    }
    noteDriverLimits();
    auto drawingDue = [&] { return run.drawing() && run.scriptReady && run.buffersReady; };
    auto due = [&] {
        return !run.running() || run.compileRequest || run.resizeRequest || drawingDue();
    };
    while (run.running()) {
        if (drawingDue()) {
            drawingCase();
        } else if (g_postWakeOwed.load()) {
            // The advance normally releases the next frame within moments;
            // only that frame's drawing may keep the wake-up owed.
            waitUntil(due, 2);
            if (!drawingDue()) settlePostWake();
        } else if (run.compileRequest) {
            compileCase();
        } else if (run.resizeRequest) {
            allocationCase();
        } else {
            waitUntil(due, 100);
            g_idlePasses.fetch_add(1);
        }
    }
    settlePostWake();
    releaseGlContext(gl);
    g_renderRunning.store(false);
    notifyFlagChange();
}

bool endWorker(std::thread& thread, std::atomic<bool>& running) {
    const bool ended = waitUntil([&] { return !running.load(); }, timeouts().workerExitMs);
    if (!thread.joinable()) return true;
    if (ended) {
        thread.join();
        return true;
    }
    // Never kill a thread: it would leave locks and memory broken.
    thread.detach();
    return false;
}

} // namespace

void frameDrawingStarted() {
    settlePostWake();
}

bool renderThreadRunning() {
    return g_renderRunning.load();
}
bool postThreadRunning() {
    return g_postRunning.load();
}
bool renderContextFailed() {
    return g_contextFailed.load();
}
bool scriptCompileFailed() {
    return g_compileFailed.load();
}
bool frameBufferAllocationFailed() {
    return g_allocationFailed.load();
}
uint64_t renderIdlePasses() {
    return g_idlePasses.load();
}

void startWorkers() {
    RunState& run = runState();
    captureView().setCapturing(false);
    // A fresh start after an earlier exit path (tests, batch runs).
    if (run.shuttingDown()) run.moveTo(RunPhase::Stopped);
    {
        std::lock_guard lock(g_postThreadMutex);
        if (!g_postRunning.load()) {
            if (g_postThread.joinable()) g_postThread.join();
            startPostThreadLocked();
        }
    }
    run.moveTo(RunPhase::Drawing);
    if (g_renderThread.joinable()) g_renderThread.join();
    g_contextFailed.store(false);
    run.advanceOwed = false; // a fresh start owes nothing to an earlier run's Run
    g_compileFailed.store(false);
    g_allocationFailed.store(false);
    g_renderRunning.store(true);
    try {
        g_renderThread = std::thread(renderMain);
    } catch (const std::system_error& error) {
        g_renderRunning.store(false);
        reportThreadFailure("render", error);
        notifyFlagChange();
    }
}

void replacePostProcessingThread() {
    std::lock_guard lock(g_postThreadMutex);
    ++g_postGeneration; // the old thread ends on its own if it ever returns
    if (g_postThread.joinable()) g_postThread.detach();
    startPostThreadLocked();
    wakePostThread(); // the old thread, should it be waiting, ends
}

bool runExitPath() {
    runState().moveTo(RunPhase::ShuttingDown);
    wakePostThread();
    platform().cancelWaits();

    const bool renderEnded = endWorker(g_renderThread, g_renderRunning);
    std::thread post;
    {
        std::lock_guard lock(g_postThreadMutex);
        post = std::move(g_postThread);
    }
    const bool postEnded = endWorker(post, g_postRunning);
    // A stuck post-processing thread may be inside the capture writer: the
    // file and the script are left as they are.
    if (!postEnded) return false;
    // The render thread never touches the writer, so a render thread stuck
    // in the script still leaves a complete file, and the script its
    // udShutdown; but the code it runs and the buffers it draws into stay.
    finishCapture();
    if (!renderEnded) {
        shutDownScriptInUse();
        return false;
    }
    shutDownScript();
    releaseProjectBuffers();
    return true;
}

} // namespace vortigo
