// Drawing one frame on the render thread and reading it back as 24-bit
// blue-green-red rows, bottom row first, without padding.
#pragma once

#include <cstdint>

namespace vortigo {

// Draws pass 0 (normal) or pass 1 (super-sampling) of the current frame into
// `destination`, which holds imageWidth x imageHeight x 3 bytes.
void drawFrame(int pass, uint8_t* destination);

// Reads the drawn picture back into `destination`. Only the part that lies
// on the drawing surface is read; the rest of the frame is cleared.
void readBackFrame(uint8_t* destination, int width, int height);

} // namespace vortigo
