// The GL side of the script's texture host functions and of the layer
// background upload: background on unit 0, data texture (1D or 2D) on unit 1,
// volume texture on unit 2, all through glState().
//
// Threads: render thread, with the GL context current. A call from a thread
// without a current context (the post-processing thread runs udPostFrame
// without one) is refused with -1, or ignored where nothing is returned.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vortigo {

// The most bytes the texels of one data or volume texture request may take;
// a larger request is refused before anything is allocated.
constexpr size_t SCRIPT_TEXTURE_BYTE_LIMIT = size_t{256} << 20;

// Selects `textureUnit` (the GL enumerant, GL_TEXTURE0 + n); it stays
// selected. -1 when glActiveTexture is missing or no context is current.
int setActiveTex(int textureUnit);

// Uploads the data texture on unit 1: one-dimensional of `width` texels when
// `height` <= 1, otherwise `width` x `height`. `components` 3 = RGB, 4 = RGBA,
// anything else a single red channel; `isFloat` non-zero reads 32-bit floats,
// zero bytes; `filter` 2 = nearest, anything else linear. Rows are read
// tightly packed. -1 when refused (null data, width <= 0, a side above
// GL_MAX_TEXTURE_SIZE, texels above SCRIPT_TEXTURE_BYTE_LIMIT,
// glActiveTexture missing, no context), else 0.
int setupDataTex(const void* data, int width, int height, int components, int isFloat, int filter);

// Uploads the volume texture (the default 3D texture of unit 2) with the
// encoding of setupDataTex. -1 when refused (null data, a size <= 0, a side
// above GL_MAX_3D_TEXTURE_SIZE, texels above SCRIPT_TEXTURE_BYTE_LIMIT,
// glActiveTexture or glTexImage3DEXT missing, no context), else 0.
int setupVolTex(const void* data, int width, int height, int depth, int components, int isFloat,
                int filter);

// Defines layer `layer`'s background texture (unit 0) from `width` x `height`
// blue-green-red-x bytes, then sets its filters by `mode`: below 2 linear,
// 2 nearest, 3 mipmaps + trilinear (linear without glGenerateMipmap),
// 4 and above unchanged. Ignored for null pixels, a layer outside 0..3,
// sizes <= 0 or too large, or without a current context.
void uploadBackground(int layer, int width, int height, const uint8_t* pixels, int mode);

// Hands SetActiveTex, SetupDataTex and SetupVolTex to the script host; the
// context creation does it, so every compile after it links the real ones.
void installTextureHostFunctions();

// Forgets the data texture's dimensionality and frees the staging buffer;
// called when the context (and with it the data texture) is released.
void resetScriptTextureState();

} // namespace vortigo
