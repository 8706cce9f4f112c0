// One frame at a time on a real context: uniforms, the layer walk the
// script steers, layer requests, faults, depth of field and shader logs.
#include "RendererFixture.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ScriptShared.h"
#include "script/ScriptCalls.h"

#include <cmath>

namespace vortigo {
namespace {

using test::PASS_VERTEX;
using FrameRendererTest = test::RendererFixture;

void expectNear(test::Bgr actual, test::Bgr expected) {
    EXPECT_NEAR(actual.b, expected.b, 1);
    EXPECT_NEAR(actual.g, expected.g, 1);
    EXPECT_NEAR(actual.r, expected.r, 1);
}

int byte(float v) {
    return static_cast<int>(std::lround(v * 255.0f));
}

TEST_F(FrameRendererTest, EveryUniformReachesTheShader) {
    openFrame(64, 48);
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    camera.animTime = 0.5f;
    files.maxDepth = 0.25f;
    camera.xCenter = 0.1f;
    camera.yCenter = 0.2f;
    camera.zLens = 0.3f;
    camera.cameraQuat[0] = 0.4f;
    camera.cameraQuat[1] = 0.6f;
    camera.cameraQuat[2] = 0.8f;
    camera.udef[31] = 0.75f;
    // The picture is split into columns, each showing some uniforms.
    setLayer(0, PASS_VERTEX, R"(
uniform ivec2 size; uniform float time; uniform vec3 eye; uniform vec4 rot;
uniform float udef[32]; uniform float maxDepth; uniform int superSample;
void main() {
    float column = floor(gl_FragCoord.x / 16.0);
    if (column < 1.0) gl_FragColor = vec4(float(size.x) / 255.0, float(size.y) / 255.0, time, 1.0);
    else if (column < 2.0) gl_FragColor = vec4(eye, 1.0);
    else if (column < 3.0) gl_FragColor = vec4(rot.xyz, 1.0);
    else gl_FragColor = vec4(udef[31], maxDepth, float(superSample), 1.0);
})");
    ASSERT_TRUE(compileAndDraw("", 1, 1))
        << testing::PrintToString(m_platform.messageBoxes().size());
    expectNear(pixel(5, 5), {byte(0.5f), 48, 64});
    expectNear(pixel(20, 30), {byte(0.3f), byte(0.2f), byte(0.1f)});
    expectNear(pixel(40, 47), {byte(0.8f), byte(0.6f), byte(0.4f)});
    expectNear(pixel(63, 0), {255, byte(0.25f), byte(0.75f)});
    drawAgain(0);
    EXPECT_EQ(pixel(63, 0).b, 0); // superSample follows the pass
}

// Four layers that draw nothing visible; the walk shows which were drawn.
void fourLayers(test::RendererFixture& fixture) {
    for (int i = 0; i < LAYER_COUNT; ++i)
        fixture.setLayer(i, test::PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0); }");
}

constexpr const char* SKIP_SCRIPT_HEAD = R"(
#include <vortigo.h>
static int *frame;
void udSetup(void *w, float *u, float *a, int *f, char *l) { frame = f; }
void udPre(unsigned char *b, float *fl) { )";

std::string skipScript(const std::string& body) {
    return SKIP_SCRIPT_HEAD + body + " }\n";
}

TEST_F(FrameRendererTest, TheScriptSteersTheLayerWalk) {
    openFrame(16, 16);
    fourLayers(*this);
    ASSERT_TRUE(compileAndDraw(""));
    EXPECT_EQ(walk(), (std::vector<int>{0, 1, 2, 3}));

    ASSERT_TRUE(compileAndDraw(skipScript("frame[FI_LAYER_SKIP] = 1;").c_str()));
    EXPECT_EQ(walk(), (std::vector<int>{0, 2}));

    ASSERT_TRUE(
        compileAndDraw(skipScript("if (frame[FI_LAYER] == 1) frame[FI_LAYER_SKIP] = 1;").c_str()));
    EXPECT_EQ(walk(), (std::vector<int>{0, 2, 3}));

    ASSERT_TRUE(
        compileAndDraw(skipScript("if (frame[FI_LAYER] == 2) frame[FI_LAYER_SKIP] = 2;").c_str()));
    EXPECT_EQ(walk(), (std::vector<int>{0, 1}));

    // A skip below the first layer ends the frame instead of reading outside.
    ASSERT_TRUE(compileAndDraw(skipScript("frame[FI_LAYER_SKIP] = -7;").c_str()));
    EXPECT_EQ(walk(), (std::vector<int>{0}));
}

TEST_F(FrameRendererTest, RepeatingALayerEndsAfter1001Steps) {
    openFrame(8, 8);
    fourLayers(*this);
    ASSERT_TRUE(compileAndDraw(skipScript("frame[FI_LAYER_SKIP] = -1;").c_str()));
    const auto steps = walk();
    EXPECT_EQ(steps.size(), 1001u);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), 0), 1001);
}

TEST_F(FrameRendererTest, AnInactiveLayerIsSteppedOverWithTheSkipStillSet) {
    openFrame(8, 8);
    fourLayers(*this);
    projectFiles().layers[2].fragmentText[0] = 0; // inactive
    // From layer 1 the skip lands on the inactive layer 3, where it applies
    // once more and ends the walk before layer 4.
    ASSERT_TRUE(
        compileAndDraw(skipScript("if (frame[FI_LAYER] == 1) frame[FI_LAYER_SKIP] = 1;").c_str()));
    EXPECT_EQ(walk(), (std::vector<int>{0}));
}

TEST_F(FrameRendererTest, LaterLayersDrawOverEarlierOnesOnlyWhereTheyAreNearer) {
    openFrame(16, 16);
    setLayer(0, PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }");
    setLayer(2, PASS_VERTEX,
             "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0);"
             " gl_FragDepth = gl_FragCoord.x < 8.0 ? 0.1 : 0.9; }");
    ASSERT_TRUE(compileAndDraw(""));
    expectNear(pixel(2, 2), {0, 255, 0});
    expectNear(pixel(12, 2), {0, 0, 255});
}

TEST_F(FrameRendererTest, NoRectangleFlagKeepsTheProgramCurrentForUdPost) {
    openFrame(16, 16);
    setLayer(0, PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0); }");
    ASSERT_TRUE(compileAndDraw(R"(
#include <vortigo.h>
void glGetIntegerv(unsigned int name, int *value);
static int *frame; static float *udef;
void udSetup(void *w, float *u, float *a, int *f, char *l) { frame = f; udef = u; }
void udPre(unsigned char *b, float *fl) { frame[FI_LAYER_FLAGS] = LAYER_FLAG_NO_RECTANGLE; }
void udPost(void) { int program = 0; glGetIntegerv(0x8B8D, &program); udef[9] = program; }
)"));
    expectNear(pixel(8, 8), {0, 0, 0});
    EXPECT_FLOAT_EQ(cameraView().udef[9], static_cast<float>(glState().layers[0].program));
    EXPECT_NE(glState().layers[0].program, 0u);
}

// A script that binds a layer's background itself finds the texture names
// in FrameInfo from udSetup on; they go with the context and come back with
// the next one.
TEST_F(FrameRendererTest, TheScriptReadsTheNamesOfTheLayersBackgroundTextures) {
    openFrame(8, 8);
    setLayer(0, PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0); }");
    ASSERT_TRUE(compileAndDraw(R"(
#include <vortigo.h>
static int *frame; static float *udef;
void udSetup(void *w, float *u, float *a, int *f, char *l) {
    int n; frame = f; udef = u;
    for (n = 0; n < 4; ++n) udef[n] = frame[FI_LAYER_TEXTURE(n)];
}
void udPre(unsigned char *b, float *fl) {
    int n; for (n = 0; n < 4; ++n) udef[4 + n] = frame[FI_LAYER_TEXTURE(n)];
}
)"));
    const CameraFlight& camera = cameraView();
    ScriptShared& blocks = scriptShared();
    for (int n = 0; n < LAYER_COUNT; ++n) {
        const GLuint name = glState().layerTexture[n];
        EXPECT_NE(name, 0u);
        EXPECT_EQ(camera.udef[n], static_cast<float>(name)) << n;
        EXPECT_EQ(camera.udef[4 + n], static_cast<float>(name)) << n;
    }
    onGl([] { releaseGlContext(glState()); });
    for (int n = 0; n < LAYER_COUNT; ++n)
        EXPECT_EQ(blocks.frameInfo.layerTexture[n], 0u) << n;
    openFrame(8, 8);
    for (int n = 0; n < LAYER_COUNT; ++n) {
        EXPECT_NE(blocks.frameInfo.layerTexture[n], 0u) << n;
        EXPECT_EQ(blocks.frameInfo.layerTexture[n], glState().layerTexture[n]) << n;
    }
}

TEST_F(FrameRendererTest, UdPreFaultingOnTheFirstFrameIsReportedOnce) {
    openFrame(16, 16);
    setLayer(0, PASS_VERTEX, "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }");
    ASSERT_TRUE(compileAndDraw(R"(
static volatile int zero;
void udPre(unsigned char *b, float *fl) { zero = 1 / zero; }
void udPost(void) { }
void udPostFrame(unsigned char *p) { }
void udResize(void) { }
)",
                               3));
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].text, "udPre caused an exception.");
    int keys = 0;
    for (const auto& m : m_platform.postedMessages())
        keys += m.type == MSG_KEYDOWN && m.p1 == 'X';
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(entryPoint(UD_PRE), nullptr);
    EXPECT_EQ(entryPoint(UD_POST_FRAME), nullptr);
    EXPECT_NE(entryPoint(UD_RESIZE), nullptr);
    expectNear(pixel(3, 3), {255, 0, 0}); // the layer is still drawn
}

// One-pixel black and white columns; the lower half lies at the focus depth
// and stays sharp, the upper half lies far from it and blurs to grey.
TEST_F(FrameRendererTest, DepthOfFieldBlursWhatIsOutOfFocus) {
    openFrame(32, 32);
    ProjectFiles& files = projectFiles();
    files.dofEnabled = 1;
    files.dofOffset = 0.1f;
    files.dofScale = 2.0f;
    setLayer(0, PASS_VERTEX, R"(
void main() {
    float white = mod(floor(gl_FragCoord.x), 2.0);
    gl_FragColor = vec4(white, white, white, 1.0);
    gl_FragDepth = gl_FragCoord.y < 16.0 ? 0.1 : 0.9;
})");
    ASSERT_TRUE(compileAndDraw("", 2));
    EXPECT_EQ(files.dofEnabled, 1);
    EXPECT_NE(glState().dofProgram, 0u);
    EXPECT_EQ(glState().dofBufferWidth, 32);
    expectNear(pixel(10, 4), {0, 0, 0});
    expectNear(pixel(11, 4), {255, 255, 255});
    for (int x : {10, 11}) {
        const test::Bgr blurred = pixel(x, 28);
        EXPECT_NEAR(blurred.g, 128, 8) << "column " << x;
        EXPECT_NEAR(blurred.b, blurred.r, 1) << "column " << x;
    }
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(FrameRendererTest, ABrokenBuiltInProgramReportsLayer101WithoutLineRequests) {
    openFrame(8, 8);
    bool ok = true;
    onGl([&] {
        GlState& gl = glState();
        const GLuint program = gl.gl.glCreateProgram();
        const GLuint vertex = gl.gl.glCreateShader(GL_VERTEX_SHADER);
        const GLuint fragment = gl.gl.glCreateShader(GL_FRAGMENT_SHADER);
        ok = compileAndLinkProgram(gl, WindowId::None, program, vertex, fragment, DOF_VERTEX_SHADER,
                                   "void main() { broken }", DOF_LAYER_INDEX, nullptr);
    });
    EXPECT_FALSE(ok);
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Layer 101 Fragment Compilation Error");
    EXPECT_TRUE(m_platform.postedMessages().empty());
}

TEST_F(FrameRendererTest, AFragmentErrorInTheThirdLayerNamesItAndItsLine) {
    openFrame(8, 8);
    setLayer(0, PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0); }");
    setLayer(2, PASS_VERTEX, "void main() {\n  gl_FragColor = vec4(1.0);\n  oops;\n}\n");
    EXPECT_FALSE(compileAndDraw(""));
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Layer 3 Fragment Compilation Error");
    const auto posted = m_platform.postedMessages();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted[0].type, MSG_GOTO_LINE);
    EXPECT_EQ(posted[0].p1, 3);
    EXPECT_EQ(posted[0].p2, KIND_FRAGMENT);
    EXPECT_EQ(glState().layers[0].program, 0u); // the whole build is released
    EXPECT_TRUE(m_platform.beeps().empty());
}

TEST_F(FrameRendererTest, EmptyLayersBuildAndBeep) {
    openFrame(8, 8);
    setLayer(0, "", "");
    ASSERT_TRUE(compileAndDraw(""));
    ASSERT_EQ(m_platform.beeps().size(), 1u);
    EXPECT_EQ(m_platform.beeps()[0].hz, 240);
    EXPECT_TRUE(walk().empty());
}

TEST(ShaderLog, MesaAndOtherDriversNameTheLine) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    scanShaderLog(WindowId::Main, KIND_FRAGMENT,
                  "0:12(22): error: syntax error\n0:14(3): error: `x' undeclared\n");
    scanShaderLog(WindowId::Main, KIND_VERTEX, "0(7) : error C1008: undefined variable");
    const auto posted = headless.postedMessages();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].p1, 12);
    EXPECT_EQ(posted[1].p1, 14);
    EXPECT_EQ(posted[2].p1, 7);
    EXPECT_EQ(posted[2].p2, KIND_VERTEX);
}

} // namespace
} // namespace vortigo
