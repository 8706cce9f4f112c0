// The render thread's OpenGL context: an EGL pbuffer of maxWidth x maxHeight
// stands for the hidden "GL" window, and the OpenGL 2.0 shader and
// framebuffer-object entry points are looked up by name.
//
// Threads: render thread only. The single exception is the release from the
// exit path when the render thread could not be ended, which never happens
// while the render thread still runs (it is then left alone instead).
#pragma once

#include "platform/Platform.h"

#include <EGL/egl.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <functional>
#include <string>

namespace vortigo {

struct GlEntryPoints {
    PFNGLACTIVETEXTUREPROC glActiveTexture = nullptr;
    PFNGLTEXIMAGE3DEXTPROC glTexImage3DEXT = nullptr;
    PFNGLDELETESHADERPROC glDeleteShader = nullptr;
    PFNGLDELETEPROGRAMPROC glDeleteProgram = nullptr;
    PFNGLCREATESHADERPROC glCreateShader = nullptr;
    PFNGLSHADERSOURCEPROC glShaderSource = nullptr;
    PFNGLCOMPILESHADERPROC glCompileShader = nullptr;
    PFNGLCREATEPROGRAMPROC glCreateProgram = nullptr;
    PFNGLATTACHSHADERPROC glAttachShader = nullptr;
    PFNGLLINKPROGRAMPROC glLinkProgram = nullptr;
    PFNGLUSEPROGRAMPROC glUseProgram = nullptr;
    PFNGLDETACHSHADERPROC glDetachShader = nullptr;
    PFNGLGETSHADERIVPROC glGetShaderiv = nullptr;
    PFNGLGETPROGRAMIVPROC glGetProgramiv = nullptr;
    PFNGLGETPROGRAMINFOLOGPROC glGetProgramInfoLog = nullptr;
    PFNGLGETSHADERINFOLOGPROC glGetShaderInfoLog = nullptr;
    PFNGLGETUNIFORMLOCATIONPROC glGetUniformLocation = nullptr;
    PFNGLUNIFORM1FVPROC glUniform1fv = nullptr;
    PFNGLUNIFORM1IVPROC glUniform1iv = nullptr;
    PFNGLUNIFORM2FVPROC glUniform2fv = nullptr;
    PFNGLUNIFORM2IVPROC glUniform2iv = nullptr;
    PFNGLUNIFORM3FVPROC glUniform3fv = nullptr;
    PFNGLUNIFORM4FVPROC glUniform4fv = nullptr;
    PFNGLUNIFORMMATRIX3FVPROC glUniformMatrix3fv = nullptr;
    PFNGLGENERATEMIPMAPPROC glGenerateMipmap = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC glDeleteFramebuffers = nullptr;
    PFNGLGENFRAMEBUFFERSPROC glGenFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC glBindFramebuffer = nullptr;
    PFNGLFRAMEBUFFERTEXTURE2DPROC glFramebufferTexture2D = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC glCheckFramebufferStatus = nullptr;
};

// Uniforms every layer program may declare, in lookup order.
enum LayerUniform {
    U_SIZE,
    U_TIME,
    U_EYE,
    U_ROT,
    U_UDEF,
    U_MAX_DEPTH,
    U_SUPER_SAMPLE,
    U_TEX,
    U_DATATEX,
    U_VOLTEX,
    LAYER_UNIFORM_COUNT
};

struct LayerProgram {
    GLuint program = 0;
    GLuint vertexShader = 0;
    GLuint fragmentShader = 0;
    GLint uniforms[LAYER_UNIFORM_COUNT]{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// The script's off-screen float target (colour texture on framebufferObject).
struct OffscreenTarget {
    GLuint colourTexture = 0;
    int width = 0, height = 0; // 0 until a complete target was made
    bool current = false;
};

struct GlState {
    // The hidden window: display, pbuffer surface and context.
    EGLDisplay glDc = EGL_NO_DISPLAY;
    EGLSurface glWindow = EGL_NO_SURFACE;
    EGLContext glContext = EGL_NO_CONTEXT;
    EGLConfig glConfig = nullptr;
    int surfaceWidth = 0, surfaceHeight = 0;

    LayerProgram layers[4];
    OffscreenTarget offscreen;

    GLuint layerTexture[4]{};
    bool framebufferSupported = false;
    GLuint framebufferObject = 0;
    GLuint dataTexture = 0, volumeTexture = 0, dofTexture = 0;
    GLuint dofProgram = 0, dofVertexShader = 0, dofFragmentShader = 0;
    float* dofBuffer = nullptr;
    int dofBufferWidth = 0, dofBufferHeight = 0;

    GlEntryPoints gl;
};

GlState& glState();

// Looks a name up; eglGetProcAddress unless a test supplies another.
using ProcLookup = std::function<void*(const char* name)>;

struct GlEntryName {
    const char* name;
    bool required;
};
// The thirty entry points in lookup order.
const GlEntryName* glEntryNames(int* count);

// Creates the pbuffer, the context (current on the calling thread), the layer
// textures, the entry points and the framebuffer object. On failure nothing
// is left behind and the reason is in lastGlContextError().
bool createGlContext(GlState& gl, int width, int height, WindowId owner);

// Looks up the thirty entry points in their order; reports missing required
// ones with the "Shader Error" message to `owner`.
bool loadEntryPoints(GlState& gl, WindowId owner, const ProcLookup& lookup);

// Releases programs, textures, the context and the surface, in that order.
void releaseGlContext(GlState& gl);

// Makes the drawing surface at least width x height, so a frame larger than
// maxWidth x maxHeight is still drawn in full. False (with the old surface
// kept) when the driver refuses the size.
bool ensureSurfaceSize(GlState& gl, int width, int height);

// Sets the fixed state every frame relies on; true when GL reports no error.
bool resetGlState(int width, int height);

std::string lastGlContextError();

} // namespace vortigo
