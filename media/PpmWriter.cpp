#include "media/PpmWriter.h"

#include "platform/AtomicFile.h"

namespace vortigo {

std::vector<uint8_t> topDownRgb(const uint8_t* bottomUpBgr, int width, int height) {
    const size_t row = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rgb(row * static_cast<size_t>(height));
    uint8_t* out = rgb.data();
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* p = bottomUpBgr + static_cast<size_t>(y) * row;
        for (size_t x = 0; x < row; x += 3) {
            *out++ = p[x + 2];
            *out++ = p[x + 1];
            *out++ = p[x];
        }
    }
    return rgb;
}

std::vector<uint8_t> encodePpm(const uint8_t* bottomUpBgr, int width, int height) {
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    const std::vector<uint8_t> rgb = topDownRgb(bottomUpBgr, width, height);
    bytes.insert(bytes.end(), rgb.begin(), rgb.end());
    return bytes;
}

bool writePpm(const std::string& path, const uint8_t* bottomUpBgr, int width, int height) {
    const std::vector<uint8_t> bytes = encodePpm(bottomUpBgr, width, height);
    return writeWholeFile(path, bytes.data(), bytes.size());
}

} // namespace vortigo
