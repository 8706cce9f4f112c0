// Memory the animation script shares with the host. The script receives the
// addresses of these blocks once and then reads and writes them in place, so
// the layout is an interface: every 32-bit field keeps its word index, and the
// two pointer requests live in 8-byte slots after word 255 on 64-bit builds.
//
// Threads: the user-interface thread, the render thread and the
// post-processing thread all touch these words without locks; the group that
// names a word (core/ProjectFiles.h, core/CameraFlight.h, core/CaptureState.h)
// states its rule, and capturing is always read and written atomically.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vortigo {

constexpr int KEY_FIRST = 32;
constexpr int KEY_LAST = 255;
constexpr int KEY_COUNT = KEY_LAST - KEY_FIRST + 1;

struct alignas(8) FrameInfo {
    int32_t imageWidth;           // 0
    int32_t imageHeight;          // 1
    int32_t flightStart;          // 2
    int32_t flightHead;           // 3
    int32_t flightEnd;            // 4
    int32_t layer;                // 5
    int32_t pass;                 // 6
    int32_t aviFps;               // 7
    int32_t bgUpdate;             // 8: first layer request
    int32_t layerSkip;            // 9
    int32_t bgWidth;              // 10
    int32_t bgHeight;             // 11
    int32_t videoHold;            // 12
    int32_t reservedDataTex;      // 13: held a 32-bit pointer on 32-bit builds; ignored
    int32_t dataTexWidth;         // 14
    int32_t reservedVolTex;       // 15: likewise
    int32_t volTexWidth;          // 16
    int32_t volTexHeight;         // 17
    int32_t volTexDepth;          // 18
    int32_t layerFlags;           // 19: last layer request
    int32_t videoFrameCounter[4]; // 20..23
    uint32_t layerTexture[4];     // 24..27
    int32_t capturing;            // 28
    int32_t tileX;                // 29: the frame's place in a tiled picture, from the left
    int32_t tileY;                // 30: and from the bottom
    int32_t tileSize;             // 31: its width | height << 16; 0 for a whole frame
    int32_t keyDown[KEY_COUNT];   // 32..255: word k is virtual key k
    void* dataTex;                // byte offset 1024
    void* volTex;                 // byte offset 1032
};

static_assert(offsetof(FrameInfo, bgUpdate) == 8 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, layerFlags) == 19 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, videoFrameCounter) == 20 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, layerTexture) == 24 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, capturing) == 28 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, keyDown) == 32 * sizeof(int32_t));
static_assert(offsetof(FrameInfo, dataTex) == 1024);
static_assert(offsetof(FrameInfo, volTex) == 1032);
static_assert(sizeof(FrameInfo) == 1040);

struct AnimInfo {
    float animTime;             // 0
    float animationSpeed;       // 1
    float dofScale;             // 2
    float dofOffset;            // 3
    float maxDepth;             // 4
    float reserved[3];          // 5..7
    float cameraPosition[3];    // 8..10: snapshot of xCenter, yCenter, zLens
    float cameraOrientation[4]; // 11..14: snapshot of cameraQuat
    float reserved2;            // 15
};

static_assert(offsetof(AnimInfo, cameraPosition) == 8 * sizeof(float));
static_assert(offsetof(AnimInfo, cameraOrientation) == 11 * sizeof(float));
static_assert(sizeof(AnimInfo) == 64);

} // namespace vortigo
