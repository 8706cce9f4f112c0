// libFuzzer target: the JPEG background decoder (libjpeg-turbo) on any bytes.
// The library writes its messages to stderr: run with -close_fd_mask=2.
// Build (from the repository root):
// clang-format off
//   clang++-14 -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/fuzz_jpeg.cpp media/JpegDecoder.cpp media/BackgroundLimits.cpp -ljpeg -o build/fuzz_jpeg
// clang-format on
#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vortigo::setMaxBackgroundSize(1024);
    vortigo::DecodedImage image;
    if (vortigo::decodeJpegMemory(data, size, image)) {
        unsigned sum = 0;
        const size_t bytes = static_cast<size_t>(image.width) * image.height * 4;
        for (size_t i = 0; i < bytes; i += 61)
            sum += image.pixels[i];
        if (sum == 0xffffffffu) std::abort();
    }
    return 0;
}
