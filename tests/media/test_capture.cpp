// The capture writer against the real FFmpeg and ImageMagick tools: file
// names, the split rule, motion blur, the sound track, stills and failures.
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "flight/FlightControls.h"
#include "media/Capture.h"
#include "media/Stills.h"
#include "platform/AtomicFile.h"
#include "platform/HeadlessPlatform.h"

#include "../TempDir.h"
#include "MediaTools.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vortigo {
namespace {

using test::decodeBgr;
using test::flipRows;
using test::probeAudio;
using test::probeVideo;
using test::readBytes;

constexpr int W = 32, H = 24;

std::vector<uint8_t> patternFrame(int index, int width = W, int height = H) {
    std::vector<uint8_t> f(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(i * 7 + i / 97 * 13 + index * 29);
    return f;
}

std::vector<uint8_t> flatFrame(uint8_t v) {
    return std::vector<uint8_t>(static_cast<size_t>(W) * H * 3, v);
}

std::string le16(uint32_t v) {
    return {static_cast<char>(v & 0xff), static_cast<char>(v >> 8 & 0xff)};
}
std::string le32(uint32_t v) {
    return le16(v & 0xffff) + le16(v >> 16);
}
std::string pcmWav(uint16_t channels, uint32_t rate, uint16_t align, const std::string& data) {
    const std::string fmt = "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) +
                            le32(rate * align) + le16(align) + le16(align * 8 / channels);
    const std::string body =
        "WAVE" + fmt + "data" + le32(static_cast<uint32_t>(data.size())) + data;
    return "RIFF" + le32(static_cast<uint32_t>(body.size())) + body;
}

// Scale, rate, length and sample size of the AVI's audio stream header.
struct AudioHeader {
    uint32_t scale = 0, rate = 0, length = 0, sampleSize = 0;
};
AudioHeader audioHeader(const std::vector<uint8_t>& avi) {
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(avi[at] | avi[at + 1] << 8 | avi[at + 2] << 16 |
                                     static_cast<uint32_t>(avi[at + 3]) << 24);
    };
    for (size_t i = 0; i + 60 < avi.size(); ++i)
        if (std::memcmp(&avi[i], "strh", 4) == 0 && std::memcmp(&avi[i + 8], "auds", 4) == 0) {
            const size_t d = i + 8; // the header's own fields
            return {u32(d + 20), u32(d + 24), u32(d + 32), u32(d + 44)};
        }
    return {};
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previousPlatform = setPlatform(&m_platform);
        captureState().useMotionBlur = 0;
        setCompressionChooser([this](CompressionChoice& choice) {
            ++m_asked;
            choice = m_choice;
            return !m_cancel;
        });
    }
    void TearDown() override {
        theCapture().finish();
        setCompressionChooser(nullptr);
        captureState().useMotionBlur = 0;
        setPlatform(m_previousPlatform); // as found: the tests share one process
    }

    void start(const std::string& name, int fps = 25, int maxFrames = 0, const char* audio = "",
               int width = W, int height = H) {
        theCapture().start(WindowId::Trace, name.c_str(), width, height, fps, maxFrames, audio);
    }
    // Captures `frames` and finishes; every write must succeed.
    void captureAll(const std::vector<std::vector<uint8_t>>& frames) {
        for (const auto& f : frames)
            ASSERT_TRUE(theCapture().captureFrame(f.data()));
        theCapture().finish();
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& box : m_platform.messageBoxes())
            out.push_back(box.text + " | " + box.caption);
        return out;
    }

    HeadlessPlatform m_platform;

    Platform* m_previousPlatform = nullptr;
    test::TempDir m_dir;
    CompressionChoice m_choice{VideoCodec::Raw};
    bool m_cancel = false;
    int m_asked = 0;
};

TEST_F(CaptureTest, AviNameIgnoresCaseAndEachFileHoldsTheLimitPlusOne) {
    start(m_dir.file("movie.AvI"), 25, 1);
    ASSERT_TRUE(theCapture().isActive());
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(patternFrame(i));
    captureAll(frames);
    EXPECT_EQ(probeVideo(m_dir.file("movie.AVI")), "rawvideo,32,24,25/1,2");
    EXPECT_EQ(probeVideo(m_dir.file("movie1.AVI")), "rawvideo,32,24,25/1,2");
    EXPECT_EQ(probeVideo(m_dir.file("movie2.AVI")), "rawvideo,32,24,25/1,1");
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("movie3.AVI")));
    EXPECT_EQ(m_asked, 1);
    EXPECT_TRUE(messages().empty());
}

TEST_F(CaptureTest, LimitOfHundredSplitsEvery101FramesAndOnlyTheLastFileSounds) {
    m_dir.write("s.wav", pcmWav(1, 22050, 1, std::string(22050, '\x80')));
    const std::string audio = m_dir.file("s.wav");
    m_choice.codec = VideoCodec::Mjpeg;
    start(m_dir.file("clip.avi"), 30, 100, audio.c_str(), 16, 16);
    const std::vector<uint8_t> frame(16 * 16 * 3, 90);
    for (int i = 0; i < 205; ++i)
        ASSERT_TRUE(theCapture().captureFrame(frame.data())) << i;
    theCapture().finish();
    EXPECT_EQ(probeVideo(m_dir.file("clip.AVI")), "mjpeg,16,16,30/1,101");
    EXPECT_EQ(probeVideo(m_dir.file("clip1.AVI")), "mjpeg,16,16,30/1,101");
    EXPECT_EQ(probeVideo(m_dir.file("clip2.AVI")), "mjpeg,16,16,30/1,3");
    EXPECT_EQ(probeAudio(m_dir.file("clip.AVI")), "");
    EXPECT_EQ(probeAudio(m_dir.file("clip1.AVI")), "");
    EXPECT_EQ(probeAudio(m_dir.file("clip2.AVI")), "pcm_u8,22050,1\n");
    const AudioHeader a = audioHeader(readBytes(m_dir.file("clip2.AVI")));
    EXPECT_EQ(a.scale, 1u);
    EXPECT_EQ(a.rate, 22050u);
    EXPECT_EQ(a.sampleSize, 1u);
    EXPECT_EQ(a.length, 22050u);
    EXPECT_EQ(m_asked, 1);

    // No limit: one file.
    start(m_dir.file("one.avi"), 30, 0, "", 16, 16);
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(theCapture().captureFrame(frame.data()));
    theCapture().finish();
    EXPECT_EQ(probeVideo(m_dir.file("one.AVI")), "mjpeg,16,16,30/1,7");
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("one1.AVI")));
    EXPECT_TRUE(messages().empty());
}

TEST_F(CaptureTest, StereoSoundKeepsItsFullRate) {
    m_dir.write("s.wav", pcmWav(2, 96000, 4, std::string(96000 * 4 / 10, '\x01')));
    const std::string audio = m_dir.file("s.wav");
    start(m_dir.file("st.avi"), 25, 0, audio.c_str());
    captureAll({patternFrame(0), patternFrame(1)});
    EXPECT_EQ(probeAudio(m_dir.file("st.AVI")), "pcm_s16le,96000,2\n");
    const AudioHeader a = audioHeader(readBytes(m_dir.file("st.AVI")));
    EXPECT_EQ(a.rate / a.scale, 96000u);
    EXPECT_EQ(a.sampleSize, 4u);
    EXPECT_EQ(a.length * a.scale, 9600u);
    // The video is untouched by the added track.
    EXPECT_EQ(decodeBgr(m_dir.file("st.AVI")), [] {
        auto both = flipRows(patternFrame(0).data(), W, H);
        auto second = flipRows(patternFrame(1).data(), W, H);
        both.insert(both.end(), second.begin(), second.end());
        return both;
    }());
}

TEST_F(CaptureTest, LosslessFilesDecodeToExactlyTheFrames) {
    for (VideoCodec codec : {VideoCodec::Raw, VideoCodec::Ffv1}) {
        SCOPED_TRACE(codecTitle(codec));
        m_choice.codec = codec;
        start(m_dir.file("exact.avi"));
        std::vector<uint8_t> expected;
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < 4; ++i) {
            frames.push_back(patternFrame(i));
            const auto rows = flipRows(frames.back().data(), W, H);
            expected.insert(expected.end(), rows.begin(), rows.end());
        }
        captureAll(frames);
        EXPECT_EQ(decodeBgr(m_dir.file("exact.AVI")), expected);
    }
}

TEST_F(CaptureTest, EveryOfferedCodecWritesAFileFfprobeReads) {
    const char* names[] = {"rawvideo", "mjpeg", "ffv1", "mpeg4", "h264"};
    for (int c = 0; c < VIDEO_CODEC_COUNT; ++c) {
        m_choice.codec = static_cast<VideoCodec>(c);
        if (!codecAvailable(m_choice.codec)) continue;
        SCOPED_TRACE(names[c]);
        m_choice.keyFrameEvery = 2;
        start(m_dir.file(std::string("codec") + names[c] + ".avi"), 10);
        captureAll({patternFrame(0), patternFrame(1), patternFrame(2)});
        EXPECT_EQ(probeVideo(m_dir.file(std::string("codec") + names[c] + ".AVI")),
                  std::string(names[c]) + ",32,24,10/1,3");
    }
    EXPECT_TRUE(messages().empty());
}

// H.264 and MPEG-4 say how their samples are meant (players guess otherwise,
// and guess wrong at some sizes), the samples follow the tag, and the quality
// scale keeps the default visually lossless without wasting space.
TEST_F(CaptureTest, H264AndMpeg4AreTaggedWithTheMatrixTheirSamplesUse) {
    for (int q = 2; q <= 100; ++q) {
        EXPECT_LE(h264Crf(q), h264Crf(q - 1)) << q;
        EXPECT_LE(mpeg4Qscale(q), mpeg4Qscale(q - 1)) << q;
    }
    EXPECT_EQ(h264Crf(90), 18);
    EXPECT_EQ(h264Crf(1), 51);
    EXPECT_GE(h264Crf(100), 10);
    EXPECT_EQ(mpeg4Qscale(90), 3);
    EXPECT_EQ(mpeg4Qscale(1), 31);
    EXPECT_EQ(mpeg4Qscale(100), 2);

    struct Case {
        VideoCodec codec;
        int width, height;
        const char* expected; // pix_fmt, range, matrix, transfer, primaries
    };
    const Case cases[] = {
        {VideoCodec::H264, 32, 24, "yuv420p,tv,smpte170m,smpte170m,smpte170m"},
        {VideoCodec::H264, 1280, 720, "yuv420p,tv,bt709,bt709,bt709"},
        {VideoCodec::H264, 33, 25, "yuv444p,tv,smpte170m,smpte170m,smpte170m"},
        {VideoCodec::Mpeg4, 32, 24, "yuv420p,tv,smpte170m,smpte170m,smpte170m"},
        {VideoCodec::Mpeg4, 1280, 720, "yuv420p,tv,bt709,bt709,bt709"},
    };
    for (const Case& c : cases) {
        if (!codecAvailable(c.codec)) continue;
        const std::string name =
            m_dir.file(formatC("tag%i_%ix%i.avi", static_cast<int>(c.codec), c.width, c.height));
        SCOPED_TRACE(name);
        m_choice.codec = c.codec;
        // An orange that BT.601 and BT.709 turn into clearly different samples.
        std::vector<uint8_t> frame(static_cast<size_t>(c.width) * c.height * 3);
        for (size_t i = 0; i < frame.size(); i += 3) {
            frame[i] = 40;
            frame[i + 1] = 120;
            frame[i + 2] = 230;
        }
        start(name, 10, 0, "", c.width, c.height);
        captureAll({frame, frame});
        const std::string avi = name.substr(0, name.size() - 4) + ".AVI";
        std::string tags = test::runTool(
            "ffprobe -v error -select_streams v:0 -show_entries "
            "stream=pix_fmt,color_range,color_space,color_transfer,color_primaries -of csv=p=0 '" +
            avi + "'");
        while (!tags.empty() && tags.back() == '\n')
            tags.pop_back();
        EXPECT_EQ(tags, c.expected);
        const std::vector<uint8_t> decoded = decodeBgr(avi);
        ASSERT_EQ(decoded.size(), frame.size() * 2);
        const size_t middle = (static_cast<size_t>(c.height / 2) * c.width + c.width / 2) * 3;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(decoded[middle + k], frame[k], 4) << "channel " << k;
    }
    EXPECT_TRUE(messages().empty());
}

TEST_F(CaptureTest, MotionBlurBlendsWrittenFramesAndRestartsWithEachFile) {
    captureState().useMotionBlur = 1;
    start(m_dir.file("blur.tga"));
    captureAll({flatFrame(0), flatFrame(255), flatFrame(255), flatFrame(255), flatFrame(77)});
    // (3 x blur + frame) >> 2 from 0 towards 255: 63, 111, then 147 (333 + 255 = 588).
    const std::vector<int> expected = {0, 63, 111, 147, 129};
    for (int i = 0; i < 5; ++i) {
        const auto bytes = readBytes(m_dir.file("blur.tga" + std::to_string(i) + ".tga"));
        ASSERT_EQ(bytes.size(), 18u + W * H * 3);
        EXPECT_EQ(bytes[18], expected[i]) << i;
        EXPECT_EQ(bytes.back(), expected[i]) << i;
    }

    // Constant frames stay constant.
    start(m_dir.file("still.tga"));
    captureAll({flatFrame(200), flatFrame(200), flatFrame(200)});
    EXPECT_EQ(readBytes(m_dir.file("still.tga2.tga"))[100], 200);

    // AVI: the first frame of every file is written as it is.
    start(m_dir.file("split.avi"), 25, 1);
    captureAll({flatFrame(0), flatFrame(255), flatFrame(0), flatFrame(0)});
    const auto first = decodeBgr(m_dir.file("split.AVI"));
    const auto second = decodeBgr(m_dir.file("split1.AVI"));
    ASSERT_EQ(first.size(), 2u * W * H * 3);
    ASSERT_EQ(second.size(), 2u * W * H * 3);
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[W * H * 3], 63);
    EXPECT_EQ(second[0], 0);         // blended it would be 47
    EXPECT_EQ(second[W * H * 3], 0); // the blur restarted from the unblurred frame
}

TEST_F(CaptureTest, StillsAreNamedFromTheWholeOutputName) {
    for (const char* name : {"frames.tga", "frames", "shot.bmp"}) {
        start(m_dir.file(name));
        captureAll({patternFrame(0), patternFrame(1), patternFrame(2)});
    }
    for (const char* file : {"frames.tga0.tga", "frames.tga2.tga", "frames0.tga", "frames2.tga",
                             "shot.bmp0.tga", "shot.bmp2.tga"})
        EXPECT_EQ(std::filesystem::file_size(m_dir.file(file)), 18u + W * H * 3) << file;
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("shot.bmp.AVI")));
    EXPECT_EQ(m_asked, 0);

    const std::vector<uint8_t> header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 24, 0, 24, 1};
    const auto bytes = readBytes(m_dir.file("frames1.tga"));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 18), header);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 18, bytes.end()), patternFrame(1));

    // ImageMagick sees the lower-left origin and turns the still upright.
    const std::string rgb =
        test::runTool("convert '" + m_dir.file("frames1.tga") + "' -auto-orient -depth 8 rgb:-");
    auto rows = flipRows(patternFrame(1).data(), W, H);
    for (size_t i = 0; i < rows.size(); i += 3)
        std::swap(rows[i], rows[i + 2]);
    EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.end()), rows);
}

TEST_F(CaptureTest, BmpSnapshotIsHeaderAndFrameBytes) {
    const auto frame = patternFrame(3, 5, 3);
    ASSERT_TRUE(writeBmpSnapshot(m_dir.file("shot.bmp"), frame.data(), 5, 3));
    const std::vector<uint8_t> header = {
        'B', 'M', 99, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file header: 54 + 45 bytes
        40,  0,   0,  0, 5, 0, 0, 0, 3, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0,
        45,  0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0};
    const auto bytes = readBytes(m_dir.file("shot.bmp"));
    ASSERT_EQ(bytes.size(), 99u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54), header);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 54, bytes.end()), frame);

    EXPECT_FALSE(writeBmpSnapshot(m_dir.file("no/such/dir.bmp"), frame.data(), 5, 3));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("no/such/dir.bmp"), std::string::npos);
}

// A snapshot never writes through a link or over a read-only file, and one
// being written by another process is refused, not mixed.
TEST_F(CaptureTest, BmpSnapshotReplacesLinksAndRefusesReadOnlyAndBusyFiles) {
    const auto frame = patternFrame(3, 4, 3);
    m_dir.write("victim.txt", "kept");
    const std::string link = m_dir.file("link.bmp");
    ASSERT_EQ(symlink(m_dir.file("victim.txt").c_str(), link.c_str()), 0);
    ASSERT_TRUE(writeBmpSnapshot(link, frame.data(), 4, 3));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readBytes(link).size(), 90u);
    EXPECT_EQ(readBytes(m_dir.file("victim.txt")), std::vector<uint8_t>({'k', 'e', 'p', 't'}));
    EXPECT_EQ(test::runTool("identify -format '%w %h' '" + link + "'"), "4 3");

    const std::string locked = m_dir.file("locked.bmp");
    m_dir.write("locked.bmp", "old");
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    EXPECT_FALSE(writeBmpSnapshot(locked, frame.data(), 4, 3));

    const std::string busy = m_dir.file("busy.bmp");
    AtomicFile other;
    ASSERT_TRUE(other.open(busy, LinkPolicy::Replace));
    EXPECT_FALSE(writeBmpSnapshot(busy, frame.data(), 4, 3));
    other.abandon();

    EXPECT_EQ(readBytes(locked), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(busy));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "Could not write the bitmap file " + locked + ": Permission denied. | Error",
                  "Could not write the bitmap file " + busy +
                      ": the file is in use (another process is writing it). | Error"}));
}

TEST_F(CaptureTest, StartFailuresLeaveTheWriterIdleWithTheirMessage) {
    // fps 0: nothing happens, and the first frame ends capturing with a beep.
    start(m_dir.file("zero.avi"), 0);
    EXPECT_FALSE(theCapture().isActive());
    EXPECT_EQ(m_asked, 0);
    captureState().setCapturing(true);
    cameraView().flightMode = FLIGHT_FREE;
    const auto frame = patternFrame(0);
    captureFinishedFrame(frame.data());
    EXPECT_EQ(captureView().capturing(), 0);
    EXPECT_EQ(cameraView().flightMode, FLIGHT_STOPPED);
    ASSERT_EQ(m_platform.beeps().size(), 1u);
    EXPECT_EQ(m_platform.beeps()[0].hz, 1000);
    EXPECT_EQ(m_platform.beeps()[0].ms, 100);

    m_cancel = true;
    start(m_dir.file("cancel.avi"));
    EXPECT_FALSE(theCapture().isActive());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("cancel.AVI")));
    m_cancel = false;

    start(m_dir.file("missing/dir.avi"));
    EXPECT_FALSE(theCapture().isActive());

    start(m_dir.file("huge.tga"), 25, 0, "", 70000, 1);
    EXPECT_FALSE(theCapture().isActive());

    // Cut to fit, the name would lose ".avi" and become TGA stills.
    const std::string longName = m_dir.file(std::string(300 - m_dir.path().size(), 'l') + ".avi");
    start(longName);
    EXPECT_FALSE(theCapture().isActive());

    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "Could not obtain AVI options. | Error AVI.",
                  "Error opening AVI file for write. Check path and permissions. | "
                  "AVI Error",
                  "A frame of 70000 x 1 pixels cannot be stored as TGA stills (at "
                  "most 65535 x 65535). | Error",
                  "The output name is longer than 259 bytes: " + longName + " | Error"}));
    EXPECT_FALSE(theCapture().captureFrame(frame.data()));
}

TEST_F(CaptureTest, SoundTrackProblemsKeepTheVideo) {
    m_dir.write("bad.wav", "RIFX and more");
    const std::string bad = m_dir.file("bad.wav");
    start(m_dir.file("a.avi"), 25, 0, bad.c_str());
    captureAll({patternFrame(0)});
    start(m_dir.file("b.avi"), 25, 0, m_dir.file("none.wav").c_str());
    captureAll({patternFrame(0)});
    m_dir.write("zero.wav", pcmWav(1, 8000, 1, "abc").replace(22, 2, le16(0)));
    const std::string zero = m_dir.file("zero.wav");
    start(m_dir.file("c.avi"), 25, 0, zero.c_str());
    captureAll({patternFrame(0)});
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "Not a valid wave file format - no RIFF. | Error AVI.",
                  "Could not save audio file as AVI stream. | AVI Error",
                  "The sound track could not be read: the format chunk gives 0 channels. | "
                  "Error AVI."}));
    for (const char* file : {"a.AVI", "b.AVI", "c.AVI"}) {
        EXPECT_EQ(probeVideo(m_dir.file(file)), "rawvideo,32,24,25/1,1") << file;
        EXPECT_EQ(probeAudio(m_dir.file(file)), "") << file;
    }
}

// A file size limit plays a full disk: writes fail with EFBIG.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

  private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST_F(CaptureTest, FullDiskEndsTheCaptureAndNamesTheFile) {
    for (const char* name : {"full.avi", "full.tga"}) {
        SCOPED_TRACE(name);
        const bool avi = name[5] == 'a';
        m_platform.clearRecords();
        start(m_dir.file(name), 25, 0, "", 64, 64);
        ASSERT_TRUE(theCapture().isActive());
        const std::vector<uint8_t> frame(64 * 64 * 3, 9);
        bool failed = false;
        {
            FileSizeLimit limit(avi ? 100000 : 5000);
            for (int i = 0; i < 40 && !failed; ++i)
                failed = !theCapture().captureFrame(frame.data());
        }
        EXPECT_TRUE(failed);
        EXPECT_FALSE(theCapture().isActive());
        ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
        EXPECT_NE(m_platform.messageBoxes()[0].text.find(m_dir.file("full")), std::string::npos)
            << m_platform.messageBoxes()[0].text;
    }
    // Neither a cut-short file under the final name nor a temporary one.
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path()));
}

// A render killed half-way keeps the last complete file under the name; the
// temporary file it leaves is recognised and removed by the next writer.
TEST_F(CaptureTest, AKilledCaptureKeepsTheOldFileAndTheNextOneClearsItsLeftover) {
    const std::string clip = m_dir.file("clip.AVI");
    start(m_dir.file("clip.avi"));
    ASSERT_TRUE(theCapture().captureFrame(patternFrame(0).data()));
    ASSERT_TRUE(theCapture().captureFrame(patternFrame(1).data()));
    // Only finished and indexed does the file take its name.
    EXPECT_FALSE(std::filesystem::exists(clip));
    theCapture().finish();
    ASSERT_EQ(probeVideo(clip), "rawvideo,32,24,25/1,2");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        start(m_dir.file("clip.avi"));
        for (int i = 0; i < 3; ++i)
            theCapture().captureFrame(patternFrame(i).data());
        std::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string leftover = temporaryNameFor(clip);
    EXPECT_EQ(probeVideo(clip), "rawvideo,32,24,25/1,2");
    EXPECT_TRUE(std::filesystem::exists(leftover));

    start(m_dir.file("clip.avi"));
    captureAll({patternFrame(0), patternFrame(1), patternFrame(2), patternFrame(3)});
    EXPECT_EQ(probeVideo(clip), "rawvideo,32,24,25/1,4");
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(messages().empty());
}

} // namespace
} // namespace vortigo
