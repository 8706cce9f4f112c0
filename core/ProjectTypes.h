// Sizes, kinds and the per-layer slot that the state groups share.
#pragma once

#include "core/GuardedBlock.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace vortigo {

constexpr int PATH_SIZE = 260;
constexpr int TEXT_SIZE = 65536; // 65535 characters and the terminating zero
constexpr int LAYER_COUNT = 4;
constexpr int FLIGHT_FLOATS = 120000; // 10000 records of 12 floats
constexpr int FLIGHT_RECORD_FLOATS = 12;
constexpr int MIN_UDEF = 16;
constexpr int DEBUG_LINE_SIZE = 260;

enum TextKind : int { KIND_SCRIPT = 0, KIND_FRAGMENT = 1, KIND_VERTEX = 2, KIND_DEBUG = 3 };

enum FlightMode : int {
    FLIGHT_STOPPED = 0,
    FLIGHT_FREE = 1,
    FLIGHT_TIMED_REPLAY = 2,
    FLIGHT_FROZEN = 3,
    FLIGHT_STEP_BACKWARD = 4,
    FLIGHT_STEP_FORWARD = 5,
};

using Path = char[PATH_SIZE];
using TextBuffer = std::unique_ptr<char[]>;
using ByteBuffer = std::unique_ptr<uint8_t[]>;

struct LayerSlot {
    Path vertexFile{};
    Path fragmentFile{};
    TextBuffer vertexText;
    TextBuffer fragmentText;
    uint8_t vertexDirty = 0;
    uint8_t fragmentDirty = 0;
    int vertexTopLine = 0;
    int fragmentTopLine = 0;
    Path backgroundFile{};
    GuardedBytes backgroundPixels; // 4 bytes a pixel: blue, green, red, unused; lent to udPre
    int backgroundWidth = 0;
    int backgroundHeight = 0;
    uint8_t backgroundIsVideo = 0;
    std::atomic<uint8_t> backgroundChanged{
        0};                               // UI or render thread set it, render thread clears it
    int32_t* videoFrameCounter = nullptr; // lives in FrameInfo

    bool active() const {
        return vertexText && fragmentText && vertexText[0] != 0 && fragmentText[0] != 0;
    }
};

} // namespace vortigo
