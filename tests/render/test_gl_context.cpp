#include "platform/HeadlessPlatform.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vortigo {
namespace {

// GL work runs on a thread of its own, as on the render thread.
template <typename F> void onGlThread(F&& body) {
    std::thread thread(std::forward<F>(body));
    thread.join();
}

TEST(GlContext, CreatesACurrentContextWithEveryEntryPointOnTheCallingThread) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    onGlThread([] {
        GlState gl;
        ASSERT_TRUE(createGlContext(gl, 256, 128, WindowId::Main)) << lastGlContextError();
        EXPECT_EQ(eglGetCurrentContext(), gl.glContext);
        EXPECT_EQ(gl.surfaceWidth, 256);
        EXPECT_NE(gl.gl.glCreateShader, nullptr);
        EXPECT_NE(gl.gl.glActiveTexture, nullptr);
        EXPECT_NE(gl.gl.glGenerateMipmap, nullptr);
        EXPECT_TRUE(gl.framebufferSupported);
        EXPECT_NE(gl.framebufferObject, 0u);
        for (GLuint t : gl.layerTexture)
            EXPECT_NE(t, 0u);
        EXPECT_TRUE(resetGlState(256, 128));
        releaseGlContext(gl);
        EXPECT_EQ(gl.glContext, EGL_NO_CONTEXT);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(gl.layerTexture[0], 0u);
    });
    EXPECT_TRUE(headless.messageBoxes().empty());
}

TEST(GlContext, MissingRequiredEntryPointIsReportedOnce) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    GlState gl;
    const bool ok = loadEntryPoints(gl, WindowId::Main, [](const char* name) -> void* {
        static int dummy;
        return std::strcmp(name, "glCompileShader") == 0 ? nullptr : &dummy;
    });
    EXPECT_FALSE(ok);
    const auto boxes = headless.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Could not get OpenGL process addresses. Expecting 2.0 functionality.");
    EXPECT_EQ(boxes[0].caption, "Shader Error");
    EXPECT_EQ(boxes[0].owner, WindowId::Main);
}

TEST(GlContext, OptionalEntryPointsMayBeMissing) {
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    GlState gl;
    const bool ok = loadEntryPoints(gl, WindowId::Main, [](const char* name) -> void* {
        static int dummy;
        for (const char* missing : {"glActiveTexture", "glTexImage3DEXT", "glGenerateMipmap",
                                    "glBindFramebuffer", "glUniform2fv", "glUniformMatrix3fv"})
            if (std::strcmp(name, missing) == 0) return nullptr;
        return &dummy;
    });
    EXPECT_TRUE(ok);
    EXPECT_FALSE(gl.framebufferSupported);
    EXPECT_EQ(gl.gl.glActiveTexture, nullptr);
    EXPECT_TRUE(headless.messageBoxes().empty());
}

TEST(GlContext, EntryPointsAreLookedUpInTheirOrder) {
    std::vector<std::string> asked;
    GlState gl;
    loadEntryPoints(gl, WindowId::None, [&](const char* name) -> void* {
        asked.emplace_back(name);
        static int dummy;
        return &dummy;
    });
    ASSERT_EQ(asked.size(), 31u);
    EXPECT_EQ(asked.front(), "glActiveTexture");
    EXPECT_EQ(asked[4], "glCreateShader");
    EXPECT_EQ(asked[15], "glGetShaderInfoLog");
    EXPECT_EQ(asked[29], "glCheckFramebufferStatus");
    EXPECT_EQ(asked.back(), "glBindBuffer");
}

TEST(FrameReadBack, OddWidthsArePackedWithoutPaddingAsBlueGreenRed) {
    onGlThread([] {
        GlState& gl = glState();
        ASSERT_TRUE(createGlContext(gl, 64, 64, WindowId::None)) << lastGlContextError();
        // Both ways: through the staging buffer and straight into the frame.
        for (const bool staged : {true, false}) {
            for (const int width : {33, 34, 35, 36}) {
                SCOPED_TRACE(testing::Message() << "width " << width << " staged " << staged);
                prepareReadBack(staged ? width : 0, staged ? 7 : 0);
                ASSERT_TRUE(resetGlState(width, 7));
                glClearColor(1.0f, 0.0f, 0.0f, 1.0f); // red
                glClear(GL_COLOR_BUFFER_BIT);
                glEnable(GL_SCISSOR_TEST); // one blue pixel at (2, 1)
                glScissor(2, 1, 1, 1);
                glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
                glClear(GL_COLOR_BUFFER_BIT);
                glDisable(GL_SCISSOR_TEST);
                std::vector<uint8_t> frame(static_cast<size_t>(width) * 7 * 3 + 16, 0xEE);
                readBackFrame(frame.data(), width, 7);
                for (int i = 0; i < width * 7; ++i) {
                    const bool blue = i == width + 2;
                    ASSERT_EQ(frame[i * 3 + 0], blue ? 255 : 0) << "pixel " << i;
                    ASSERT_EQ(frame[i * 3 + 1], 0);
                    ASSERT_EQ(frame[i * 3 + 2], blue ? 0 : 255);
                }
                for (size_t i = static_cast<size_t>(width) * 7 * 3; i < frame.size(); ++i)
                    ASSERT_EQ(frame[i], 0xEE);
            }
        }
        prepareReadBack(0, 0);
        releaseGlContext(gl);
    });
}

TEST(FrameReadBack, RepackingDropsTheFourthByteAndWritesNothingMore) {
    for (const bool portable : {false, true}) {
        for (int pixels = 0; pixels <= 41; ++pixels) {
            std::vector<uint8_t> bgra(static_cast<size_t>(pixels) * 4);
            for (size_t i = 0; i < bgra.size(); ++i)
                bgra[i] = static_cast<uint8_t>(i * 7 + 1);
            std::vector<uint8_t> bgr(static_cast<size_t>(pixels) * 3 + 16, 0xEE);
            repackPixels(bgra.data(), bgr.data(), pixels, portable);
            for (int p = 0; p < pixels; ++p)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(bgr[p * 3 + c], bgra[p * 4 + c]) << pixels << " " << portable;
            for (size_t i = static_cast<size_t>(pixels) * 3; i < bgr.size(); ++i)
                ASSERT_EQ(bgr[i], 0xEE) << pixels << " " << portable;
        }
    }
}

TEST(FrameReadBack, AFrameLargerThanTheSurfaceReadsOnlyTheSurface) {
    onGlThread([] {
        GlState& gl = glState();
        ASSERT_TRUE(createGlContext(gl, 16, 8, WindowId::None)) << lastGlContextError();
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f); // blue
        glClear(GL_COLOR_BUFFER_BIT);
        const int width = 40, height = 20;
        std::vector<uint8_t> frame(width * height * 3 + 8, 0xEE);
        readBackFrame(frame.data(), width, height);
        EXPECT_EQ(frame[0], 255);                    // inside the surface
        EXPECT_EQ(frame[(15 + 7 * width) * 3], 255); // its top right pixel
        EXPECT_EQ(frame[(16 + 7 * width) * 3], 0);   // right of it: cleared
        EXPECT_EQ(frame[(0 + 8 * width) * 3], 0);    // above it: cleared
        for (int i = width * height * 3; i < static_cast<int>(frame.size()); ++i)
            ASSERT_EQ(frame[i], 0xEE);
        releaseGlContext(gl);
    });
}

} // namespace
} // namespace vortigo
