#include "media/Backgrounds.h"

#include "core/ProjectState.h"
#include "media/AviGrab.h"
#include "media/ImageDecoders.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace vortigo {
namespace {

enum class Kind { None, Jpeg, Tga, Bmp, Video };

Kind kindOf(const char* path) {
    const char* dot = std::strrchr(path, '.');
    if (!dot) return Kind::None;
    const char* ext = dot + 1;
    if (strcasecmp(ext, "jpg") == 0) return Kind::Jpeg;
    if (strcasecmp(ext, "tga") == 0) return Kind::Tga;
    if (strcasecmp(ext, "bmp") == 0) return Kind::Bmp;
    if (strcasecmp(ext, "avi") == 0) return Kind::Video;
    return Kind::None;
}

} // namespace

uint8_t loadBackground(int layer, const char* path, int32_t* counter) {
    if (layer < 0 || layer >= LAYER_COUNT) return 0;
    LayerSlot& slot = state().layers[layer];
    slot.backgroundPixels.reset();
    slot.backgroundIsVideo = 0;
    if (!path) return 0;

    DecodedImage image;
    bool decoded = false;
    switch (kindOf(path)) {
    case Kind::Jpeg:
        decoded = decodeJpeg(path, image);
        break;
    case Kind::Tga:
        decoded = decodeTga(path, image);
        break;
    case Kind::Bmp:
        decoded = decodeBmp(path, image);
        break;
    case Kind::Video: {
        // An image loaded later over this video leaves the reader open; the
        // render thread skips it because backgroundIsVideo is clear.
        AVIGrab& reader = videoReader(layer);
        if (reader.open(mainOwner(), path)) {
            slot.backgroundWidth = reader.frameFormat.width;
            slot.backgroundHeight = reader.frameFormat.height;
            reader.frameCounter = counter;
            // A video slower than one frame a second paces as divisor 1.
            const int fps = reader.videoFps;
            reader.divisor = fps > 0 ? std::max(state().aviFps / fps, 1) : 1;
            slot.backgroundIsVideo = 1;
        }
        break;
    }
    case Kind::None:
        break;
    }

    if (decoded) {
        // udPre is lent the pixels, so they live in a guarded block; the
        // decoder's own buffer goes with `image`.
        const size_t bytes = static_cast<size_t>(image.width) * image.height * 4;
        slot.backgroundPixels = GuardedBytes::allocate(bytes);
        if (!slot.backgroundPixels) return 0;
        std::memcpy(slot.backgroundPixels.get(), image.pixels.get(), bytes);
        slot.backgroundWidth = image.width;
        slot.backgroundHeight = image.height;
        return 1;
    }
    if (slot.backgroundIsVideo) {
        // Filled by the first frame the render thread pulls.
        const size_t bytes = static_cast<size_t>(slot.backgroundWidth) * slot.backgroundHeight * 4;
        slot.backgroundPixels = GuardedBytes::allocate(bytes);
        if (slot.backgroundPixels) return 1;
        slot.backgroundIsVideo = 0;
    }
    return 0;
}

} // namespace vortigo
