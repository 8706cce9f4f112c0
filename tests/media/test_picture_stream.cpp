// The streamed picture writers: a write that fails part-way and a picture
// abandoned before its end leave no file, neither under the name nor beside it;
// 16-bit samples reach ImageMagick and FFmpeg exactly, or as the nearest half
// float of their linear light in OpenEXR.
#include "TempDir.h"
#include "media/ExrStream.h"
#include "media/MediaTools.h"
#include "media/PictureStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <vector>

namespace vortigo {
namespace {

// Nothing at all in the folder: no picture, no temporary file.
bool emptyFolder(const test::TempDir& dir) {
    return std::filesystem::is_empty(dir.path());
}

// Noise does not compress: the file grows with every row.
std::vector<uint8_t> noiseRows(int width, int rows) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * rows * 3);
    uint32_t state = 12345;
    for (uint8_t& byte : rgb) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return rgb;
}

// Smooth (red rises along the rows, green down the picture) or noise; blue is
// noise in both, so that a swapped channel, byte or row shows.
std::vector<uint16_t> deepSamples(int width, int height, bool noise) {
    std::vector<uint16_t> rgb;
    uint32_t state = 99;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const auto random = static_cast<uint16_t>(state >> 16);
            rgb.push_back(noise ? random
                                : static_cast<uint16_t>(x * 65535 / std::max(1, width - 1)));
            rgb.push_back(noise ? static_cast<uint16_t>(random ^ 0x5a5a)
                                : static_cast<uint16_t>(y * 65535 / std::max(1, height - 1)));
            rgb.push_back(random);
        }
    return rgb;
}

// Written in bands of 7 rows, which fall across blocks and tiles.
void writeDeep(const std::string& path, int width, int height, const std::vector<uint16_t>& rgb) {
    PictureFormat format = PictureFormat::Png;
    ASSERT_TRUE(pictureFormatFor(path, format));
    std::string error;
    auto stream = PictureStream::open(path, format, width, height, error, 16);
    ASSERT_TRUE(stream) << error;
    for (int y = 0; y < height; y += 7)
        ASSERT_TRUE(stream->writeRows(reinterpret_cast<const uint8_t*>(rgb.data()) +
                                          static_cast<size_t>(y) * width * 6,
                                      std::min(7, height - y), error))
            << error;
    ASSERT_TRUE(stream->finish(error)) << error;
}

uint64_t littleEndian(const std::vector<uint8_t>& bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    return value;
}

// Readers that seek to a block trust the offset table (FFmpeg rebuilds a
// broken one by reading on): entry i must lead to the block of rows from
// 16 i, the blocks following each other to the end of the file.
bool exrOffsetsLeadToTheirBlocks(const std::string& path, int height) {
    const std::vector<uint8_t> bytes = test::readBytes(path);
    size_t at = 8;
    while (bytes.at(at) != 0) { // attributes: name, type, size, value
        at = std::find(bytes.begin() + static_cast<long>(at), bytes.end(), 0) - bytes.begin() + 1;
        at = std::find(bytes.begin() + static_cast<long>(at), bytes.end(), 0) - bytes.begin() + 1;
        at += 4 + littleEndian(bytes, at, 4);
    }
    const size_t table = at + 1, blocks = (static_cast<size_t>(height) + 15) / 16;
    uint64_t next = table + blocks * 8;
    for (size_t i = 0; i < blocks; ++i) {
        if (littleEndian(bytes, table + i * 8, 8) != next || littleEndian(bytes, next, 4) != i * 16)
            return false;
        next += 8 + littleEndian(bytes, next + 4, 4);
    }
    return next == bytes.size();
}

TEST(PictureStream, DeepPngAndTiffKeepEverySample) {
    const std::vector<uint16_t> rgb = deepSamples(300, 270, false);
    std::string expected;
    for (const uint16_t sample : rgb) {
        expected.push_back(static_cast<char>(sample & 0xff));
        expected.push_back(static_cast<char>(sample >> 8));
    }
    test::TempDir dir;
    for (const char* name : {"d.png", "d.tif"}) {
        writeDeep(dir.file(name), 300, 270, rgb);
        EXPECT_EQ(test::runTool("identify -format '%z' " + dir.file(name)), "16") << name;
        EXPECT_TRUE(test::runTool("convert " + dir.file(name) + " -depth 16 -endian LSB rgb:-") ==
                    expected)
            << name;
    }
}

// FFmpeg reads the half floats as they are (planes G, B, R); each must be the
// nearest half to the sample's sRGB decoding, across a last block shorter
// than 16 rows, smooth and noisy content, and a block too small to deflate.
TEST(PictureStream, OpenExrHoldsTheNearestHalfOfLinearLight) {
    struct Case {
        int width, height;
        bool noise;
    };
    test::TempDir dir;
    for (const Case& c : {Case{200, 37, false}, Case{157, 40, true}, Case{2, 5, true}}) {
        const std::string path = dir.file("d.exr");
        const std::vector<uint16_t> rgb = deepSamples(c.width, c.height, c.noise);
        writeDeep(path, c.width, c.height, rgb);
        EXPECT_TRUE(exrOffsetsLeadToTheirBlocks(path, c.height));
        const size_t pixels = static_cast<size_t>(c.width) * c.height;
        for (const bool toSrgb : {false, true}) {
            const std::string out = test::runTool(
                std::string("ffmpeg -v error ") + (toSrgb ? "-apply_trc iec61966_2_1 " : "") +
                "-i " + path + " -f rawvideo -pix_fmt gbrpf32le -");
            ASSERT_EQ(out.size(), pixels * 3 * sizeof(float)) << c.width << "x" << c.height;
            std::vector<float> planes(pixels * 3);
            std::memcpy(planes.data(), out.data(), out.size());
            int wrong = 0;
            for (size_t p = 0; p < pixels; ++p)
                for (int channel = 0; channel < 3; ++channel) {
                    const double encoded = rgb[p * 3 + channel] / 65535.0;
                    const double linear = encoded <= 0.04045
                                              ? encoded / 12.92
                                              : std::pow((encoded + 0.055) / 1.055, 2.4);
                    const float got = planes[static_cast<size_t>((channel + 2) % 3) * pixels + p];
                    // Half a step of the half float, or back in sRGB the
                    // curve's slope times that.
                    const bool near =
                        toSrgb ? std::abs(got - encoded) < 1.0 / 4096
                               : std::abs(got - linear) <= std::max(linear, 0x1p-14) * 0x1p-11;
                    wrong += near ? 0 : 1;
                }
            EXPECT_EQ(wrong, 0) << c.width << "x" << c.height << (toSrgb ? " in sRGB" : "");
        }
    }
}

TEST(PictureStream, AFailedOrAbandonedWriteLeavesNoFile) {
    struct Case {
        const char* name;
        int bits;
    };
    for (const Case& c : {Case{"p.png", 8}, Case{"p.tif", 8}, Case{"d.png", 16}, Case{"d.tif", 16},
                          Case{"d.exr", 16}}) {
        const char* name = c.name;
        const std::vector<uint8_t> band = noiseRows(512 * c.bits / 8, 64);
        test::TempDir dir;
        PictureFormat format = PictureFormat::Png;
        ASSERT_TRUE(pictureFormatFor(name, format));
        std::string error;
        {
            // Abandoned half-way (a cancel): gone with the object.
            auto stream = PictureStream::open(dir.file(name), format, 512, 512, error, c.bits);
            ASSERT_TRUE(stream) << error;
            ASSERT_TRUE(stream->writeRows(band.data(), 64, error)) << error;
            EXPECT_FALSE(stream->finish(error)); // rows missing
        }
        EXPECT_TRUE(emptyFolder(dir)) << name;

        // A file-size limit makes the writes fail (EFBIG) as a full disk would.
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 100000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        bool failed = false;
        {
            auto stream = PictureStream::open(dir.file(name), format, 512, 512, error, c.bits);
            for (int y = 0; stream && y < 512 && !failed; y += 64)
                failed = !stream->writeRows(band.data(), 64, error);
            if (stream && !failed) failed = !stream->finish(error);
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_TRUE(failed) << name;
        EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
        EXPECT_TRUE(emptyFolder(dir)) << name;

        // And the same rows written whole make a complete picture.
        auto stream = PictureStream::open(dir.file(name), format, 512, 512, error, c.bits);
        for (int y = 0; y < 512; y += 64)
            ASSERT_TRUE(stream->writeRows(band.data(), 64, error)) << error;
        ASSERT_TRUE(stream->finish(error)) << error;
        EXPECT_TRUE(std::filesystem::exists(dir.file(name)));
    }
}

TEST(PictureStream, RefusesWhatItCannotStoreAndWritesNothing) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(PictureStream::open(dir.file("big.png"), PictureFormat::Png, 50000, 50000, error));
    EXPECT_NE(error.find(".tif"), std::string::npos) << error;
    EXPECT_FALSE(PictureStream::open(dir.file("p.tif"), PictureFormat::Tiff, 64, 64, error, 12));
    EXPECT_NE(error.find("12"), std::string::npos) << error;

    PictureFormat format = PictureFormat::Png;
    ASSERT_TRUE(pictureFormatFor(dir.file("d.EXR"), format));
    ASSERT_EQ(format, PictureFormat::Exr);
    EXPECT_FALSE(PictureStream::open(dir.file("d.exr"), format, 64, 64, error));
    EXPECT_EQ(error, "OpenEXR pictures are written from 16-bit frames");
    // A block of 16 rows must fit the chunk's 32-bit size.
    EXPECT_FALSE(PictureStream::open(dir.file("d.exr"), format, EXR_MAX_WIDTH + 1, 1, error, 16));
    EXPECT_NE(error.find(std::to_string(EXR_MAX_WIDTH)), std::string::npos) << error;
    EXPECT_TRUE(emptyFolder(dir));
}

} // namespace
} // namespace vortigo
