// The pixel-store state of every transfer between the host and the GL. A
// script may leave any of it set (skips, row lengths, a bound pixel buffer),
// and the host's transfers must read and write exactly the bytes of their own
// buffers whatever it left.
//
// Threads: render thread, with the context current.
#pragma once

#include "render/GlContext.h"

namespace vortigo {

// Sets every pack parameter for tightly packed rows and unbinds any
// pixel-pack buffer; the read-backs own this state, so it is not put back.
inline void tightPack(const GlEntryPoints& gl) {
    if (gl.glBindBuffer) gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_IMAGE_HEIGHT, 0);
    glPixelStorei(GL_PACK_SKIP_IMAGES, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
}

// Tightly packed unpack state and no pixel-unpack buffer for one upload; what
// was set before is put back afterwards, so a script's own uploads see what
// it set.
class TightUnpack {
  public:
    explicit TightUnpack(const GlEntryPoints& gl) : m_gl(gl) {
        for (int i = 0; i < COUNT; ++i) {
            glGetIntegerv(NAMES[i], &m_saved[i]);
            glPixelStorei(NAMES[i], TIGHT[i]);
        }
        if (m_gl.glBindBuffer) {
            glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &m_savedBuffer);
            m_gl.glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        }
    }
    ~TightUnpack() {
        for (int i = 0; i < COUNT; ++i)
            glPixelStorei(NAMES[i], m_saved[i]);
        if (m_gl.glBindBuffer && m_savedBuffer)
            m_gl.glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(m_savedBuffer));
    }
    TightUnpack(const TightUnpack&) = delete;
    TightUnpack& operator=(const TightUnpack&) = delete;

  private:
    static constexpr int COUNT = 8;
    static constexpr GLenum NAMES[COUNT] = {
        GL_UNPACK_ALIGNMENT,    GL_UNPACK_ROW_LENGTH,  GL_UNPACK_SKIP_ROWS,  GL_UNPACK_SKIP_PIXELS,
        GL_UNPACK_IMAGE_HEIGHT, GL_UNPACK_SKIP_IMAGES, GL_UNPACK_SWAP_BYTES, GL_UNPACK_LSB_FIRST};
    static constexpr GLint TIGHT[COUNT] = {1, 0, 0, 0, 0, 0, GL_FALSE, GL_FALSE};
    const GlEntryPoints& m_gl;
    GLint m_saved[COUNT]{};
    GLint m_savedBuffer = 0;
};

} // namespace vortigo
