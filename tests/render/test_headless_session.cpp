// The default project through the real render and post-processing threads
// with no window at all.
#include "TempDir.h"
#include "core/ProjectFiles.h"
#include "render/Filters.h"
#include "render/HeadlessSession.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <vector>

namespace vortigo {
namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr; // bottom row first, as the frames hold it
};

// Binary PPM, top row first, red-green-blue.
bool readPpm(const std::string& path, Image& image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || image.width <= 0 || image.height <= 0) return false;
    std::vector<uint8_t> rgb(static_cast<size_t>(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    if (!in) return false;
    image.bgr.resize(rgb.size());
    const size_t row = static_cast<size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y)
        for (size_t x = 0; x < row; x += 3) {
            const uint8_t* from = &rgb[(image.height - 1 - y) * row + x];
            uint8_t* to = &image.bgr[y * row + x];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    return true;
}

void writePpm(const std::string& path, const Image& image) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << " " << image.height << "\n255\n";
    const size_t row = static_cast<size_t>(image.width) * 3;
    for (int y = image.height - 1; y >= 0; --y)
        for (size_t x = 0; x < row; x += 3) {
            const uint8_t* p = &image.bgr[y * row + x];
            const char rgb[3] = {static_cast<char>(p[2]), static_cast<char>(p[1]),
                                 static_cast<char>(p[0])};
            out.write(rgb, 3);
        }
}

class HeadlessSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { test::copyDefaultTexts(m_dir); }

    HeadlessResult render(int width, int height, int frames, int flightMode,
                          const std::function<void()>& extra = {}) {
        HeadlessRun run;
        run.programDirectory = m_dir.path();
        run.frames = frames;
        run.flightMode = flightMode;
        run.configure = [=] {
            projectFiles().imageWidth = width;
            projectFiles().imageHeight = height;
            if (extra) extra();
        };
        run.onFrame = [this](const FrameView& frame, int) {
            m_last.width = frame.width;
            m_last.height = frame.height;
            m_last.bgr.assign(frame.pixels,
                              frame.pixels + static_cast<size_t>(frame.width) * frame.height * 3);
        };
        return renderHeadless(run);
    }

    test::TempDir m_dir;
    Image m_last;
};

TEST_F(HeadlessSessionTest, OddSizedFramesFlowEndToEnd) {
    const HeadlessResult result = render(641, 479, 4, FLIGHT_FREE);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.framesDelivered, 4);
    ASSERT_EQ(m_last.width, 641);
    ASSERT_EQ(m_last.height, 479);
    std::set<uint32_t> colours;
    for (size_t i = 0; i < m_last.bgr.size(); i += 3 * 97)
        colours.insert(m_last.bgr[i] | m_last.bgr[i + 1] << 8 | m_last.bgr[i + 2] << 16);
    EXPECT_GT(colours.size(), 20u); // a picture, not a cleared frame
}

// The frame sink sees a frame only once the next one is being drawn: the
// run must not let the script draw that next frame when it is not wanted.
TEST_F(HeadlessSessionTest, TheScriptDrawsExactlyTheWantedFrames) {
    const std::string counted = m_dir.file("drawn.txt");
    const std::string script = "#include <stdio.h>\n"
                               "static int drawn;\n"
                               "void udPost(void) { ++drawn; }\n"
                               "void udShutdown(void) {\n"
                               "    FILE *f = fopen(\"" +
                               counted +
                               "\", \"w\");\n"
                               "    if (f) { fprintf(f, \"%d\", drawn); fclose(f); }\n"
                               "}\n";
    for (const int frames : {1, 3}) {
        const HeadlessResult result = render(32, 24, frames, FLIGHT_FREE, [&] {
            std::snprintf(projectFiles().scriptText.get(), TEXT_SIZE, "%s", script.c_str());
        });
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.framesDelivered, frames);
        std::ifstream in(counted);
        int drawn = -1;
        in >> drawn;
        EXPECT_EQ(drawn, frames) << "frames drawn by the script for a run of " << frames;
    }
}

TEST_F(HeadlessSessionTest, AFrameWiderThanTheDriverCanDrawIsRefused) {
    // Mesa's largest viewport is 16384 wide: the surface would take the
    // size, but the frame would come back partly black.
    const HeadlessResult result = render(16385, 2, 1, FLIGHT_FREE);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error,
              "Memory Error.: The frame of 16385 x 2 pixels is larger than the graphics driver "
              "can draw.");
}

// The default project ignores the pass, so the super-sample pass draws the
// same picture as pass 0; a still frame is then the plain frame merged with
// itself and despeckled.
TEST_F(HeadlessSessionTest, SuperSamplingAndDespeckleRunInThePipeline) {
    ASSERT_TRUE(render(97, 61, 1, FLIGHT_STOPPED).ok);
    const Image plain = m_last;
    const HeadlessResult result = render(97, 61, 1, FLIGHT_STOPPED, [] {
        projectFiles().superSample = 1;
        projectFiles().despeckle = 1;
    });
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(m_last.bgr.size(), plain.bgr.size());

    std::vector<uint8_t> merged = plain.bgr, expected(plain.bgr.size());
    superSampleMerge(merged.data(), plain.bgr.data(), 97, 61);
    despeckle(merged.data(), expected.data(), 97, 61);
    ASSERT_NE(expected, plain.bgr); // the filters change this picture
    size_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        differing += m_last.bgr[i] != expected[i];
    EXPECT_EQ(differing, 0u) << "channel values differ from the filters applied by hand";
}

TEST_F(HeadlessSessionTest, TheDefaultProjectMatchesItsGoldenImage) {
    const HeadlessResult result = render(160, 120, 1, FLIGHT_STOPPED);
    ASSERT_TRUE(result.ok) << result.error;
    const std::string golden = std::string(VORTIGO_GOLDEN_DIR) + "/default_160x120.ppm";
    if (std::getenv("VORTIGO_UPDATE_GOLDEN")) writePpm(golden, m_last);
    Image expected;
    ASSERT_TRUE(readPpm(golden, expected)) << golden;
    ASSERT_EQ(expected.width, m_last.width);
    ASSERT_EQ(expected.height, m_last.height);
    size_t off = 0;
    int worst = 0;
    for (size_t i = 0; i < expected.bgr.size(); ++i) {
        const int d = std::abs(int(expected.bgr[i]) - int(m_last.bgr[i]));
        worst = std::max(worst, d);
        off += d > 6;
    }
    // Drivers may round a little differently; the picture must not change.
    const bool same = off <= expected.bgr.size() / 200;
    if (!same) writePpm(m_dir.path() + "/../default_160x120_actual.ppm", m_last);
    EXPECT_TRUE(same) << off << " channel values differ by more than 6 (worst " << worst
                      << "); the actual image is in /tmp/default_160x120_actual.ppm";
}

} // namespace
} // namespace vortigo
