// The plain text loader on arbitrary files and buffer sizes: it reads the
// file's first capacity - 1 bytes and a zero, and never writes past them.
#include "FuzzState.h"
#include "persist/TextFile.h"

#include <cstring>
#include <memory>

using namespace vortigo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::initialiseOnce() || size == 0) return 0;
    static const std::string path = fuzz::scratchFile("text.anim");
    // The first byte picks the capacity; the rest is the file.
    const int capacity = 1 + data[0];
    fuzz::writeScratch(path, data + 1, size - 1);
    const auto buffer = std::make_unique<char[]>(static_cast<size_t>(capacity));
    fuzz::require(loadText(WindowId::None, path, buffer.get(), capacity));
    const size_t expected = std::min(size - 1, static_cast<size_t>(capacity - 1));
    fuzz::require(buffer[expected] == 0);
    fuzz::require(std::memcmp(buffer.get(), data + 1, expected) == 0);
    return 0;
}
