// Posters drawn in tiles through the real threads, compared byte for byte
// with the single frame of the same size, and read back by ImageMagick.
#include "TempDir.h"
#include "core/ProjectFiles.h"
#include "render/HeadlessSession.h"
#include "render/Poster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace vortigo {
namespace {

// Red-green-blue, top row first, as PPM and the posters hold them.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool readPpm(const std::string& path, Picture& picture) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> picture.width >> picture.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255) return false;
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    in.read(reinterpret_cast<char*>(picture.rgb.data()),
            static_cast<std::streamsize>(picture.rgb.size()));
    return static_cast<bool>(in);
}

// ImageMagick decodes the written file: the test reads what a viewer reads.
Picture decoded(const std::string& path, const std::string& ppm) {
    Picture picture;
    const std::string command = "convert '" + path + "' -depth 8 'ppm:" + ppm + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(readPpm(ppm, picture)) << ppm;
    return picture;
}

std::string identify(const std::string& path) {
    const std::string command = "identify -format '%m %w %h' '" + path + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[256] = {};
    const size_t got = std::fread(line, 1, sizeof line - 1, pipe);
    pclose(pipe);
    return std::string(line, got);
}

// A vertex shader of before the tiles: it knows neither tile uniform.
constexpr const char* OLD_VERTEX = "varying vec2 screen;\n"
                                   "void main() { gl_Position = gl_Vertex; screen = gl_Vertex.xy; "
                                   "}\n";

class PosterTest : public ::testing::Test {
  protected:
    void SetUp() override { test::copyDefaultTexts(m_dir); }

    // The project as `setUp` leaves it, at width x height.
    std::function<void()> project(int width, int height, const std::function<void()>& setUp) {
        return [=] {
            projectFiles().imageWidth = width;
            projectFiles().imageHeight = height;
            if (setUp) setUp();
        };
    }

    Picture singleFrame(int width, int height, const std::function<void()>& setUp) {
        HeadlessRun run;
        run.programDirectory = m_dir.path();
        run.flightMode = FLIGHT_FREE;
        run.configure = project(width, height, setUp);
        Picture picture;
        run.onFrame = [&](const FrameView& frame, int) {
            picture.width = frame.width;
            picture.height = frame.height;
            picture.rgb.resize(static_cast<size_t>(frame.width) * frame.height * 3);
            const size_t row = static_cast<size_t>(frame.width) * 3;
            for (int y = 0; y < frame.height; ++y)
                for (size_t x = 0; x < row; x += 3)
                    for (int c = 0; c < 3; ++c)
                        picture.rgb[y * row + x + c] =
                            frame.pixels[(frame.height - 1 - y) * row + x + 2 - c];
        };
        const HeadlessResult result = renderHeadless(run);
        EXPECT_TRUE(result.ok) << result.error;
        return picture;
    }

    PosterResult poster(int width, int height, int tileSize, const std::string& out,
                        const std::function<void()>& setUp, int first = 0, int last = -1) {
        PosterRun run;
        run.session.programDirectory = m_dir.path();
        run.session.configure = project(width, height, setUp);
        run.tileSize = tileSize;
        run.out = out;
        run.firstTile = first;
        run.lastTile = last;
        return renderPoster(run);
    }

    // Tiled against single frame, with super-sampling and despeckle on.
    void expectTilesMatch(const std::string& out, int width, int height, int tileSize,
                          const std::function<void()>& setUp) {
        auto filtered = [setUp] {
            if (setUp) setUp();
            projectFiles().superSample = 1;
            projectFiles().despeckle = 1;
        };
        // Sides that are powers of two keep the rasteriser's interpolation
        // exact whatever the viewport's shift; at other sizes it may round
        // differently.
        const Picture whole = singleFrame(width, height, filtered);
        const PosterResult result = poster(width, height, tileSize, m_dir.file(out), filtered);
        ASSERT_TRUE(result.ok) << result.error;
        const TileGrid& grid = result.grid;
        EXPECT_EQ(result.tilesStored, grid.count());
        // Frames smaller than the picture, else nothing is tiled at all.
        EXPECT_LT(grid.frameWidth, width);
        const Picture tiled = decoded(m_dir.file(out), m_dir.file(out + ".ppm"));
        ASSERT_EQ(tiled.width, width);
        ASSERT_EQ(tiled.height, height);
        size_t differ = 0;
        int most = 0;
        for (size_t i = 0; i < whole.rgb.size(); ++i) {
            differ += whole.rgb[i] != tiled.rgb[i];
            most = std::max(most, std::abs(whole.rgb[i] - tiled.rgb[i]));
        }
        EXPECT_EQ(differ, 0u) << out << ": by up to " << most;
        // Not a blank picture matching a blank picture.
        EXPECT_NE(std::memcmp(whole.rgb.data(), whole.rgb.data() + whole.rgb.size() / 2, 300), 0);
    }

    test::TempDir m_dir;
};

TEST_F(PosterTest, DefaultProjectInTilesEqualsTheSingleFrame) {
    // Tiles of 96: the last column and row are partial.
    expectTilesMatch("default.png", 256, 128, 96, {});
    EXPECT_EQ(identify(m_dir.file("default.png")), "PNG 256 128");
}

TEST_F(PosterTest, DepthOfFieldReachesAcrossTileBorders) {
    // Depth 0.5 everywhere: a blur from mipmap level 3 (8 pixels a texel);
    // depth 1 would reach level 6, so tiles and margins keep to 64 pixels.
    expectTilesMatch("dof.tif", 1024, 512, 128, [] {
        projectFiles().dofEnabled = 1;
        projectFiles().dofScale = 6.0f;
        projectFiles().dofOffset = 0.0f;
    });
    EXPECT_EQ(identify(m_dir.file("dof.tif")), "TIFF64 1024 512"); // BigTIFF
}

// A layer whose shaders know no tile uniform is drawn on the whole
// picture's viewport, shifted.
TEST_F(PosterTest, AnOlderVertexShaderIsDrawnThroughAShiftedViewport) {
    expectTilesMatch("old.png", 256, 128, 96,
                     [] { std::strcpy(projectFiles().layers[0].vertexText.get(), OLD_VERTEX); });
}

// Beyond the driver's viewport (here: beyond a lowered limit) the layers
// place their tiles through the uniforms: tileOffset counts whole pixels,
// so a pattern of gl_FragCoord + tileOffset matches exactly, and the default
// vertex shader's tile mapping differs from the frame only where the
// interpolation rounds differently, never by a misplaced tile.
TEST_F(PosterTest, BeyondTheViewportTheTileUniformsPlaceEachTile) {
    setShiftedViewportLimit(64);
    struct Restore {
        ~Restore() { setShiftedViewportLimit(0); }
    } restore;
    const std::string pattern = "uniform ivec2 tileOffset;\n"
                                "void main() {\n"
                                "  vec2 p = gl_FragCoord.xy + vec2(tileOffset);\n"
                                "  gl_FragColor = vec4(mod(p, 256.0) / 255.0, 0.5, 1.0);\n"
                                "}\n";
    const auto offsetLayer = [&] {
        std::snprintf(projectFiles().layers[0].fragmentText.get(), TEXT_SIZE, "%s",
                      pattern.c_str());
    };
    const Picture exact = singleFrame(256, 128, offsetLayer);
    ASSERT_TRUE(poster(256, 128, 96, m_dir.file("offset.png"), offsetLayer).ok);
    EXPECT_EQ(decoded(m_dir.file("offset.png"), m_dir.file("offset.ppm")).rgb, exact.rgb);

    const Picture whole = singleFrame(256, 128, {});
    ASSERT_TRUE(poster(256, 128, 96, m_dir.file("mapped.png"), {}).ok);
    const Picture tiled = decoded(m_dir.file("mapped.png"), m_dir.file("mapped.ppm"));
    ASSERT_EQ(tiled.rgb.size(), whole.rgb.size());
    size_t differ = 0;
    for (size_t i = 0; i < whole.rgb.size(); ++i)
        differ += whole.rgb[i] != tiled.rgb[i];
    EXPECT_LT(differ, whole.rgb.size() / 100);
}

TEST_F(PosterTest, AShaderThatWouldBeWrongInTilesIsRefusedAndNothingIsWritten) {
    const std::string out = m_dir.file("refused.png");
    const PosterResult result = poster(256, 128, 96, out, [] {
        std::strcpy(projectFiles().layers[0].vertexText.get(), OLD_VERTEX);
        std::strcpy(projectFiles().layers[0].fragmentText.get(),
                    "void main() { gl_FragColor = vec4(gl_FragCoord.xy / 256.0, 0.0, 1.0); }\n");
    });
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("Layer 1 reads gl_FragCoord"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("uniform ivec2 tileOffset;"), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().string().find("refused"), std::string::npos) << entry.path();
}

// The script runs once per tile and sees the whole picture's size and the
// frame's place in words of its own.
TEST_F(PosterTest, TheScriptSeesThePictureSizeAndEachTilesPlace) {
    const std::string log = m_dir.file("tiles.txt");
    const std::string script = "#include <stdio.h>\n#include <vortigo.h>\n"
                               "static int *frame;\n"
                               "void udSetup(void *t, float *u, float *a, int *f, char *l) "
                               "{ frame = f; }\n"
                               "void udPost(void) {\n"
                               "  FILE *out = fopen(\"" +
                               log +
                               "\", \"a\");\n"
                               "  fprintf(out, \"%d %d %d %d %d %d\\n\", frame[FI_IMAGE_WIDTH],\n"
                               "    frame[FI_IMAGE_HEIGHT], frame[FI_TILE_X], frame[FI_TILE_Y],\n"
                               "    FI_TILE_WIDTH(frame), FI_TILE_HEIGHT(frame));\n"
                               "  fclose(out);\n"
                               "}\n";
    const PosterResult result = poster(256, 128, 96, m_dir.file("s.png"), [&] {
        std::snprintf(projectFiles().scriptText.get(), TEXT_SIZE, "%s", script.c_str());
    });
    ASSERT_TRUE(result.ok) << result.error;
    std::ifstream in(log);
    const TileGrid& grid = result.grid;
    for (int i = 0; i < grid.count(); ++i) {
        int w = 0, h = 0, x = 0, y = 0, fw = 0, fh = 0;
        ASSERT_TRUE(in >> w >> h >> x >> y >> fw >> fh) << "tile " << i;
        const PixelRect frame = grid.frame(i);
        EXPECT_EQ(w, 256);
        EXPECT_EQ(h, 128);
        EXPECT_EQ(x, frame.x) << "tile " << i;
        EXPECT_EQ(y, 128 - frame.y - frame.height) << "tile " << i; // from the bottom
        EXPECT_EQ(fw, grid.frameWidth);
        EXPECT_EQ(fh, grid.frameHeight);
    }
    int extra = 0;
    EXPECT_FALSE(in >> extra) << "more draws than tiles";
}

// Two ranges on two "machines", joined, equal the whole render.
TEST_F(PosterTest, RangesJoinedEqualTheWholePoster) {
    const std::string whole = m_dir.file("whole.png");
    const std::string joined = m_dir.file("joined.tif");
    ASSERT_TRUE(poster(256, 128, 96, whole, {}).ok);
    PosterResult part = poster(256, 128, 96, joined, {}, 0, 3);
    ASSERT_TRUE(part.ok) << part.error;
    std::string error;
    EXPECT_FALSE(joinTiles(joined, 256, 128, error));
    EXPECT_NE(error.find("tile 4 is missing"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(joined));
    part = poster(256, 128, 96, joined, {}, 4, 5);
    ASSERT_TRUE(part.ok) << part.error;
    ASSERT_TRUE(joinTiles(joined, 256, 128, error)) << error;
    EXPECT_EQ(decoded(whole, m_dir.file("a.ppm")).rgb, decoded(joined, m_dir.file("b.ppm")).rgb);
}

// Deep pictures: 16-bit samples, red-green-blue, top row first.
std::vector<uint16_t> deepSamples(const FrameView& frame) {
    EXPECT_EQ(frame.sampleBytes, 2);
    const auto* words = reinterpret_cast<const uint16_t*>(frame.pixels);
    const size_t row = static_cast<size_t>(frame.width) * 3;
    std::vector<uint16_t> rgb(row * frame.height);
    for (int y = 0; y < frame.height; ++y)
        for (size_t x = 0; x < row; x += 3)
            for (int c = 0; c < 3; ++c)
                rgb[y * row + x + c] = words[(frame.height - 1 - y) * row + x + 2 - c];
    return rgb;
}

std::vector<uint16_t> decodedDeep(const std::string& path, const std::string& raw) {
    const std::string command = "convert '" + path + "' -depth 16 -endian LSB 'rgb:" + raw + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint16_t> rgb(bytes.size() / 2);
    std::memcpy(rgb.data(), bytes.data(), rgb.size() * 2);
    return rgb;
}

// In tiles, with every filter, a deep poster equals the deep frame, keeps
// its depth, and is the 8-bit picture where 8 bits can say it.
TEST_F(PosterTest, DeepPostersKeepSixteenBitsAChannelAcrossTiles) {
    auto filtered = [] {
        projectFiles().superSample = 1;
        projectFiles().despeckle = 1;
    };
    std::vector<uint16_t> whole;
    HeadlessRun run;
    run.programDirectory = m_dir.path();
    run.flightMode = FLIGHT_FREE;
    run.deep = true;
    run.configure = project(256, 128, filtered);
    run.onFrame = [&](const FrameView& frame, int) { whole = deepSamples(frame); };
    ASSERT_TRUE(renderHeadless(run).ok);
    ASSERT_EQ(whole.size(), 256u * 128 * 3);

    PosterRun tiled;
    tiled.session.programDirectory = m_dir.path();
    tiled.session.configure = project(256, 128, filtered);
    tiled.session.deep = true;
    tiled.tileSize = 96;
    tiled.out = m_dir.file("deep.tif");
    const PosterResult result = renderPoster(tiled);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.grid.count(), 6);
    EXPECT_EQ(decodedDeep(tiled.out, m_dir.file("deep.raw")), whole);

    // Most samples lie between two 8-bit steps (a multiple of 257 each),
    // with depth of field's blur too.
    auto between = [](const std::vector<uint16_t>& samples) {
        return static_cast<size_t>(
            std::count_if(samples.begin(), samples.end(), [](uint16_t v) { return v % 257 != 0; }));
    };
    EXPECT_GT(between(whole), whole.size() / 2);
    run.configure = project(256, 128, [] {
        projectFiles().dofEnabled = 1;
        projectFiles().dofScale = 6.0f;
    });
    std::vector<uint16_t> blurred;
    run.onFrame = [&](const FrameView& frame, int) { blurred = deepSamples(frame); };
    ASSERT_TRUE(renderHeadless(run).ok);
    EXPECT_NE(blurred, whole);
    EXPECT_GT(between(blurred), blurred.size() / 2);
    // The filters truncate at another scale: a step or two apart at most.
    const Picture narrow = singleFrame(256, 128, filtered);
    int most = 0;
    for (size_t i = 0; i < whole.size(); ++i)
        most = std::max(most, std::abs((whole[i] + 128) / 257 - narrow.rgb[i]));
    EXPECT_LE(most, 2);
}

// udPostFrame edits bytes: it is lent an 8-bit copy, and only the samples it
// changes lose their depth.
TEST_F(PosterTest, UdPostFrameEditsADeepFrameThroughAnEightBitCopy) {
    std::vector<uint16_t> deep;
    HeadlessRun run;
    run.programDirectory = m_dir.path();
    run.flightMode = FLIGHT_FREE;
    run.deep = true;
    run.configure = project(64, 32, [] {
        std::snprintf(projectFiles().scriptText.get(), TEXT_SIZE, "%s",
                      "void udPostFrame(unsigned char *p) { p[0] = 255; p[1] = 0; p[2] = 0; }\n");
    });
    run.onFrame = [&](const FrameView& frame, int) { deep = deepSamples(frame); };
    ASSERT_TRUE(renderHeadless(run).ok);
    ASSERT_EQ(deep.size(), 64u * 32 * 3);
    // The bottom-left pixel, blue-green-red in the frame.
    const size_t corner = (31u * 64) * 3;
    EXPECT_EQ(deep[corner + 2], 65535);
    EXPECT_EQ(deep[corner + 1], 0);
    EXPECT_EQ(deep[corner], 0);
    EXPECT_GT(std::count_if(deep.begin(), deep.end(), [](uint16_t v) { return v % 257 != 0; }),
              static_cast<std::ptrdiff_t>(deep.size() / 2));
}

} // namespace
} // namespace vortigo
