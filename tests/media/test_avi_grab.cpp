// The video reader on AVI files made here with the ffmpeg tool. Pixel (x, y)
// of frame N carries red 80 N (20 N in the long clip), green 10 x, blue 20 y.
#include "TempDir.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "media/AviGrab.h"
#include "media/Backgrounds.h"
#include "platform/HeadlessPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vortigo {
namespace {

std::string pattern(int width, int height, int fps, int frames, int redStep) {
    // A finite source: with two inputs an endless one never lets ffmpeg end.
    const std::string seconds = std::to_string((frames * 1000 - 500) / fps / 1000.0);
    return "-f lavfi -i \"nullsrc=s=" + std::to_string(width) + "x" + std::to_string(height) +
           ":r=" + std::to_string(fps) + ":d=" + seconds + ",format=gbrp,geq=r='" +
           std::to_string(redStep) + "*N':g='10*X':b='20*Y'\" ";
}

class AviGrabTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<test::TempDir>();
        const auto make = [](const std::string& name, const std::string& args) {
            const std::string command =
                "timeout 60 ffmpeg -nostdin -v error -y " + args + " " + s_dir->file(name);
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        };
        const std::string raw = "-c:v rawvideo -pix_fmt bgr24 ";
        make("raw.avi", pattern(8, 6, 10, 3, 80) + raw);
        make("odd.avi", pattern(7, 5, 10, 3, 80) + raw);
        make("mjpeg.avi", pattern(64, 48, 30, 3, 80) + "-c:v mjpeg -q:v 1 -pix_fmt yuvj444p");
        make("ffv1.avi", pattern(16, 8, 25, 12, 20) + "-c:v ffv1 -g 4 -pix_fmt bgr0");
        make("audio_first.avi", "-f lavfi -i sine=d=0.3 " + pattern(8, 6, 10, 3, 80) +
                                    "-map 0:a -map 1:v -c:a pcm_s16le " + raw);
        make("two_videos.avi",
             pattern(8, 6, 10, 3, 80) + pattern(4, 2, 10, 3, 80) + "-map 0:v -map 1:v " + raw);
        make("audio_only.avi", "-f lavfi -i sine=d=0.2 -c:a pcm_s16le");
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override {
        m_previousPlatform = setPlatform(&m_platform);
        m_platform.clearRecords();
    }
    void TearDown() override {
        for (int i = 0; i < LAYER_COUNT; ++i) {
            videoReader(i).close();
            projectFiles().layers[i].backgroundPixels.reset();
            projectFiles().layers[i].backgroundIsVideo = 0;
        }
        setPlatform(m_previousPlatform); // as found: the tests share one process
    }

    // Opens `name` on a reader of this test with a pixel block of its size.
    bool open(const std::string& name) {
        if (!m_reader.open(WindowId::Main, s_dir->file(name).c_str())) return false;
        m_pixels.assign(
            static_cast<size_t>(m_reader.frameFormat.width) * m_reader.frameFormat.height * 4, 0);
        m_reader.targetPixels = m_pixels.data();
        m_reader.frameCounter = &m_counter;
        return true;
    }
    // Byte `channel` (0 blue, 1 green, 2 red, 3 fourth) of stored pixel x, row.
    int byteAt(int x, int row, int channel) const {
        return m_pixels[(static_cast<size_t>(row) * m_reader.frameFormat.width + x) * 4 + channel];
    }
    std::vector<int> pacing(int frames) {
        std::vector<int> shown;
        for (int i = 0; i < frames; ++i) {
            EXPECT_TRUE(m_reader.nextFrame());
            EXPECT_EQ(byteAt(0, 0, 2), 80 * m_reader.currentFrame) << "call " << i;
            shown.push_back(m_reader.currentFrame);
        }
        return shown;
    }

    static std::unique_ptr<test::TempDir> s_dir;
    HeadlessPlatform m_platform;
    Platform* m_previousPlatform = nullptr;
    AVIGrab m_reader;
    std::vector<uint8_t> m_pixels;
    int32_t m_counter = 0;
};
std::unique_ptr<test::TempDir> AviGrabTest::s_dir;

TEST_F(AviGrabTest, UncompressedFramesArriveBottomRowFirstWithAnOpaqueFourthByte) {
    for (const char* name : {"raw.avi", "odd.avi"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(name));
        EXPECT_EQ(m_reader.videoFps, 10);
        EXPECT_EQ(m_reader.endFrame, 3);
        EXPECT_EQ(m_reader.streamIndex, 0);
        m_counter = 1;
        ASSERT_TRUE(m_reader.nextFrame());
        EXPECT_EQ(m_counter, 2);
        const int width = m_reader.frameFormat.width, height = m_reader.frameFormat.height;
        bool exact = true;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                exact = exact && byteAt(x, row, 0) == 20 * (height - 1 - row) &&
                        byteAt(x, row, 1) == 10 * x && byteAt(x, row, 2) == 80 &&
                        byteAt(x, row, 3) == 255;
        EXPECT_TRUE(exact);
    }
}

TEST_F(AviGrabTest, PacingWrapsAtTheEndAndHoldsFrameZeroOnceMore) {
    ASSERT_TRUE(open("raw.avi"));
    EXPECT_EQ(pacing(10), (std::vector<int>{0, 1, 2, 0, 0, 1, 2, 0, 0, 1}));
    m_counter = 0;
    m_reader.divisor = 2;
    EXPECT_EQ(pacing(11), (std::vector<int>{0, 0, 1, 1, 2, 2, 0, 0, 0, 1, 1}));
    // A counter restored from a project made with a longer video resumes at
    // the same place of the loop.
    m_reader.divisor = 1;
    m_counter = 1000;
    EXPECT_EQ(pacing(2), (std::vector<int>{1, 2}));
    m_counter = -7;
    EXPECT_EQ(pacing(1), (std::vector<int>{2}));
}

TEST_F(AviGrabTest, AnyFrameOnRequestThroughKeyFramesBothWays) {
    ASSERT_TRUE(open("ffv1.avi"));
    EXPECT_EQ(m_reader.endFrame, 12);
    for (int index : {0, 1, 9, 2, 11, 3, 6, 6, 7}) {
        m_counter = index;
        ASSERT_TRUE(m_reader.nextFrame()) << index;
        EXPECT_EQ(byteAt(3, 2, 2), 20 * index);
        EXPECT_EQ(byteAt(3, 2, 1), 30);
    }
}

TEST_F(AviGrabTest, MotionJpegDecodesWithinCodecTolerance) {
    ASSERT_TRUE(open("mjpeg.avi"));
    EXPECT_EQ(m_reader.videoFps, 30);
    m_counter = 2;
    ASSERT_TRUE(m_reader.nextFrame());
    // Pixel (10, 4) of the picture is stored in row 48 - 1 - 4.
    EXPECT_NEAR(byteAt(10, 43, 2), 160, 8);
    EXPECT_NEAR(byteAt(10, 43, 1), 100, 8);
    EXPECT_NEAR(byteAt(10, 43, 0), 80, 8);
    EXPECT_EQ(byteAt(10, 43, 3), 255);
}

TEST_F(AviGrabTest, StreamSelectionTakesTheLastVideoStream) {
    ASSERT_TRUE(open("audio_first.avi"));
    EXPECT_EQ(m_reader.streamIndex, 1);
    ASSERT_TRUE(m_reader.nextFrame());
    EXPECT_EQ(byteAt(1, 0, 1), 10);

    ASSERT_TRUE(open("two_videos.avi"));
    EXPECT_EQ(m_reader.streamIndex, 1);
    EXPECT_EQ(m_reader.frameFormat.width, 4);

    // No video at all: fails without a word and holds nothing.
    EXPECT_FALSE(m_reader.open(WindowId::Main, s_dir->file("audio_only.avi").c_str()));
    EXPECT_FALSE(m_reader.isOpen);
    EXPECT_FALSE(m_reader.nextFrame());
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(AviGrabTest, FilesThatDoNotOpenAreReportedAndDamagedFramesCloseTheReader) {
    test::TempDir dir;
    dir.write("text.avi", "RIFF but not really an AVI file at all");
    EXPECT_FALSE(m_reader.open(WindowId::Main, dir.file("missing.avi").c_str()));
    EXPECT_FALSE(m_reader.open(WindowId::Main, dir.file("text.avi").c_str()));
    const auto boxes = m_platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.text, "Error opening AVI file for read. Check path and permissions.");
        EXPECT_EQ(box.caption, "AVI Error");
        EXPECT_EQ(box.owner, WindowId::Main);
    }

    // The header promises three frames; the data ends after the first.
    const auto size = std::filesystem::file_size(s_dir->file("raw.avi"));
    std::filesystem::copy_file(s_dir->file("raw.avi"), dir.file("cut.avi"));
    std::filesystem::resize_file(dir.file("cut.avi"), size - 2 * 8 * 6 * 3 - 100);
    ASSERT_TRUE(m_reader.open(WindowId::Main, dir.file("cut.avi").c_str()));
    std::vector<uint8_t> pixels(8 * 6 * 4);
    m_reader.targetPixels = pixels.data();
    m_reader.frameCounter = &m_counter;
    m_counter = 2;
    EXPECT_FALSE(m_reader.nextFrame());
    EXPECT_FALSE(m_reader.isOpen);
}

// A file the fuzzer found: its frames claim another size than the stream,
// and the scaler once wrote past the end of the layer's block.
TEST_F(AviGrabTest, FramesNeverWritePastTheLayersBlock) {
    for (const std::string& path :
         {std::string(VORTIGO_MEDIA_DATA_DIR) + "/fuzz_video_heap_overwrite.avi",
          s_dir->file("odd.avi"), s_dir->file("mjpeg.avi")}) {
        SCOPED_TRACE(path);
        if (!m_reader.open(WindowId::None, path.c_str())) continue;
        const size_t bytes =
            static_cast<size_t>(m_reader.frameFormat.width) * m_reader.frameFormat.height * 4;
        std::vector<uint8_t> block(bytes + 4096, 0xa5);
        m_reader.targetPixels = block.data();
        m_reader.frameCounter = &m_counter;
        for (int32_t counter : {0, 1, 2, 40, 0, 1})
            if (m_reader.isOpen) {
                m_counter = counter;
                m_reader.nextFrame();
            }
        EXPECT_EQ(std::count(block.begin() + static_cast<std::ptrdiff_t>(bytes), block.end(), 0xa5),
                  4096);
    }
}

TEST_F(AviGrabTest, LoadBackgroundSetsUpTheLayersVideo) {
    captureState().aviFps = 25;
    int32_t counter = 0;
    ASSERT_EQ(loadBackground(1, s_dir->file("raw.avi").c_str(), &counter), 1);
    const LayerSlot& slot = projectFiles().layers[1];
    EXPECT_EQ(slot.backgroundIsVideo, 1);
    EXPECT_EQ(slot.backgroundWidth, 8);
    EXPECT_EQ(slot.backgroundHeight, 6);
    EXPECT_TRUE(slot.backgroundPixels);
    // 25 / 10 in whole numbers; a faster video gets 1.
    EXPECT_EQ(videoReader(1).divisor, 2);
    EXPECT_EQ(videoReader(1).frameCounter, &counter);
    ASSERT_EQ(loadBackground(1, s_dir->file("mjpeg.avi").c_str(), &counter), 1);
    EXPECT_EQ(videoReader(1).divisor, 1);

    // An image over the video leaves the reader open, merely skipped.
    test::TempDir dir;
    dir.write("still.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\x18\x20", 18) + "abc");
    EXPECT_EQ(loadBackground(1, dir.file("still.tga").c_str(), &counter), 1);
    EXPECT_EQ(slot.backgroundIsVideo, 0);
    EXPECT_TRUE(videoReader(1).isOpen);

    // The extension picks the decoder: "jpeg" loads nothing.
    dir.write("a.jpeg", "whatever");
    EXPECT_EQ(loadBackground(1, dir.file("a.jpeg").c_str(), &counter), 0);
    EXPECT_FALSE(slot.backgroundPixels);
    std::filesystem::copy_file(dir.file("still.tga"), dir.file("UPPER.TgA"));
    EXPECT_EQ(loadBackground(1, dir.file("UPPER.TgA").c_str(), &counter), 1);
}

} // namespace
} // namespace vortigo
