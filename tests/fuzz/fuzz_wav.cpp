// libFuzzer target for the WAV chunk walk of the capture's sound track.
//
// Build and run from the repository root:
// clang-format off
//   clang++-14 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I. media/Wav.cpp tests/fuzz/fuzz_wav.cpp -o /tmp/fuzz_wav && /tmp/fuzz_wav -runs=1000000 -max_len=4096
// clang-format on
// A walk that reads, skips or allocates past the input fails under the
// sanitizers or the check below.
#include "media/Wav.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0; // fmemopen needs a buffer
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    vortigo::WavSound sound;
    const vortigo::WavResult result = vortigo::readWav(file, size, sound);
    std::fclose(file);
    if (sound.data.size() > size) std::abort();
    if (result.status == vortigo::WavStatus::Ok && (sound.channels == 0 || sound.blockAlign == 0))
        std::abort();
    return 0;
}
