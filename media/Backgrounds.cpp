#include "media/Backgrounds.h"

#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/ViewFlags.h"
#include "media/AviGrab.h"
#include "media/ImageDecoders.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
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

constexpr size_t MB = size_t{1} << 20;

size_t heldBytes(const LayerSlot& slot) {
    if (!slot.backgroundPixels) return 0;
    return static_cast<size_t>(std::max(slot.backgroundWidth, 0)) *
           static_cast<size_t>(std::max(slot.backgroundHeight, 0)) * 4;
}

// What layer `layer`'s pixels may take: its own budget, or what the other
// layers leave of the budget for all four when that is less.
void setBudget(int layer, DecodedImage& image) {
    const ProjectFiles& files = projectFiles();
    const size_t layerLimit = static_cast<size_t>(std::max(files.backgroundLimitMb, 1)) * MB;
    const size_t totalLimit = static_cast<size_t>(std::max(files.backgroundTotalLimitMb, 1)) * MB;
    size_t others = 0;
    for (int i = 0; i < LAYER_COUNT; ++i)
        if (i != layer) others += heldBytes(files.layers[i]);
    const size_t left = others < totalLimit ? totalLimit - others : 0;
    if (left < layerLimit) {
        image.byteLimit = left;
        image.byteLimitText =
            formatC("the %zu MB the other layers leave of the %d MB all backgrounds may take "
                    "(BackgroundTotalLimitMB)",
                    left / MB, files.backgroundTotalLimitMb);
    } else {
        image.byteLimit = layerLimit;
        image.byteLimitText =
            formatC("the %d MB a background may take (BackgroundLimitMB)", files.backgroundLimitMb);
    }
}

} // namespace

uint8_t loadBackground(int layer, const char* path, int32_t* counter, std::string* refusal) {
    if (layer < 0 || layer >= LAYER_COUNT) return 0;
    LayerSlot& slot = projectFiles().layers[layer];
    slot.backgroundPixels.reset();
    slot.backgroundIsVideo = 0;
    if (!path) return 0;

    DecodedImage image;
    setBudget(layer, image);
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
            reader.divisor = fps > 0 ? std::max(captureView().aviFps / fps, 1) : 1;
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
    if (slot.backgroundIsVideo &&
        backgroundSizeAllowed(image, slot.backgroundWidth, slot.backgroundHeight)) {
        // Filled by the first frame the render thread pulls.
        const size_t bytes = static_cast<size_t>(slot.backgroundWidth) * slot.backgroundHeight * 4;
        slot.backgroundPixels = GuardedBytes::allocate(bytes);
        if (slot.backgroundPixels) return 1;
    }
    // A video refused for its size holds no decoder either.
    if (slot.backgroundIsVideo && !image.refusal.empty()) videoReader(layer).close();
    slot.backgroundIsVideo = 0;
    if (!image.refusal.empty()) {
        const std::string text =
            "Could not load the background " + std::string(path) + ": " + image.refusal + ".";
        if (refusal)
            *refusal = text;
        else
            platform().messageBox(mainOwner(), text, "Error", MsgButtons::Ok, MsgIcon::Error);
    }
    return 0;
}

} // namespace vortigo
