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

// Every entry point looked up by name, in lookup order: name, type, and
// whether a context without it is refused. The uniform and release entries
// are called without a test, so they count as required too.
#define VORTIGO_GL_ENTRY_POINTS(X)                                                                 \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC, false)                                              \
    X(glTexImage3DEXT, PFNGLTEXIMAGE3DEXTPROC, false)                                              \
    X(glDeleteShader, PFNGLDELETESHADERPROC, true)                                                 \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC, true)                                               \
    X(glCreateShader, PFNGLCREATESHADERPROC, true)                                                 \
    X(glShaderSource, PFNGLSHADERSOURCEPROC, true)                                                 \
    X(glCompileShader, PFNGLCOMPILESHADERPROC, true)                                               \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC, true)                                               \
    X(glAttachShader, PFNGLATTACHSHADERPROC, true)                                                 \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC, true)                                                   \
    X(glUseProgram, PFNGLUSEPROGRAMPROC, true)                                                     \
    X(glDetachShader, PFNGLDETACHSHADERPROC, true)                                                 \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC, true)                                                   \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC, true)                                                 \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC, true)                                       \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC, true)                                         \
    X(glGetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC, true)                                     \
    X(glUniform1fv, PFNGLUNIFORM1FVPROC, true)                                                     \
    X(glUniform1iv, PFNGLUNIFORM1IVPROC, true)                                                     \
    X(glUniform2fv, PFNGLUNIFORM2FVPROC, false)                                                    \
    X(glUniform2iv, PFNGLUNIFORM2IVPROC, true)                                                     \
    X(glUniform3fv, PFNGLUNIFORM3FVPROC, true)                                                     \
    X(glUniform4fv, PFNGLUNIFORM4FVPROC, true)                                                     \
    X(glUniformMatrix3fv, PFNGLUNIFORMMATRIX3FVPROC, false)                                        \
    X(glGenerateMipmap, PFNGLGENERATEMIPMAPPROC, false)                                            \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC, false)                                    \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC, false)                                          \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC, false)                                          \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC, false)                                \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC, false)                            \
    X(glBindBuffer, PFNGLBINDBUFFERPROC, false)

struct GlEntryPoints {
#define VORTIGO_GL_FIELD(name, type, required) type name = nullptr;
    VORTIGO_GL_ENTRY_POINTS(VORTIGO_GL_FIELD)
#undef VORTIGO_GL_FIELD
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
    U_TILE,
    U_TILE_OFFSET,
    LAYER_UNIFORM_COUNT
};

// The inputs of an image-shader layer (render/ImageShader.h), in lookup order.
constexpr int IMAGE_INPUT_COUNT = 14;

struct LayerProgram {
    GLuint program = 0;
    GLuint vertexShader = 0;
    GLuint fragmentShader = 0;
    GLint uniforms[LAYER_UNIFORM_COUNT]{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    bool imageShader = false; // a wrapped mainImage text
    GLint imageInputs[IMAGE_INPUT_COUNT]{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// The script's off-screen float target (colour texture on framebufferObject).
struct OffscreenTarget {
    GLuint colourTexture = 0;
    int width = 0, height = 0; // 0 until a complete target was made
    bool current = false;
};

// Deep frames (16 bits a channel) are drawn into a framebuffer object of
// their own: the surface has 8 bits a channel.
struct DeepTarget {
    GLuint framebuffer = 0, colourTexture = 0, depthTexture = 0;
    int width = 0, height = 0; // 0: none
};

struct GlState {
    // The EGL display, the pbuffer surface drawn to and the context.
    EGLDisplay eglDisplay = EGL_NO_DISPLAY;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    EGLContext glContext = EGL_NO_CONTEXT;
    EGLConfig glConfig = nullptr;
    int surfaceWidth = 0, surfaceHeight = 0;

    LayerProgram layers[4];
    OffscreenTarget offscreen;
    DeepTarget deep;

    GLuint layerTexture[4]{};
    // Uploads of each layer texture so far; the image shaders' upright,
    // mipmapped copies of the layer backgrounds and the upload each holds.
    unsigned layerUploads[4]{};
    GLuint channelTexture[4]{};
    unsigned channelUpload[4]{};
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
// The entry points in lookup order.
const GlEntryName* glEntryNames(int* count);

// Creates the pbuffer, the context (current on the calling thread), the layer
// textures, the entry points and the framebuffer object. On failure nothing
// is left behind and the reason is in lastGlContextError().
bool createGlContext(GlState& gl, int width, int height, WindowId owner);

// Looks up the entry points in their order; reports missing required
// ones with the "Shader Error" message to `owner`.
bool loadEntryPoints(GlState& gl, WindowId owner, const ProcLookup& lookup);

// Releases programs, textures, the context and the surface, in that order.
void releaseGlContext(GlState& gl);

// Puts the names of the layers' background textures (0 without a context)
// into FrameInfo words 24 to 27, where the script reads them. Creating and
// releasing the render thread's context does this itself.
void publishLayerTextures(const GlState& gl);

// Gives the drawing surface the frame's size: a frame larger than
// maxWidth x maxHeight is still drawn in full, and a small frame after a
// large one costs no more than before it. False (with the old surface kept)
// when the driver refuses the size.
bool fitSurfaceSize(GlState& gl, int width, int height);

// Makes the deep target width x height (a width of 0 removes it) and binds
// the framebuffer frames are drawn into: the deep target's, else the
// surface's. False (no deep target) when the driver cannot make it.
bool prepareDeepTarget(GlState& gl, int width, int height);

// Binds the framebuffer frames are drawn into.
void bindDrawingTarget(const GlState& gl);

// True when the driver can draw a frame of width x height at all (its
// largest viewport); needs the context current.
bool fitsViewport(int width, int height);

// Sets the fixed state every frame relies on; true when GL reports no error.
bool resetGlState(int width, int height);

std::string lastGlContextError();

} // namespace vortigo
