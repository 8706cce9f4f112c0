#include "media/PpmWriter.h"

#include <cstdio>
#include <memory>

namespace vortigo {

std::vector<uint8_t> encodePpm(const uint8_t* bottomUpBgr, int width, int height) {
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    const size_t row = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.reserve(header.size() + row * static_cast<size_t>(height));
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* p = bottomUpBgr + static_cast<size_t>(y) * row;
        for (size_t x = 0; x < row; x += 3) {
            bytes.push_back(p[x + 2]);
            bytes.push_back(p[x + 1]);
            bytes.push_back(p[x]);
        }
    }
    return bytes;
}

bool writePpm(const std::string& path, const uint8_t* bottomUpBgr, int width, int height) {
    const std::vector<uint8_t> bytes = encodePpm(bottomUpBgr, width, height);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

} // namespace vortigo
