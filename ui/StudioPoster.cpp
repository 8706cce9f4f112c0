#include "ui/StudioPoster.h"

#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "media/Capture.h"
#include "media/PictureStream.h"
#include "render/FramePipeline.h"
#include "render/Tiles.h"
#include "render/Workers.h"
#include "script/ScriptCalls.h"

#include <algorithm>

namespace vortigo {
namespace {

// Often enough that a small tile follows at once, rarely enough to cost
// nothing while a large one is drawn.
constexpr int POLL_MS = 15;

int g_postersRunning = 0; // user-interface thread only

// An OpenEXR poster is always drawn deep.
bool drawnDeep(const PosterRequest& request) {
    PictureFormat format = PictureFormat::Png;
    return request.deep || (pictureFormatFor(request.out, format) && format == PictureFormat::Exr);
}

} // namespace

bool studioPosterRunning() {
    return g_postersRunning > 0;
}

bool posterNeedsTiff(const PosterRequest& request) {
    PictureFormat format = PictureFormat::Png;
    return pictureFormatFor(request.out, format) && format == PictureFormat::Png &&
           static_cast<int64_t>(request.width) * request.height > PNG_PIXEL_LIMIT;
}

std::string checkPosterRequest(const PosterRequest& request) {
    if (request.width < 1 || request.height < 1 || request.width > MAX_POSTER_SIDE ||
        request.height > MAX_POSTER_SIDE)
        return "A poster is 1 to " + std::to_string(MAX_POSTER_SIDE) + " pixels a side, not " +
               std::to_string(request.width) + " x " + std::to_string(request.height) + ".";
    if (request.tileSize < 1) return "The tile size must be at least 1 pixel.";
    PictureFormat format = PictureFormat::Png;
    if (!pictureFormatFor(request.out, format))
        return "A poster is written as .png, .tif or .exr, not \"" + request.out + "\".";
    if (posterNeedsTiff(request))
        return "A poster of " + std::to_string(request.width) + " x " +
               std::to_string(request.height) + " pixels is too large for PNG: choose TIFF.";
    const bool deep = drawnDeep(request);
    const std::string space =
        checkPosterSpace(request.out, request.width, request.height, deep ? 6 : 3);
    if (!space.empty()) return "Not enough disk space: " + space + ".";
    return {};
}

StudioPoster::StudioPoster(QObject* parent) : QObject(parent) {
    m_timer.setInterval(POLL_MS);
    connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
}

StudioPoster::~StudioPoster() {
    // A poster still running when its owner goes (the window closes): the
    // exit path stops the workers; the sink must not outlive this object.
    if (m_running) {
        setFrameSink(nullptr);
        setTiledDrawing(nullptr);
        setDeepFrames(false);
        projectFiles().imageWidth = m_savedWidth;
        projectFiles().imageHeight = m_savedHeight;
        --g_postersRunning;
    }
}

bool StudioPoster::start(const PosterRequest& request, std::string& error, std::string& note) {
    error.clear();
    note.clear();
    if (m_running) {
        error = "A poster is being rendered.";
        return false;
    }
    error = checkPosterRequest(request);
    if (!error.empty()) return false;
    RunState& run = runState();
    if (!renderThreadRunning() || !stopFlightAndCheckParked()) {
        error = "The render thread is busy; try again.";
        return false;
    }
    if (!run.scriptReady || !run.buffersReady) {
        error = "The script and the layers must compile and draw a frame first.";
        return false;
    }
    ProjectFiles& files = projectFiles();
    const FilterReach reach =
        filterReach(files.superSample != 0, files.despeckle != 0, files.dofEnabled != 0,
                    files.dofScale, files.dofOffset, request.width, request.height);
    const DriverLimits limits = notedDriverLimits();
    const int largest = std::min(limits.viewportWidth, limits.viewportHeight);
    if (largest <= 2 * reach.margin) {
        error = largest > 0 ? "The graphics driver cannot draw a tile with the margin the "
                              "filters need."
                            : "No OpenGL context could be created.";
        return false;
    }
    int tileSize = request.tileSize;
    if (static_cast<int64_t>(tileSize) + 2 * static_cast<int64_t>(reach.margin) > largest) {
        tileSize = largest - 2 * reach.margin;
        note = "The tile size is lowered to " + std::to_string(tileSize) +
               " pixels: with the filters' margin that is the largest frame the graphics "
               "driver can draw.";
    }
    const TileGrid grid = planTiles(request.width, request.height, tileSize, reach);
    PictureFormat format = PictureFormat::Png;
    pictureFormatFor(request.out, format);
    const bool deep = drawnDeep(request);
    auto stream = PictureStream::open(request.out, format, request.width, request.height, error,
                                      deep ? 16 : 8);
    if (!stream) return false;
    try {
        m_assembler = std::make_unique<BandAssembler>(grid, std::move(stream), deep ? 2 : 1);
    } catch (const std::bad_alloc&) {
        error = "Not enough memory for a band of tiles.";
        return false;
    }

    // The tiles must not become video frames.
    if (captureState().capturing()) finishCapture();
    m_grid = grid;
    m_savedWidth = files.imageWidth;
    m_savedHeight = files.imageHeight;
    m_released = 1;
    m_cancelled = false;
    m_stored = 0;
    m_storeFailed = false;
    m_storeError.clear();
    m_faultsAtStart = scriptFaultsReported();
    m_running = true;
    ++g_postersRunning;
    // The script and the filters see the whole picture; the buffers are one
    // tile's frame.
    files.imageWidth = request.width;
    files.imageHeight = request.height;
    setTiledDrawing(&m_grid, 0);
    setDeepFrames(deep);
    setFrameSink([this](const FrameView& frame) {
        const int index = m_stored.load();
        if (m_storeFailed || index >= m_grid.count()) return;
        // After a fault the script no longer draws (its per-frame entries
        // are dropped): this tile and the later ones would differ.
        if (scriptFaultsReported() != m_faultsAtStart) {
            m_storeError = "The script faulted while tile " + std::to_string(index + 1) + " of " +
                           std::to_string(m_grid.count()) +
                           " was drawn; the poster is not written.";
            m_storeFailed = true;
            return;
        }
        std::string failure;
        if (!m_assembler->add(frame, index, failure)) {
            m_storeError = failure;
            m_storeFailed = true;
            return;
        }
        m_stored = index + 1;
    });
    // The flight is stopped, so the render thread parks after each tile and
    // draws the next only when this thread releases it: no motion step, the
    // camera and time of the current frame hold.
    run.buffersReady.clear();
    run.resizeRequest.set();
    run.release();
    m_timer.start();
    return true;
}

void StudioPoster::cancel() {
    if (m_running) m_cancelled = true;
}

void StudioPoster::step() {
    const RunState& run = runState();
    const bool resting =
        !run.running() || (run.held() && !frameQueue().inFlight() && !run.resizeRequest);
    if (!resting) return;
    const int stored = m_stored.load();
    if (stored < m_released && run.running() && !frameBufferAllocationFailed() && !m_storeFailed &&
        run.buffersReady) {
        // Parked before its tile reached the sink: the hand-over follows.
        return;
    }
    emit progress(stored, m_grid.count());
    if (m_cancelled || m_storeFailed || stored >= m_grid.count() || !run.running() ||
        frameBufferAllocationFailed() || !run.buffersReady) {
        finish();
        return;
    }
    ++m_released;
    runState().release();
}

void StudioPoster::finish() {
    m_timer.stop();
    RunState& run = runState();
    setFrameSink(nullptr);
    setTiledDrawing(nullptr);
    setDeepFrames(false);
    projectFiles().imageWidth = m_savedWidth;
    projectFiles().imageHeight = m_savedHeight;
    m_running = false;
    --g_postersRunning;
    std::string message;
    bool ok = false;
    if (m_cancelled) {
        // Nothing to say; the temporary file goes with the assembler.
    } else if (m_storeFailed) {
        message = m_storeError;
    } else if (m_stored.load() < m_grid.count()) {
        message = frameBufferAllocationFailed()
                      ? "The frame buffers for a tile could not be allocated."
                      : "The render ended after " + std::to_string(m_stored.load()) + " of " +
                            std::to_string(m_grid.count()) + " tiles.";
    } else {
        ok = m_assembler->finish(message);
    }
    m_assembler.reset();
    // The studio's own frame size, and one frame of it.
    if (run.running()) {
        run.buffersReady.clear();
        run.resizeRequest.set();
        run.release();
    }
    emit ended(ok, QString::fromStdString(message));
}

} // namespace vortigo
