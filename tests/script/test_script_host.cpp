// Compiling real scripts with libtcc: entry points, libraries, diagnostics
// and the order of udShutdown and udSetup.
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ScriptShared.h"
#include "script/ScriptCalls.h"
#include "script/ScriptFixture.h"

#include <string>

namespace vortigo {
namespace {

using ScriptHostTest = test::ScriptFixture;

// udef[] of the studio doubles as the scripts' way to report back.
constexpr const char* COUNTING_SCRIPT = R"(
static float *u;
void udSetup(void *w, float *udef, float *a, int *f, char *line) { u = udef; u[0] += 1; }
void udShutdown(void) { u[1] += 1; u[2] = u[3]; }
)";

TEST_F(ScriptHostTest, AnEmptyScriptCompilesWithoutEntryPoints) {
    EXPECT_TRUE(compileScript(""));
    for (int i = 0; i < ENTRY_COUNT; ++i)
        EXPECT_EQ(entryPoint(EntryPoint(i)), nullptr);
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(ScriptHostTest, OnlyUdPostFrameIsFoundAndCalled) {
    ASSERT_TRUE(compileScript("void udPostFrame(unsigned char *p) { p[0] = 7; p[5] = 9; }"));
    EXPECT_NE(entryPoint(UD_POST_FRAME), nullptr);
    EXPECT_EQ(entryPoint(UD_PRE), nullptr);
    EXPECT_EQ(entryPoint(UD_SETUP), nullptr);
    uint8_t frame[6] = {};
    callUdPostFrame(frame);
    EXPECT_EQ(frame[0], 7);
    EXPECT_EQ(frame[5], 9);
}

TEST_F(ScriptHostTest, UdSetupReceivesTheSharedBlocks) {
    ASSERT_TRUE(compileScript(R"(
#include <vortigo.h>
void udSetup(void *w, float *udef, float *anim, int *frame, char *line) {
    udef[4] = frame[FI_IMAGE_WIDTH];
    udef[5] = anim[AI_MAX_DEPTH];
    udef[6] = w != 0;
    frame[FI_FLIGHT_END] = 36;
    line[0] = 'o'; line[1] = 'k'; line[2] = 0;
}
)"));
    const CameraFlight& camera = cameraView();
    ScriptShared& blocks = scriptShared();
    EXPECT_FLOAT_EQ(camera.udef[4], 640.0f);
    EXPECT_FLOAT_EQ(camera.udef[5], 10.0f);
    EXPECT_FLOAT_EQ(camera.udef[6], 1.0f);
    EXPECT_EQ(camera.flightEnd, 36);
    EXPECT_STREQ(blocks.debugText.get(), "ok");
    EXPECT_EQ(blocks.scratchLine[0], 0);
}

TEST_F(ScriptHostTest, HeaderNamesThePointerSlotsAfterTheWords) {
    ASSERT_TRUE(compileScript(R"(
#include <vortigo.h>
static char bytes[6];
void udSetup(void *w, float *udef, float *anim, int *frame, char *line) {
    FI_DATA_TEX(frame) = bytes;
    frame[FI_DATA_TEX_WIDTH] = 2;
}
)"));
    EXPECT_NE(scriptShared().frameInfo.dataTex, nullptr);
    EXPECT_EQ(scriptShared().frameInfo.dataTexWidth, 2);
}

TEST_F(ScriptHostTest, UserLibrariesAreAddedInOrderSkippingEmptyPieces) {
    std::strcpy(projectFiles().libraries, "z,,jpeg");
    const char* script = R"(
const char *zlibVersion(void);
void *jpeg_std_error(void *err);
static char err[1024];
void udSetup(void *w, float *udef, float *a, int *f, char *line) {
    udef[0] = zlibVersion() != 0;
    udef[1] = jpeg_std_error(err) == err;
}
)";
    ASSERT_TRUE(compileScript(script)) << ::testing::PrintToString(boxTexts());
    EXPECT_FLOAT_EQ(cameraView().udef[0], 1.0f);
    EXPECT_FLOAT_EQ(cameraView().udef[1], 1.0f);
    EXPECT_TRUE(compileScript(script)); // the option is unchanged: both are added again
    EXPECT_STREQ(projectFiles().libraries, "z,,jpeg");
}

TEST_F(ScriptHostTest, AMissingLibraryIsSkippedSilently) {
    std::strcpy(projectFiles().libraries, "no_such_library_anywhere");
    EXPECT_TRUE(compileScript("void udPost(void) {}"));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(ScriptHostTest, AnUndefinedFunctionFailsTheLinkAfterTheDiagnostic) {
    EXPECT_FALSE(compileScript("void notDefinedAnywhere(void);\n"
                               "void udPost(void) { notDefinedAnywhere(); }\n"));
    const auto boxes = m_platform.messageBoxes();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes.front().caption, "Anim Script Compilation Error");
    EXPECT_NE(boxes.front().text.find("notDefinedAnywhere"), std::string::npos);
    EXPECT_EQ(boxes.back().text, "Error relocating memory. (Link Error)");
    EXPECT_EQ(boxes.back().caption, "Error in Animation Script");
    EXPECT_EQ(boxes.back().owner, WindowId::Main);
    EXPECT_EQ(entryPoint(UD_POST), nullptr);
    EXPECT_EQ(findGlobal("udPost"), nullptr);
}

TEST_F(ScriptHostTest, AnErrorOnLine12GivesOneRequestForLine12) {
    std::string script;
    for (int i = 1; i < 12; ++i)
        script += "int v" + std::to_string(i) + ";\n";
    script += "int broken = unknownName;\nint after;\n";
    EXPECT_FALSE(compileScript(script.c_str()));
    const auto boxes = m_platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Anim Script Compilation Error");
    EXPECT_EQ(boxes[0].text.rfind("<string>:12:", 0), 0u) << boxes[0].text;
    const auto requests = posted(MSG_GOTO_LINE);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].p1, 12);
    EXPECT_EQ(requests[0].p2, KIND_SCRIPT);
    EXPECT_EQ(requests[0].target, WindowId::Main);
}

TEST_F(ScriptHostTest, AWarningCallsUdSetupOnceAndLeavesNoScript) {
    // Calling a function without a declaration is only a warning.
    EXPECT_FALSE(compileScript(R"(
void udSetup(void *w, float *udef, float *a, int *f, char *line) { udef[0] += 1; puts(""); }
void udShutdown(void) { }
)"));
    EXPECT_FLOAT_EQ(cameraView().udef[0], 1.0f);
    ASSERT_FALSE(m_platform.messageBoxes().empty());
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Anim Script Compilation Error");
    EXPECT_NE(m_platform.messageBoxes()[0].text.find("warning"), std::string::npos);
    EXPECT_EQ(entryPoint(UD_SETUP), nullptr);
    EXPECT_EQ(entryPoint(UD_SHUTDOWN), nullptr);
}

TEST_F(ScriptHostTest, RecompilingCallsTheOldUdShutdownOnceBeforeTheNewScript) {
    ASSERT_TRUE(compileScript(COUNTING_SCRIPT));
    const CameraFlight& camera = cameraView();
    EXPECT_FLOAT_EQ(camera.udef[0], 1.0f);
    ASSERT_TRUE(compileScript(R"(
void udSetup(void *w, float *udef, float *a, int *f, char *line) { udef[3] = 5; }
)"));
    EXPECT_FLOAT_EQ(camera.udef[1], 1.0f); // udShutdown ran once
    EXPECT_FLOAT_EQ(camera.udef[2], 0.0f); // ...before the new udSetup
    EXPECT_FLOAT_EQ(camera.udef[3], 5.0f);
    ASSERT_TRUE(compileScript("")); // the second script has no udShutdown
    EXPECT_FLOAT_EQ(camera.udef[1], 1.0f);
}

TEST_F(ScriptHostTest, GlobalsAreFoundByNameWhileTheScriptIsLoaded) {
    ASSERT_TRUE(compileScript("int counter = 41; float speed = 2.5f;"));
    int* counter = static_cast<int*>(findGlobal("counter"));
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(*counter, 41);
    EXPECT_EQ(findGlobal("missing"), nullptr);
    unloadScript();
    EXPECT_EQ(findGlobal("counter"), nullptr);
}

TEST_F(ScriptHostTest, TheLargestScriptCompiles) {
    std::string script = "int total(void) { return 0";
    for (int i = 0; script.size() < TEXT_SIZE - 200; ++i)
        script += " + " + std::to_string(i % 97);
    script +=
        "; }\nvoid udSetup(void *w, float *u, float *a, int *f, char *l) { u[0] = total(); }\n";
    ASSERT_LE(script.size(), static_cast<size_t>(TEXT_SIZE - 1));
    EXPECT_TRUE(compileScript(script.c_str())) << ::testing::PrintToString(boxTexts());
    EXPECT_GT(cameraView().udef[0], 0.0f);
}

TEST_F(ScriptHostTest, TheDefaultScriptCompilesAndWritesItsDebugLine) {
    ASSERT_TRUE(compileScript(projectFiles().scriptText.get()))
        << ::testing::PrintToString(boxTexts());
    EXPECT_NE(std::string(scriptShared().debugText.get()).find("640 x 480"), std::string::npos);
}

TEST(ErrorLineScanner, ShaderLogsAndCompilerDiagnostics) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    scanErrorLines(WindowId::Main, KIND_FRAGMENT, "0(12) : error C0000: syntax error", '(', ')');
    scanErrorLines(WindowId::Main, KIND_SCRIPT, "no line here: at all", ':', ':');
    scanErrorLines(WindowId::Main, KIND_SCRIPT, "<string>:7: error: x: y", ':', ':');
    scanErrorLines(WindowId::Main, KIND_SCRIPT, ":123456789012:", ':', ':');
    const auto requests = headless.postedMessages();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].p1, 12);
    EXPECT_EQ(requests[0].p2, KIND_FRAGMENT);
    // A diagnostic without any number still sends the editor to the top.
    EXPECT_EQ(requests[1].p1, 0);
    // Only the line: the colons after it carry no number.
    EXPECT_EQ(requests[2].p1, 7);
    // At most nine characters are read; the colon after the rest opens an
    // empty field, which adds nothing after a line was found.
    EXPECT_EQ(requests[3].p1, 123456789);
}

} // namespace
} // namespace vortigo
