// The WAV chunk walk: what it accepts, skips and refuses.
#include "media/Wav.h"

#include "../TempDir.h"

#include <gtest/gtest.h>

namespace vortigo {
namespace {

std::string le16(uint32_t v) {
    return {static_cast<char>(v & 0xff), static_cast<char>(v >> 8 & 0xff)};
}
std::string le32(uint32_t v) {
    return le16(v & 0xffff) + le16(v >> 16);
}

struct WavSpec {
    std::string riff = "RIFF", wave = "WAVE", fmt = "fmt ";
    uint32_t fmtBytes = 16;
    uint16_t tag = 1, channels = 2;
    uint32_t rate = 44100;
    uint16_t align = 4;
    std::string between; // chunks between "fmt " and "data"
    std::string data = std::string(8, 'x');
    int64_t dataSizeField = -1; // -1: the true size
};

std::string wavBytes(const WavSpec& w) {
    std::string fmt = le16(w.tag) + le16(w.channels) + le32(w.rate) + le32(w.rate * w.align) +
                      le16(w.align) + le16(w.channels ? w.align * 8 / w.channels : 0);
    fmt += std::string(w.fmtBytes > 16 ? w.fmtBytes - 16 : 0, '\0');
    const uint32_t dataSize = w.dataSizeField < 0 ? static_cast<uint32_t>(w.data.size())
                                                  : static_cast<uint32_t>(w.dataSizeField);
    const std::string body =
        w.wave + w.fmt + le32(w.fmtBytes) + fmt + w.between + "data" + le32(dataSize) + w.data;
    return w.riff + le32(static_cast<uint32_t>(body.size())) + body;
}

WavResult readBytes(const std::string& bytes, WavSound& sound) {
    test::TempDir dir;
    dir.write("s.wav", bytes);
    return readWavFile(dir.file("s.wav").c_str(), sound);
}

TEST(Wav, AcceptedFilesGiveTheirFormatAndData) {
    WavSound mono;
    WavSpec m;
    m.channels = 1;
    m.rate = 22050;
    m.align = 1;
    m.data = "abcdefg";
    ASSERT_EQ(readBytes(wavBytes(m), mono).status, WavStatus::Ok);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.sampleRate, 22050u);
    EXPECT_EQ(mono.blockAlign, 1);
    EXPECT_EQ(mono.bitsPerSample, 8);
    EXPECT_EQ(std::string(mono.data.begin(), mono.data.end()), "abcdefg");

    // A LIST chunk is skipped; an 18-byte format chunk loses its last 2 bytes;
    // the full 32-bit rate is kept.
    WavSound stereo;
    WavSpec st;
    st.rate = 96000;
    st.fmtBytes = 18;
    st.between = "LIST" + le32(6) + "INFOab";
    st.data = "0123456789ab";
    ASSERT_EQ(readBytes(wavBytes(st), stereo).status, WavStatus::Ok);
    EXPECT_EQ(stereo.sampleRate, 96000u);
    EXPECT_EQ(stereo.bitsPerSample, 16);
    EXPECT_EQ(stereo.blockAlign, 4);
    EXPECT_EQ(std::string(stereo.data.begin(), stereo.data.end()), "0123456789ab");
}

TEST(Wav, RefusedFilesSayWhy) {
    struct Case {
        const char* name;
        std::string bytes;
        WavStatus status;
        const char* reason;
    };
    auto with = [](auto change) {
        WavSpec w;
        change(w);
        return wavBytes(w);
    };
    const std::vector<Case> cases = {
        {"not RIFF", with([](WavSpec& w) { w.riff = "RIFX"; }), WavStatus::NotRiff, ""},
        {"empty", "", WavStatus::NotRiff, ""},
        {"not WAVE", with([](WavSpec& w) { w.wave = "AVI "; }), WavStatus::NotWave, ""},
        {"no fmt", with([](WavSpec& w) { w.fmt = "fact"; }), WavStatus::NoFmt, ""},
        {"not PCM", with([](WavSpec& w) { w.tag = 3; }), WavStatus::NotPcm, ""},
        {"0 channels", with([](WavSpec& w) { w.channels = 0; }), WavStatus::Unreadable,
         "the format chunk gives 0 channels"},
        {"9 channels", with([](WavSpec& w) {
             w.channels = 9;
             w.align = 18;
         }),
         WavStatus::Unreadable,
         "the format chunk gives 9 channels, more than the 8 a sound track may have"},
        {"rate 0", with([](WavSpec& w) { w.rate = 0; }), WavStatus::Unreadable,
         "the format chunk gives a rate of 0 Hz, outside the 1 Hz to 768000 Hz a sound track may "
         "have"},
        {"rate above 768 kHz", with([](WavSpec& w) { w.rate = 768001; }), WavStatus::Unreadable,
         "the format chunk gives a rate of 768001 Hz, outside the 1 Hz to 768000 Hz a sound "
         "track may have"},
        {"block align 0", with([](WavSpec& w) { w.align = 0; }), WavStatus::Unreadable,
         "the format chunk gives a block align of 0"},
        {"chunk past the end", with([](WavSpec& w) { w.between = "LIST" + le32(0xfffffff0u); }),
         WavStatus::Unreadable, "a chunk runs past the end of the file"},
        {"data past the end", with([](WavSpec& w) { w.dataSizeField = 0x7fffffff; }),
         WavStatus::Unreadable, "the data chunk runs past the end of the file"},
        {"format chunk past the end", wavBytes(WavSpec{}).replace(16, 4, le32(0x80000000u)),
         WavStatus::Unreadable, "the format chunk runs past the end of the file"},
        {"no data chunk", wavBytes(WavSpec{}).substr(0, 36), WavStatus::Unreadable,
         "the file ends before its data chunk"},
        {"cut in the format", wavBytes(WavSpec{}).substr(0, 26), WavStatus::Unreadable,
         "the file ends inside its format chunk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavSound sound;
        const WavResult result = readBytes(c.bytes, sound);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_TRUE(sound.data.empty());
    }
    WavSound sound;
    EXPECT_EQ(readWavFile("/nonexistent/sound.wav", sound).status, WavStatus::CannotOpen);
}

} // namespace
} // namespace vortigo
