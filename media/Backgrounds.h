// Turning a background file into a layer's pixels: the decoder is chosen by
// the file's extension (JPG, TGA, BMP, AVI).
//
// Threads: the user-interface thread while the render thread rests, or the
// render thread itself for a script-switched background.
#pragma once

#include <cstdint>

namespace vortigo {

// Replaces layer `layer`'s background with the file at `path`; `counter` is
// the layer's video frame counter. 1 when the layer now has pixels to
// upload, else 0 (the layer is then without a background). The caller
// stores the result in the layer's backgroundChanged.
uint8_t loadBackground(int layer, const char* path, int32_t* counter);

// The largest background width and height: the GL's largest texture, never
// above 16384 (the default). The render thread sets it when it creates its
// context; any thread may read it.
void setMaxBackgroundSize(int size);
int maxBackgroundSize();

} // namespace vortigo
