// What every fuzz target of the studio's readers shares: the headless
// platform and a project state initialised once, without default texts.
#pragma once

#include "core/ProjectTypes.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace vortigo::fuzz {

inline HeadlessPlatform& headless() {
    static HeadlessPlatform platform;
    return platform;
}

// A program folder that holds nothing, so the reset's default texts are
// missing (one message each, then cleared).
inline bool initialiseOnce() {
    static const bool ready = [] {
        setPlatform(&headless());
        setProgramDirectory("/nonexistent-vortigo-fuzz");
        const bool ok = initialiseProjectState();
        headless().clearRecords();
        return ok;
    }();
    return ready;
}

// A file of this process in memory-backed storage where there is some.
inline std::string scratchFile(const char* name) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(base) + "/vortigo-fuzz-" + std::to_string(getpid()) + "-" + name;
}

inline void writeScratch(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

// A property of the code under test that failed: a crash the fuzzer reports.
inline void require(bool holds) {
    if (!holds) __builtin_trap();
}

} // namespace vortigo::fuzz
