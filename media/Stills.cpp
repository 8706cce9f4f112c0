#include "media/Stills.h"

#include "platform/AtomicFile.h"
#include "platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vortigo {
namespace {

void put16(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* at, uint32_t v) {
    put16(at, v);
    put16(at + 2, v >> 16);
}

uint32_t imageBytes(int width, int height) {
    return static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3u;
}

bool writeFile(const std::string& path, const uint8_t* header, size_t headerBytes,
               const uint8_t* pixels, size_t pixelBytes) {
    AtomicFile file;
    return file.open(path, LinkPolicy::Replace) && file.write(header, headerBytes) &&
           file.write(pixels, pixelBytes) && file.commit();
}

} // namespace

std::array<uint8_t, TGA_HEADER_BYTES> tgaHeader(int width, int height) {
    std::array<uint8_t, TGA_HEADER_BYTES> h{};
    h[2] = 2; // uncompressed true colour
    put16(&h[12], static_cast<uint32_t>(width) & 0xffff);
    put16(&h[14], static_cast<uint32_t>(height) & 0xffff);
    h[16] = 24;
    h[17] = 1; // one attribute bit, origin at the lower left
    return h;
}

std::array<uint8_t, BMP_HEADER_BYTES> bmpHeader(int width, int height) {
    std::array<uint8_t, BMP_HEADER_BYTES> h{};
    const uint32_t image = imageBytes(width, height);
    h[0] = 'B';
    h[1] = 'M';
    put32(&h[2], BMP_HEADER_BYTES + image);
    put32(&h[10], BMP_HEADER_BYTES);
    put32(&h[14], 40);
    put32(&h[18], static_cast<uint32_t>(width));
    put32(&h[22], static_cast<uint32_t>(height));
    put16(&h[26], 1);
    put16(&h[28], 24);
    put32(&h[34], image);
    return h;
}

bool writeTgaFile(const std::string& path, const uint8_t* pixels, int width, int height) {
    const auto header = tgaHeader(width, height);
    return writeFile(path, header.data(), header.size(), pixels, imageBytes(width, height));
}

bool writeBmpFile(const std::string& path, const uint8_t* pixels, int width, int height) {
    const auto header = bmpHeader(width, height);
    return writeFile(path, header.data(), header.size(), pixels, imageBytes(width, height));
}

bool writeBmpSnapshot(const std::string& path, const uint8_t* pixels, int width, int height) {
    errno = 0;
    if (pixels && width > 0 && height > 0 && writeBmpFile(path, pixels, width, height)) return true;
    const int error = errno;
    const std::string why = error ? fileErrorText(error) : "no frame has been drawn";
    platform().messageBox(
        WindowId::Main,
        formatC("Could not write the bitmap file %s: %s.", path.c_str(), why.c_str()), "Error",
        MsgButtons::Ok, MsgIcon::Error);
    errno = error; // the batch renderer words it again
    return false;
}

} // namespace vortigo
