// libFuzzer target: the BMP background decoder on any bytes.
// Build (from the repository root):
// clang-format off
//   clang++-14 -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -I. tests/fuzz/fuzz_bmp.cpp media/BmpDecoder.cpp media/BackgroundLimits.cpp platform/Platform.cpp -o build/fuzz_bmp
// clang-format on
#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vortigo::setMaxBackgroundSize(1024);
    vortigo::DecodedImage image;
    if (vortigo::decodeBmpMemory(data, size, image)) {
        unsigned sum = 0;
        const size_t bytes = static_cast<size_t>(image.width) * image.height * 4;
        for (size_t i = 0; i < bytes; i += 61)
            sum += image.pixels[i];
        if (sum == 0xffffffffu) std::abort();
    }
    return 0;
}
