#include "media/Wav.h"

#include <cstring>
#include <string>
#include <utility>

namespace vortigo {
namespace {

// Reads with a byte budget: a size that points past the end of the file
// stops the walk instead of reading or allocating past it.
class ChunkReader {
  public:
    ChunkReader(std::FILE* file, uint64_t bytes) : m_file(file), m_left(bytes) {}

    bool read(void* out, size_t n) {
        if (n > m_left || std::fread(out, 1, n, m_file) != n) return false;
        m_left -= n;
        return true;
    }
    bool tag(char out[4]) { return read(out, 4); }
    bool u16(uint16_t& v) {
        uint8_t b[2];
        if (!read(b, 2)) return false;
        v = static_cast<uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    bool u32(uint32_t& v) {
        uint8_t b[4];
        if (!read(b, 4)) return false;
        v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
            static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        return true;
    }
    bool skip(uint64_t n) {
        if (n > m_left) return false;
        if (n > 0 && std::fseek(m_file, static_cast<long>(n), SEEK_CUR) != 0) return false;
        m_left -= n;
        return true;
    }
    uint64_t left() const { return m_left; }

  private:
    std::FILE* m_file;
    uint64_t m_left;
};

WavResult unreadable(std::string reason) {
    return WavResult{WavStatus::Unreadable, std::move(reason)};
}

// What the sound track's stream and its consumers are made for; a header
// beyond them is damage, not a sound anyone recorded.
constexpr uint16_t MAX_CHANNELS = 8;
constexpr uint32_t MAX_SAMPLE_RATE = 768000;

} // namespace

WavResult readWav(std::FILE* file, uint64_t fileBytes, WavSound& sound) {
    ChunkReader in(file, fileBytes);
    char id[4];
    if (!in.tag(id) || std::memcmp(id, "RIFF", 4) != 0) return {WavStatus::NotRiff, {}};
    if (!in.skip(4) || !in.tag(id) || std::memcmp(id, "WAVE", 4) != 0)
        return {WavStatus::NotWave, {}};
    if (!in.tag(id) || std::memcmp(id, "fmt ", 4) != 0) return {WavStatus::NoFmt, {}};

    uint32_t formatBytes = 0;
    uint16_t formatTag = 0, bits = 0;
    if (!in.u32(formatBytes) || !in.u16(formatTag))
        return unreadable("the file ends inside its format chunk");
    if (formatTag != 1) return {WavStatus::NotPcm, {}};
    if (!in.u16(sound.channels) || !in.u32(sound.sampleRate) || !in.u32(sound.avgBytesPerSecond) ||
        !in.u16(sound.blockAlign) || !in.u16(bits))
        return unreadable("the file ends inside its format chunk");
    if (formatBytes < 16) return unreadable("the format chunk is shorter than 16 bytes");
    if (sound.channels == 0) return unreadable("the format chunk gives 0 channels");
    if (sound.channels > MAX_CHANNELS)
        return unreadable("the format chunk gives " + std::to_string(sound.channels) +
                          " channels, more than the " + std::to_string(MAX_CHANNELS) +
                          " a sound track may have");
    if (sound.sampleRate < 1 || sound.sampleRate > MAX_SAMPLE_RATE)
        return unreadable("the format chunk gives a rate of " + std::to_string(sound.sampleRate) +
                          " Hz, outside the 1 Hz to " + std::to_string(MAX_SAMPLE_RATE) +
                          " Hz a sound track may have");
    if (sound.blockAlign == 0) return unreadable("the format chunk gives a block align of 0");
    sound.bitsPerSample = static_cast<uint16_t>(sound.blockAlign * 8 / sound.channels);
    if (!in.skip(formatBytes - 16))
        return unreadable("the format chunk runs past the end of the file");

    for (;;) {
        if (!in.tag(id)) return unreadable("the file ends before its data chunk");
        if (std::memcmp(id, "data", 4) == 0) break;
        uint32_t chunkBytes = 0;
        if (!in.u32(chunkBytes) || !in.skip(chunkBytes))
            return unreadable("a chunk runs past the end of the file");
    }
    uint32_t dataBytes = 0;
    if (!in.u32(dataBytes) || dataBytes > in.left())
        return unreadable("the data chunk runs past the end of the file");
    sound.data.resize(dataBytes);
    if (!in.read(sound.data.data(), dataBytes))
        return unreadable("the sound data could not be read");
    return {WavStatus::Ok, {}};
}

WavResult readWavFile(const char* path, WavSound& sound) {
    // Read-only: the sound file is never changed, and may be read-only.
    std::FILE* file = path && *path ? std::fopen(path, "rb") : nullptr;
    if (!file) return {WavStatus::CannotOpen, {}};
    uint64_t bytes = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);
        bytes = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
    std::rewind(file);
    WavResult result = readWav(file, bytes, sound);
    std::fclose(file);
    return result;
}

} // namespace vortigo
