#include "persist/ProjectDefaults.h"

#include "core/FrameQueue.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "flight/FlightRecord.h"
#include "persist/Options.h"
#include "persist/TextFile.h"
#include "platform/ProgramDir.h"

#include <algorithm>
#include <new>

namespace vortigo {
namespace {

template <typename T> std::unique_ptr<T[]> allocateZeroed(size_t count) {
    std::unique_ptr<T[]> buffer(new (std::nothrow) T[count]());
    return buffer;
}

void loadDefaultText(const char* path, char* buffer) {
    loadText(mainOwner(), path, buffer, TEXT_SIZE);
}

} // namespace

bool initialiseProjectState() {
    ProjectState& s = state();
    readOptions();

    frameQueue().clear();
    s.findText[0] = 0;

    s.flightBuffer = GuardedFloats::allocate(FLIGHT_FLOATS);
    s.udef = GuardedFloats::allocate(static_cast<size_t>(std::max(s.maxUdef, MIN_UDEF)));
    if (!s.flightBuffer || !s.udef) return false;

    for (LayerSlot& layer : s.layers) {
        layer.vertexDirty = layer.fragmentDirty = 0;
        layer.backgroundPixels.reset();
        *layer.videoFrameCounter = 0;
        layer.fragmentText = allocateZeroed<char>(TEXT_SIZE);
        layer.vertexText = allocateZeroed<char>(TEXT_SIZE);
        if (!layer.fragmentText || !layer.vertexText) return false;
    }
    s.scriptText = allocateZeroed<char>(TEXT_SIZE);
    s.debugText = allocateZeroed<char>(TEXT_SIZE);
    if (!s.scriptText || !s.debugText) return false;

    s.displayHeader = DisplayHeader{};
    s.displayHeader.size = 40;
    s.displayHeader.planes = 1;
    s.displayHeader.bitCount = 24;

    resetToDefaults();
    return true;
}

void resetToDefaults() {
    ProjectState& s = state();
    runState().buffersReady.clear();
    runState().scriptReady.clear();
    s.ctrlDown = s.shiftDown = 0;
    s.timeRunning = 0;

    // udef was allocated for maxUdef entries once, and the renderer and the
    // shaders size their use of it from maxUdef: a new MaxUdef in the
    // options file waits for the next start.
    const int allocatedUdefs = s.maxUdef;
    readOptions();
    if (s.udef) s.maxUdef = allocatedUdefs;

    s.flightRoll = 0;
    s.animTime = 0;
    s.xCenter = 0;
    s.yCenter = 0.0001f;
    s.zLens = -3.0f;
    s.frameMs = 0;
    s.capturing = 0;
    s.flightMode = FLIGHT_STOPPED;
    s.lastFrameTick = tickCountMs();

    LayerSlot& first = s.layers[0];
    defaultPath(s.outputFile, PATH_SIZE, "mandelbrot.avi");
    defaultPath(s.projectFile, PATH_SIZE, "default.vort");
    defaultPath(first.fragmentFile, PATH_SIZE, "default_fragment_shader.frag");
    defaultPath(first.vertexFile, PATH_SIZE, "default_vertex_shader.vert");
    defaultPath(s.scriptFile, PATH_SIZE, "default_animation_script.anim");

    loadDefaultText(first.vertexFile, first.vertexText.get());
    loadDefaultText(first.fragmentFile, first.fragmentText.get());
    loadDefaultText(s.scriptFile, s.scriptText.get());

    for (int i = 1; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = s.layers[i];
        layer.vertexDirty = layer.fragmentDirty = 0;
        layer.vertexFile[0] = layer.fragmentFile[0] = 0;
        layer.vertexText[0] = layer.fragmentText[0] = 0;
        layer.backgroundFile[0] = 0;
        layer.backgroundIsVideo = 0;
        layer.backgroundChanged = 0;
        layer.vertexTopLine = layer.fragmentTopLine = 0;
        layer.backgroundPixels.reset();
        layer.backgroundWidth = layer.backgroundHeight = 0;
    }

    s.currentLayer = 0;
    s.scriptTopLine = 0;
    s.debugTopLine = 0;
    s.currentKind = KIND_FRAGMENT;
    s.scriptDirty = 0;

    s.audioFile[0] = 0;
    s.flightFile[0] = 0;
    s.debugText[0] = 0;

    // The first record carries the orientation the camera is reset to, so a
    // replay rewound to the start never loads a stale or all-zero quaternion.
    const float identity[4] = {0, 0, 0, 1};
    std::copy(identity, identity + 4, s.cameraQuat);
    s.flightHead = s.flightEnd = s.flightStart = 0;
    recordFlightSample();

    for (float& v : s.flightVelocity)
        v = 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            s.cameraMatrix[r][c] = r == c ? 1.0 : 0.0;

    runState().park(); // a hold a failure made becomes the reset's own
}

} // namespace vortigo
