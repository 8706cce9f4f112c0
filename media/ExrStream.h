// OpenEXR pictures written a band of rows at a time: a single-part scanline
// file of half-float channels B, G and R, ZIP-compressed in blocks of 16
// scanlines. Only one block is held in memory; the offset table after the
// header is written as zeros and filled in when the picture is finished.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include "media/PictureStream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vortigo {

// The widest OpenEXR picture written: a block of 16 raw scanlines must fit
// the chunk's signed 32-bit size field.
constexpr int EXR_MAX_WIDTH = static_cast<int>(INT32_MAX / (16 * 3 * 2));

// Starts the temporary file of `path` for rows of 16-bit sRGB-encoded
// samples (PictureStream::writeRows); null with `error` set when it cannot
// be started.
std::unique_ptr<PictureStream> openExrStream(const std::string& path, int width, int height,
                                             std::string& error);

} // namespace vortigo
