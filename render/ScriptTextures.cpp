#include "render/ScriptTextures.h"

#include "render/BackgroundSwitch.h"
#include "render/GlContext.h"
#include "script/HostFunctions.h"

#include "render/PixelStore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace vortigo {
namespace {

// Dimensionality the data texture was created with (0: none yet). Only
// meaningful while glState().dataTexture is non-zero.
int s_dataTextureDims = 0;

bool contextCurrent() {
    return eglGetCurrentContext() != EGL_NO_CONTEXT;
}

struct Encoding {
    GLenum sourceFormat;
    GLenum internalFormat;
    GLenum type;
    size_t bytesPerTexel;
};

Encoding encodingFor(int components, int isFloat) {
    Encoding e{};
    size_t channels = 1;
    switch (components) {
    case 3:
        e.sourceFormat = GL_RGB;
        e.internalFormat = isFloat ? GL_RGB32F : GL_RGB;
        channels = 3;
        break;
    case 4:
        e.sourceFormat = GL_RGBA;
        e.internalFormat = isFloat ? GL_RGBA32F : GL_RGBA;
        channels = 4;
        break;
    default:
        e.sourceFormat = GL_RED;
        e.internalFormat = isFloat ? GL_RGB32F : GL_RGB;
        break;
    }
    e.type = isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE;
    e.bytesPerTexel = channels * (isFloat ? sizeof(GLfloat) : 1);
    return e;
}

// True when width x height x depth texels of `bytesPerTexel` fit in memory;
// sizes must already be positive.
bool byteCountFits(int width, int height, int depth, size_t bytesPerTexel) {
    size_t n = bytesPerTexel;
    return !__builtin_mul_overflow(n, static_cast<size_t>(width), &n) &&
           !__builtin_mul_overflow(n, static_cast<size_t>(height), &n) &&
           !__builtin_mul_overflow(n, static_cast<size_t>(depth), &n) &&
           n <= static_cast<size_t>(PTRDIFF_MAX);
}

size_t byteCount(int width, int height, int depth, size_t bytesPerTexel) {
    return bytesPerTexel * static_cast<size_t>(width) * static_cast<size_t>(height) *
           static_cast<size_t>(depth);
}

GLint integerLimit(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

// True when every side is within the GL's largest texture of its kind and
// the texels within the budget: checked before anything is allocated, as a
// script's sizes may claim far more than its buffer holds.
bool requestFits(GLenum limitName, int width, int height, int depth, size_t bytesPerTexel) {
    if (!byteCountFits(width, height, depth, bytesPerTexel) ||
        byteCount(width, height, depth, bytesPerTexel) > SCRIPT_TEXTURE_BYTE_LIMIT)
        return false;
    // A driver that does not say (0) is left to refuse the upload itself.
    const GLint side = integerLimit(limitName);
    return side <= 0 || (width <= side && height <= side && depth <= side);
}

// Script memory is copied into this host buffer before the GL sees it: a
// short buffer or a bad pointer then faults here, inside the script's guard,
// and never inside the driver (where the guard would leave its locks held).
// The buffer is static, so a fault during the copy leaks nothing; it is not
// cleared when allocated (the copy overwrites every byte it hands on), and
// more than STAGING_KEPT is given back after the upload that needed it.
constexpr size_t STAGING_KEPT = size_t{4} << 20;
constexpr size_t COPY_CHUNK = size_t{1} << 20;
std::unique_ptr<uint8_t[]> s_staging;
size_t s_stagingBytes = 0;

void releaseStaging() {
    s_staging.reset();
    s_stagingBytes = 0;
}

// Copies `bytes` of the script's memory. Pages the script maps itself may
// lie where an address checker still remembers a freed heap block of the
// host's, so the copy is one the checker does not instrument; a bad address
// faults here, inside the caller's guard, as it does for memcpy.
void copyFromScript(uint8_t* to, const uint8_t* from, size_t bytes) {
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(bytes) : : "memory");
}

// The script's bytes are read a chunk at a time; nullptr when the staging
// buffer cannot be had.
const void* copyScriptBytes(const void* data, size_t bytes) {
    if (s_stagingBytes < bytes) {
        releaseStaging(); // the old buffer is not held next to the new one
        s_staging.reset(new (std::nothrow) uint8_t[bytes]);
        if (!s_staging) return nullptr;
        s_stagingBytes = bytes;
    }
    const auto* from = static_cast<const uint8_t*>(data);
    for (size_t done = 0; done < bytes; done += COPY_CHUNK)
        copyFromScript(s_staging.get() + done, from + done, std::min(COPY_CHUNK, bytes - done));
    return s_staging.get();
}

// After an upload: a large staging buffer is not kept for the frames after.
void shrinkStaging() {
    if (s_stagingBytes > STAGING_KEPT) releaseStaging();
}

void setFilters(GLenum target, GLint filter) {
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
}

GLint scriptFilter(int filter) {
    return filter == 2 ? GL_NEAREST : GL_LINEAR;
}

} // namespace

void resetScriptTextureState() {
    s_dataTextureDims = 0;
    releaseStaging(); // also what a faulted copy left
}

int setActiveTex(int textureUnit) {
    const GlEntryPoints& gl = glState().gl;
    if (!contextCurrent() || !gl.glActiveTexture) return -1;
    gl.glActiveTexture(static_cast<GLenum>(textureUnit));
    return 0;
}

int setupDataTex(const void* data, int width, int height, int components, int isFloat, int filter) {
    GlState& state = glState();
    if (!contextCurrent() || !data || width <= 0 || !state.gl.glActiveTexture) return -1;

    const int dims = height <= 1 ? 1 : 2;
    const Encoding enc = encodingFor(components, isFloat);
    const int rows = dims == 1 ? 1 : height;
    if (!requestFits(GL_MAX_TEXTURE_SIZE, width, rows, 1, enc.bytesPerTexel)) return -1;
    const void* texels = copyScriptBytes(data, byteCount(width, rows, 1, enc.bytesPerTexel));
    if (!texels) return -1;

    // A texture name keeps the target it was first bound to, so a change of
    // dimensionality needs a new name.
    if (state.dataTexture && s_dataTextureDims != dims) {
        glDeleteTextures(1, &state.dataTexture);
        state.dataTexture = 0;
    }
    if (!state.dataTexture) glGenTextures(1, &state.dataTexture);
    s_dataTextureDims = dims;

    state.gl.glActiveTexture(GL_TEXTURE1);
    const GLenum target = dims == 1 ? GL_TEXTURE_1D : GL_TEXTURE_2D;
    if (dims == 1) glEnable(GL_TEXTURE_1D);
    glBindTexture(target, state.dataTexture);
    {
        TightUnpack unpack(state.gl);
        if (dims == 1)
            glTexImage1D(GL_TEXTURE_1D, 0, static_cast<GLint>(enc.internalFormat), width, 0,
                         enc.sourceFormat, enc.type, texels);
        else
            glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(enc.internalFormat), width, height, 0,
                         enc.sourceFormat, enc.type, texels);
    }
    shrinkStaging();
    setFilters(target, scriptFilter(filter));
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    return 0;
}

int setupVolTex(const void* data, int width, int height, int depth, int components, int isFloat,
                int filter) {
    GlState& state = glState();
    if (!contextCurrent() || !data || !state.gl.glActiveTexture || !state.gl.glTexImage3DEXT)
        return -1;
    if (width <= 0 || height <= 0 || depth <= 0) return -1;
    const Encoding enc = encodingFor(components, isFloat);
    if (!requestFits(GL_MAX_3D_TEXTURE_SIZE, width, height, depth, enc.bytesPerTexel)) return -1;
    const void* texels = copyScriptBytes(data, byteCount(width, height, depth, enc.bytesPerTexel));
    if (!texels) return -1;

    state.gl.glActiveTexture(GL_TEXTURE2);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, state.volumeTexture);
    {
        TightUnpack unpack(state.gl);
        state.gl.glTexImage3DEXT(GL_TEXTURE_3D, 0, enc.internalFormat, width, height, depth, 0,
                                 enc.sourceFormat, enc.type, texels);
    }
    shrinkStaging();
    setFilters(GL_TEXTURE_3D, scriptFilter(filter));
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    return 0;
}

void uploadBackground(int layer, int width, int height, const uint8_t* pixels, int mode) {
    GlState& state = glState();
    if (!contextCurrent() || !pixels || layer < 0 || layer > 3) return;
    if (width <= 0 || height <= 0 || !byteCountFits(width, height, 1, 4)) return;

    if (state.gl.glActiveTexture) state.gl.glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, state.layerTexture[layer]);
    {
        TightUnpack unpack(state.gl);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    }
    ++state.layerUploads[layer];
    if (mode < 2) {
        setFilters(GL_TEXTURE_2D, GL_LINEAR);
    } else if (mode == 2) {
        setFilters(GL_TEXTURE_2D, GL_NEAREST);
    } else if (mode == 3) {
        if (state.gl.glGenerateMipmap) {
            state.gl.glGenerateMipmap(GL_TEXTURE_2D);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        } else {
            // Trilinear filtering without mipmaps would leave the texture
            // incomplete (it samples black), so plain linear stands in.
            setFilters(GL_TEXTURE_2D, GL_LINEAR);
        }
    }
}

void installTextureHostFunctions() {
    setTextureHostFunctions(
        TextureHostFunctions{&setActiveTex, &setupDataTex, &setupVolTex, &switchBackground});
}

} // namespace vortigo
