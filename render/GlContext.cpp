#include "render/GlContext.h"

#include "core/ScriptShared.h"
#include "media/Backgrounds.h"
#include "render/LayerPrograms.h"
#include "render/ScriptTextures.h"

#include <EGL/eglext.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vortigo {
namespace {

thread_local std::string t_lastError;

const GlEntryName kEntryNames[] = {
#define VORTIGO_GL_NAME(name, type, required) {#name, required},
    VORTIGO_GL_ENTRY_POINTS(VORTIGO_GL_NAME)
#undef VORTIGO_GL_NAME
};
constexpr int kEntryCount = sizeof kEntryNames / sizeof kEntryNames[0];

const char* eglErrorText(EGLint error) {
    switch (error) {
    case EGL_SUCCESS:
        return "no error";
    case EGL_NOT_INITIALIZED:
        return "EGL is not initialised";
    case EGL_BAD_ACCESS:
        return "the resource is in use by another thread";
    case EGL_BAD_ALLOC:
        return "out of memory for the surface or context";
    case EGL_BAD_ATTRIBUTE:
        return "an attribute is not supported";
    case EGL_BAD_CONTEXT:
        return "bad context";
    case EGL_BAD_CONFIG:
        return "no matching frame buffer configuration";
    case EGL_BAD_CURRENT_SURFACE:
        return "the current surface is no longer valid";
    case EGL_BAD_DISPLAY:
        return "bad display";
    case EGL_BAD_SURFACE:
        return "bad surface";
    case EGL_BAD_MATCH:
        return "arguments do not match";
    case EGL_BAD_PARAMETER:
        return "bad parameter";
    case EGL_BAD_NATIVE_PIXMAP:
        return "bad native pixmap";
    case EGL_BAD_NATIVE_WINDOW:
        return "bad native window";
    case EGL_CONTEXT_LOST:
        return "the context was lost";
    default:
        return "unknown EGL error";
    }
}

bool fail(const std::string& what) {
    t_lastError = what + ": " + eglErrorText(eglGetError());
    return false;
}

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t n = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name))
        if ((p == list || p[-1] == ' ') && (p[n] == 0 || p[n] == ' ')) return true;
    return false;
}

// Mesa's surfaceless platform needs no X server, the device platform serves
// headless NVIDIA drivers, and the default display is the last resort.
EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
        if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
            EGLDisplay display =
                getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
                return display;
        }
        auto queryDevices =
            reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        if (queryDevices && hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
            EGLDeviceEXT devices[8];
            EGLint count = 0;
            if (queryDevices(8, devices, &count)) {
                for (EGLint i = 0; i < count; ++i) {
                    EGLDisplay display =
                        getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
                        return display;
                }
            }
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    return EGL_NO_DISPLAY;
}

// Runs its function when the scope ends, however it ends.
template <typename F> class ScopeExit {
  public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    F m_f;
};

template <typename T> void assign(T& slot, void* address) {
    slot = reinterpret_cast<T>(address);
}

} // namespace

GlState& glState() {
    static GlState instance;
    return instance;
}

const GlEntryName* glEntryNames(int* count) {
    *count = kEntryCount;
    return kEntryNames;
}

std::string lastGlContextError() {
    return t_lastError;
}

bool loadEntryPoints(GlState& state, WindowId owner, const ProcLookup& lookup) {
    void* found[kEntryCount];
    for (int i = 0; i < kEntryCount; ++i)
        found[i] = lookup(kEntryNames[i].name);

    GlEntryPoints& gl = state.gl;
    void** p = found;
#define VORTIGO_GL_ASSIGN(name, type, required) assign(gl.name, *p++);
    VORTIGO_GL_ENTRY_POINTS(VORTIGO_GL_ASSIGN)
#undef VORTIGO_GL_ASSIGN

    state.framebufferSupported = gl.glDeleteFramebuffers && gl.glGenFramebuffers &&
                                 gl.glBindFramebuffer && gl.glFramebufferTexture2D &&
                                 gl.glCheckFramebufferStatus;

    for (int i = 0; i < kEntryCount; ++i) {
        if (kEntryNames[i].required && !found[i]) {
            t_lastError = std::string("missing OpenGL entry point ") + kEntryNames[i].name;
            platform().messageBox(owner,
                                  "Could not get OpenGL process addresses. Expecting 2.0 "
                                  "functionality.",
                                  "Shader Error", MsgButtons::Ok, MsgIcon::Error);
            return false;
        }
    }
    return true;
}

bool createGlContext(GlState& state, int width, int height, WindowId owner) {
    installTextureHostFunctions();
    state.framebufferObject = 0;
    for (GLuint& t : state.layerTexture)
        t = 0;
    for (GLuint& t : state.channelTexture)
        t = 0;
    if (width <= 0 || height <= 0) {
        t_lastError = "the drawing surface has no size";
        return false;
    }

    state.eglDisplay = openDisplay();
    if (state.eglDisplay == EGL_NO_DISPLAY) return fail("no EGL display");
    // Every failure below leaves nothing behind.
    bool created = false;
    ScopeExit releaseUnlessCreated([&] {
        if (!created) releaseGlContext(state);
    });

    if (!eglBindAPI(EGL_OPENGL_API)) return fail("desktop OpenGL is not available through EGL");
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_ALPHA_SIZE,
                                       8,
                                       EGL_DEPTH_SIZE,
                                       16,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(state.eglDisplay, configAttributes, &config, 1, &configCount) ||
        configCount < 1)
        return fail("no RGBA 8/8/8/8 configuration with 16 depth bits");
    state.glConfig = config;
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    state.eglSurface = eglCreatePbufferSurface(state.eglDisplay, config, surfaceAttributes);
    if (state.eglSurface == EGL_NO_SURFACE) return fail("cannot create the drawing surface");
    state.surfaceWidth = width;
    state.surfaceHeight = height;
    state.glContext = eglCreateContext(state.eglDisplay, config, EGL_NO_CONTEXT, nullptr);
    if (state.glContext == EGL_NO_CONTEXT) return fail("cannot create the OpenGL context");
    if (!eglMakeCurrent(state.eglDisplay, state.eglSurface, state.eglSurface, state.glContext))
        return fail("cannot make the OpenGL context current");

    glGenTextures(4, state.layerTexture);
    if (&state == &glState()) publishLayerTextures(state);
    // Backgrounds larger than this context's textures are refused when loaded.
    GLint maxTexture = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    if (maxTexture > 0) setMaxBackgroundSize(maxTexture);
    if (!loadEntryPoints(state, owner, [](const char* name) {
            return reinterpret_cast<void*>(eglGetProcAddress(name));
        }))
        return false;
    if (state.framebufferSupported) state.gl.glGenFramebuffers(1, &state.framebufferObject);
    created = true;
    return true;
}

void releaseGlContext(GlState& state) {
    GlEntryPoints& gl = state.gl;
    const bool current =
        state.glContext != EGL_NO_CONTEXT && eglGetCurrentContext() == state.glContext;
    if (current) {
        releaseLayerPrograms(state);
        if (state.offscreen.colourTexture) glDeleteTextures(1, &state.offscreen.colourTexture);
        prepareDeepTarget(state, 0, 0);
        if (state.dofProgram && gl.glDeleteProgram) {
            if (gl.glDetachShader) {
                if (state.dofVertexShader)
                    gl.glDetachShader(state.dofProgram, state.dofVertexShader);
                if (state.dofFragmentShader)
                    gl.glDetachShader(state.dofProgram, state.dofFragmentShader);
            }
        }
        if (gl.glDeleteShader) {
            if (state.dofVertexShader) gl.glDeleteShader(state.dofVertexShader);
            if (state.dofFragmentShader) gl.glDeleteShader(state.dofFragmentShader);
        }
        if (state.dofProgram && gl.glDeleteProgram) gl.glDeleteProgram(state.dofProgram);
        for (GLuint* t : {&state.volumeTexture, &state.dataTexture, &state.dofTexture})
            if (*t) glDeleteTextures(1, t);
        for (GLuint& t : state.layerTexture)
            if (t) glDeleteTextures(1, &t);
        if (state.framebufferObject && gl.glDeleteFramebuffers)
            gl.glDeleteFramebuffers(1, &state.framebufferObject);
    }
    state.dofProgram = state.dofVertexShader = state.dofFragmentShader = 0;
    state.volumeTexture = state.dataTexture = state.dofTexture = 0;
    for (GLuint& t : state.layerTexture)
        t = 0;
    if (&state == &glState()) publishLayerTextures(state);
    state.framebufferObject = 0;
    state.offscreen = OffscreenTarget{};
    state.deep = DeepTarget{};
    for (LayerProgram& layer : state.layers)
        layer = LayerProgram{};

    if (state.eglDisplay != EGL_NO_DISPLAY) {
        if (current)
            eglMakeCurrent(state.eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (state.glContext != EGL_NO_CONTEXT) eglDestroyContext(state.eglDisplay, state.glContext);
        if (state.eglSurface != EGL_NO_SURFACE)
            eglDestroySurface(state.eglDisplay, state.eglSurface);
        eglTerminate(state.eglDisplay);
        eglReleaseThread();
    }
    state.glContext = EGL_NO_CONTEXT;
    state.eglSurface = EGL_NO_SURFACE;
    state.eglDisplay = EGL_NO_DISPLAY;
    state.surfaceWidth = state.surfaceHeight = 0;

    std::free(state.dofBuffer);
    state.dofBuffer = nullptr;
    state.dofBufferWidth = state.dofBufferHeight = 0;
    state.framebufferSupported = false;
    state.gl = GlEntryPoints{};
    resetScriptTextureState();
}

void publishLayerTextures(const GlState& gl) {
    uint32_t* words = scriptShared().frameInfo.layerTexture;
    for (int i = 0; i < 4; ++i)
        words[i] = gl.layerTexture[i];
}

namespace {

void releaseDeepTarget(GlState& state) {
    DeepTarget& deep = state.deep;
    if (deep.framebuffer && state.gl.glDeleteFramebuffers) {
        state.gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        state.gl.glDeleteFramebuffers(1, &deep.framebuffer);
    }
    for (GLuint* t : {&deep.colourTexture, &deep.depthTexture})
        if (*t) glDeleteTextures(1, t);
    deep = DeepTarget{};
}

GLuint deepTexture(GLenum internalFormat, GLenum format, GLenum type, int width, int height) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), width, height, 0, format,
                 type, nullptr);
    return texture;
}

} // namespace

bool prepareDeepTarget(GlState& state, int width, int height) {
    DeepTarget& deep = state.deep;
    if (width <= 0 || height <= 0) {
        if (deep.framebuffer || deep.colourTexture) releaseDeepTarget(state);
        return true;
    }
    if (deep.width == width && deep.height == height) {
        bindDrawingTarget(state);
        return true;
    }
    releaseDeepTarget(state);
    if (!state.framebufferSupported) return false;
    const GlEntryPoints& gl = state.gl;
    glGetError();
    // Unsigned 16-bit words: the whole 0..1 range at 65536 levels, which
    // half floats keep only near 0.
    deep.colourTexture = deepTexture(GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, width, height);
    deep.depthTexture =
        deepTexture(GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, width, height);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &deep.framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, deep.framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                              deep.colourTexture, 0);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, deep.depthTexture,
                              0);
    if (glGetError() != GL_NO_ERROR ||
        gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        releaseDeepTarget(state);
        return false;
    }
    deep.width = width;
    deep.height = height;
    return true;
}

void bindDrawingTarget(const GlState& state) {
    if (state.gl.glBindFramebuffer)
        state.gl.glBindFramebuffer(GL_FRAMEBUFFER, state.deep.framebuffer);
}

bool fitSurfaceSize(GlState& state, int width, int height) {
    // What the driver spends on a frame grows with the surface, not with the
    // frame drawn on it, so the surface takes the frame's own size.
    const int newWidth = width;
    const int newHeight = height;
    if (newWidth == state.surfaceWidth && newHeight == state.surfaceHeight) return true;
    if (state.glContext == EGL_NO_CONTEXT) return false;
    const EGLint attributes[] = {EGL_WIDTH, newWidth, EGL_HEIGHT, newHeight, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(state.eglDisplay, state.glConfig, attributes);
    if (surface == EGL_NO_SURFACE) return fail("cannot resize the drawing surface");
    if (!eglMakeCurrent(state.eglDisplay, surface, surface, state.glContext)) {
        eglDestroySurface(state.eglDisplay, surface);
        eglMakeCurrent(state.eglDisplay, state.eglSurface, state.eglSurface, state.glContext);
        return fail("cannot draw on the resized surface");
    }
    eglDestroySurface(state.eglDisplay, state.eglSurface);
    state.eglSurface = surface;
    state.surfaceWidth = newWidth;
    state.surfaceHeight = newHeight;
    return true;
}

bool fitsViewport(int width, int height) {
    GLint largest[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largest);
    return width <= largest[0] && height <= largest[1];
}

bool resetGlState(int width, int height) {
    glGetError();
    glViewport(0, 0, width, height);
    glColor4f(1, 1, 1, 1);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    return glGetError() == GL_NO_ERROR;
}

} // namespace vortigo
