#include "render/FrameRenderer.h"

#include "app/ProjectState.h"
#include "render/GlContext.h"

#include <algorithm>
#include <cstring>

namespace vortigo {

void readBackFrame(uint8_t* destination, int width, int height) {
    const GlState& gl = glState();
    const int readWidth = std::min(width, gl.surfaceWidth);
    const int readHeight = std::min(height, gl.surfaceHeight);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if (readWidth < width || readHeight < height)
        std::memset(destination, 0, rowBytes * static_cast<size_t>(height));
    if (readWidth <= 0 || readHeight <= 0) return;
    // Rows of any width are packed without padding, so nothing is written
    // past the frame buffer.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, width);
    glReadPixels(0, 0, readWidth, readHeight, GL_BGR, GL_UNSIGNED_BYTE, destination);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void drawFrame(int, uint8_t* destination) {
    ProjectState& s = state();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    readBackFrame(destination, s.imageWidth, s.imageHeight);
    GlState& gl = glState();
    if (gl.glWindow != EGL_NO_SURFACE) eglSwapBuffers(gl.glDc, gl.glWindow);
}

} // namespace vortigo
