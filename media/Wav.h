// The sound track of a capture: the chunk walk of a PCM WAV file.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vortigo {

struct WavSound {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0; // blockAlign x 8 / channels, not the file's own field
    std::vector<uint8_t> data;
};

enum class WavStatus {
    Ok,
    CannotOpen, // missing or unreadable
    NotRiff,
    NotWave,
    NoFmt,
    NotPcm,
    Unreadable, // a size or a value the walk cannot use; the reason says which
};

struct WavResult {
    WavStatus status = WavStatus::CannotOpen;
    std::string reason; // for Unreadable: why, as a sentence fragment
};

// Walks RIFF, WAVE, "fmt " and the chunks up to "data" of the open stream
// `file`, which holds `fileBytes` bytes from its current position. Never
// reads or allocates past those bytes.
WavResult readWav(std::FILE* file, uint64_t fileBytes, WavSound& sound);

// Opens `path` read-only and walks it.
WavResult readWavFile(const char* path, WavSound& sound);

} // namespace vortigo
