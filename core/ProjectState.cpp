#include "core/ProjectState.h"

#include "core/FrameQueue.h"

#include <algorithm>
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

} // namespace

ProjectState::ProjectState()
    : frameInfo(placed<FrameInfo>(sharedBlocks().frameInfo)),
      animInfo(placed<AnimInfo>(sharedBlocks().animInfo)), imageWidth(frameInfo.imageWidth),
      imageHeight(frameInfo.imageHeight), aviFps(frameInfo.aviFps), dofScale(animInfo.dofScale),
      dofOffset(animInfo.dofOffset), maxDepth(animInfo.maxDepth),
      animationSpeed(animInfo.animationSpeed), animTime(animInfo.animTime),
      flightHead(frameInfo.flightHead), flightEnd(frameInfo.flightEnd),
      flightStart(frameInfo.flightStart), keyDown(frameInfo.keyDown),
      scratchLine(*static_cast<char (*)[DEBUG_LINE_SIZE]>(sharedBlocks().debugLine.data())),
      capturing(frameInfo.capturing) {
    // The blocks outlive any one record (the script keeps their addresses):
    // a new record starts from empty words, as the first one did.
    frameInfo = FrameInfo{};
    animInfo = AnimInfo{};
    std::memset(scratchLine, 0, sizeof scratchLine);
    for (int i = 0; i < LAYER_COUNT; ++i)
        layers[i].videoFrameCounter = &frameInfo.videoFrameCounter[i];
}

ProjectState& state() {
    static ProjectState instance;
    return instance;
}

char* textOfKind(int kind) {
    ProjectState& s = state();
    LayerSlot& layer = s.layers[std::clamp(s.currentLayer, 0, LAYER_COUNT - 1)];
    switch (kind) {
    case KIND_SCRIPT:
        return s.scriptText.get();
    case KIND_FRAGMENT:
        return layer.fragmentText.get();
    case KIND_VERTEX:
        return layer.vertexText.get();
    default:
        return s.debugText.get();
    }
}

int& topLineOfKind(int kind) {
    ProjectState& s = state();
    LayerSlot& layer = s.layers[std::clamp(s.currentLayer, 0, LAYER_COUNT - 1)];
    switch (kind) {
    case KIND_SCRIPT:
        return s.scriptTopLine;
    case KIND_FRAGMENT:
        return layer.fragmentTopLine;
    case KIND_VERTEX:
        return layer.vertexTopLine;
    default:
        return s.debugTopLine;
    }
}

std::string titleOfKind(int kind) {
    const int layerNumber = std::clamp(state().currentLayer, 0, LAYER_COUNT - 1) + 1;
    switch (kind) {
    case KIND_SCRIPT:
        return "Animation Script";
    case KIND_FRAGMENT:
        return "Fragment Shader Layer " + std::to_string(layerNumber);
    case KIND_VERTEX:
        return "Vertex Shader Layer " + std::to_string(layerNumber);
    default:
        return "Debug Output";
    }
}

WindowId mainOwner() {
    return state().mainWindowExists ? WindowId::Main : WindowId::None;
}

bool scriptBlocksIntact() {
    SharedBlocks& blocks = sharedBlocks();
    ProjectState& s = state();
    // Every block is checked (and mended), not only up to the first damage.
    bool intact = blocks.frameInfo.leadIntact();
    intact &= blocks.animInfo.leadIntact();
    intact &= blocks.debugLine.leadIntact();
    intact &= s.udef.leadIntact();
    intact &= s.flightBuffer.leadIntact();
    return intact;
}

void releaseProjectBuffers() {
    ProjectState& s = state();
    s.flightBuffer.reset();
    s.udef.reset();
    frameQueue().clear();
    for (LayerSlot& layer : s.layers) {
        layer.backgroundPixels.reset();
        layer.vertexText.reset();
        layer.fragmentText.reset();
    }
    s.scriptText.reset();
    s.debugText.reset();
}

} // namespace vortigo
