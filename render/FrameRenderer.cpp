#include "render/FrameRenderer.h"

#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ScriptShared.h"
#include "media/AviGrab.h"
#include "render/GlContext.h"
#include "render/ImageShader.h"
#include "render/LayerPrograms.h"
#include "render/ParamUniforms.h"
#include "render/PixelStore.h"
#include "render/ScriptTextures.h"
#include "render/Tiles.h"
#include "render/Workers.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"
#include "script/ScriptCalls.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <cstring>
#include <immintrin.h>
#include <string>
#include <vector>

namespace vortigo {
namespace {

constexpr int LAYER_FLAG_NO_RECTANGLE = 1;
constexpr int LAYER_FLAG_NO_1D = 2;
constexpr int LAYER_FLAG_NO_3D = 4;
constexpr int LAYER_FLAG_OFFSCREEN = 8;
constexpr int MAX_RECORDED_STEPS = MAX_LAYER_STEPS + 1;

int g_walk[MAX_RECORDED_STEPS];
int g_walkLength = 0;

// Four-byte pixels read back before they are packed into the frame; sized
// by the frame-buffer allocation, never per frame.
std::vector<uint8_t> g_staging;

void repackRowPortable(const uint8_t* bgra, uint8_t* bgr, int pixels) {
    int x = 0;
    // Four pixels at a time: 16 bytes in, 12 out.
    for (; x + 4 <= pixels; x += 4, bgra += 16, bgr += 12) {
        uint32_t p[4];
        std::memcpy(p, bgra, 16);
        const uint32_t out[3] = {(p[0] & 0xFFFFFFu) | (p[1] << 24),
                                 ((p[1] >> 8) & 0xFFFFu) | (p[2] << 16),
                                 ((p[2] >> 16) & 0xFFu) | (p[3] << 8)};
        std::memcpy(bgr, out, 12);
    }
    for (; x < pixels; ++x, bgra += 4, bgr += 3)
        std::memcpy(bgr, bgra, 3);
}

__attribute__((target("ssse3"))) void repackRowSsse3(const uint8_t* bgra, uint8_t* bgr,
                                                     int pixels) {
    const __m128i dropFourth =
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    // Each store writes 16 bytes of which 12 count; stopping two pixels
    // early keeps the extra four inside the row.
    for (; x + 6 <= pixels; x += 4, bgra += 16, bgr += 12) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgra));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr), _mm_shuffle_epi8(four, dropFourth));
    }
    for (; x < pixels; ++x, bgra += 4, bgr += 3)
        std::memcpy(bgr, bgra, 3);
}

void selectUnit(const GlEntryPoints& gl, GLenum unit) {
    if (gl.glActiveTexture) gl.glActiveTexture(unit);
}

// The frame drawn now: the whole picture, or one tile's frame of it.
TilePlacement g_place;
// A tile of a picture that fits the driver's viewport is drawn on the whole
// picture's viewport, shifted so that the tile's part lands on the frame:
// the rasteriser then interpolates exactly as for the single frame, so the
// tiles equal it byte for byte. Beyond the viewport only the tile uniforms
// can place the frame.
bool g_shiftViewport = false;

// Where the frame lies in the picture: gl_FragCoord + tileOffset counts the
// picture's pixels; on an unshifted viewport the frame's -1..1 coordinates
// map to tile.xy + xy * tile.zw of the picture's.
void setTileUniforms(const GlEntryPoints& gl, const GLint* u) {
    float tile[4] = {0, 0, 1, 1};
    GLint offset[2] = {0, 0};
    if (g_place.active) {
        offset[0] = g_place.x;
        offset[1] = g_place.y;
    }
    if (g_place.active && !g_shiftViewport) {
        const double w = g_place.pictureWidth, h = g_place.pictureHeight;
        tile[0] = static_cast<float>((2.0 * g_place.x + g_place.width) / w - 1.0);
        tile[1] = static_cast<float>((2.0 * g_place.y + g_place.height) / h - 1.0);
        tile[2] = static_cast<float>(g_place.width / w);
        tile[3] = static_cast<float>(g_place.height / h);
    }
    if (u[U_TILE] >= 0) gl.glUniform4fv(u[U_TILE], 1, tile);
    if (u[U_TILE_OFFSET] >= 0) gl.glUniform2iv(u[U_TILE_OFFSET], 1, offset);
}

bool knowsTiles(const LayerProgram& layer) {
    return layer.uniforms[U_TILE] >= 0 || layer.uniforms[U_TILE_OFFSET] >= 0;
}

// A layer that knows neither tile uniform is right in tiles only on the
// shifted viewport, and only while its fragment text does not count pixels
// from the frame's corner: "" when the tiles can be right, else why not.
std::string tileRefusal(const GlState& gls) {
    GLint largest[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largest);
    const bool fits = g_shiftViewport;
    for (int i = 0; i < LAYER_COUNT; ++i) {
        const LayerProgram& layer = gls.layers[i];
        if (!layer.program || knowsTiles(layer)) continue;
        const char* fragment = projectFiles().layers[i].fragmentText.get();
        if (fragment && std::strstr(fragment, "gl_FragCoord"))
            return formatC("Layer %d reads gl_FragCoord, which in a tile counts from the tile's "
                           "corner. Declare \"uniform ivec2 tileOffset;\" in its fragment shader "
                           "and use gl_FragCoord.xy + vec2(tileOffset) for the place in the "
                           "whole picture.",
                           i + 1);
        if (!fits)
            return formatC("Layer %d uses no tile uniform, and the picture of %d x %d pixels is "
                           "larger than the graphics driver can draw at once (%d x %d). Declare "
                           "\"uniform vec4 tile;\" in its vertex shader and use tile.xy + "
                           "gl_Vertex.xy * tile.zw for the place in the whole picture.",
                           i + 1, g_place.pictureWidth, g_place.pictureHeight, largest[0],
                           largest[1]);
    }
    return {};
}

void setLayerUniforms(const GlState& gls, const LayerProgram& layer, int pass) {
    const ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    const GlEntryPoints& gl = gls.gl;
    const GLint* u = layer.uniforms;
    // Every layer sees the whole picture's size, tiled or not.
    const GLint size[2] = {g_place.active ? g_place.pictureWidth : frameQueue().width(),
                           g_place.active ? g_place.pictureHeight : frameQueue().height()};
    const float eye[3] = {camera.xCenter, camera.yCenter, camera.zLens};
    const GLint units[3] = {0, 1, 2};
    gl.glUniform2iv(u[U_SIZE], 1, size);
    gl.glUniform1fv(u[U_TIME], 1, &camera.animTime);
    gl.glUniform3fv(u[U_EYE], 1, eye);
    gl.glUniform4fv(u[U_ROT], 1, camera.cameraQuat);
    if (camera.udef) gl.glUniform1fv(u[U_UDEF], files.maxUdef, camera.udef.get());
    gl.glUniform1fv(u[U_MAX_DEPTH], 1, &files.maxDepth);
    gl.glUniform1iv(u[U_SUPER_SAMPLE], 1, &pass);
    gl.glUniform1iv(u[U_TEX], 1, &units[0]);
    gl.glUniform1iv(u[U_DATATEX], 1, &units[1]);
    gl.glUniform1iv(u[U_VOLTEX], 1, &units[2]);
    setTileUniforms(gl, u);
}

// The data and volume textures udPre asked for. They read the script's
// memory, so they run under a guard (the uploads copy it before the GL sees
// it, so a fault never leaves the driver half-way).
void uploadRequestedTextures(void*) {
    const FrameInfo& f = scriptShared().frameInfo;
    if (f.dataTex) setupDataTex(f.dataTex, f.dataTexWidth, 0, 3, 0, 2);
    if (f.volTex) setupVolTex(f.volTex, f.volTexWidth, f.volTexHeight, f.volTexDepth, 3, 0, 1);
}

// What udPre asked for, in the order the requests are carried out.
void carryOutRequests(GlState& gls, int layerIndex) {
    ProjectFiles& files = projectFiles();
    ScriptShared& blocks = scriptShared();
    const FrameInfo& f = blocks.frameInfo;
    LayerSlot& slot = files.layers[layerIndex];
    if (f.bgUpdate && slot.backgroundPixels)
        uploadBackground(layerIndex, slot.backgroundWidth, slot.backgroundHeight,
                         slot.backgroundPixels.get(), f.bgUpdate);
    if ((f.dataTex || f.volTex) && gls.gl.glActiveTexture) {
        if (const int fault = runGuarded(uploadRequestedTextures, nullptr)) {
            reactToRequestFault(fault);
            flushDebugLine();
        }
    }
    if (slot.backgroundIsVideo && f.videoHold > 0) videoReader(layerIndex).divisor = f.videoHold;
    if (f.layerFlags & LAYER_FLAG_NO_1D) glDisable(GL_TEXTURE_1D);
    if (f.layerFlags & LAYER_FLAG_NO_3D) glDisable(GL_TEXTURE_3D);
    if ((f.layerFlags & LAYER_FLAG_OFFSCREEN) && gls.framebufferSupported) {
        const OffscreenTarget& target = gls.offscreen;
        const int width = frameQueue().width(), height = frameQueue().height();
        if (target.width != width || target.height != height || !target.current) {
            if (target.width == width && target.height == height) {
                gls.gl.glBindFramebuffer(GL_FRAMEBUFFER, gls.framebufferObject);
                gls.offscreen.current = true;
            } else {
                makeOffscreenTarget(width, height);
            }
        }
    } else if (!(f.layerFlags & LAYER_FLAG_OFFSCREEN) && gls.offscreen.current) {
        leaveOffscreenTarget();
    }
}

void drawLayer(GlState& gls, int layerIndex, int pass, int frame) {
    ProjectFiles& files = projectFiles();
    ScriptShared& blocks = scriptShared();
    const GlEntryPoints& gl = gls.gl;
    LayerProgram& layer = gls.layers[layerIndex];
    LayerSlot& slot = files.layers[layerIndex];
    if (layer.imageShader) prepareImageChannels(gls, layer);

    if (slot.backgroundPixels && slot.backgroundChanged) {
        uploadBackground(layerIndex, slot.backgroundWidth, slot.backgroundHeight,
                         slot.backgroundPixels.get(), 0);
        slot.backgroundChanged = 0;
    } else {
        selectUnit(gl, GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, gls.layerTexture[layerIndex]);
    }

    clearLayerRequests();
    if (entryPoint(UD_PRE)) {
        gl.glUseProgram(0);
        callUdPre(layerIndex, pass);
        carryOutRequests(gls, layerIndex);
    }

    gl.glUseProgram(layer.program);
    setLayerUniforms(gls, layer, pass);
    const bool shifted = g_place.active && g_shiftViewport;
    if (shifted) glViewport(-g_place.x, -g_place.y, g_place.pictureWidth, g_place.pictureHeight);
    if (layer.imageShader)
        setImageInputs(gls, layer, frame,
                       g_place.active ? g_place.pictureWidth : frameQueue().width(),
                       g_place.active ? g_place.pictureHeight : frameQueue().height());
    setParamUniforms(gl, layerIndex);
    if (!(blocks.frameInfo.layerFlags & LAYER_FLAG_NO_RECTANGLE)) {
        glRecti(-1, -1, 1, 1);
        gl.glUseProgram(0);
    }

    if (entryPoint(UD_POST)) {
        selectUnit(gl, GL_TEXTURE0);
        callUdPost(layerIndex);
    }
    if (shifted) glViewport(0, 0, g_place.width, g_place.height);
}

void depthOfFieldPass(GlState& gls, int width, int height) {
    ProjectFiles& files = projectFiles();
    const GlEntryPoints& gl = gls.gl;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    tightPack(gl);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, gls.dofBuffer);
    glReadPixels(0, 0, width, height, GL_DEPTH_COMPONENT, GL_FLOAT, frameQueue().depth());
    float* rgba = gls.dofBuffer;
    const float* depth = frameQueue().depth();
    for (size_t i = 0; i < pixels; ++i)
        rgba[i * 4 + 3] = depth[i];

    if (!gls.dofTexture) glGenTextures(1, &gls.dofTexture);
    selectUnit(gl, GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, gls.dofTexture);
    {
        TightUnpack unpack(gl);
        // A deep frame keeps its 16 bits through the blur.
        const GLint format = gls.deep.framebuffer ? GL_RGBA16 : GL_RGBA;
        glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, GL_RGBA, GL_FLOAT, rgba);
    }
    // Blurred edges take their own colour, not the opposite edge's.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    gl.glUseProgram(gls.dofProgram);
    glDisable(GL_DEPTH_TEST);
    gl.glUniform1fv(gl.glGetUniformLocation(gls.dofProgram, "scale"), 1, &files.dofScale);
    gl.glUniform1fv(gl.glGetUniformLocation(gls.dofProgram, "offset"), 1, &files.dofOffset);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glEnd();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
}

void swapBuffers(void* context) {
    GlState& gls = *static_cast<GlState*>(context);
    eglSwapBuffers(gls.eglDisplay, gls.eglSurface);
}

} // namespace

// Release builds run on any x86-64: the byte shuffle is taken only where
// the processor has it.
void repackPixels(const uint8_t* bgra, uint8_t* bgr, int pixels, bool portable) {
    static const bool hasSsse3 = __builtin_cpu_supports("ssse3");
    if (hasSsse3 && !portable)
        repackRowSsse3(bgra, bgr, pixels);
    else
        repackRowPortable(bgra, bgr, pixels);
}

int lastWalkLength() {
    return g_walkLength;
}
const int* lastWalkLayers() {
    return g_walk;
}

bool makeOffscreenTarget(int width, int height) {
    GlState& gls = glState();
    const GlEntryPoints& gl = gls.gl;
    OffscreenTarget& target = gls.offscreen;
    if (!gls.framebufferSupported) return false;
    if (target.colourTexture) glDeleteTextures(1, &target.colourTexture);
    glGenTextures(1, &target.colourTexture);
    glBindTexture(GL_TEXTURE_2D, target.colourTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    target.current = false;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, gls.framebufferObject);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                              target.colourTexture, 0);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        target.current = true;
        target.width = width;
        target.height = height;
        return true;
    }
    bindDrawingTarget(gls);
    target.width = target.height = 0;
    return false;
}

void leaveOffscreenTarget() {
    GlState& gls = glState();
    bindDrawingTarget(gls);
    gls.offscreen.current = false;
}

void prepareReadBack(int width, int height) {
    const size_t bytes = static_cast<size_t>(std::max(width, 0)) * std::max(height, 0) * 4;
    if (g_staging.size() != bytes) {
        g_staging.clear();
        g_staging.shrink_to_fit();
        g_staging.resize(bytes);
    }
}

void readBackFrame(uint8_t* destination, int width, int height) {
    const GlState& gls = glState();
    // The off-screen and deep targets have the frame's size; the surface may
    // be smaller.
    const bool offscreen = gls.offscreen.current || gls.deep.framebuffer;
    const int readWidth = offscreen ? width : std::min(width, gls.surfaceWidth);
    const int readHeight = offscreen ? height : std::min(height, gls.surfaceHeight);
    const size_t rowBytes = static_cast<size_t>(width) * 3 * frameQueue().sampleBytes();
    if (readWidth < width || readHeight < height)
        std::memset(destination, 0, rowBytes * static_cast<size_t>(height));
    if (readWidth <= 0 || readHeight <= 0) return;
    tightPack(gls.gl);
    if (frameQueue().sampleBytes() == 2) {
        // Deep frames: the driver converts to words directly; they are read
        // once a still, so its pace matters little.
        glPixelStorei(GL_PACK_ROW_LENGTH, width);
        glReadPixels(0, 0, readWidth, readHeight, GL_BGR, GL_UNSIGNED_SHORT, destination);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        return;
    }
    const size_t stagingBytes = static_cast<size_t>(readWidth) * readHeight * 4;
    if (g_staging.size() < stagingBytes) {
        // No staging buffer of this size (a caller that did not prepare):
        // read the three bytes directly, packed without padding.
        glPixelStorei(GL_PACK_ROW_LENGTH, width);
        glReadPixels(0, 0, readWidth, readHeight, GL_BGR, GL_UNSIGNED_BYTE, destination);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        return;
    }
    // Four bytes a pixel is the driver's own layout and reads much faster;
    // dropping the fourth byte here costs less than the driver's conversion.
    glReadPixels(0, 0, readWidth, readHeight, GL_BGRA, GL_UNSIGNED_BYTE, g_staging.data());
    for (int y = 0; y < readHeight; ++y)
        repackPixels(g_staging.data() + static_cast<size_t>(y) * readWidth * 4,
                     destination + static_cast<size_t>(y) * rowBytes, readWidth);
}

void drawFrame(int pass, uint8_t* destination) {
    if (!destination) return;
    ProjectFiles& files = projectFiles();
    ScriptShared& blocks = scriptShared();
    GlState& gls = glState();
    const int width = frameQueue().width();
    const int height = frameQueue().height();
    // The script's udPre reads them; a reset of the shared words or a stray
    // write of the script must not leave it a wrong name.
    publishLayerTextures(gls);
    g_place = pass == 0 ? takeNextTile() : currentTilePlacement();
    FrameInfo& info = blocks.frameInfo;
    info.tileX = g_place.active ? g_place.x : 0;
    info.tileY = g_place.active ? g_place.y : 0;
    // Unsigned: a frame 32768 high fills the word's top bit.
    info.tileSize = g_place.active
                        ? static_cast<int32_t>(static_cast<uint32_t>(g_place.width) |
                                               static_cast<uint32_t>(g_place.height) << 16)
                        : 0;
    const int shiftLimit = shiftedViewportLimit();
    g_shiftViewport = g_place.active && fitsViewport(g_place.pictureWidth, g_place.pictureHeight) &&
                      (shiftLimit == 0 ||
                       (g_place.pictureWidth <= shiftLimit && g_place.pictureHeight <= shiftLimit));
    if (g_place.active) {
        // A wrong poster is worse than none: the run ends with the reason.
        const std::string refusal = tileRefusal(gls);
        if (!refusal.empty()) {
            platform().messageBox(WindowId::Main, refusal, "Poster", MsgButtons::Ok,
                                  MsgIcon::Error);
            std::memset(destination, 0,
                        static_cast<size_t>(width) * height * 3 * frameQueue().sampleBytes());
            return;
        }
    }

    if (files.dofEnabled && !prepareDepthOfField(gls, width, height)) files.dofEnabled = 0;

    // A script may have bound a framebuffer of its own.
    if (gls.deep.framebuffer && !gls.offscreen.current) bindDrawingTarget(gls);
    // Only the frame's own rectangle is cleared and drawn: the surface may be
    // much larger than the frame.
    glScissor(0, 0, width, height);
    glEnable(GL_SCISSOR_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthFunc(GL_LESS);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    const int frame = imageShaderFrame(pass);
    g_walkLength = 0;
    int position = 0;
    for (int steps = 0; position >= 0 && position < LAYER_COUNT;) {
        if (gls.layers[position].program) {
            if (g_walkLength < MAX_RECORDED_STEPS) g_walk[g_walkLength++] = position;
            drawLayer(gls, position, pass, frame);
        }
        position = nextLayerIndex(position, blocks.frameInfo.layerSkip);
        if (++steps > MAX_LAYER_STEPS - 1) break;
    }

    if (files.dofEnabled && gls.dofBuffer && gls.gl.glGenerateMipmap && gls.dofProgram &&
        frameQueue().depth())
        depthOfFieldPass(gls, width, height);

    glFlush(); // the drawing starts before the previous frame is finished
    frameDrawingStarted();
    readBackFrame(destination, width, height);

    if (gls.eglSurface != EGL_NO_SURFACE && runGuarded(swapBuffers, &gls) != 0)
        appendDebugText("\r\nOpenGL caused an exception.");
}

} // namespace vortigo
