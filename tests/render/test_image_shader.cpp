// Pasted image shaders (mainImage) through the real layer build and frame
// renderer: recognition, the wrapper's inputs read back as colours, channels,
// the language the text is compiled as, and errors on the user's own lines.
#include "RendererFixture.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "render/ImageShader.h"

#include <ctime>

namespace vortigo {
namespace {

using ImageShaderTest = test::RendererFixture;
using test::PASS_VERTEX;

TEST(ImageShaderText, OnlyAMainImageWithoutMainIsAnImageShader) {
    EXPECT_TRUE(isImageShaderText("void mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }"));
    // A main in a comment or a prototype of mainImage decides nothing.
    EXPECT_TRUE(isImageShaderText("// void main() {}\n/* void main(){} */\n"
                                  "void mainImage(out vec4 c, in vec2 p)\n{ c = vec4(1.0); }"));
    EXPECT_FALSE(isImageShaderText("void mainImage(out vec4 c, in vec2 p);\n"
                                   "void main() { gl_FragColor = vec4(1.0); }"));
    // Both: an ordinary layer that happens to call mainImage.
    EXPECT_FALSE(isImageShaderText("void mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }\n"
                                   "void main() { mainImage(gl_FragColor, gl_FragCoord.xy); }"));
    EXPECT_FALSE(isImageShaderText("void main() { gl_FragColor = vec4(1.0); }"));
    EXPECT_FALSE(isImageShaderText(""));
}

TEST(ImageShaderText, TheWrapperKeepsTheUsersLinesAndDeclarationsOnce) {
    const std::string wrapped = wrapImageShader("#version 300 es\n"
                                                "uniform float iTime;\n"
                                                "void mainImage(out vec4 c, in vec2 p) {}\n");
    // The user's text starts at line 1 again; its #version line is blank.
    const size_t start = wrapped.find("#line 1\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(wrapped.find("#version 300"), std::string::npos);
    EXPECT_EQ(wrapped.find("#version 330"), 0u);
    EXPECT_EQ(wrapped.find("uniform float iTime;"), wrapped.rfind("uniform float iTime;"));
    EXPECT_GT(wrapped.find("uniform float iTime;"), start);
    EXPECT_LT(wrapped.find("uniform vec3 iResolution;"), start);
    EXPECT_NE(wrapped.find("mainImage(inout vec4 c"), std::string::npos);
}

// Each column of the frame shows some inputs as colours.
constexpr const char* INPUTS_SHADER = R"(#version 300 es
precision highp float;
uniform float iTime; // declared here as well: the wrapper must leave it out
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    int column = int(fragCoord.x) / 8;
    if (column == 0) fragColor = vec4(iResolution.xy / 255.0, iResolution.z, 1.0);
    else if (column == 1) fragColor = vec4(iTime, iTimeDelta * 10.0, iFrameRate / 255.0, 1.0);
    else if (column == 2) fragColor = vec4(fract(fragCoord), float(iFrame) / 255.0, 1.0);
    else if (column == 3) fragColor = vec4(iSampleRate / 44100.0, iDate.x / 4000.0,
                                           iDate.w < 86400.0 && iDate.y < 12.0 ? 1.0 : 0.0, 1.0);
    else if (column == 4) discard;
    else if (column == 5) return; // never written: black
    else fragColor = iMouse / 255.0;
})";

TEST_F(ImageShaderTest, EveryInputReachesTheShaderAndTheFrameCounts) {
    openFrame(56, 24);
    CameraFlight& camera = cameraFlight();
    captureState().aviFps = 20;
    camera.animationSpeed = 0.01F;
    camera.animTime = 0.04F; // iTime 0.04 / (0.01 x 20) = 0.2 seconds
    setImageShaderMouse(30.0F, 40.0F, true);
    setImageShaderMouse(50.0F, 60.0F, false);
    releaseImageShaderMouse();
    setLayer(0, "", INPUTS_SHADER); // no vertex text: the wrapper brings its own
    ASSERT_TRUE(compileAndDraw("", 3)) << m_platform.messageBoxes().size();
    setImageShaderMouse(0, 0, false);
    releaseImageShaderMouse();

    auto expect = [&](int x, test::Bgr wanted) {
        const test::Bgr got = pixel(x, 5);
        EXPECT_NEAR(got.r, wanted.r, 1) << "column " << x / 8;
        EXPECT_NEAR(got.g, wanted.g, 1) << "column " << x / 8;
        EXPECT_NEAR(got.b, wanted.b, 1) << "column " << x / 8;
    };
    expect(1, {255, 24, 56});
    expect(9, {20, 128, 51});  // 0.2 s; 1 / 20 s x 10; 20 frames/s
    expect(17, {2, 128, 128}); // pixel centres at .5; third frame since the build
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &local);
    expect(25, {255, (local.tm_year + 1900) * 255 / 4000, 255});
    expect(33, {0, 0, 0}); // discard leaves the cleared background
    expect(41, {0, 0, 0});
    expect(49, {0, 60, 50}); // released: the press point turns negative
}

// A background of 16 x 12 texels shown at one texel a pixel through
// iChannel0, the right way up and mipmapped; iChannel1 (no background)
// samples black.
TEST_F(ImageShaderTest, AChannelShowsItsLayersBackgroundUpright) {
    openFrame(16, 12);
    LayerSlot& background = projectFiles().layers[0];
    background.backgroundPixels = GuardedBytes::allocate(16 * 12 * 4);
    background.backgroundWidth = 16;
    background.backgroundHeight = 12;
    background.backgroundChanged = 1;
    // A picture's rows come top row first, as the decoders deliver them:
    // blue counts columns, green rows from the bottom.
    for (int row = 0; row < 12; ++row)
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = &background.backgroundPixels[static_cast<size_t>(row * 16 + x) * 4];
            p[0] = static_cast<uint8_t>(x * 16);
            p[1] = static_cast<uint8_t>((11 - row) * 20);
            p[2] = 200;
        }
    // The channel's layer has no program of its own; the shader is layer 2's.
    setLayer(0, "", "");
    setLayer(1, "", R"(
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = texture(iChannel0, fragCoord / iResolution.xy);
    // Mipmapped: the smallest level is the picture's mean, not a corner.
    if (iChannelResolution[0] != vec3(16.0, 12.0, 1.0) || texture(iChannel1, vec2(0.5)).rgb != vec3(0.0) ||
        textureLod(iChannel0, vec2(0.1), 4.0).g < 0.3)
        fragColor = vec4(1.0, 0.0, 1.0, 1.0);
})");
    ASSERT_TRUE(compileAndDraw(""));
    for (const auto& [x, y] :
         {std::pair{0, 0}, std::pair{15, 0}, std::pair{3, 11}, std::pair{9, 6}}) {
        const test::Bgr got = pixel(x, y);
        EXPECT_EQ(got.b, x * 16) << x << "," << y;
        EXPECT_EQ(got.g, y * 20) << x << "," << y;
        EXPECT_EQ(got.r, 200) << x << "," << y;
    }
}

// The language of pasted texts: unsigned ints, switch, const arrays, structs,
// overloads, texelFetch and textureLod, bit operations and packing.
TEST_F(ImageShaderTest, TheTextIsCompiledInThePastedDialect) {
    openFrame(8, 8);
    setLayer(0, PASS_VERTEX, R"(precision mediump float;
struct Ray { vec3 o; vec3 d; };
const float levels[3] = float[3](0.25, 0.5, 0.75);
float pick(float a) { return a; }
float pick(int a) { return float(a) / 8.0; }
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    Ray r = Ray(vec3(0.0), vec3(0.0, 0.0, 1.0));
    uint bits = 0xF0u >> 4u;
    float g = 0.0;
    switch (int(bits)) {
    case 15: g = levels[1]; break;
    default: g = 1.0;
    }
    vec4 t = texelFetch(iChannel0, ivec2(0), 0) + textureLod(iChannel0, vec2(0.5), 0.0);
    uint h = packHalf2x16(vec2(1.0, 0.0));
    fragColor = vec4(pick(2) + t.r, g + r.d.x, unpackHalf2x16(h).x * levels[0], 1.0);
})");
    ASSERT_TRUE(compileAndDraw(""))
        << (m_platform.messageBoxes().empty() ? std::string() : m_platform.messageBoxes()[0].text);
    EXPECT_NEAR(pixel(3, 3).r, 64, 1);
    EXPECT_NEAR(pixel(3, 3).g, 128, 1);
    EXPECT_NEAR(pixel(3, 3).b, 64, 1);
}

// An error on line 3 of the pasted text (after a #version and a precision
// line) is reported, and the editor sent, to line 3.
TEST_F(ImageShaderTest, AnErrorIsReportedOnTheUsersLine) {
    openFrame(8, 8);
    setLayer(3, PASS_VERTEX,
             "#version 300 es\nprecision highp float;\nvoid mainImage(out vec4 c, "
             "in vec2 p) { c = undeclared; }\n");
    EXPECT_FALSE(compileAndDraw(""));
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Layer 4 Fragment Compilation Error");
    EXPECT_NE(m_platform.messageBoxes()[0].text.find("0:3("), std::string::npos)
        << m_platform.messageBoxes()[0].text;
    const auto posted = m_platform.postedMessages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, MSG_GOTO_LINE);
    EXPECT_EQ(posted[0].p1, 3);
    EXPECT_EQ(posted[0].p2, KIND_FRAGMENT);
}

} // namespace
} // namespace vortigo
