// PNG pictures of a finished frame through FFmpeg's PNG encoder, for the
// batch renderer.
#pragma once

#include <cstdint>
#include <string>

namespace vortigo {

// Writes a frame of `width` x `height` pixels of 3 bytes (blue, green, red),
// bottom row first, as a PNG file, whole or not at all (writeWholeFile).
// False with `error` set when it cannot be
// encoded or written.
bool writePng(const std::string& path, const uint8_t* bottomUpBgr, int width, int height,
              std::string& error);

} // namespace vortigo
