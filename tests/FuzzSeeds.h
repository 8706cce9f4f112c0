// Files the tests write can seed the fuzzers: with VORTIGO_FUZZ_SEEDS set to
// a folder, keepAsFuzzSeed stores a copy under <folder>/<target>/<name>.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vortigo::test {

inline void keepAsFuzzSeed(const std::string& target, const std::string& name,
                           const std::string& bytes) {
    const char* folder = std::getenv("VORTIGO_FUZZ_SEEDS");
    if (!folder || !*folder) return;
    const std::filesystem::path dir = std::filesystem::path(folder) / target;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

} // namespace vortigo::test
