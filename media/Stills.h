// Still frames out of the studio: the TGA stills of a capture and the BMP
// snapshot of the shown frame. Both take the frame buffer format as it is:
// 3 bytes a pixel (blue, green, red), bottom row first, rows not padded.
//
// Threads: any; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vortigo {

constexpr int TGA_HEADER_BYTES = 18;
constexpr int BMP_HEADER_BYTES = 54; // 14-byte file header + 40-byte bitmap header

// The 18-byte header of an uncompressed true-colour TGA with its origin at
// the lower left. Only the low 16 bits of each size fit.
std::array<uint8_t, TGA_HEADER_BYTES> tgaHeader(int width, int height);

// The 14-byte file header and the 40-byte bitmap header of a 24-bit
// bottom-up BMP of `width` x `height` pixels.
std::array<uint8_t, BMP_HEADER_BYTES> bmpHeader(int width, int height);

// Writes header and pixels to `path` whole or not at all: a temporary file
// beside it is renamed over it when complete (AtomicFile; a link at `path`
// is replaced, a read-only file refused). False (with errno set) when the
// file cannot be created or written completely; the old file is then kept.
bool writeTgaFile(const std::string& path, const uint8_t* pixels, int width, int height);
bool writeBmpFile(const std::string& path, const uint8_t* pixels, int width, int height);

// The BMP snapshot of a frame copied by the caller: a file that cannot be
// written is reported in a message box owned by the main window.
bool writeBmpSnapshot(const std::string& path, const uint8_t* pixels, int width, int height);

} // namespace vortigo
