#include "core/ProjectState.h"

#include <algorithm>
#include <cstring>

namespace vortigo {

ProjectState::ProjectState()
    : imageWidth(frameInfo.imageWidth), imageHeight(frameInfo.imageHeight),
      aviFps(frameInfo.aviFps), dofScale(animInfo.dofScale), dofOffset(animInfo.dofOffset),
      maxDepth(animInfo.maxDepth), animationSpeed(animInfo.animationSpeed),
      animTime(animInfo.animTime), flightHead(frameInfo.flightHead), flightEnd(frameInfo.flightEnd),
      flightStart(frameInfo.flightStart), keyDown(frameInfo.keyDown),
      capturing(frameInfo.capturing) {
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
