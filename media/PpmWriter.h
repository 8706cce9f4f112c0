// Binary PPM ("P6") pictures of a finished frame, for the batch renderer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vortigo {

// A frame of `width` x `height` pixels of 3 bytes (blue, green, red), bottom
// row first, as red-green-blue rows top row first.
std::vector<uint8_t> topDownRgb(const uint8_t* bottomUpBgr, int width, int height);

// The P6 bytes of a frame of `width` x `height` pixels of 3 bytes (blue,
// green, red), bottom row first: header, then red-green-blue rows top first.
std::vector<uint8_t> encodePpm(const uint8_t* bottomUpBgr, int width, int height);

// Writes encodePpm's bytes to `path` whole or not at all (writeWholeFile);
// false with errno set when the file cannot be written.
bool writePpm(const std::string& path, const uint8_t* bottomUpBgr, int width, int height);

} // namespace vortigo
