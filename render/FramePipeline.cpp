#include "render/FramePipeline.h"

#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "core/ScriptShared.h"
#include "core/ViewFlags.h"
#include "media/Capture.h"
#include "render/Filters.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/Tiles.h"
#include "render/Workers.h"
#include "script/DebugLog.h"
#include "script/ScriptCalls.h"
#include "script/ScriptHost.h"
#include "script/WatchRows.h"

#include <atomic>
#include <memory>
#include <new>

namespace vortigo {
namespace {

std::mutex g_sinkMutex;
// Shared, so taking it for a frame copies a pointer, never the function.
std::shared_ptr<const FrameSink> g_sink;
std::atomic<bool> g_deep{false};

// Every frame buffer may be lent to udPostFrame (they trade places), so each
// is guarded; mapped zeroed.
GuardedBytes allocateFrame(size_t bytes) {
    return GuardedBytes::allocate(bytes);
}

// The byte nearest a 16-bit sample: 257 words a step.
inline uint8_t narrowSample(uint16_t word) {
    return static_cast<uint8_t>((word + 128u) / 257u);
}

} // namespace

void setDeepFrames(bool deep) {
    g_deep.store(deep);
}

bool deepFrames() {
    return g_deep.load();
}

void setFrameSink(FrameSink sink) {
    auto shared = sink ? std::make_shared<const FrameSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(shared);
}

bool allocateFrameBuffers() {
    FrameQueue& queue = frameQueue();
    if (!waitForPostProcessing(timeouts().postProcessingWaitMs)) {
        // The stuck thread may still read the old buffers: keep them alive.
        queue.abandon();
        replacePostProcessingThread();
    }
    // The workers are stopping while the post-processing thread still
    // finishes a frame: its buffers must outlive it, so nothing is touched.
    if (queue.inFlight()) return false;

    const ProjectFiles& files = projectFiles();
    // A tiled picture is drawn one tile's frame at a time.
    const bool tiled = tiledDrawing();
    const int width = tiled ? currentTileGrid().frameWidth : files.imageWidth;
    const int height = tiled ? currentTileGrid().frameHeight : files.imageHeight;
    // Sizes that overflow or are not positive cannot be allocated.
    const int64_t pixels = static_cast<int64_t>(width) * height;
    const bool sizeOk = width > 0 && height > 0 && pixels <= (int64_t{1} << 28);
    const int sampleBytes = deepFrames() ? 2 : 1;
    const size_t bytes = sizeOk ? static_cast<size_t>(pixels) * 3 * sampleBytes : 0;

    queue.clear();

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

    FrameBuffers buffers;
    buffers.draw[0] = std::move(ring0);
    buffers.draw[1] = std::move(ring1);
    buffers.display = std::move(display);
    buffers.extra = std::move(extra);
    buffers.depth = std::move(depth);
    buffers.width = width;
    buffers.height = height;
    buffers.sampleBytes = sampleBytes;
    if (sampleBytes == 2) {
        buffers.narrow = allocateFrame(static_cast<size_t>(pixels) * 3);
        if (!buffers.narrow) {
            platform().messageBox(WindowId::Main, "Out of memory. Choose a smaller size.",
                                  "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
            return false;
        }
    }
    queue.install(std::move(buffers));

    prepareReadBack(width, height);
    if (!prepareDeepTarget(glState(), sampleBytes == 2 ? width : 0, height)) {
        platform().messageBox(WindowId::Main,
                              "The graphics driver cannot draw frames of 16 bits a channel.",
                              "Memory Error.", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    finishCapture();
    callUdResize();
    return resetGlState(width, height);
}

void finishFrame() {
    FrameQueue& queue = frameQueue();
    const RunState& run = runState();
    const ProjectFiles& files = projectFiles();
    const ViewFlags& view = viewFlags();
    const TakenFrame taken = queue.take();
    if (!taken) return;
    uint8_t* frame = taken.pixels;
    const int width = queue.width(), height = queue.height();
    const bool deep = queue.sampleBytes() == 2;
    const size_t samples = static_cast<size_t>(width) * height * 3;
    if (enterScriptFromPostThread()) {
        if (run.scriptReady && deep && entryPoint(UD_POST_FRAME)) {
            // Scripts edit bytes: they get an 8-bit copy (allocated with
            // every deep frame), and only the samples they change lose their
            // depth.
            auto* words = reinterpret_cast<uint16_t*>(frame);
            uint8_t* bytes = queue.narrow();
            for (size_t i = 0; i < samples; ++i)
                bytes[i] = narrowSample(words[i]);
            callUdPostFrame(bytes);
            for (size_t i = 0; i < samples; ++i)
                if (bytes[i] != narrowSample(words[i])) words[i] = uint16_t(bytes[i] * 257);
        } else if (run.scriptReady && !deep) {
            callUdPostFrame(frame);
        }
        if (run.scriptReady && view.watchOpen) refreshWatch();
        leaveScriptFromPostThread();
    }
    uint8_t* extra = queue.extra();
    if (deep) {
        // Deep buffers hold an even number of bytes and end on a page: words
        // lie at even addresses.
        auto* words = reinterpret_cast<uint16_t*>(frame);
        auto* extraWords = reinterpret_cast<uint16_t*>(extra);
        if (files.superSample && extra) superSampleMerge16(words, extraWords, width, height);
        if (files.despeckle && extra) {
            despeckle16(words, extraWords, width, height);
            frame = extra;
        }
    } else {
        if (files.superSample && extra) superSampleMerge(frame, extra, width, height);
        if (files.despeckle && extra) {
            despeckle(frame, extra, width, height);
            frame = extra;
        }
        // The capture writers take 8-bit frames only.
        captureFinishedFrame(frame);
    }
    {
        std::shared_ptr<const FrameSink> sink;
        {
            std::lock_guard lock(g_sinkMutex);
            sink = g_sink;
        }
        if (sink) (*sink)(FrameView{frame, width, height, queue.sampleBytes()});
    }
    queue.publish(taken, frame);
    if (run.running()) platform().invalidate(WindowId::Trace);
    if (view.debugShown && scriptShared().debugText) platform().setEditorText(debugTextCopy());
    queue.release(taken);
}

} // namespace vortigo
