// The BMP decoder against bitmaps ImageMagick writes, one of each kind the
// loader reads: its pixels must match ImageMagick's own reading of the file.
#include "TempDir.h"
#include "media/ImageDecoders.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace vortigo {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le(const std::string& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

struct Kind {
    const char* name;
    const char* options; // for convert
    const char* format;  // the writer: BMP2 (core header), BMP3 (40 bytes), BMP (124)
    uint32_t headerSize, bits, compression;
    int tolerance; // 16-bit channels round differently from reader to reader
};

TEST(BmpDecoder, ReadsEveryKindImageMagickWritesAsImageMagickReadsIt) {
    if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
    test::TempDir dir;
    const Kind kinds[] = {
        {"core-24", "", "BMP2", 12, 24, 0, 0},
        {"core-4", "-colors 12 -type Palette", "BMP2", 12, 4, 0, 0},
        {"info-1", "-monochrome", "BMP3", 40, 1, 0, 0},
        {"info-4", "-colors 12 -type Palette", "BMP3", 40, 4, 0, 0},
        {"info-8", "-type Palette -compress None", "BMP3", 40, 8, 0, 0},
        {"info-rle8", "-type Palette -compress RLE", "BMP3", 40, 8, 1, 0},
        {"info-24", "-type TrueColor", "BMP3", 40, 24, 0, 0},
        {"info-32", "-define bmp3:alpha=true -alpha set", "BMP3", 40, 32, 0, 0},
        {"v5-24", "", "BMP", 124, 24, 0, 0},
        {"v5-565", "-define bmp:subtype=RGB565", "BMP", 124, 16, 3, 4},
        {"v5-555", "-define bmp:subtype=RGB555", "BMP", 124, 16, 3, 4},
        {"v5-32-fields", "-alpha set", "BMP", 124, 32, 3, 0},
    };
    // A 19 x 5 picture (rows that need padding, more than 16 colours), then
    // every kind written from it at once (separate runs: ImageMagick's
    // settings would carry over from one output to the next), then one run
    // reads them all back.
    const std::string source = dir.file("source.ppm");
    std::string write = "convert -size 5x19 gradient:'#ff2000-#0030ff' -rotate 90 -fill '#12c840' "
                        "-draw 'point 3,1' -fill white -draw 'point 0,0' '" +
                        source + "' && {";
    std::string read = "convert";
    for (const Kind& kind : kinds) {
        const std::string bmp = dir.file(std::string(kind.name) + ".bmp");
        write +=
            " convert '" + source + "' " + kind.options + " " + kind.format + ":'" + bmp + "' & ";
        read += " '" + bmp + "'";
    }
    ASSERT_EQ(std::system((write + " wait; }").c_str()), 0);
    ASSERT_EQ(
        std::system((read + " -depth 8 +adjoin 'rgb:" + dir.file("read-%d.rgb") + "'").c_str()), 0);

    for (size_t k = 0; k < std::size(kinds); ++k) {
        const Kind& kind = kinds[k];
        SCOPED_TRACE(kind.name);
        const std::string bmp = dir.file(std::string(kind.name) + ".bmp");
        const std::string file = readAll(bmp);
        ASSERT_GT(file.size(), 54u);
        const uint32_t header = le(file, 14, 4);
        EXPECT_EQ(header, kind.headerSize);
        EXPECT_EQ(header == 12 ? le(file, 24, 2) : le(file, 28, 2), kind.bits);
        EXPECT_EQ(header == 12 ? 0 : le(file, 30, 4), kind.compression);

        DecodedImage image;
        ASSERT_TRUE(decodeBmp(bmp.c_str(), image));
        ASSERT_EQ(image.width, 19);
        ASSERT_EQ(image.height, 5);
        const std::string expected = readAll(dir.file("read-" + std::to_string(k) + ".rgb"));
        ASSERT_EQ(expected.size(), 19u * 5 * 3);
        int worst = 0;
        for (size_t i = 0; i < 19 * 5; ++i)
            for (int c = 0; c < 3; ++c) {
                const int ours = image.pixels[i * 4 + 2 - c]; // stored blue, green, red
                const int theirs = static_cast<uint8_t>(expected[i * 3 + c]);
                worst = std::max(worst, std::abs(ours - theirs));
            }
        EXPECT_LE(worst, kind.tolerance);

        DecodedImage fromMemory;
        ASSERT_TRUE(decodeBmpMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
                                    fromMemory));
        EXPECT_EQ(std::memcmp(fromMemory.pixels.get(), image.pixels.get(), 19 * 5 * 4), 0);
    }
}

// 4-bit run-length packing (which ImageMagick does not write): runs of two
// alternating indices, a literal run, a move, and pixels no code reaches.
TEST(BmpDecoder, FourBitRunLengthPacking) {
    std::string f = "BM";
    auto put = [&f](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            f += static_cast<char>(v >> (8 * i));
    };
    put(0, 4), put(0, 4), put(14 + 40 + 16 * 4, 4);
    put(40, 4), put(4, 4), put(2, 4), put(1, 2), put(4, 2), put(2, 4), put(0, 20);
    for (uint32_t i = 0; i < 16; ++i)
        put(i * 0x101010, 4); // grey levels
    // Bottom row: 3 pixels 1,2,1 as a run, then end of line; top row: a
    // literal of 3 pixels 3,4,5 (two bytes, a whole word), end of bitmap.
    const unsigned char codes[] = {3, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    f.append(reinterpret_cast<const char*>(codes), sizeof codes);
    DecodedImage image;
    ASSERT_TRUE(decodeBmpMemory(reinterpret_cast<const uint8_t*>(f.data()), f.size(), image));
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 2);
    const int expected[8] = {3, 4, 5, 0, 1, 2, 1, 0}; // top row first; unreached: black
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(image.pixels[i * 4], expected[i] * 0x10) << "pixel " << i;
}

} // namespace
} // namespace vortigo
