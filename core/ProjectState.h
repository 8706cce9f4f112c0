// The one process-wide record of the studio: settings, camera, animation
// time, udef, flight ring, file names, texts and editor state. It is reached
// directly through `state()`. The run state (core/RunState.h) and the frame
// buffers (core/FrameQueue.h) have objects of their own.
//
// Threads: see the groups of ProjectState below.
#pragma once

#include "core/GuardedBlock.h"
#include "core/ScriptBlocks.h"
#include "platform/Platform.h"
#include "platform/Waits.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

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

struct Colour {
    uint8_t blue = 0, green = 0, red = 0;
};

// 40-byte device-independent bitmap header plus one colour entry; the Trace
// window and the clipboard copy describe frames with it.
struct DisplayHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
    uint8_t colours[4];
};
static_assert(sizeof(DisplayHeader) == 44);

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

// Fields are grouped by the thread that may write them; a group's comment
// says when. Readers on other threads rely on the hand-offs of the run state
// and the frame queue (release/acquire) for what they see.
struct ProjectState {
    ProjectState();
    ProjectState(const ProjectState&) = delete;
    ProjectState& operator=(const ProjectState&) = delete;

    // ---- Shared with the script ------------------------------------------
    // The script reads and writes these words in place from whichever thread
    // runs it; the fields below that are references live in them, so a
    // script's write is the field's new value. Each block, like every other
    // block the script is lent, sits between inaccessible pages
    // (core/GuardedBlock.h).
    FrameInfo& frameInfo;
    AnimInfo& animInfo;

    // ---- User-interface thread, while the render thread rests ------------
    // (the idle test passed, or the render thread held and no frame in
    // flight). The render thread reads them while it draws or compiles.

    // Image and output settings.
    int32_t& imageWidth;
    int32_t& imageHeight;
    int32_t& aviFps;
    int useMotionBlur = 0;
    int despeckle = 0;
    int dofEnabled = 0;
    int superSample = 0;
    float& dofScale;
    float& dofOffset;
    float& maxDepth;
    int maxAviFrames = 0;

    // Motion and animation tuning.
    float& animationSpeed;
    float udefDelta = 0.01f;
    float flightAcceleration = 0.0005f;
    float flightRotationSpeed = 1.0f;

    // Limits and compiler paths (read once at start-up and by every New).
    int maxWidth = 1920;
    int maxHeight = 1080;
    int maxUdef = 32;
    int scriptTimeoutSeconds = 5; // an entry point running longer is interrupted; 0: never
    // Decoded background pixels may take this much a layer, and all four
    // layers together this much (MB); larger ones are refused when loaded.
    int backgroundLimitMb = 256;
    int backgroundTotalLimitMb = 512;
    Path libraries{};
    Path includePath{};

    // Camera and animation: the motion step writes them while the render
    // thread is held, before it releases the next frame.
    float xCenter = 0.0f, yCenter = 0.0f, zLens = 0.0f;
    float& animTime;
    uint8_t timeRunning = 0;
    float cameraRotation[3]{};
    float cameraQuat[4]{0, 0, 0, 1};
    double cameraMatrix[3][3]{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    // User-defined parameters: maxUdef floats, allocated once at start-up.
    GuardedFloats udef;

    // Flight recording: the ring and its marks (the marks live in FrameInfo).
    GuardedFloats flightBuffer;
    int32_t& flightHead;
    int32_t& flightEnd;
    int32_t& flightStart;
    Path flightFile{};

    // File names and texts: the compile case reads the texts.
    Path projectFile{};
    Path outputFile{};
    Path audioFile{};
    Path scriptFile{};
    TextBuffer scriptText;
    std::array<LayerSlot, LAYER_COUNT> layers;

    // ---- User-interface thread only -------------------------------------
    // Flight control state (never stored).
    float flightVelocity[3]{};
    float flightRoll = 0.0f;
    float flightStep[3]{};
    uint8_t shiftDown = 0, ctrlDown = 0;
    int32_t* keyDown; // keyDown[k - KEY_FIRST] is virtual key k; lives in FrameInfo

    // Editor appearance, window placement and editor state.
    char fontFamily[32]{};
    int fontSize = 10;
    Colour textColour{};
    Colour backgroundColour{};
    int traceWindowLeft = 0, traceWindowTop = 0;
    int editWindowLeft = 520, editWindowTop = 0;
    int editWindowWidth = 512, editWindowHeight = 640;
    int currentLayer = 0;
    int currentKind = KIND_FRAGMENT;
    uint8_t scriptDirty = 0;
    int scriptTopLine = 0, debugTopLine = 0;
    char (&scratchLine)[DEBUG_LINE_SIZE]; // the script's debug line, guarded like the blocks
    char findText[PATH_SIZE]{};
    uint8_t slidersOpen = 0; // the Sliders dialog exists
    DisplayHeader displayHeader{};

    // ---- Render thread ---------------------------------------------------
    int64_t lastFrameTick = 0;

    // Debug output: appended by whichever thread ran the script, under the
    // debug log's lock; the user-interface thread empties it on reset.
    TextBuffer debugText;

    // ---- Atomics: any thread ---------------------------------------------
    std::atomic<int> flightMode{FLIGHT_STOPPED}; // the idle test stops the flight
    std::atomic<int> frameMs{0};                 // render thread
    std::atomic<uint8_t> watchOpen{0};           // user-interface thread
    std::atomic<bool> mainWindowExists{false};   // user-interface thread
    int32_t& capturing;                          // in FrameInfo; see the capture writer
};

ProjectState& state();

// Any thread the script runs on, after each call into it: false when the
// script wrote just before the start of a block it keeps for life (FrameInfo,
// AnimInfo, the debug line, udef, the flight ring), where no guard page
// could catch it. The damage is undone. The check cannot tell which of two
// entry points running at once on different threads made the write.
bool scriptBlocksIntact();

// Frees every buffer of the record (the end of the exit path).
void releaseProjectBuffers();

// Owner of the messages of texts and state: the main window once it exists.
WindowId mainOwner();

// The text buffer, top line and title that belong to a text kind of the
// current layer.
char* textOfKind(int kind);
int& topLineOfKind(int kind);
std::string titleOfKind(int kind);

} // namespace vortigo
