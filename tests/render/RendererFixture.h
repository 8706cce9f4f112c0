// The renderer on a thread of its own with a real context (Mesa's software
// renderer), a loaded project state and frame buffers of a chosen size.
#pragma once

#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ThreadRole.h"
#include "render/FramePipeline.h"
#include "render/FrameRenderer.h"
#include "render/GlContext.h"
#include "render/LayerPrograms.h"
#include "script/ScriptFixture.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vortigo::test {

struct Bgr {
    int b, g, r;
};

class RendererFixture : public ScriptFixture {
  public:
    void setLayer(int layer, const char* vertex, const char* fragment) {
        std::strcpy(projectFiles().layers[layer].vertexText.get(), vertex);
        std::strcpy(projectFiles().layers[layer].fragmentText.get(), fragment);
    }

  protected:
    // The script's udShutdown may use GL: it runs where the context is.
    void TearDown() override {
        onGl([] {
            shutDownScript();
            releaseGlContext(glState());
        });
        ScriptFixture::TearDown();
    }

    // Everything GL runs on one thread, which keeps the context current.
    void onGl(const std::function<void()>& work) {
        std::thread thread([&] {
            registerThreadRole(ThreadRole::Render); // this thread stands in for it
            GlState& gl = glState();
            if (gl.glContext != EGL_NO_CONTEXT)
                eglMakeCurrent(gl.eglDisplay, gl.eglSurface, gl.eglSurface, gl.glContext);
            work();
            if (gl.glContext != EGL_NO_CONTEXT)
                eglMakeCurrent(gl.eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        });
        thread.join();
    }

    // A context and frame buffers of width x height.
    void openFrame(int width, int height) {
        projectFiles().imageWidth = width;
        projectFiles().imageHeight = height;
        onGl([&] {
            ASSERT_TRUE(createGlContext(glState(), 128, 96, WindowId::Main))
                << lastGlContextError();
            ASSERT_TRUE(allocateFrameBuffers());
        });
        m_frame.assign(static_cast<size_t>(width) * height * 3, 0);
    }

    // Compiles script and layers and draws `frames` frames of `pass`.
    bool compileAndDraw(const char* script, int frames = 1, int pass = 0) {
        bool ok = false;
        onGl([&] {
            ok = compileScript(script) && buildLayerPrograms(glState(), WindowId::Main);
            for (int i = 0; ok && i < frames; ++i)
                drawFrame(pass, m_frame.data());
        });
        return ok;
    }

    void drawAgain(int pass = 0) {
        onGl([&] { drawFrame(pass, m_frame.data()); });
    }

    Bgr pixel(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * frameQueue().width() + x) * 3;
        return {m_frame[i], m_frame[i + 1], m_frame[i + 2]};
    }

    std::vector<int> walk() const {
        return std::vector<int>(lastWalkLayers(), lastWalkLayers() + lastWalkLength());
    }

    std::vector<uint8_t> m_frame;
};

constexpr const char* PASS_VERTEX = "void main() { gl_Position = gl_Vertex; }\n";

} // namespace vortigo::test
