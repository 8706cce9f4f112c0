#include "media/ImageDecoders.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace vortigo {
namespace {

// Buffered bytes of the file; a read past its end yields false and leaves
// the rest of the image as it was (black).
class ByteSource {
  public:
    explicit ByteSource(std::FILE* file) : m_file(file) {}
    bool read(uint8_t* out, size_t count) {
        while (count > 0) {
            if (m_pos == m_len && !refill()) return false;
            const size_t n = std::min(count, m_len - m_pos);
            std::memcpy(out, m_buffer + m_pos, n);
            m_pos += n;
            out += n;
            count -= n;
        }
        return true;
    }
    bool skip(size_t count) {
        uint8_t scratch[256];
        while (count > 0) {
            const size_t n = std::min(count, sizeof scratch);
            if (!read(scratch, n)) return false;
            count -= n;
        }
        return true;
    }

  private:
    bool refill() {
        m_len = std::fread(m_buffer, 1, sizeof m_buffer, m_file);
        m_pos = 0;
        return m_len > 0;
    }
    std::FILE* m_file;
    uint8_t m_buffer[65536];
    size_t m_pos = 0;
    size_t m_len = 0;
};

struct Header {
    uint8_t idLength, mapType, imageType;
    uint16_t mapLength;
    uint8_t mapEntryBits;
    uint16_t width, height;
    uint8_t depth, descriptor;
};

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct PixelReader {
    ByteSource& source;
    int bytesPerPixel;
    const uint8_t* map;
    size_t mapEntries;

    // One file pixel into out[0..2] (and out[3] for 32 bits).
    bool read(uint8_t* out) {
        uint8_t raw[4];
        if (!source.read(raw, static_cast<size_t>(bytesPerPixel))) return false;
        switch (bytesPerPixel) {
        case 4:
            std::memcpy(out, raw, 4);
            break;
        case 3:
            std::memcpy(out, raw, 3);
            break;
        case 2: {
            const unsigned v = le16(raw);
            out[0] = static_cast<uint8_t>((v & 31) * 8);
            out[1] = static_cast<uint8_t>(((v >> 5) & 31) * 8);
            out[2] = static_cast<uint8_t>(((v >> 10) & 31) * 8);
            break;
        }
        default:
            // An index without an entry gives black.
            if (raw[0] < mapEntries)
                std::memcpy(out, map + raw[0] * size_t{3}, 3);
            else
                out[0] = out[1] = out[2] = 0;
            break;
        }
        return true;
    }
};

} // namespace

bool decodeTgaFile(std::FILE* file, DecodedImage& image) {
    ByteSource source(file);
    uint8_t raw[18];
    if (!source.read(raw, sizeof raw)) return false;
    const Header h{raw[0],         raw[1],         raw[2],  le16(raw + 5), raw[7],
                   le16(raw + 12), le16(raw + 14), raw[16], raw[17]};
    const bool mapped = h.imageType == 1 || h.imageType == 9;
    const bool trueColour = h.imageType == 2 || h.imageType == 10;
    if (!mapped && !trueColour) return false;
    if (!source.skip(h.idLength)) return false;

    uint8_t map[256 * 3];
    if (mapped) {
        if (h.mapType == 0 || h.depth != 8 || h.mapEntryBits != 24 || h.mapLength == 0)
            return false;
        // Entries beyond 256 can never be indexed by 8-bit pixels; they are
        // read past, not kept.
        const size_t kept = std::min<size_t>(h.mapLength, 256);
        if (!source.read(map, kept * 3) || !source.skip((h.mapLength - kept) * 3)) return false;
    } else if (h.depth != 16 && h.depth != 24 && h.depth != 32) {
        return false;
    }
    if (!backgroundSizeAllowed(image, h.width, h.height)) return false;

    const size_t count = static_cast<size_t>(h.width) * h.height;
    ByteBuffer pixels(new (std::nothrow) uint8_t[count * 4]());
    if (!pixels) return false;

    PixelReader reader{source, h.depth / 8, map, mapped ? std::min<size_t>(h.mapLength, 256) : 0};
    const bool topDown = (h.descriptor & 0x20) != 0;
    const size_t rowBytes = static_cast<size_t>(h.width) * 4;
    auto target = [&](size_t k) {
        const size_t row = k / h.width;
        const size_t column = k % h.width;
        const size_t stored = topDown ? row : h.height - 1 - row;
        return pixels.get() + stored * rowBytes + column * 4;
    };

    const bool runLength = h.imageType == 9 || h.imageType == 10;
    size_t k = 0;
    while (k < count) {
        if (!runLength) {
            if (!reader.read(target(k))) break;
            ++k;
            continue;
        }
        uint8_t packet;
        if (!source.read(&packet, 1)) break;
        // Packets that run past the last pixel are cut there.
        if (packet < 128) {
            const size_t end = std::min(count, k + packet + 1);
            bool ok = true;
            for (; k < end && ok; ++k)
                ok = reader.read(target(k));
            if (!ok) break;
        } else {
            uint8_t value[4] = {0, 0, 0, 0};
            if (!reader.read(value)) break;
            const size_t end = std::min(count, k + packet - 127);
            for (; k < end; ++k)
                std::memcpy(target(k), value,
                            static_cast<size_t>(reader.bytesPerPixel == 4 ? 4 : 3));
        }
    }

    image.pixels = std::move(pixels);
    image.width = h.width;
    image.height = h.height;
    return true;
}

bool decodeTga(const char* path, DecodedImage& image) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    const bool ok = decodeTgaFile(file, image);
    std::fclose(file);
    return ok;
}

} // namespace vortigo
