#include "persist/Options.h"

#include "FuzzSeeds.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdlib.h>
#include <tuple>

using namespace vortigo;
namespace fs = std::filesystem;

namespace {

// The groups the options file fills, apart from the process-wide ones.
struct OptionGroups {
    FrameInfo frameInfo{};
    AnimInfo animInfo{};
    ProjectFiles files{frameInfo, animInfo};
    CameraFlight camera{frameInfo, animInfo};
    CaptureState capture{frameInfo};
    WindowLayout layout;
};

class OptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = m_dir + "/VORTOptions.ini";
        m_state = std::make_unique<OptionGroups>();
        scramble(*m_state);
    }

    // Values no default has, so a key that is not read shows up.
    static void scramble(OptionGroups& s) {
        s.files.imageWidth = s.files.imageHeight = s.capture.aviFps = 7777;
        s.capture.useMotionBlur = s.files.despeckle = s.files.dofEnabled = s.files.superSample =
            7777;
        s.layout.traceWindowLeft = s.layout.traceWindowTop = s.layout.editWindowLeft =
            s.layout.editWindowTop = 7777;
        s.layout.editWindowWidth = s.layout.editWindowHeight = s.layout.fontSize =
            s.capture.maxAviFrames = 7777;
        s.files.maxWidth = s.files.maxHeight = s.files.maxUdef = 7777;
        s.files.dofScale = s.files.dofOffset = s.files.maxDepth = s.camera.animationSpeed = 77.0f;
        s.camera.udefDelta = s.camera.flightAcceleration = s.camera.flightRotationSpeed = 77.0f;
        s.layout.textColour = s.layout.backgroundColour = Colour{7, 7, 7};
        std::memset(s.layout.fontFamily, 'x', sizeof s.layout.fontFamily - 1);
        std::memset(s.files.libraries, 'x', sizeof s.files.libraries - 1);
        std::memset(s.files.includePath, 'x', sizeof s.files.includePath - 1);
    }

    void writeFile(const std::string& bytes) const {
        test::keepAsFuzzSeed("options", std::to_string(std::hash<std::string>{}(bytes)), bytes);
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    std::string readFile() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    OptionGroups& read() {
        readOptions(m_state->files, m_state->camera, m_state->capture, m_path);
        m_state->layout = readWindowLayout(m_path);
        return *m_state;
    }

    test::TempDir m_temp;
    std::string m_dir = m_temp.path();
    std::string m_path;
    std::unique_ptr<OptionGroups> m_state;
};

// Tuples keep the long field lists readable; each line is one group of keys.
void expectOptions(const OptionGroups& s, std::tuple<int, int, int, int> size,
                   std::tuple<int, int, int, int> switches,
                   std::tuple<int, int, int, int, int, int> windows,
                   std::tuple<float, float, float, float, float, float, float> reals,
                   const char* font, std::tuple<int, int, int, int, int, int, int> fontAndColours,
                   const char* libraries, const char* includePath,
                   std::tuple<int, int, int> limits) {
    EXPECT_EQ(std::tuple(s.files.imageWidth, s.files.imageHeight, s.capture.aviFps,
                         s.capture.maxAviFrames),
              size);
    EXPECT_EQ(std::tuple(s.capture.useMotionBlur, s.files.despeckle, s.files.dofEnabled,
                         s.files.superSample),
              switches);
    EXPECT_EQ(std::tuple(s.layout.traceWindowLeft, s.layout.traceWindowTop, s.layout.editWindowLeft,
                         s.layout.editWindowTop, s.layout.editWindowWidth,
                         s.layout.editWindowHeight),
              windows);
    EXPECT_EQ(std::tuple(s.files.dofScale, s.files.dofOffset, s.files.maxDepth,
                         s.camera.animationSpeed, s.camera.udefDelta, s.camera.flightAcceleration,
                         s.camera.flightRotationSpeed),
              reals);
    EXPECT_STREQ(s.layout.fontFamily, font);
    EXPECT_EQ(std::tuple(s.layout.fontSize, +s.layout.textColour.red, +s.layout.textColour.green,
                         +s.layout.textColour.blue, +s.layout.backgroundColour.red,
                         +s.layout.backgroundColour.green, +s.layout.backgroundColour.blue),
              fontAndColours);
    EXPECT_STREQ(s.files.libraries, libraries);
    EXPECT_STREQ(s.files.includePath, includePath);
    EXPECT_EQ(std::tuple(s.files.maxWidth, s.files.maxHeight, s.files.maxUdef), limits);
}

void expectDefaults(const OptionGroups& s) {
    expectOptions(s, {640, 480, 25, 0}, {0, 0, 0, 0}, {0, 0, 520, 0, 512, 640},
                  {2.0f, 0.1f, 10.0f, 0.01f, 0.01f, 0.0005f, 1.0f}, "Verdana",
                  {10, 0, 225, 0, 64, 64, 64}, "", "", {1920, 1080, 32});
}

TEST_F(OptionsTest, MissingOrUnreadableFileGivesEveryDefault) {
    expectDefaults(read());
    scramble(*m_state);
    fs::create_directory(m_path);
    expectDefaults(read());
}

TEST_F(OptionsTest, ReadsEveryKeyInAnyLetterCase) {
    writeFile("[vort]\nwidth=800\nHEIGHT=600\naviFps=30\nusemotionblur=1\nDESPECKLE=2\ndof=3\n"
              "supersample=4\ntracewindowleft=-10\ntracewindowtop=20\neditwindowleft=30\n"
              "editwindowtop=40\neditwindowwidth=700\neditwindowheight=900\ndofscale=3.5\n"
              "dofoffset=0.25\nmaxdepth=12.5\nanimationspeed=0.125\nudefdelta=0.5\n"
              "flightacceleration=0.0625\nflightrotationspeed=2\nfontfamily=Courier New\n"
              "fontsize=12\ntextred=1\ntextgreen=2\ntextblue=3\nbgred=4\nbggreen=5\nbgblue=6\n"
              "maxaviframes=900\nlibraries=/usr/lib/libm.a\nincludepath=/opt/inc\n"
              "maxwidth=4096\nmaxheight=2160\nmaxudef=64\n");
    expectOptions(read(), {800, 600, 30, 900}, {1, 2, 3, 4}, {-10, 20, 30, 40, 700, 900},
                  {3.5f, 0.25f, 12.5f, 0.125f, 0.5f, 0.0625f, 2.0f}, "Courier New",
                  {12, 1, 2, 3, 4, 5, 6}, "/usr/lib/libm.a", "/opt/inc", {4096, 2160, 64});
}

TEST_F(OptionsTest, PresentValuesWithoutANumberReadZero) {
    writeFile("[VORT]\nMaxAVIFrames=abc\nFontSize=\nDOFScale=x1\nMaxDepth=\nUdefDelta=1,5\n"
              "TextGreen=green\n");
    const OptionGroups& s = read();
    EXPECT_EQ(std::tuple(s.capture.maxAviFrames, s.layout.fontSize, +s.layout.textColour.green),
              std::tuple(0, 0, 0));
    EXPECT_EQ(std::tuple(s.files.dofScale, s.files.maxDepth, s.camera.udefDelta),
              std::tuple(0.0f, 0.0f, 1.0f));
}

TEST_F(OptionsTest, ColoursKeepTheirLowEightBits) {
    writeFile("[VORT]\nTextRed=511\nTextGreen=-1\nTextBlue=256\nBGRed=-256\nBGGreen=99999999999\n");
    const OptionGroups& s = read(); // BGGreen is clamped to INT_MAX first
    EXPECT_EQ(
        std::tuple(+s.layout.textColour.red, +s.layout.textColour.green, +s.layout.textColour.blue),
        std::tuple(255, 255, 0));
    EXPECT_EQ(std::tuple(+s.layout.backgroundColour.red, +s.layout.backgroundColour.green,
                         +s.layout.backgroundColour.blue),
              std::tuple(0, 255, 64));
}

TEST_F(OptionsTest, HugeNumbersStayFinite) {
    writeFile("[VORT]\nWidth=99999999999999\nHeight=-99999999999999\nEditWindowTop=-99999999999\n"
              "MaxDepth=1e999\nDOFScale=1e39\nDOFOffset=-1e39\nAnimationSpeed=inf\n"
              "UdefDelta=nan\nFlightRotationSpeed=3e38\n");
    const OptionGroups& s = read();
    // The negative height sends both sizes back.
    EXPECT_EQ(std::tuple(s.files.imageWidth, s.files.imageHeight, s.layout.editWindowTop),
              std::tuple(640, 480, INT_MIN));
    EXPECT_EQ(std::tuple(s.files.maxDepth, s.files.dofScale, s.files.dofOffset,
                         s.camera.animationSpeed, s.camera.udefDelta),
              std::tuple(0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(s.camera.flightRotationSpeed, 3e38f);
}

TEST_F(OptionsTest, TextsAreCutToTheirBuffers) {
    const std::string zeros30(30, '0'), zeros31(31, '0');
    writeFile("[VORT]\nFontFamily=" + std::string(100, 'F') +
              "\nLibraries=" + std::string(300, 'L') + "\nIncludePath=" + std::string(259, 'I') +
              "\nDOFScale=" + zeros30 + "7\nDOFOffset=" + zeros31 + "7\n");
    const OptionGroups& s = read();
    EXPECT_EQ(std::string(s.layout.fontFamily), std::string(31, 'F'));
    EXPECT_EQ(std::string(s.files.libraries), std::string(259, 'L'));
    EXPECT_EQ(std::string(s.files.includePath), std::string(259, 'I'));
    EXPECT_FLOAT_EQ(s.files.dofScale, 7.0f); // 31 characters: whole
    EXPECT_EQ(s.files.dofOffset, 0.0f);      // 32 characters: the 7 is cut off
}

TEST_F(OptionsTest, UnusableSizesAndCountsAreMendedButTheRateIsKeptAsWritten) {
    writeFile("[VORT]\nWidth=0\nHeight=600\nAviFPS=0\nMaxWidth=-1\nMaxHeight=2000\nMaxUdef=3\n");
    OptionGroups& s = read();
    // A rate of 0 stays: the capture writer refuses to start with it.
    EXPECT_EQ(std::tuple(s.files.imageWidth, s.files.imageHeight, s.capture.aviFps),
              std::tuple(640, 480, 0));
    EXPECT_EQ(std::tuple(s.files.maxWidth, s.files.maxHeight, s.files.maxUdef),
              std::tuple(1920, 1080, MIN_UDEF));

    // A width beyond MaxWidth is usable and taken as it stands.
    writeFile("[VORT]\nWidth=5000\nHeight=1\nAviFPS=-3\nMaxUdef=2000000000\n");
    read();
    EXPECT_EQ(std::tuple(s.files.imageWidth, s.files.imageHeight, s.capture.aviFps),
              std::tuple(5000, 1, -3));
    EXPECT_EQ(s.files.maxUdef, MAX_UDEF_LIMIT);

    writeFile("[VORT]\nMaxUdef=16\n");
    EXPECT_EQ(read().files.maxUdef, 16);

    // Only 0 switches the watchdog off; a negative time-out is a slip, and a
    // background budget of nothing would refuse every background.
    writeFile("[VORT]\nScriptTimeout=-1\nBackgroundLimitMB=0\nBackgroundTotalLimitMB=-5\n");
    read();
    EXPECT_EQ(std::tuple(s.files.scriptTimeoutSeconds, s.files.backgroundLimitMb,
                         s.files.backgroundTotalLimitMb),
              std::tuple(5, 256, 512));
    writeFile("[VORT]\nScriptTimeout=0\nBackgroundLimitMB=64\nBackgroundTotalLimitMB=100\n");
    read();
    EXPECT_EQ(std::tuple(s.files.scriptTimeoutSeconds, s.files.backgroundLimitMb,
                         s.files.backgroundTotalLimitMb),
              std::tuple(0, 64, 100));
}

TEST_F(OptionsTest, WriteDefaultsWritesTheTwelveKeysInOrder) {
    writeDefaults(m_path, {.width = 800,
                           .height = 600,
                           .motionBlur = 1,
                           .fps = 30,
                           .dof = 1,
                           .maxAviFrames = 500,
                           .maxDepth = 12.5f,
                           .flightAcceleration = 0.001f});
    EXPECT_EQ(readFile(), "[VORT]\nWidth=800\nHeight=600\nUseMotionBlur=1\nDespeckle=0\n"
                          "AviFPS=30\nDOF=1\nSuperSample=0\nDOFScale=2.000000\n"
                          "DOFOffset=0.100000\nFlightAcceleration=0.001000\n"
                          "MaxDepth=12.500000\nMaxAVIFrames=500\n");

    const OptionGroups& s = read();
    EXPECT_EQ(std::tuple(s.files.imageWidth, s.files.imageHeight, s.capture.aviFps,
                         s.capture.maxAviFrames),
              std::tuple(800, 600, 30, 500));
    EXPECT_EQ(std::tuple(s.capture.useMotionBlur, s.files.despeckle, s.files.dofEnabled),
              std::tuple(1, 0, 1));
    EXPECT_EQ(std::tuple(s.files.dofOffset, s.files.maxDepth, s.camera.flightAcceleration),
              std::tuple(0.1f, 12.5f, 0.001f));
}

TEST_F(OptionsTest, WriteDefaultsKeepsHandWrittenLines) {
    writeFile("; hand-made\r\n[vort]\r\nFontFamily = Courier New\r\nwidth=1\r\n"
              "Libraries=/usr/lib/x.a\r\n\r\n[Extra]\r\nMaxDepth=3\r\n");
    writeDefaults(m_path, {.width = 800, .height = 600});
    EXPECT_EQ(readFile(), "; hand-made\r\n[vort]\r\nFontFamily = Courier New\r\nWidth=800\r\n"
                          "Libraries=/usr/lib/x.a\r\nHeight=600\r\nUseMotionBlur=0\r\n"
                          "Despeckle=0\r\nAviFPS=25\r\nDOF=0\r\nSuperSample=0\r\n"
                          "DOFScale=2.000000\r\nDOFOffset=0.100000\r\n"
                          "FlightAcceleration=0.000500\r\nMaxDepth=10.000000\r\n"
                          "MaxAVIFrames=0\r\n\r\n[Extra]\r\nMaxDepth=3\r\n");
}

TEST_F(OptionsTest, WriteDefaultsWritesLargeRealsSoTheyReadBack) {
    writeDefaults(
        m_path,
        {.dofScale = 1e23f, .dofOffset = -1e9f, .maxDepth = 3e38f, .flightAcceleration = -2e30f});
    const std::string text = readFile();
    EXPECT_NE(text.find("\nDOFOffset=-1000000000.000000\n"), std::string::npos);
    EXPECT_NE(text.find("\nMaxDepth=3e+38\n"), std::string::npos);
    EXPECT_NE(text.find("\nFlightAcceleration=-2e+30\n"), std::string::npos);
    const OptionGroups& s = read(); // 1e23 still fits 31 characters of fixed text
    EXPECT_EQ(std::tuple(s.files.dofScale, s.files.dofOffset, s.files.maxDepth,
                         s.camera.flightAcceleration),
              std::tuple(1e23f, -1e9f, 3e38f, -2e30f));
}

TEST_F(OptionsTest, WriteDefaultsFailsQuietlyAndLeavesUnreadableFilesAlone) {
    writeDefaults(m_dir + "/missing/VORTOptions.ini", {});
    EXPECT_FALSE(fs::exists(m_dir + "/missing"));

    fs::create_directory(m_path);
    writeDefaults(m_path, {});
    EXPECT_TRUE(fs::is_directory(m_path));
}

} // namespace
