#include "persist/ProjectDefaults.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ScriptShared.h"
#include "core/ShaderParams.h"
#include "core/ViewFlags.h"
#include "flight/FlightRecord.h"
#include "persist/Options.h"
#include "persist/TextFile.h"
#include "platform/ProgramDir.h"
#include "platform/UserDirs.h"
#include "platform/Waits.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace vortigo {
namespace {

template <typename T> std::unique_ptr<T[]> allocateZeroed(size_t count) {
    std::unique_ptr<T[]> buffer(new (std::nothrow) T[count]());
    return buffer;
}

// The default text comes from the program's own files; the name it is saved
// under is the user's (see defaultFileName).
void loadDefaultText(const char* name, char* buffer) {
    char source[PATH_SIZE];
    defaultPath(source, PATH_SIZE, name);
    loadText(mainOwner(), source, buffer, TEXT_SIZE);
}

// Beside the program in a build tree or a portable copy; in the user's own
// folder for an installed program, so that a Save never writes into the
// installation (as root it would overwrite packaged files).
void defaultFileName(char* field, UserFolder folder, const char* name) {
    if (!programDirectoryIsInstalled()) {
        defaultPath(field, PATH_SIZE, name);
        return;
    }
    const std::string path = userFolder(folder) + "/" + name;
    const size_t n = std::min(path.size(), static_cast<size_t>(PATH_SIZE - 1));
    std::memcpy(field, path.data(), n);
    field[n] = 0;
}

} // namespace

bool initialiseProjectState() {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    ScriptShared& blocks = scriptShared();
    readOptions();
    frameQueue().clear();

    camera.flightBuffer = GuardedFloats::allocate(FLIGHT_FLOATS);
    camera.udef = GuardedFloats::allocate(static_cast<size_t>(std::max(files.maxUdef, MIN_UDEF)));
    if (!camera.flightBuffer || !camera.udef) return false;

    for (LayerSlot& layer : files.layers) {
        layer.vertexDirty = layer.fragmentDirty = 0;
        layer.backgroundPixels.reset();
        *layer.videoFrameCounter = 0;
        layer.fragmentText = allocateZeroed<char>(TEXT_SIZE);
        layer.vertexText = allocateZeroed<char>(TEXT_SIZE);
        if (!layer.fragmentText || !layer.vertexText) return false;
    }
    files.scriptText = allocateZeroed<char>(TEXT_SIZE);
    blocks.debugText = allocateZeroed<char>(TEXT_SIZE);
    if (!files.scriptText || !blocks.debugText) return false;

    resetToDefaults();
    return true;
}

void resetToDefaults() {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    ScriptShared& blocks = scriptShared();
    runState().buffersReady.clear();
    runState().scriptReady.clear();
    shaderParams().clear();
    camera.ctrlDown = camera.shiftDown = 0;
    camera.timeRunning = 0;

    // udef was allocated for maxUdef entries once, and the renderer and the
    // shaders size their use of it from maxUdef: a new MaxUdef in the
    // options file waits for the next start.
    const int allocatedUdefs = files.maxUdef;
    readOptions();
    if (camera.udef) files.maxUdef = allocatedUdefs;

    camera.flightRoll = 0;
    camera.animTime = 0;
    camera.xCenter = 0;
    camera.yCenter = 0.0001f;
    camera.zLens = -3.0f;
    frameQueue().frameMs = 0;
    capture.setCapturing(false);
    camera.flightMode = FLIGHT_STOPPED;
    frameQueue().lastFrameTick = tickCountMs();

    LayerSlot& first = files.layers[0];
    defaultFileName(capture.outputFile, UserFolder::Videos, "mandelbrot.avi");
    defaultFileName(files.projectFile, UserFolder::Documents, "default.vort");
    defaultFileName(first.fragmentFile, UserFolder::Documents, "default_fragment_shader.frag");
    defaultFileName(first.vertexFile, UserFolder::Documents, "default_vertex_shader.vert");
    defaultFileName(files.scriptFile, UserFolder::Documents, "default_animation_script.anim");

    loadDefaultText("default_vertex_shader.vert", first.vertexText.get());
    loadDefaultText("default_fragment_shader.frag", first.fragmentText.get());
    loadDefaultText("default_animation_script.anim", files.scriptText.get());

    for (int i = 1; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = files.layers[i];
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

    files.scriptDirty = 0;

    capture.audioFile[0] = 0;
    files.flightFile[0] = 0;
    blocks.debugText[0] = 0;

    // The first record carries the orientation the camera is reset to, so a
    // replay rewound to the start never loads a stale or all-zero quaternion.
    const float identity[4] = {0, 0, 0, 1};
    std::copy(identity, identity + 4, camera.cameraQuat);
    camera.flightHead = camera.flightEnd = camera.flightStart = 0;
    recordFlightSample();

    for (float& v : camera.flightVelocity)
        v = 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            camera.cameraMatrix[r][c] = r == c ? 1.0 : 0.0;

    runState().park(); // a hold a failure made becomes the reset's own
}

} // namespace vortigo
