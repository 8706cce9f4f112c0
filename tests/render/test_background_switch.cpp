// SwitchBackground from a real script on the real render thread: the new
// picture is on screen from the next frame on.
#include "TempDir.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "render/HeadlessSession.h"
#include "script/DebugLog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vortigo {
namespace {

const char* const SAMPLING_SHADER = R"(uniform sampler2D tex;
varying vec2 screen;
void main() { gl_FragColor = texture2D(tex, screen * 0.5 + 0.5); }
)";

TEST(BackgroundSwitchTest, ScriptSwitchesOnTheRenderThreadAndTheNextFrameShowsIt) {
    test::TempDir dir;
    test::copyDefaultTexts(dir);
    // A 2 x 2 true-colour TGA of blue 10, green 200, red 60.
    std::string tga("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\x20", 18);
    for (int i = 0; i < 4; ++i)
        tga += "\x0a\xc8\x3c";
    dir.write("green.tga", tga);
    // A header that claims 10000 x 10000 pixels: 382 MB, beyond the budget.
    dir.write("big.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\x10\x27\x10\x27\x18\x20", 18));

    const std::string script = R"(#include <stdio.h>
#include <string.h>
#include <vortigo.h>
static int calls;
void udPre(unsigned char *background, float *flight)
{
    char longName[300];
    FILE *out;
    if (calls++ != 0) return;
    memset(longName, 'a', 299);
    longName[299] = 0;
    out = fopen(")" + dir.file("result.txt") +
                               R"(", "w");
    fprintf(out, "%d %d %d %d %d %d\n", SwitchBackground(")" +
                               dir.file("green.tga") +
                               R"(", 0),
            SwitchBackground(")" +
                               dir.file("green.tga") + R"(", 4), SwitchBackground(0, 0),
            SwitchBackground(longName, 0), SwitchBackground(")" +
                               dir.file("none.jpg") + R"(", 1), SwitchBackground(")" +
                               dir.file("big.tga") + R"(", 1));
    fclose(out);
}
/* The post-processing thread has no GL context: refused. */
void udPostFrame(unsigned char *pixels)
{
    static int done;
    FILE *out;
    if (done++) return;
    out = fopen(")" + dir.file("post.txt") +
                               R"(", "w");
    fprintf(out, "%d\n", SwitchBackground(")" +
                               dir.file("green.tga") + R"(", 2));
    fclose(out);
}
)";

    std::vector<std::vector<uint8_t>> centres;
    HeadlessRun run;
    run.programDirectory = dir.path();
    run.frames = 3;
    run.configure = [&] {
        ProjectFiles& files = projectFiles();
        files.imageWidth = 32;
        files.imageHeight = 24;
        std::strcpy(files.scriptText.get(), script.c_str());
        std::strcpy(files.layers[0].fragmentText.get(), SAMPLING_SHADER);
        files.layers[0].backgroundFile[0] = 0;
        files.layers[0].backgroundPixels.reset();
    };
    std::string debugPage; // the run's end frees it
    run.onFrame = [&](const FrameView& frame, int index) {
        const uint8_t* p = frame.pixels + (12 * frame.width + 16) * 3;
        centres.push_back({p[0], p[1], p[2]});
        if (index == 2) debugPage = debugTextCopy();
    };
    const HeadlessResult result = renderHeadless(run);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(centres.size(), 3u);

    std::ifstream in(dir.file("result.txt"));
    std::stringstream text;
    text << in.rdbuf();
    // Loaded; bad layer; no name; a name too long for the field; a file
    // that does not exist and one too large still return 0. Only the large
    // one is reported, on the script's page: the run goes on.
    EXPECT_EQ(text.str(), "0 -1 -1 -1 0 0\n");
    EXPECT_NE(debugPage.find("SwitchBackground: Could not load the background " +
                             dir.file("big.tga") + ": it is 10000 x 10000 pixels (382 MB)"),
              std::string::npos)
        << debugPage;
    std::ifstream post(dir.file("post.txt"));
    std::string postResult;
    post >> postResult;
    EXPECT_EQ(postResult, "-1");

    // The switch happens inside udPre, after layer 0's texture was bound for
    // frame 0; the upload comes with the next draw.
    EXPECT_NE(centres[0], (std::vector<uint8_t>{10, 200, 60}));
    EXPECT_EQ(centres[1], (std::vector<uint8_t>{10, 200, 60}));
    EXPECT_EQ(centres[2], (std::vector<uint8_t>{10, 200, 60}));
}

} // namespace
} // namespace vortigo
