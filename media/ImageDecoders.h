// The background image decoders. Each yields 4-byte pixels (blue, green,
// red, fourth byte), top row first, rows without padding, or nothing; none
// shows a message, and no file, however damaged, ends the process.
//
// Threads: any; the decoders share no state.
#pragma once

#include "core/ProjectState.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vortigo {

struct DecodedImage {
    ByteBuffer pixels; // width x height x 4 bytes
    int width = 0;
    int height = 0;
};

// JPEG through libjpeg-turbo: colour and greyscale images, and CMYK/YCCK
// converted to colour (Adobe's inverted CMYK included).
bool decodeJpeg(const char* path, DecodedImage& image);
bool decodeJpegMemory(const uint8_t* data, size_t size, DecodedImage& image);

// TGA types 1, 2, 9 and 10. A file that ends inside the pixels keeps the
// part read, the rest black; a colour-map index beyond the map is black.
bool decodeTga(const char* path, DecodedImage& image);
bool decodeTgaFile(std::FILE* file, DecodedImage& image);

// BMP of any depth Qt reads; the size is checked from the header before the
// pixels are decoded.
bool decodeBmp(const char* path, DecodedImage& image);
bool decodeBmpMemory(const uint8_t* data, size_t size, DecodedImage& image);

// True when a width x height background may be allocated and uploaded.
bool backgroundSizeAllowed(long long width, long long height);

} // namespace vortigo
