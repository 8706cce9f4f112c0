#include "media/Backgrounds.h"

#include "core/ProjectState.h"

namespace vortigo {

uint8_t loadBackground(int layer, const char* path, int32_t* counter) {
    (void)path;
    (void)counter;
    if (layer < 0 || layer >= LAYER_COUNT) return 0;
    LayerSlot& slot = state().layers[layer];
    slot.backgroundPixels.reset();
    slot.backgroundIsVideo = 0;
    return 0;
}

} // namespace vortigo
