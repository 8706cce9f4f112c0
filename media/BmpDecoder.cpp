#include "media/ImageDecoders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// Windows bitmaps as the desktop's own loader reads them: the OS/2 core
// header and the Windows headers (40, 52, 56, 108 and 124 bytes); 1, 4 and 8
// bits with a colour table, 16 and 32 bits plain or with bit-field masks, 24
// bits; 8- and 4-bit run-length packing; rows bottom-up or (with a negative
// height) top-down. Embedded JPEG or PNG data is not a bitmap. Decoding is
// our own, so the batch renderer needs no GUI toolkit.
namespace vortigo {
namespace {

enum Compression : uint32_t { RGB = 0, RLE8 = 1, RLE4 = 2, BITFIELDS = 3, ALPHABITFIELDS = 6 };

constexpr size_t FILE_HEADER = 14;
// Enough for the largest header, three masks and a 256-entry colour table.
constexpr size_t HEADER_SPAN = FILE_HEADER + 124 + 12 + size_t{256} * 4;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// One channel of a bit-field pixel, widened or narrowed to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    Channel() = default;
    explicit Channel(uint32_t m) : mask(m) {
        if (mask == 0) return;
        while (((mask >> shift) & 1U) == 0)
            ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1U) != 0)
            ++bits;
    }
    uint8_t operator()(uint32_t pixel) const {
        if (bits == 0) return 0;
        const uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
        const uint32_t top = (1U << bits) - 1;
        return static_cast<uint8_t>((value * 255 + top / 2) / top);
    }
};

struct Layout {
    int64_t width = 0, height = 0; // height as stored: negative for top-down
    int bits = 0;
    uint32_t compression = RGB;
    uint32_t pixelOffset = 0;
    std::array<Channel, 3> channels{}; // red, green, blue
    std::vector<uint32_t> palette;     // 0x00RRGGBB
    uint64_t rowBytes = 0;             // of an uncompressed row, padded to 4
    uint64_t dataBytes = 0;            // the most pixel data the decoder reads
};

// Reads the headers from `data` (at least the first HEADER_SPAN bytes of the
// file, or all of it when shorter). False for anything that is not a bitmap
// the decoder reads.
bool parseLayout(const uint8_t* data, size_t size, Layout& out) {
    if (size < FILE_HEADER + 12 || data[0] != 'B' || data[1] != 'M') return false;
    out.pixelOffset = le32(data + 10);
    const uint8_t* info = data + FILE_HEADER;
    const uint32_t infoSize = le32(info);
    const bool core = infoSize == 12;
    if (!core && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 &&
        infoSize != 124)
        return false;
    if (size < FILE_HEADER + infoSize) return false;
    if (core) {
        out.width = le16(info + 4);
        out.height = le16(info + 6);
        out.bits = le16(info + 10);
    } else {
        out.width = static_cast<int32_t>(le32(info + 4));
        out.height = static_cast<int32_t>(le32(info + 8));
        out.bits = le16(info + 14);
        out.compression = le32(info + 16);
    }
    if (out.width <= 0 || out.height == 0) return false;

    size_t tableAt = FILE_HEADER + infoSize;
    switch (out.compression) {
    case RGB:
        if (out.bits == 16) out.channels = {Channel(0x7C00), Channel(0x03E0), Channel(0x001F)};
        if (out.bits == 32 || out.bits == 24)
            out.channels = {Channel(0xFF0000), Channel(0x00FF00), Channel(0x0000FF)};
        if (out.bits != 1 && out.bits != 4 && out.bits != 8 && out.bits != 16 && out.bits != 24 &&
            out.bits != 32)
            return false;
        break;
    case RLE8:
    case RLE4:
        // Packed rows run bottom-up only.
        if (out.bits != (out.compression == RLE8 ? 8 : 4) || out.height < 0) return false;
        break;
    case BITFIELDS:
    case ALPHABITFIELDS: {
        if (out.bits != 16 && out.bits != 32) return false;
        // A 40-byte header has the masks after it; the longer ones hold them.
        const size_t masksAt = FILE_HEADER + 40;
        if (size < masksAt + 12) return false;
        out.channels = {Channel(le32(data + masksAt)), Channel(le32(data + masksAt + 4)),
                        Channel(le32(data + masksAt + 8))};
        if (infoSize == 40) tableAt += out.compression == BITFIELDS ? 12 : 16;
        break;
    }
    default:
        return false; // embedded JPEG or PNG, or unknown
    }

    if (out.bits <= 8) {
        const uint32_t used = core ? 0 : le32(info + 32);
        const uint32_t most = 1U << out.bits;
        const uint32_t entries = used == 0 || used > most ? most : used;
        const size_t entrySize = core ? 3 : 4;
        // Entries beyond the file's end (or into the pixels) stay black.
        out.palette.assign(most, 0);
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t at = tableAt + i * entrySize;
            if (at + 3 > size) break;
            out.palette[i] = static_cast<uint32_t>(data[at + 2]) << 16 |
                             static_cast<uint32_t>(data[at + 1]) << 8 | data[at];
        }
    }

    const uint64_t rows = static_cast<uint64_t>(std::llabs(out.height));
    out.rowBytes =
        (static_cast<uint64_t>(out.width) * static_cast<uint64_t>(out.bits) + 31) / 32 * 4;
    if (out.compression == RLE8 || out.compression == RLE4) {
        // A run codes at least one pixel in two bytes; with the end-of-line
        // codes no sound file needs more.
        out.dataBytes = static_cast<uint64_t>(out.width) * rows * 2 + rows * 2 + 2;
    } else {
        out.dataBytes = out.rowBytes * rows;
    }
    return true;
}

void putPixel(uint8_t* row, int64_t x, uint32_t rgb) {
    uint8_t* p = row + x * 4;
    p[0] = static_cast<uint8_t>(rgb);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
    p[3] = 0xFF;
}

// Pixels are written top row first; `y` counts as the file stores rows.
uint8_t* outputRow(const Layout& l, uint8_t* pixels, int64_t y) {
    const int64_t rows = std::llabs(l.height);
    const int64_t top = l.height < 0 ? y : rows - 1 - y;
    return pixels + top * l.width * 4;
}

bool decodePlain(const Layout& l, const uint8_t* data, size_t size, uint8_t* pixels) {
    if (size < l.dataBytes) return false; // a cut-short file is not a bitmap
    const std::array<Channel, 3>& c = l.channels;
    for (int64_t y = 0; y < std::llabs(l.height); ++y) {
        const uint8_t* in = data + static_cast<uint64_t>(y) * l.rowBytes;
        uint8_t* out = outputRow(l, pixels, y);
        for (int64_t x = 0; x < l.width; ++x) {
            uint32_t rgb = 0;
            switch (l.bits) {
            case 1:
            case 4:
            case 8: {
                const int64_t bit = x * l.bits;
                const int shift = 8 - l.bits - static_cast<int>(bit % 8);
                const uint32_t index = (in[bit / 8] >> shift) & ((1U << l.bits) - 1);
                rgb = l.palette[index];
                break;
            }
            case 16: {
                const uint32_t v = le16(in + x * 2);
                rgb = static_cast<uint32_t>(c[0](v)) << 16 | static_cast<uint32_t>(c[1](v)) << 8 |
                      c[2](v);
                break;
            }
            case 24:
                rgb = static_cast<uint32_t>(in[x * 3 + 2]) << 16 |
                      static_cast<uint32_t>(in[x * 3 + 1]) << 8 | in[x * 3];
                break;
            default: {
                const uint32_t v = le32(in + x * 4);
                rgb = static_cast<uint32_t>(c[0](v)) << 16 | static_cast<uint32_t>(c[1](v)) << 8 |
                      c[2](v);
                break;
            }
            }
            putPixel(out, x, rgb);
        }
    }
    return true;
}

// Run-length packing: (count, index) runs, and after a zero byte an escape:
// 0 end of line, 1 end of bitmap, 2 a move by (dx, dy), else that many
// indices as they stand, padded to a whole word. Pixels that no code reaches
// stay black; codes past a row's end or the bitmap's top are dropped.
void decodeRunLength(const Layout& l, const uint8_t* data, size_t size, uint8_t* pixels) {
    const bool four = l.compression == RLE4;
    const int64_t rows = l.height;
    int64_t x = 0, y = 0;
    size_t at = 0;
    auto put = [&](uint32_t index) {
        if (x < l.width && y < rows) putPixel(outputRow(l, pixels, y), x, l.palette[index & 0xFF]);
        ++x;
    };
    while (at + 2 <= size && y < rows) {
        const uint8_t count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(four ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            if (at + 2 > size) return;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {
            const size_t bytes = four ? (value + 1U) / 2 : value;
            if (at + bytes > size) return;
            for (int i = 0; i < value; ++i)
                put(four ? ((i % 2 == 0) ? data[at + i / 2] >> 4 : data[at + i / 2] & 0x0F)
                         : data[at + i]);
            at += (bytes + 1) & ~size_t{1};
        }
    }
}

// `head` holds the file's first bytes; `readRest` fetches the pixel data
// (from pixelOffset, at most the bytes asked) once the declared size is
// allowed.
template <typename ReadRest>
bool decode(const uint8_t* head, size_t headSize, DecodedImage& image, ReadRest readRest) {
    Layout layout;
    if (!parseLayout(head, headSize, layout)) return false;
    if (!backgroundSizeAllowed(image, layout.width, std::llabs(layout.height))) return false;
    std::vector<uint8_t> data;
    if (!readRest(layout.pixelOffset, layout.dataBytes, data)) return false;

    const size_t bytes =
        static_cast<size_t>(layout.width) * static_cast<size_t>(std::llabs(layout.height)) * 4;
    ByteBuffer pixels(new (std::nothrow) uint8_t[bytes]);
    if (!pixels) return false;
    if (layout.compression == RLE8 || layout.compression == RLE4) {
        for (size_t i = 0; i < bytes; i += 4)
            putPixel(pixels.get() + i, 0, 0);
        decodeRunLength(layout, data.data(), data.size(), pixels.get());
    } else if (!decodePlain(layout, data.data(), data.size(), pixels.get())) {
        return false;
    }
    image.pixels = std::move(pixels);
    image.width = static_cast<int>(layout.width);
    image.height = static_cast<int>(std::llabs(layout.height));
    return true;
}

} // namespace

bool decodeBmp(const char* path, DecodedImage& image) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t head[HEADER_SPAN];
    const size_t headSize = std::fread(head, 1, sizeof head, file);
    const bool decoded = decode(
        head, headSize, image, [file](uint32_t offset, uint64_t most, std::vector<uint8_t>& out) {
            if (std::fseek(file, offset, SEEK_SET) != 0) return false;
            // Read in steps: a header may promise more than the file holds.
            constexpr size_t STEP = size_t{1} << 20;
            while (out.size() < most) {
                const size_t old = out.size();
                const size_t want = static_cast<size_t>(std::min<uint64_t>(STEP, most - old));
                out.resize(old + want);
                const size_t got = std::fread(out.data() + old, 1, want, file);
                out.resize(old + got);
                if (got < want) break;
            }
            return true;
        });
    std::fclose(file);
    return decoded;
}

bool decodeBmpMemory(const uint8_t* data, size_t size, DecodedImage& image) {
    if (!data || size == 0) return false;
    return decode(data, std::min(size, HEADER_SPAN), image,
                  [data, size](uint32_t offset, uint64_t most, std::vector<uint8_t>& out) {
                      if (offset > size) return false;
                      const size_t n = static_cast<size_t>(std::min<uint64_t>(most, size - offset));
                      out.assign(data + offset, data + offset + n);
                      return true;
                  });
}

} // namespace vortigo
