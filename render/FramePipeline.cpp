#include "render/FramePipeline.h"

#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ScriptShared.h"
#include "core/ViewFlags.h"
#include "media/Capture.h"
#include "render/Filters.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/Workers.h"
#include "script/DebugLog.h"
#include "script/ScriptCalls.h"
#include "script/ScriptHost.h"
#include "script/WatchRows.h"

#include <memory>
#include <new>
#include <vector>

namespace vortigo {
namespace {

std::mutex g_frameBufferMutex;
std::mutex g_sinkMutex;
// Shared, so taking it for a frame copies a pointer, never the function.
std::shared_ptr<const FrameSink> g_sink;

// Buffers a replaced post-processing thread may still read: kept alive
// rather than freed under it.
std::vector<GuardedBytes> g_abandonedFrames;

// Every frame buffer may be lent to udPostFrame (they trade places), so each
// is guarded; mapped zeroed.
GuardedBytes allocateFrame(size_t bytes) {
    return GuardedBytes::allocate(bytes);
}

// What the Trace window paints: the last finished frame, in a buffer of its
// own. The ring entries and extraFrame are rewritten while later frames are
// made (the render thread draws the next frames into them, the
// post-processing thread merges and despeckles in place), so a finished
// frame trades places with the display buffer instead of being copied: the
// display takes the frame's buffer and the ring slot (or extraFrame) takes
// the display's old one, to be drawn over later. The render thread reads
// those slots only after the post-processing thread is done with the frame.
// Under g_frameBufferMutex.
GuardedBytes g_displayFrame;
size_t g_displayBytes = 0;
int g_displayWidth = 0, g_displayHeight = 0;

void publishFrame(const uint8_t* frame, int width, int height) {
    ProjectState& s = state();
    std::lock_guard lock(g_frameBufferMutex);
    const size_t bytes = static_cast<size_t>(width) * height * 3;
    if (!g_displayFrame || bytes != g_displayBytes) return;
    GuardedBytes* slot = s.extraFrame.get() == frame ? &s.extraFrame : nullptr;
    for (GuardedBytes& entry : s.frameRing)
        if (entry.get() == frame) slot = &entry;
    // A frame of buffers already replaced (a post-processing thread given up
    // on and come back) is no longer the newest: nothing to show.
    if (!slot) return;
    std::swap(*slot, g_displayFrame);
    g_displayWidth = width;
    g_displayHeight = height;
}

} // namespace

std::mutex& frameBufferMutex() {
    return g_frameBufferMutex;
}

void setFrameSink(FrameSink sink) {
    auto shared = sink ? std::make_shared<const FrameSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(shared);
}

bool allocateFrameBuffers() {
    ProjectFiles& files = projectFiles();
    ProjectState& s = state();
    if (!waitForPostProcessing(timeouts().postProcessingWaitMs)) {
        // The stuck thread may still read the old buffers: keep them alive.
        std::lock_guard lock(g_frameBufferMutex);
        for (GuardedBytes& b : s.frameRing)
            g_abandonedFrames.push_back(std::move(b));
        g_abandonedFrames.push_back(std::move(s.extraFrame));
        s.renderTarget = nullptr;
        s.shownFrame = nullptr;
        s.frameBytes = 0;
        replacePostProcessingThread();
    }
    // The workers are stopping while the post-processing thread still
    // finishes a frame: its buffers must outlive it, so nothing is touched.
    if (s.frameReady) return false;

    const int width = files.imageWidth;
    const int height = files.imageHeight;
    // Sizes that overflow or are not positive cannot be allocated.
    const int64_t pixels = static_cast<int64_t>(width) * height;
    const bool sizeOk = width > 0 && height > 0 && pixels <= (int64_t{1} << 28);
    const size_t bytes = sizeOk ? static_cast<size_t>(pixels) * 3 : 0;

    {
        std::lock_guard lock(g_frameBufferMutex);
        s.renderTarget = nullptr;
        s.shownFrame = nullptr;
        s.frameBytes = 0;
        s.frameWidth = s.frameHeight = 0;
        s.frameRing[0].reset();
        s.frameRing[1].reset();
        s.zBuffer.reset();
        s.extraFrame.reset();
        g_displayFrame.reset();
        g_displayBytes = 0;
        g_displayWidth = g_displayHeight = 0;
    }

    // A frame larger than the drawing surface gets a larger surface, so it
    // is drawn in full; a size the driver refuses is said plainly.
    if (sizeOk && (!fitsViewport(width, height) || !fitSurfaceSize(glState(), width, height))) {
        platform().messageBox(
            WindowId::Main,
            formatC("The frame of %i x %i pixels is larger than the graphics driver can draw.",
                    width, height),
            "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    GuardedBytes ring0 = sizeOk ? allocateFrame(bytes) : nullptr;
    GuardedBytes ring1 = ring0 ? allocateFrame(bytes) : nullptr;
    if (!ring0 || !ring1) {
        platform().messageBox(WindowId::Main, "Out of memory. Choose a smaller size.",
                              "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    std::unique_ptr<float[]> depth(new (std::nothrow) float[static_cast<size_t>(pixels)]());
    if (!depth)
        platform().messageBox(WindowId::Main, "Out of memory. Could not create z-buffer.",
                              "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
    GuardedBytes display = allocateFrame(bytes);
    if (!display) {
        platform().messageBox(WindowId::Main, "Out of memory. Choose a smaller size.",
                              "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    GuardedBytes extra = allocateFrame(bytes);
    if (!extra)
        platform().messageBox(WindowId::Main, "Out of memory. Could not create despeckle buffer.",
                              "Memory Error.", MsgButtons::Ok, MsgIcon::Error);

    {
        std::lock_guard lock(g_frameBufferMutex);
        s.frameRing[0] = std::move(ring0);
        s.frameRing[1] = std::move(ring1);
        s.zBuffer = std::move(depth);
        s.extraFrame = std::move(extra);
        s.ringIndex = 0;
        s.renderTarget = s.frameRing[0].get();
        s.shownFrame = s.frameRing[0].get();
        s.frameBytes = static_cast<int>(bytes);
        s.frameWidth = width;
        s.frameHeight = height;
        g_displayFrame = std::move(display);
        g_displayBytes = bytes;
    }

    prepareReadBack(width, height);
    finishCapture();
    callUdResize();
    return resetGlState(width, height);
}

void finishFrame() {
    ProjectFiles& files = projectFiles();
    ScriptShared& blocks = scriptShared();
    ViewFlags& view = viewFlags();
    ProjectState& s = state();
    uint8_t* frame = s.shownFrame.load(std::memory_order_acquire);
    if (!frame) return;
    const int width = s.frameWidth, height = s.frameHeight;
    if (enterScriptFromPostThread()) {
        if (s.scriptReady) callUdPostFrame(frame);
        if (s.scriptReady && view.watchOpen) refreshWatch();
        leaveScriptFromPostThread();
    }
    uint8_t* extra = s.extraFrame.get();
    if (files.superSample && extra) superSampleMerge(frame, extra, width, height);
    if (files.despeckle && extra) {
        despeckle(frame, extra, width, height);
        frame = extra;
        s.shownFrame.store(extra, std::memory_order_release);
    }
    captureFinishedFrame(frame);
    {
        std::shared_ptr<const FrameSink> sink;
        {
            std::lock_guard lock(g_sinkMutex);
            sink = g_sink;
        }
        if (sink) (*sink)(FrameView{frame, width, height});
    }
    publishFrame(frame, width, height);
    if (s.renderRun) platform().invalidate(WindowId::Trace);
    if (view.debugShown && blocks.debugText) platform().setEditorText(debugTextCopy());
}

FrameView shownFrameView() {
    if (!g_displayFrame || g_displayWidth == 0) return {};
    return FrameView{g_displayFrame.get(), g_displayWidth, g_displayHeight};
}

} // namespace vortigo
