#include "media/ExrStream.h"

#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace vortigo {

namespace {

constexpr int BLOCK_ROWS = 16; // the scanlines of one ZIP_COMPRESSION chunk
constexpr int CHANNELS = 3;
constexpr int HALF_BYTES = 2;

// With EXR_MAX_WIDTH no file can outgrow the offsets' 64 bits: every block
// of the tallest picture at its raw size, with the table, stays far below.
static_assert((static_cast<uint64_t>(INT32_MAX) / BLOCK_ROWS + 1) *
                      (8 + 8 + static_cast<uint64_t>(INT32_MAX)) <
                  uint64_t{1} << 62,
              "offsets fit");

// The bits of the half float nearest to `value` in [0, 1] (ties to even).
uint16_t halfOf(double value) {
    if (value <= 0) return 0;
    // Below the smallest normal half the steps are 2^-24 apart; a value that
    // rounds up to 1024 steps is that normal half, whose bits are 1024.
    if (value < 0x1p-14) return static_cast<uint16_t>(std::nearbyint(std::ldexp(value, 24)));
    int exponent = 0;
    const double mantissa = std::frexp(value, &exponent) * 2; // in [1, 2)
    // A fraction that rounds up to 1024 carries into the exponent, as it should.
    const auto fraction = static_cast<int>(std::nearbyint((mantissa - 1) * 1024));
    return static_cast<uint16_t>(((exponent - 1 + 15) << 10) + fraction);
}

// EXR readers take the samples for linear light, while a frame's 16-bit
// samples are sRGB-encoded as the screen shows them: each is decoded with the
// sRGB transfer curve, so that a viewer shows the same picture.
const std::vector<uint16_t>& linearHalves() {
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> halves(65536);
        for (size_t s = 0; s < halves.size(); ++s) {
            const double encoded = static_cast<double>(s) / 65535.0;
            const double linear =
                encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
            halves[s] = halfOf(linear);
        }
        return halves;
    }();
    return table;
}

// EXR is little-endian throughout.
void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putFloat(std::vector<uint8_t>& out, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, bits);
}
void putU64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void putAttribute(std::vector<uint8_t>& out, const char* name, const char* type,
                  const std::vector<uint8_t>& value) {
    out.insert(out.end(), name, name + std::strlen(name) + 1);
    out.insert(out.end(), type, type + std::strlen(type) + 1);
    putU32(out, static_cast<uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

std::vector<uint8_t> header(int width, int height) {
    std::vector<uint8_t> out = {0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0}; // magic; version 2, scanlines
    std::vector<uint8_t> value;
    // Channels in alphabetical order, as the format wants them.
    for (const char* name : {"B", "G", "R"}) {
        value.insert(value.end(), name, name + 2);
        putU32(value, 1);                // HALF
        value.insert(value.end(), 4, 0); // pLinear and reserved
        putU32(value, 1);                // x sampling
        putU32(value, 1);                // y sampling
    }
    value.push_back(0);
    putAttribute(out, "channels", "chlist", value);
    putAttribute(out, "compression", "compression", {3}); // ZIP_COMPRESSION
    value.clear();
    for (const int v : {0, 0, width - 1, height - 1})
        putU32(value, static_cast<uint32_t>(v));
    putAttribute(out, "dataWindow", "box2i", value);
    putAttribute(out, "displayWindow", "box2i", value);
    putAttribute(out, "lineOrder", "lineOrder", {0}); // INCREASING_Y
    value.clear();
    putFloat(value, 1.0F);
    putAttribute(out, "pixelAspectRatio", "float", value);
    value.clear();
    putFloat(value, 0.0F);
    putFloat(value, 0.0F);
    putAttribute(out, "screenWindowCenter", "v2f", value);
    value.clear();
    putFloat(value, 1.0F);
    putAttribute(out, "screenWindowWidth", "float", value);
    out.push_back(0);
    return out;
}

bool writeAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

class ExrStream final : public PictureStream {
  public:
    ExrStream(std::string path, int width, int height)
        : m_path(std::move(path)), m_width(width), m_height(height) {}

    bool start(std::string& error) {
        const size_t blocks = (static_cast<size_t>(m_height) + BLOCK_ROWS - 1) / BLOCK_ROWS;
        const size_t blockBytes = static_cast<size_t>(m_width) * CHANNELS * HALF_BYTES * BLOCK_ROWS;
        try {
            linearHalves();
            m_offsets.reserve(blocks);
            m_raw.resize(blockBytes);
            m_shuffled.resize(blockBytes);
            m_packed.resize(compressBound(static_cast<uLong>(blockBytes)));
        } catch (const std::bad_alloc&) {
            error = "out of memory for the OpenEXR writer";
            return false;
        }
        if (!m_file.open(m_path, LinkPolicy::Replace)) return failed(error);
        const std::vector<uint8_t> head = header(m_width, m_height);
        if (!put(head.data(), head.size())) return failed(error);
        m_tableAt = m_position;
        // The table's place, filled in by finish().
        const std::vector<uint8_t> zeros(65536, 0);
        for (size_t left = blocks * 8; left > 0;) {
            const size_t n = std::min(left, zeros.size());
            if (!put(zeros.data(), n)) return failed(error);
            left -= n;
        }
        return true;
    }

    bool writeRows(const uint8_t* rgb, int rows, std::string& error) override {
        if (m_broken || rows < 0 || int64_t{m_rows} + m_blockRows + rows > m_height) {
            error = m_broken ? m_message : "more rows than the picture holds";
            return false;
        }
        const std::vector<uint16_t>& halves = linearHalves();
        const size_t line = static_cast<size_t>(m_width) * CHANNELS * HALF_BYTES;
        const size_t plane = static_cast<size_t>(m_width) * HALF_BYTES;
        for (int y = 0; y < rows; ++y) {
            // A scanline holds each channel's samples in turn: B, G, R.
            uint8_t* out = m_raw.data() + line * static_cast<size_t>(m_blockRows);
            for (int x = 0; x < m_width; ++x) {
                uint16_t sample[3];
                std::memcpy(sample, rgb, sizeof sample);
                rgb += sizeof sample;
                const size_t at = static_cast<size_t>(x) * HALF_BYTES;
                for (int c = 0; c < CHANNELS; ++c) {
                    const uint16_t half = halves[sample[c]];
                    uint8_t* to = out + plane * static_cast<size_t>(CHANNELS - 1 - c) + at;
                    to[0] = static_cast<uint8_t>(half);
                    to[1] = static_cast<uint8_t>(half >> 8);
                }
            }
            if (++m_blockRows == BLOCK_ROWS && !flushBlock()) return failed(error);
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (m_broken) {
            error = m_message;
            return false;
        }
        // A short block only ever ends the picture.
        if (m_rows + m_blockRows != m_height) {
            error = "the picture is not complete";
            return false;
        }
        if (m_blockRows > 0 && !flushBlock()) return failed(error);
        uint8_t entries[8 * 4096];
        for (size_t i = 0; i < m_offsets.size(); i += 4096) {
            const size_t n = std::min<size_t>(4096, m_offsets.size() - i);
            for (size_t k = 0; k < n; ++k)
                putU64(entries + 8 * k, m_offsets[i + k]);
            if (!writeAt(m_file.fd(), entries, 8 * n, m_tableAt + 8 * i)) return failed(error);
        }
        if (!m_file.commit()) return failed(error);
        return true;
    }

  private:
    // Writes the block in hand as one chunk: its first scanline's y, its size
    // and its bytes, deflated after ZIP's byte split and difference
    // predictor, or raw where deflating does not make it smaller.
    bool flushBlock() {
        const size_t size =
            static_cast<size_t>(m_width) * CHANNELS * HALF_BYTES * static_cast<size_t>(m_blockRows);
        // Bytes at even places first, then the odd ones; then each byte as
        // its difference to the one before it, offset by 128.
        const size_t half = (size + 1) / 2;
        for (size_t i = 0; i < size; ++i)
            m_shuffled[(i % 2 ? half : 0) + i / 2] = m_raw[i];
        uint8_t previous = m_shuffled[0];
        for (size_t i = 1; i < size; ++i) {
            const uint8_t current = m_shuffled[i];
            m_shuffled[i] = static_cast<uint8_t>(current - previous + 128);
            previous = current;
        }
        uLongf packed = static_cast<uLongf>(m_packed.size());
        const bool deflated = compress2(m_packed.data(), &packed, m_shuffled.data(),
                                        static_cast<uLong>(size), 4) == Z_OK &&
                              packed < size;
        const uint8_t* data = deflated ? m_packed.data() : m_raw.data();
        const size_t stored = deflated ? static_cast<size_t>(packed) : size;
        std::vector<uint8_t> prefix;
        putU32(prefix, static_cast<uint32_t>(m_rows));
        putU32(prefix, static_cast<uint32_t>(stored));
        m_offsets.push_back(m_position);
        if (!put(prefix.data(), prefix.size()) || !put(data, stored)) return false;
        m_rows += m_blockRows;
        m_blockRows = 0;
        return true;
    }

    bool put(const uint8_t* data, size_t size) {
        if (!m_file.write(data, size)) return false;
        m_position += size;
        return true;
    }

    bool failed(std::string& error) {
        m_broken = true;
        m_message = "cannot write " + m_path + ": " + fileErrorText(errno ? errno : EIO);
        error = m_message;
        return false;
    }

    AtomicFile m_file;
    std::string m_path;
    int m_width, m_height;
    int m_rows = 0;      // rows in the file
    int m_blockRows = 0; // rows waiting in m_raw
    uint64_t m_position = 0;
    uint64_t m_tableAt = 0;
    std::vector<uint64_t> m_offsets; // each written chunk's place, 8 bytes a 16 rows
    std::vector<uint8_t> m_raw, m_shuffled, m_packed;
    bool m_broken = false;
    std::string m_message;
};

} // namespace

std::unique_ptr<PictureStream> openExrStream(const std::string& path, int width, int height,
                                             std::string& error) {
    if (width > EXR_MAX_WIDTH) {
        error = "an OpenEXR picture is at most " + std::to_string(EXR_MAX_WIDTH) +
                " pixels wide; write a .tif instead";
        return nullptr;
    }
    auto stream = std::make_unique<ExrStream>(path, width, height);
    if (!stream->start(error)) return nullptr;
    return stream;
}

} // namespace vortigo
