// The streamed picture writers: a write that fails part-way and a picture
// abandoned before its end leave no file, neither under the name nor beside it.
#include "TempDir.h"
#include "media/PictureStream.h"

#include <gtest/gtest.h>

#include <csignal>
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

TEST(PictureStream, AFailedOrAbandonedWriteLeavesNoFile) {
    const std::vector<uint8_t> band = noiseRows(512, 64);
    for (const char* name : {"p.png", "p.tif"}) {
        test::TempDir dir;
        PictureFormat format = PictureFormat::Png;
        ASSERT_TRUE(pictureFormatFor(name, format));
        std::string error;
        {
            // Abandoned half-way (a cancel): gone with the object.
            auto stream = PictureStream::open(dir.file(name), format, 512, 512, error);
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
            auto stream = PictureStream::open(dir.file(name), format, 512, 512, error);
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
        auto stream = PictureStream::open(dir.file(name), format, 512, 512, error);
        for (int y = 0; y < 512; y += 64)
            ASSERT_TRUE(stream->writeRows(band.data(), 64, error)) << error;
        ASSERT_TRUE(stream->finish(error)) << error;
        EXPECT_TRUE(std::filesystem::exists(dir.file(name)));
    }
}

TEST(PictureStream, PngRefusesPicturesBeyondItsLimitAndAsksForTiff) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(PictureStream::open(dir.file("big.png"), PictureFormat::Png, 50000, 50000, error));
    EXPECT_NE(error.find(".tif"), std::string::npos) << error;
    EXPECT_TRUE(emptyFolder(dir));
}

} // namespace
} // namespace vortigo
