#include "media/ImageDecoders.h"

#include <csetjmp>
#include <cstdlib>
#include <new>

#include <jpeglib.h>

namespace vortigo {
namespace {

// A fatal library error jumps back to the decoder, which gives no image;
// the process always lives on. Warnings keep the library's own handling
// (the first one is written to stderr).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

[[noreturn]] void errorExit(j_common_ptr info) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->output_message)(info);
    std::longjmp(errors->escape, 1);
}

// Everything the decode owns, outside the frame that calls setjmp so that
// the jump leaves nothing behind.
struct Decode {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    std::FILE* file = nullptr;
    uint8_t* pixels = nullptr;
    uint8_t* row = nullptr;
    bool created = false;

    ~Decode() {
        if (created) jpeg_destroy_decompress(&info);
        if (file) std::fclose(file);
        delete[] pixels;
        delete[] row;
    }
};

uint8_t product(unsigned a, unsigned b) {
    return static_cast<uint8_t>((a * b + 127) / 255);
}

// Four components per pixel into blue, green, red, 255. Adobe writes CMYK
// inverted (0 means full ink), which is the usual kind.
void cmykRow(const uint8_t* in, uint8_t* out, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, in += 4, out += 4) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = product(y, k);
        out[1] = product(m, k);
        out[2] = product(c, k);
        out[3] = 255;
    }
}

// The setjmp frame: only plain data may live here.
bool run(Decode& d, const uint8_t* data, size_t size, DecodedImage& image) {
    d.info.err = jpeg_std_error(&d.errors.base);
    d.errors.base.error_exit = errorExit;
    if (setjmp(d.errors.escape)) return false;
    jpeg_create_decompress(&d.info);
    d.created = true;
    if (d.file)
        jpeg_stdio_src(&d.info, d.file);
    else
        jpeg_mem_src(&d.info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.info, TRUE);

    const bool fourComponents =
        d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    d.info.out_color_space = fourComponents ? JCS_CMYK : JCS_EXT_BGRX;
    if (!backgroundSizeAllowed(image, d.info.image_width, d.info.image_height)) return false;
    jpeg_start_decompress(&d.info);

    const unsigned width = d.info.output_width;
    const unsigned height = d.info.output_height;
    if (!backgroundSizeAllowed(image, width, height) || d.info.output_components != 4) return false;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    d.pixels = new (std::nothrow) uint8_t[rowBytes * height];
    if (!d.pixels) return false;
    if (fourComponents) {
        d.row = new (std::nothrow) uint8_t[rowBytes];
        if (!d.row) return false;
    }
    // Colour and greyscale rows land in the block as they are decoded.
    while (d.info.output_scanline < height) {
        uint8_t* target = d.pixels + d.info.output_scanline * rowBytes;
        JSAMPROW rows[1] = {fourComponents ? d.row : target};
        if (jpeg_read_scanlines(&d.info, rows, 1) != 1) return false;
        if (fourComponents) cmykRow(d.row, target, width, d.info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

bool finish(Decode& d, bool ok, DecodedImage& image) {
    if (!ok) return false;
    image.pixels.reset(d.pixels);
    image.width = static_cast<int>(d.info.output_width);
    image.height = static_cast<int>(d.info.output_height);
    d.pixels = nullptr;
    return true;
}

} // namespace

bool decodeJpeg(const char* path, DecodedImage& image) {
    Decode d;
    d.file = std::fopen(path, "rb");
    if (!d.file) return false;
    const bool ok = run(d, nullptr, 0, image);
    return finish(d, ok, image);
}

bool decodeJpegMemory(const uint8_t* data, size_t size, DecodedImage& image) {
    if (!data || size == 0) return false;
    Decode d;
    const bool ok = run(d, data, size, image);
    return finish(d, ok, image);
}

} // namespace vortigo
