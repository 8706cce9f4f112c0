// Real faults raised by compiled scripts: every entry point's reaction, the
// script's ways of trying to end the process, and faults of our own.
#include "core/CameraFlight.h"
#include "core/ScriptShared.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"
#include "script/ScriptCalls.h"
#include "script/ScriptFixture.h"

#include <csignal>

namespace vortigo {
namespace {

using ScriptFaultTest = test::ScriptFixture;

constexpr const char* CAPTION = "Error in Animation Script";

// Every per-frame entry point, and a udShutdown that counts in udef[1].
std::string scriptFaultingIn(const std::string& entry, const std::string& fault) {
    auto body = [&](const std::string& name) { return name == entry ? fault : std::string(); };
    return "static float *u; static volatile int zero; static int *volatile nowhere;\n"
           "int recurse(int n) { volatile int pad[64]; pad[0] = n; return recurse(n + 1) + pad[0]; "
           "}\n"
           "void exit(int); void abort(void);\n"
           "void udSetup(void *w, float *udef, float *a, int *f, char *l) { u = udef; " +
           body("udSetup") +
           " }\n"
           "void udShutdown(void) { u[1] += 1; " +
           body("udShutdown") +
           " }\n"
           "void udPre(unsigned char *b, float *f) { " +
           body("udPre") +
           " }\n"
           "void udPost(void) { " +
           body("udPost") +
           " }\n"
           "void udPostFrame(unsigned char *p) { " +
           body("udPostFrame") +
           " }\n"
           "void udResize(void) { " +
           body("udResize") + " }\n";
}

const char* const DIVIDE = "u[9] = 1 / zero;";
const char* const WRITE_NULL = "*nowhere = 1;";

void expectOneBox(const HeadlessPlatform& platform, const std::string& text, WindowId owner) {
    const auto boxes = platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, CAPTION);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
}

void expectPerFrameEntriesGone() {
    EXPECT_EQ(entryPoint(UD_PRE), nullptr);
    EXPECT_EQ(entryPoint(UD_POST), nullptr);
    EXPECT_EQ(entryPoint(UD_POST_FRAME), nullptr);
    EXPECT_NE(entryPoint(UD_SETUP), nullptr);
    EXPECT_NE(entryPoint(UD_SHUTDOWN), nullptr);
}

TEST_F(ScriptFaultTest, DivisionByZeroInUdPreStopsTheFlightAndDropsTheFrameEntries) {
    ASSERT_TRUE(compileScript(scriptFaultingIn("udPre", DIVIDE).c_str()));
    callUdPre(0, 0);
    expectOneBox(m_platform, "udPre caused an exception.", WindowId::None);
    const auto keys = posted(MSG_KEYDOWN);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].target, WindowId::Trace);
    EXPECT_EQ(keys[0].p1, 0x58);
    expectPerFrameEntriesGone();
    EXPECT_NE(entryPoint(UD_RESIZE), nullptr);
    callUdPre(0, 0); // later frames go on without the script
    EXPECT_EQ(m_platform.messageBoxes().size(), 1u);
    // The next compile still calls the faulted script's udShutdown.
    ASSERT_TRUE(compileScript(""));
    EXPECT_FLOAT_EQ(cameraView().udef[1], 1.0f);
}

TEST_F(ScriptFaultTest, NullWriteInUdPostReactsLikeUdPre) {
    ASSERT_TRUE(compileScript(scriptFaultingIn("udPost", WRITE_NULL).c_str()));
    callUdPost(0);
    expectOneBox(m_platform, "udPost caused an exception.", WindowId::None);
    EXPECT_EQ(posted(MSG_KEYDOWN).size(), 1u);
    expectPerFrameEntriesGone();
}

TEST_F(ScriptFaultTest, FaultInUdPostFrameIsOwnedByTheMainWindow) {
    ASSERT_TRUE(compileScript(scriptFaultingIn("udPostFrame", WRITE_NULL).c_str()));
    uint8_t frame[3] = {};
    callUdPostFrame(frame);
    expectOneBox(m_platform, "udPostFrame caused an exception.", WindowId::Main);
    EXPECT_TRUE(posted(MSG_KEYDOWN).empty());
    expectPerFrameEntriesGone();
}

TEST_F(ScriptFaultTest, FaultInUdResizeAlsoDropsUdResize) {
    ASSERT_TRUE(compileScript(scriptFaultingIn("udResize", DIVIDE).c_str()));
    callUdResize();
    expectOneBox(m_platform, "udResize caused an exception.", WindowId::None);
    expectPerFrameEntriesGone();
    EXPECT_EQ(entryPoint(UD_RESIZE), nullptr);
}

TEST_F(ScriptFaultTest, FaultInUdSetupFailsTheCompile) {
    EXPECT_FALSE(compileScript(scriptFaultingIn("udSetup", WRITE_NULL).c_str()));
    expectOneBox(m_platform, "udSetup caused an exception.", WindowId::Main);
    EXPECT_EQ(entryPoint(UD_SHUTDOWN), nullptr);
    EXPECT_TRUE(compileScript("void udPost(void) {}")); // the next good compile works
}

TEST_F(ScriptFaultTest, FaultInTheOldUdShutdownLetsTheCompileGoOn) {
    ASSERT_TRUE(compileScript(scriptFaultingIn("udShutdown", WRITE_NULL).c_str()));
    EXPECT_TRUE(compileScript("void udPost(void) {}"));
    expectOneBox(m_platform, "udShutdown caused an exception.", WindowId::Main);
    EXPECT_NE(entryPoint(UD_POST), nullptr);
}

TEST_F(ScriptFaultTest, ExitAbortAndRunawayRecursionAreFaultsOfTheEntryPoint) {
    for (const char* fault : {"exit(3);", "abort();", "u[9] = recurse(0);"}) {
        SCOPED_TRACE(fault);
        m_platform.clearRecords();
        ASSERT_TRUE(compileScript(scriptFaultingIn("udPre", fault).c_str()));
        callUdPre(1, 0);
        expectOneBox(m_platform, "udPre caused an exception.", WindowId::None);
        expectPerFrameEntriesGone();
    }
}

TEST_F(ScriptFaultTest, NonsenseInTheSharedBlocksCannotBreakTheHost) {
    ASSERT_TRUE(compileScript(R"(
void udSetup(void *w, float *u, float *anim, int *frame, char *line) {
    int i;
    for (i = 2; i < 256; i++) frame[i] = -123456789;
    for (i = 0; i < 16; i++) anim[i] = 1e30f;
    for (i = 0; i < 260; i++) line[i] = 'x';
}
)"));
    // The unterminated debug line is cut at its last byte.
    EXPECT_EQ(std::strlen(scriptShared().debugText.get()), 259u);
    EXPECT_EQ(scriptShared().scratchLine[0], 0);
}

TEST_F(ScriptFaultTest, CameraSnapshotWrittenInUdPreMovesTheCamera) {
    ASSERT_TRUE(compileScript(R"(
#include <vortigo.h>
static float *anim; static int *frame;
void udSetup(void *w, float *u, float *a, int *f, char *l) { anim = a; frame = f; }
void udPre(unsigned char *b, float *fl) { anim[AI_CAMERA_X] = 1.0f; frame[FI_LAYER_SKIP] = 5; }
void udPost(void) { anim[AI_CAMERA_Y] = 7.0f; }
)"));
    const CameraFlight& camera = cameraView();
    ScriptShared& blocks = scriptShared();
    callUdPre(2, 1);
    EXPECT_FLOAT_EQ(camera.xCenter, 1.0f);
    EXPECT_EQ(blocks.frameInfo.layer, 3);
    EXPECT_EQ(blocks.frameInfo.pass, 1);
    EXPECT_EQ(blocks.frameInfo.layerSkip, 5);
    clearLayerRequests();
    EXPECT_EQ(blocks.frameInfo.layerSkip, 0);
    callUdPost(2);
    callUdPre(2, 0);
    EXPECT_FLOAT_EQ(camera.yCenter, 0.0001f); // written outside udPre: no effect
}

TEST_F(ScriptFaultTest, DebugLinesGoToTheEndOfTheDebugOutput) {
    ASSERT_TRUE(compileScript(R"(
static char *line; static int calls;
void udSetup(void *w, float *u, float *a, int *f, char *l) { line = l; }
void udPost(void) { if (++calls == 2) { line[0] = 'h'; line[1] = 'i'; line[2] = 0; } }
)"));
    std::strcpy(scriptShared().debugText.get(), "start ");
    callUdPost(0); // an empty line adds nothing
    EXPECT_STREQ(scriptShared().debugText.get(), "start ");
    callUdPost(0);
    EXPECT_STREQ(scriptShared().debugText.get(), "start hi");
}

TEST(DebugLog, AFullLogDropsTheOldestCharactersFirst) {
    std::vector<char> log(TEXT_SIZE, 'a');
    log[0] = 'b';
    log[12] = 'c';
    log[TEXT_SIZE - 1] = 0; // 65535 characters: full
    ASSERT_TRUE(appendToLog(log.data(), "0123456789", TEXT_SIZE));
    EXPECT_EQ(std::strlen(log.data()), TEXT_SIZE - 1 - 12 + 10);
    EXPECT_EQ(log[0], 'c'); // twelve characters went
    EXPECT_STREQ(log.data() + std::strlen(log.data()) - 10, "0123456789");

    std::vector<char> small = {'x', 'y', 'z', 0, 0, 0, 0, 0};
    EXPECT_TRUE(appendToLog(small.data(), "abcd", 8)); // 3 + 4 < 8: plain append
    EXPECT_STREQ(small.data(), "xyzabcd");
    EXPECT_TRUE(appendToLog(small.data(), "ef", 8)); // drops 4 of 7
    EXPECT_STREQ(small.data(), "bcdef");
    EXPECT_FALSE(appendToLog(small.data(), "12345678", 8));
    EXPECT_FALSE(appendToLog(nullptr, "a", 8));
}

TEST(LayerWalk, LayerSkipSteersTheNextLayer) {
    EXPECT_EQ(nextLayerIndex(0, 0), 1);
    EXPECT_EQ(nextLayerIndex(0, 2), 3);
    EXPECT_EQ(nextLayerIndex(2, -1), 2);
    EXPECT_EQ(nextLayerIndex(3, 0), -1);
    EXPECT_EQ(nextLayerIndex(0, -2), -1); // would go below layer 1: the frame ends
    EXPECT_EQ(nextLayerIndex(1, INT32_MAX), -1);
    EXPECT_EQ(nextLayerIndex(1, INT32_MIN), -1);
}

// An address no mapping holds (not null, which the sanitizer would flag
// before the fault it is meant to raise).
void writeThroughNull(void*) {
    static volatile uintptr_t unmapped = 16;
    volatile int* nowhere = reinterpret_cast<volatile int*>(unmapped);
    *nowhere = 1;
}

TEST(FaultGuard, NestedGuardsAndTheOwnFloatingPointEnvironment) {
    int inner = -1;
    const int outer = runGuarded(
        [](void* context) { *static_cast<int*>(context) = runGuarded(writeThroughNull, nullptr); },
        &inner);
    EXPECT_EQ(inner, SIGSEGV);
    EXPECT_EQ(outer, 0);
    EXPECT_FALSE(insideGuard());
}

TEST(FaultGuardDeathTest, AFaultOutsideAnyGuardStillCrashes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            runGuarded([](void*) {}, nullptr); // handlers installed
            writeThroughNull(nullptr);
        },
        "");
}

} // namespace
} // namespace vortigo
