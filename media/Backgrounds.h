// Turning a background file into a layer's pixels: the decoder is chosen by
// the file's extension (JPG, TGA, BMP, AVI).
//
// Threads: the user-interface thread while the render thread rests, or the
// render thread itself for a script-switched background.
#pragma once

#include <cstdint>
#include <string>

namespace vortigo {

// Replaces layer `layer`'s background with the file at `path`; `counter` is
// the layer's video frame counter. 1 when the layer now has pixels to
// upload, else 0 (the layer is then without a background). The caller
// stores the result in the layer's backgroundChanged.
//
// A picture is refused from the size its header declares, before it is
// decoded, when a side is beyond maxBackgroundSize() or its pixels (4 bytes
// each) would take more than backgroundLimitMb, or more than the other
// layers' pixels leave of backgroundTotalLimitMb. The refusal ("Could not
// load the background PATH: it is W x H pixels ...") goes into `refusal`
// when given, else into a message box ("Error") owned by the main window.
// A caller that reloads several layers frees their pixels first, so that
// the budget for all four does not count pictures about to be replaced.
// Files that merely cannot be read show nothing (the video reader has its
// own messages).
uint8_t loadBackground(int layer, const char* path, int32_t* counter,
                       std::string* refusal = nullptr);

// The largest background width and height: the GL's largest texture, never
// above 16384 (the default). The render thread sets it when it creates its
// context; any thread may read it.
void setMaxBackgroundSize(int size);
int maxBackgroundSize();

} // namespace vortigo
