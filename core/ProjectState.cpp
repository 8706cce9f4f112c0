#include "core/ProjectState.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ScriptShared.h"
#include "core/ThreadRole.h"
#include "core/ViewFlags.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vortigo {
namespace {

// The blocks the script shares for the life of the process (it keeps their
// addresses), each between guard pages; never unmapped.
struct SharedBlocks {
    GuardedBlock& frameInfo = *new GuardedBlock(sizeof(FrameInfo));
    GuardedBlock& animInfo = *new GuardedBlock(sizeof(AnimInfo));
    GuardedBlock& debugLine = *new GuardedBlock(DEBUG_LINE_SIZE);
};

SharedBlocks& sharedBlocks() {
    static SharedBlocks blocks;
    // Before main: nothing else could run either.
    if (!blocks.frameInfo.data() || !blocks.animInfo.data() || !blocks.debugLine.data())
        std::abort();
    return blocks;
}

template <typename T> T& placed(GuardedBlock& block) {
    static_assert(sizeof(T) % alignof(T) == 0); // the block ends on a page: T is aligned
    return *new (block.data()) T{};
}

[[maybe_unused]] constexpr const char* MOTION_OWNER =
    "the motion thread (the user-interface thread, or the batch session's render thread)";
[[maybe_unused]] constexpr const char* UI_OWNER = "the user-interface thread";

} // namespace

ScriptShared::ScriptShared()
    : frameInfo(placed<FrameInfo>(sharedBlocks().frameInfo)),
      animInfo(placed<AnimInfo>(sharedBlocks().animInfo)),
      scratchLine(*static_cast<char (*)[DEBUG_LINE_SIZE]>(sharedBlocks().debugLine.data())) {
    // The blocks outlive any one instance (the script keeps their addresses):
    // a new one starts from empty words, as the first one did.
    frameInfo = FrameInfo{};
    animInfo = AnimInfo{};
    std::memset(scratchLine, 0, sizeof scratchLine);
}

ProjectFiles::ProjectFiles(FrameInfo& frameInfo, AnimInfo& animInfo)
    : imageWidth(frameInfo.imageWidth), imageHeight(frameInfo.imageHeight),
      dofScale(animInfo.dofScale), dofOffset(animInfo.dofOffset), maxDepth(animInfo.maxDepth) {
    for (int i = 0; i < LAYER_COUNT; ++i)
        layers[i].videoFrameCounter = &frameInfo.videoFrameCounter[i];
}

CameraFlight::CameraFlight(FrameInfo& frameInfo, AnimInfo& animInfo)
    : animationSpeed(animInfo.animationSpeed), animTime(animInfo.animTime),
      flightHead(frameInfo.flightHead), flightEnd(frameInfo.flightEnd),
      flightStart(frameInfo.flightStart), keyDown(frameInfo.keyDown) {}

CaptureState::CaptureState(FrameInfo& frameInfo)
    : aviFps(frameInfo.aviFps), m_capturing(&frameInfo.capturing) {}

bool CaptureState::capturing() const {
    return std::atomic_ref<int32_t>(*m_capturing).load(std::memory_order_acquire) != 0;
}

void CaptureState::setCapturing(bool on) const {
    std::atomic_ref<int32_t>(*m_capturing).store(on ? 1 : 0, std::memory_order_release);
}

ScriptShared& scriptShared() {
    static ScriptShared instance;
    return instance;
}

ProjectFiles& projectFiles() {
    static ProjectFiles instance(scriptShared().frameInfo, scriptShared().animInfo);
    return instance;
}

namespace {
CameraFlight& cameraInstance() {
    static CameraFlight instance(scriptShared().frameInfo, scriptShared().animInfo);
    return instance;
}
CaptureState& captureInstance() {
    static CaptureState instance(scriptShared().frameInfo);
    return instance;
}
} // namespace

CameraFlight& cameraFlight() {
    VORTIGO_CHECK_OWNER(onMotionThread(), "cameraFlight", MOTION_OWNER);
    return cameraInstance();
}

CameraFlight& cameraForDrawing() {
    VORTIGO_CHECK_OWNER(currentThreadRole() == ThreadRole::Render || onMotionThread(),
                        "cameraForDrawing", "the render thread or the motion thread");
    return cameraInstance();
}

const CameraFlight& cameraView() {
    return cameraInstance();
}

CaptureState& captureState() {
    VORTIGO_CHECK_OWNER(onUiThread(), "captureState", UI_OWNER);
    return captureInstance();
}

const CaptureState& captureView() {
    return captureInstance();
}

ViewFlags& viewFlags() {
    static ViewFlags instance;
    return instance;
}

WindowId mainOwner() {
    return viewFlags().mainWindowExists ? WindowId::Main : WindowId::None;
}

bool scriptBlocksIntact() {
    SharedBlocks& blocks = sharedBlocks();
    CameraFlight& camera = cameraInstance();
    // Every block is checked (and mended), not only up to the first damage.
    bool intact = blocks.frameInfo.leadIntact();
    intact &= blocks.animInfo.leadIntact();
    intact &= blocks.debugLine.leadIntact();
    intact &= camera.udef.leadIntact();
    intact &= camera.flightBuffer.leadIntact();
    return intact;
}

void releaseProjectBuffers() {
    CameraFlight& camera = cameraInstance();
    ProjectFiles& files = projectFiles();
    camera.flightBuffer.reset();
    camera.udef.reset();
    frameQueue().clear();
    for (LayerSlot& layer : files.layers) {
        layer.backgroundPixels.reset();
        layer.vertexText.reset();
        layer.fragmentText.reset();
    }
    files.scriptText.reset();
    scriptShared().debugText.reset();
}

} // namespace vortigo
