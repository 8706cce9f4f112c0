// Named parameters reach the picture: the compile binds them, the controls'
// and the script's values show in the next frame, a recompile keeps them,
// and an unusable annotation is reported on its line.
#include "core/ScriptShared.h"
#include "core/ShaderParams.h"
#include "render/RendererFixture.h"
#include "script/CompileNotes.h"
#include "script/DebugLog.h"

namespace vortigo {
namespace {

using ParamUniformsTest = test::RendererFixture;

constexpr const char* PARAM_FRAGMENT = R"(uniform vec3 tint; // @param colour 1,0,0 "Tint"
uniform float gain; // @param 0 1 1 "Gain"
uniform bool on; // @param true
uniform int level; // @param 0 4 0
uniform float power; // @param 16 2 8
void main() { gl_FragColor = vec4(on ? tint * gain + float(level) * 0.0625 : vec3(0.0), 1.0); }
)";

TEST_F(ParamUniformsTest, ControlValuesAndScriptValuesReachTheNextFrame) {
    openFrame(32, 32);
    setLayer(0, test::PASS_VERTEX, PARAM_FRAGMENT);
    ASSERT_TRUE(compileAndDraw(""));
    EXPECT_EQ(pixel(5, 5).r, 255);
    EXPECT_EQ(pixel(5, 5).g, 0);
    EXPECT_NE(debugTextCopy().find("Layer 1 fragment shader, line 5: the minimum 16 must be below "
                                   "the maximum 2"),
              std::string::npos)
        << debugTextCopy();

    ShaderParams& params = shaderParams();
    const float green[3] = {0.0f, 1.0f, 0.0f};
    const float half = 0.5f;
    const float two = 2.0f;
    ASSERT_EQ(params.set(0, "tint", green, 3), 3);
    ASSERT_EQ(params.set(0, "gain", &half, 1), 1);
    ASSERT_EQ(params.set(0, "level", &two, 1), 1);
    drawAgain();
    EXPECT_NEAR(pixel(5, 5).g, 160, 2); // 0.5 + 2 * 0.0625 of 255
    EXPECT_NEAR(pixel(5, 5).r, 32, 2);

    // A recompile keeps the values; the script animates one by name.
    ASSERT_TRUE(compileAndDraw(R"(
#include <vortigo.h>
void udPre(unsigned char *bg, float *flight) {
    float v = 0;
    SetParam(0, "level", &v);
    float off = 0;
    if (GetParam(0, "on", &off) == 1 && off == 1) { off = 0; SetParam(0, "on", &off); }
}
)"));
    EXPECT_EQ(pixel(5, 5).g, 0);
    EXPECT_EQ(pixel(5, 5).r, 0);
    ParamValues v{};
    ASSERT_EQ(params.get(0, "tint", v), 3);
    EXPECT_EQ(v[1], 1.0f);
    EXPECT_EQ(params.get(0, "power", v), -1); // refused: no parameter
}

// A compile started by a reload shows its error in no box (the editor keeps
// the keyboard) but still asks for the line; the next compile is loud again.
TEST_F(ParamUniformsTest, AQuietCompileKeepsItsErrorOutOfABoxForOneCompileOnly) {
    openFrame(32, 32);
    setLayer(0, test::PASS_VERTEX, "void main() { gl_FragColor = vec4(1.0) }\n");
    auto build = [this] {
        bool ok = true;
        onGl([&] {
            beginCompile();
            ok = buildLayerPrograms(glState(), WindowId::Main);
        });
        return ok;
    };
    setQuietCompile(true);
    EXPECT_FALSE(build());
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(takeCompileNote().rfind("Layer 1 Fragment Compilation Error: ", 0), 0u);
    EXPECT_FALSE(posted(MSG_GOTO_LINE).empty());
    EXPECT_NE(debugTextCopy().find("Layer 1 Fragment Compilation Error"), std::string::npos);
    EXPECT_FALSE(build());
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Layer 1 Fragment Compilation Error");
    EXPECT_EQ(takeCompileNote(), "");
}

} // namespace
} // namespace vortigo
