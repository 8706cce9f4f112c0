// The background image decoders. Each yields 4-byte pixels (blue, green,
// red, fourth byte), top row first, rows without padding, or nothing; none
// shows a message, and no file, however damaged, ends the process. Each
// checks the size its header declares (backgroundSizeAllowed) before it
// allocates or decodes any pixels.
//
// Threads: any; the decoders share no state.
#pragma once

#include "core/ProjectTypes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vortigo {

struct DecodedImage {
    ByteBuffer pixels; // width x height x 4 bytes
    int width = 0;
    int height = 0;
    // The most bytes the pixels may take, and the words that name that
    // limit in a refusal; set by the caller before decoding.
    size_t byteLimit = size_t{256} << 20;
    std::string byteLimitText = "the 256 MB a background may take";
    // Set when the size the header declares is refused (the pixels are then
    // never decoded): why, naming the size, as "it is W x H pixels, ...".
    std::string refusal;
};

// JPEG through libjpeg-turbo: colour and greyscale images, and CMYK/YCCK
// converted to colour (Adobe's inverted CMYK included).
bool decodeJpeg(const char* path, DecodedImage& image);
bool decodeJpegMemory(const uint8_t* data, size_t size, DecodedImage& image);

// TGA types 1, 2, 9 and 10. A file that ends inside the pixels keeps the
// part read, the rest black; a colour-map index beyond the map is black.
bool decodeTga(const char* path, DecodedImage& image);
bool decodeTgaFile(std::FILE* file, DecodedImage& image);

// Windows bitmaps: core and Windows headers, 1, 4, 8, 16, 24 and 32 bits,
// bit-field masks, 4- and 8-bit run-length packing, either row order.
bool decodeBmp(const char* path, DecodedImage& image);
bool decodeBmpMemory(const uint8_t* data, size_t size, DecodedImage& image);

// True when a width x height background may be allocated and uploaded:
// both sides within the GL's largest texture and the pixels within
// image.byteLimit. Otherwise false, with image.refusal saying why (not for
// a side of 0 or below, which is a broken file rather than a large one).
bool backgroundSizeAllowed(DecodedImage& image, long long width, long long height);

} // namespace vortigo
