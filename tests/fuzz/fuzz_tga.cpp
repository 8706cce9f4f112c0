// libFuzzer target: the TGA background decoder on any bytes.
// Build (from the repository root):
// clang-format off
//   clang++-14 -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/fuzz_tga.cpp media/TgaDecoder.cpp media/BackgroundLimits.cpp -o build/fuzz_tga
// clang-format on
#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keeps a claimed size within the fuzzer's memory limit.
    vortigo::setMaxBackgroundSize(1024);
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    vortigo::DecodedImage image;
    if (vortigo::decodeTgaFile(file, image)) {
        // Every byte of the block must be defined and inside it.
        unsigned sum = 0;
        const size_t bytes = static_cast<size_t>(image.width) * image.height * 4;
        for (size_t i = 0; i < bytes; i += 61)
            sum += image.pixels[i];
        if (sum == 0xffffffffu) std::abort();
    }
    std::fclose(file);
    return 0;
}
