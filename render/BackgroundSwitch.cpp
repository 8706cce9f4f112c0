#include "render/BackgroundSwitch.h"

#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ScriptShared.h"
#include "media/Backgrounds.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"

#include <EGL/egl.h>
#include <cstring>
#include <string>

namespace vortigo {
namespace {

constexpr const char* FAULT_TEXT = "SwitchBackground caused an exception.\r\n";

struct LoadCall {
    int layer;
    uint8_t loaded;
    std::string refusal; // outlives the guard, so a fault skips no destructor of it
};

void loadGuarded(void* context) {
    LoadCall& call = *static_cast<LoadCall*>(context);
    LayerSlot& slot = projectFiles().layers[call.layer];
    call.loaded =
        loadBackground(call.layer, slot.backgroundFile, slot.videoFrameCounter, &call.refusal);
}

} // namespace

int switchBackground(const char* fileName, int layer) {
    if (!fileName || layer < 0 || layer >= LAYER_COUNT) return -1;
    // Only the render thread (the one with the context) may replace a
    // layer's pixels: udPostFrame runs on another thread while frames are
    // drawn from them.
    if (eglGetCurrentContext() == EGL_NO_CONTEXT) return -1;
    // A name that does not fit the field is refused rather than cut: a cut
    // name would load some other file.
    const size_t length = strnlen(fileName, PATH_SIZE);
    if (length >= PATH_SIZE) return -1;
    ProjectFiles& files = projectFiles();
    ScriptShared& blocks = scriptShared();
    LayerSlot& slot = files.layers[layer];
    std::memcpy(slot.backgroundFile, fileName, length + 1);

    LoadCall call{layer, 0, {}};
    if (runGuarded(&loadGuarded, &call) != 0) {
        call.loaded = 0;
        std::strncpy(blocks.scratchLine, FAULT_TEXT, DEBUG_LINE_SIZE - 1);
        flushDebugLine();
    } else if (!call.refusal.empty()) {
        // The script's page, not a message box: a script may switch every frame.
        appendDebugText(("SwitchBackground: " + call.refusal + "\r\n").c_str());
    }
    slot.backgroundChanged = call.loaded;
    return 0;
}

} // namespace vortigo
