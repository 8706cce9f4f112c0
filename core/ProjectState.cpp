#include "core/ProjectState.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace vortigo {
namespace {

// The blocks the script shares: each alone at the end of its own pages,
// followed by one page nobody may touch. Mapped once, for the life of the
// process (the script keeps their addresses).
struct SharedBlocks {
    FrameInfo* frameInfo;
    AnimInfo* animInfo;
    char (*debugLine)[DEBUG_LINE_SIZE];
};

template <typename T> T* placeBeforeGuard(size_t bytesPerBlock, uint8_t*& cursor, size_t page) {
    uint8_t* guard = cursor + bytesPerBlock;
    if (mprotect(guard, page, PROT_NONE) != 0) std::abort();
    uint8_t* place = guard - sizeof(T);
    place -= reinterpret_cast<uintptr_t>(place) % alignof(T);
    cursor = guard + page;
    return new (place) T{};
}

SharedBlocks mapSharedBlocks() {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto pagesFor = [page](size_t bytes) { return (bytes + page - 1) / page * page; };
    const size_t frameBytes = pagesFor(sizeof(FrameInfo));
    const size_t animBytes = pagesFor(sizeof(AnimInfo));
    const size_t lineBytes = pagesFor(DEBUG_LINE_SIZE);
    const size_t total = frameBytes + animBytes + lineBytes + 3 * page;
    void* region = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) std::abort(); // before main: nothing else could run either
    uint8_t* cursor = static_cast<uint8_t*>(region);
    SharedBlocks blocks{};
    blocks.frameInfo = placeBeforeGuard<FrameInfo>(frameBytes, cursor, page);
    blocks.animInfo = placeBeforeGuard<AnimInfo>(animBytes, cursor, page);
    uint8_t* guard = cursor + lineBytes;
    if (mprotect(guard, page, PROT_NONE) != 0) std::abort();
    blocks.debugLine = reinterpret_cast<char(*)[DEBUG_LINE_SIZE]>(guard - DEBUG_LINE_SIZE);
    return blocks;
}

SharedBlocks& sharedBlocks() {
    static SharedBlocks blocks = mapSharedBlocks();
    return blocks;
}

} // namespace

ProjectState::ProjectState()
    : frameInfo(*sharedBlocks().frameInfo), animInfo(*sharedBlocks().animInfo),
      imageWidth(frameInfo.imageWidth), imageHeight(frameInfo.imageHeight),
      aviFps(frameInfo.aviFps), dofScale(animInfo.dofScale), dofOffset(animInfo.dofOffset),
      maxDepth(animInfo.maxDepth), animationSpeed(animInfo.animationSpeed),
      animTime(animInfo.animTime), flightHead(frameInfo.flightHead), flightEnd(frameInfo.flightEnd),
      flightStart(frameInfo.flightStart), keyDown(frameInfo.keyDown),
      scratchLine(*sharedBlocks().debugLine), capturing(frameInfo.capturing) {
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

void releaseProjectBuffers() {
    ProjectState& s = state();
    s.flightBuffer.reset();
    s.udef.reset();
    s.renderTarget = nullptr;
    s.shownFrame = nullptr;
    s.frameBytes = 0;
    s.frameRing[0].reset();
    s.frameRing[1].reset();
    s.extraFrame.reset();
    s.zBuffer.reset();
    for (LayerSlot& layer : s.layers) {
        layer.backgroundPixels.reset();
        layer.vertexText.reset();
        layer.fragmentText.reset();
    }
    s.scriptText.reset();
    s.debugText.reset();
}

} // namespace vortigo
