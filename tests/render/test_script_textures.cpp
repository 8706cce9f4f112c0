#include "render/GlContext.h"
#include "render/ScriptTextures.h"

#include <climits>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace vortigo {
namespace {

// Runs `body` on a thread of its own with glState()'s context current, as
// on the render thread, and releases the context afterwards even when an
// assertion in `body` returned early.
template <typename F> void withGl(F&& body) {
    std::thread thread([&] {
        GlState& gl = glState();
        ASSERT_TRUE(createGlContext(gl, 64, 64, WindowId::None)) << lastGlContextError();
        glGetError();
        body(gl);
        releaseGlContext(gl);
        resetScriptTextureState();
    });
    thread.join();
}

GLint texParam(GLenum target, GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(target, name, &value);
    return value;
}

GLint levelParam(GLenum target, GLint level, GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(target, level, name, &value);
    return value;
}

GLint integer(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

TEST(ScriptTexData, OneRowMakesA1DTextureOnUnit1WithNearestFiltering) {
    withGl([](GlState& gl) {
        std::vector<uint8_t> texels(256 * 3);
        for (size_t i = 0; i < texels.size(); ++i)
            texels[i] = static_cast<uint8_t>(i * 7);
        ASSERT_EQ(setupDataTex(texels.data(), 256, 1, 3, 0, 2), 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_NE(gl.dataTexture, 0u);
        EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE1);
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_1D), GLint(gl.dataTexture));
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_1D));
        EXPECT_EQ(levelParam(GL_TEXTURE_1D, 0, GL_TEXTURE_WIDTH), 256);
        EXPECT_EQ(texParam(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER), GL_NEAREST);
        EXPECT_EQ(texParam(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
        GLint env = 0;
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
        EXPECT_EQ(env, GL_REPLACE);

        std::vector<uint8_t> back(texels.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_1D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back, texels);

        // Any filter other than 2 is linear.
        ASSERT_EQ(setupDataTex(texels.data(), 256, 1, 3, 0, 7), 0);
        EXPECT_EQ(texParam(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    });
}

TEST(ScriptTexData, ChangingDimensionalityReplacesTheTexture) {
    withGl([](GlState& gl) {
        std::vector<uint8_t> texels(256 * 16 * 4, 0x40);
        ASSERT_EQ(setupDataTex(texels.data(), 256, 1, 4, 0, 0), 0);

        ASSERT_EQ(setupDataTex(texels.data(), 256, 16, 4, 0, 0), 0);
        // Rebinding the 1D name to 2D would be GL_INVALID_OPERATION.
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), GLint(gl.dataTexture));
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_1D), 0) << "the 1D texture was not deleted";
        EXPECT_EQ(levelParam(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH), 256);
        EXPECT_EQ(levelParam(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT), 16);

        // Same dimensionality again keeps the name; back to 1D replaces it.
        const GLuint twoD = gl.dataTexture;
        ASSERT_EQ(setupDataTex(texels.data(), 8, 4, 4, 0, 0), 0);
        EXPECT_EQ(gl.dataTexture, twoD);
        ASSERT_EQ(setupDataTex(texels.data(), 32, 0, 4, 0, 0), 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_1D), GLint(gl.dataTexture));
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
        EXPECT_EQ(levelParam(GL_TEXTURE_1D, 0, GL_TEXTURE_WIDTH), 32);
    });
}

TEST(ScriptTexData, SingleFloatChannelLandsInRedOnly) {
    withGl([](GlState&) {
        const std::vector<float> texels = {0.25f, -2.0f, 1.5f, 1000.0f};
        ASSERT_EQ(setupDataTex(texels.data(), 4, 1, 1, 1, 0), 0);
        std::vector<float> back(4 * 3, -1.0f);
        glGetTexImage(GL_TEXTURE_1D, 0, GL_RGB, GL_FLOAT, back.data());
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(back[i * 3 + 0], texels[i]) << "texel " << i;
            EXPECT_EQ(back[i * 3 + 1], 0.0f);
            EXPECT_EQ(back[i * 3 + 2], 0.0f);
        }
        EXPECT_EQ(levelParam(GL_TEXTURE_1D, 0, GL_TEXTURE_RED_TYPE), GL_FLOAT);

        // Bytes for a single channel: also red only, normalised.
        const uint8_t bytes[3] = {255, 0, 51};
        ASSERT_EQ(setupDataTex(bytes, 3, 1, 2, 0, 0), 0);
        uint8_t rgb[9] = {};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_1D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        EXPECT_EQ(rgb[0], 255);
        EXPECT_EQ(rgb[1], 0);
        EXPECT_EQ(rgb[6], 51);
        EXPECT_EQ(rgb[7], 0);
    });
}

TEST(ScriptTexData, RowsAreReadTightlyPackedWhateverUnpackStateWasLeft) {
    withGl([](GlState&) {
        // 3 RGB texels = 9-byte rows; with the default 4-byte alignment the
        // second row would be read from byte 12, past this 18-byte buffer.
        std::vector<uint8_t> texels(3 * 2 * 3);
        for (size_t i = 0; i < texels.size(); ++i)
            texels[i] = static_cast<uint8_t>(10 + i);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 5);
        ASSERT_EQ(setupDataTex(texels.data(), 3, 2, 3, 0, 0), 0);
        std::vector<uint8_t> back(texels.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back, texels);
        // What was set before is left as it was.
        EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 8);
        EXPECT_EQ(integer(GL_UNPACK_ROW_LENGTH), 5);
    });
}

TEST(ScriptTexData, BadArgumentsAreRefusedAndChangeNothing) {
    withGl([](GlState& gl) {
        const uint8_t texels[16] = {};
        EXPECT_EQ(setupDataTex(nullptr, 4, 1, 3, 0, 0), -1);
        EXPECT_EQ(setupDataTex(texels, 0, 1, 3, 0, 0), -1);
        EXPECT_EQ(setupDataTex(texels, -4, 1, 3, 0, 0), -1);
        EXPECT_EQ(setupDataTex(texels, INT_MAX, INT_MAX, 4, 1, 0), -1);
        EXPECT_EQ(gl.dataTexture, 0u);

        const auto activeTexture = gl.gl.glActiveTexture;
        gl.gl.glActiveTexture = nullptr;
        EXPECT_EQ(setupDataTex(texels, 4, 1, 3, 0, 0), -1);
        EXPECT_EQ(setActiveTex(GL_TEXTURE3), -1);
        EXPECT_EQ(gl.dataTexture, 0u);
        gl.gl.glActiveTexture = activeTexture;

        EXPECT_EQ(setActiveTex(GL_TEXTURE3), 0);
        EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE3);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    });
}

TEST(ScriptTexVolume, UploadsTheDefault3DTextureOnUnit2) {
    withGl([](GlState& gl) {
        if (!gl.gl.glTexImage3DEXT) GTEST_SKIP() << "no glTexImage3DEXT here";
        std::vector<uint8_t> texels(3 * 2 * 2 * 3); // odd rows: 9 bytes
        for (size_t i = 0; i < texels.size(); ++i)
            texels[i] = static_cast<uint8_t>(i * 5);
        ASSERT_EQ(setupVolTex(texels.data(), 3, 2, 2, 3, 0, 2), 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE2);
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_3D), 0);
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_3D));
        EXPECT_EQ(levelParam(GL_TEXTURE_3D, 0, GL_TEXTURE_DEPTH), 2);
        EXPECT_EQ(texParam(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
        std::vector<uint8_t> back(texels.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_3D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back, texels);
    });
}

TEST(ScriptTexVolume, RefusesMissingEntryPointsAndBadSizes) {
    withGl([](GlState& gl) {
        const float texels[8] = {};
        const auto texImage3D = gl.gl.glTexImage3DEXT;
        gl.gl.glTexImage3DEXT = nullptr;
        EXPECT_EQ(setupVolTex(texels, 2, 2, 2, 1, 1, 0), -1);
        gl.gl.glTexImage3DEXT = texImage3D;
        if (!texImage3D) return;

        EXPECT_EQ(setupVolTex(nullptr, 2, 2, 2, 1, 1, 0), -1);
        EXPECT_EQ(setupVolTex(texels, 2, 2, 0, 1, 1, 0), -1);
        EXPECT_EQ(setupVolTex(texels, 2, -2, 2, 1, 1, 0), -1);
        EXPECT_EQ(setupVolTex(texels, -1, 2, 2, 1, 1, 0), -1);
        EXPECT_EQ(setupVolTex(texels, INT_MAX, INT_MAX, INT_MAX, 4, 1, 0), -1);
        // None of them reached the GL: unit 2's 3D texture is still empty.
        gl.gl.glActiveTexture(GL_TEXTURE2);
        EXPECT_EQ(levelParam(GL_TEXTURE_3D, 0, GL_TEXTURE_WIDTH), 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    });
}

long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A script's sizes may claim far more than its buffer holds: such requests
// are refused from the sizes alone, before the host allocates or reads a byte.
TEST(ScriptTexLimits, RequestsBeyondTheBudgetOrTheGlLimitsAreRefusedUpFront) {
    withGl([](GlState& gl) {
        const uint8_t texels[16] = {};
        const long peakBefore = peakResidentKb();
        EXPECT_EQ(setupDataTex(texels, 8192, 8192, 4, 1, 0), -1); // 1 GB of floats
        EXPECT_EQ(setupDataTex(texels, integer(GL_MAX_TEXTURE_SIZE) + 1, 1, 1, 0, 0), -1);
        EXPECT_EQ(setupDataTex(texels, 1, integer(GL_MAX_TEXTURE_SIZE) + 1, 1, 0, 0), -1);
        if (gl.gl.glTexImage3DEXT) {
            EXPECT_EQ(setupVolTex(texels, 2000, 2000, 2000, 3, 0, 1), -1); // 24 GB
            EXPECT_EQ(setupVolTex(texels, 1, 1, integer(GL_MAX_3D_TEXTURE_SIZE) + 1, 1, 0, 0), -1);
        }
        EXPECT_LT(peakResidentKb() - peakBefore, 64 * 1024);
        EXPECT_EQ(gl.dataTexture, 0u);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    });
}

TEST(ScriptTexContext, EveryFunctionIsRefusedOnAThreadWithoutAContext) {
    withGl([](GlState& gl) {
        int results[3] = {};
        std::thread postThread([&] {
            ASSERT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
            const float texels[8] = {};
            const uint8_t pixels[16] = {};
            results[0] = setActiveTex(GL_TEXTURE1);
            results[1] = setupDataTex(texels, 2, 1, 1, 1, 0);
            results[2] = setupVolTex(texels, 2, 2, 2, 1, 1, 0);
            uploadBackground(0, 2, 2, pixels, 0); // must simply return
        });
        postThread.join();
        EXPECT_EQ(results[0], -1);
        EXPECT_EQ(results[1], -1);
        EXPECT_EQ(results[2], -1);
        EXPECT_EQ(gl.dataTexture, 0u);
    });
}

TEST(ScriptTexBackground, BlueGreenRedSourceReadsBackAsRgb) {
    withGl([](GlState& gl) {
        const uint8_t pixels[2 * 4] = {10, 20, 30, 99, 1, 2, 3, 4}; // b g r x
        uploadBackground(2, 2, 1, pixels, 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), GLint(gl.layerTexture[2]));
        uint8_t rgb[6] = {};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        EXPECT_EQ(rgb[0], 30);
        EXPECT_EQ(rgb[1], 20);
        EXPECT_EQ(rgb[2], 10);
        EXPECT_EQ(rgb[3], 3);
        EXPECT_EQ(rgb[5], 1);
    });
}

TEST(ScriptTexBackground, FilterModes) {
    withGl([](GlState& gl) {
        const std::vector<uint8_t> pixels(4 * 4 * 4, 128);
        const auto minFilter = [] { return texParam(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER); };
        const auto magFilter = [] { return texParam(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER); };

        uploadBackground(0, 4, 4, pixels.data(), 3);
        EXPECT_EQ(minFilter(), GL_LINEAR_MIPMAP_LINEAR);
        EXPECT_EQ(magFilter(), GL_LINEAR);
        EXPECT_EQ(levelParam(GL_TEXTURE_2D, 2, GL_TEXTURE_WIDTH), 1) << "no mipmaps";

        uploadBackground(0, 4, 4, pixels.data(), 0); // as every video frame
        EXPECT_EQ(minFilter(), GL_LINEAR);
        EXPECT_EQ(magFilter(), GL_LINEAR);

        uploadBackground(0, 4, 4, pixels.data(), 2);
        EXPECT_EQ(minFilter(), GL_NEAREST);
        EXPECT_EQ(magFilter(), GL_NEAREST);
        uploadBackground(0, 4, 4, pixels.data(), 4); // leaves them alone
        EXPECT_EQ(minFilter(), GL_NEAREST);
        uploadBackground(0, 4, 4, pixels.data(), -5);
        EXPECT_EQ(minFilter(), GL_LINEAR);

        // Without glGenerateMipmap, trilinear would sample an incomplete
        // texture; mode 3 falls back to linear.
        const auto generate = gl.gl.glGenerateMipmap;
        gl.gl.glGenerateMipmap = nullptr;
        uploadBackground(1, 4, 4, pixels.data(), 3);
        gl.gl.glGenerateMipmap = generate;
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), GLint(gl.layerTexture[1]));
        EXPECT_EQ(minFilter(), GL_LINEAR);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    });
}

TEST(ScriptTexBackground, BadLayerSizeOrPixelsChangeNothing) {
    withGl([](GlState& gl) {
        const std::vector<uint8_t> pixels(4 * 4 * 4, 7);
        uploadBackground(0, 4, 4, pixels.data(), 0);
        for (int layer : {4, -1, 1000})
            uploadBackground(layer, 2, 2, pixels.data(), 0);
        uploadBackground(0, -4, 4, pixels.data(), 0);
        uploadBackground(0, 4, 0, pixels.data(), 0);
        uploadBackground(0, INT_MAX, INT_MAX, pixels.data(), 0);
        uploadBackground(0, 2, 2, nullptr, 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), GLint(gl.layerTexture[0]));
        EXPECT_EQ(levelParam(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH), 4);
        EXPECT_EQ(levelParam(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT), 4);
    });
}

} // namespace
} // namespace vortigo
