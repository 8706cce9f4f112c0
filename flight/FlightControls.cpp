#include "flight/FlightControls.h"

#include "core/Handoff.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/StatusLine.h"
#include "flight/FlightRecord.h"
#include "flight/QuatMath.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace vortigo {
namespace {

constexpr float ROLL_STEP = 0.01f;
constexpr float FASTER = 1.5f;
constexpr float SLOWER = 0.75f;

CaptureKeys& captureKeys() {
    static CaptureKeys keys;
    return keys;
}

std::mutex g_pointerMutex;
PointerSource g_pointer;
int g_steeringX = 0, g_steeringY = 0;

bool running() {
    const RunState& run = runState();
    return run.running() && run.scriptReady && run.buffersReady;
}

void markBeep() {
    platform().beep(1000, 100);
}

bool currentPointer(int& x, int& y) {
    PointerSource source;
    {
        std::lock_guard lock(g_pointerMutex);
        source = g_pointer;
    }
    return source && source(x, y);
}

// Pitch, yaw and roll by the steering offset, then move by the velocity.
void steer(int x, int y) {
    ProjectState& s = state();
    const double sy = 0.5 - static_cast<double>(y) / s.imageHeight;
    const double sx = 0.5 - static_cast<double>(x) / s.imageWidth;
    const double pitch = sy * sy * sy, yaw = sx * sx * sx;
    setCameraQuat(turnQuat(quatFrom(s.cameraQuat), s.cameraMatrix, s.flightRotationSpeed * pitch,
                           s.flightRotationSpeed * yaw, s.flightRoll));
    const Vec3 step = vectorTimesMatrix(vecFrom(s.flightVelocity), s.cameraMatrix);
    store(step, s.flightStep);
    s.xCenter += step.x;
    s.yCenter += step.y;
    s.zLens += step.z;
    if (s.timeRunning) {
        s.animTime += s.animationSpeed;
        recordFlightSample();
    }
}

void startFlying() {
    ProjectState& s = state();
    if (s.flightMode != FLIGHT_FREE) {
        s.flightMode = FLIGHT_FREE;
        for (float& v : s.flightVelocity)
            v = 0;
        s.flightRoll = 0;
    }
}

void nudgeUdef(int index, float sign) {
    ProjectState& s = state();
    if (s.udef) s.udef[index] += sign * s.udefDelta;
}

} // namespace

void setPointerSource(PointerSource source) {
    std::lock_guard lock(g_pointerMutex);
    g_pointer = std::move(source);
}

void setCaptureKeys(CaptureKeys keys) {
    captureKeys() = std::move(keys);
}

void setSteeringPoint(int x, int y) {
    g_steeringX = x;
    g_steeringY = y;
}

void motionStep() {
    ProjectState& s = state();
    switch (s.flightMode.load()) {
    case FLIGHT_FREE: {
        // Without a pointer the flight goes straight ahead.
        int x = s.imageWidth / 2, y = s.imageHeight / 2;
        if (!currentPointer(x, y)) {
            x = s.imageWidth / 2;
            y = s.imageHeight / 2;
        }
        steer(x, y);
        break;
    }
    case FLIGHT_FROZEN:
        steer(g_steeringX, g_steeringY);
        break;
    case FLIGHT_STEP_BACKWARD:
        replayStepBackward();
        break;
    case FLIGHT_STEP_FORWARD:
        replayStepForward();
        break;
    case FLIGHT_TIMED_REPLAY:
        replayTimedStep();
        break;
    default:
        break;
    }
}

KeyAction traceKeyDown(int key) {
    ProjectState& s = state();
    if (!running()) return KeyAction::None;
    if (key >= KEY_FIRST && key <= KEY_LAST) s.keyDown[key - KEY_FIRST] = 1;
    float* velocity = s.flightVelocity;
    switch (key) {
    case 'W':
        s.flightMode = FLIGHT_FREE;
        return KeyAction::Advance;
    case 'S':
        s.flightMode = FLIGHT_STOPPED;
        s.flightRoll = 0;
        runState().park();
        s.ctrlDown = s.shiftDown = 0;
        return KeyAction::None;
    case '1':
        nudgeUdef(0, -1);
        return KeyAction::Advance;
    case '2':
        nudgeUdef(0, 1);
        return KeyAction::Advance;
    case '3':
        nudgeUdef(1, -1);
        return KeyAction::Advance;
    case '4':
        nudgeUdef(1, 1);
        return KeyAction::Advance;
    case '5':
        nudgeUdef(2, -1);
        return KeyAction::Advance;
    case '6':
        nudgeUdef(2, 1);
        return KeyAction::Advance;
    case '7':
        nudgeUdef(3, -1);
        return KeyAction::Advance;
    case '8':
        nudgeUdef(3, 1);
        return KeyAction::Advance;
    case 'Q':
        s.flightMode = FLIGHT_STEP_BACKWARD;
        if (s.shiftDown) s.flightHead = flightIndexInRange(s.flightEnd);
        if (flightIndexInRange(s.flightStart) != flightIndexInRange(s.flightEnd)) markBeep();
        return KeyAction::Advance;
    case 'E': {
        s.flightMode = FLIGHT_STEP_FORWARD;
        if (s.shiftDown || s.ctrlDown) s.flightHead = flightIndexInRange(s.flightStart);
        if (flightIndexInRange(s.flightStart) != flightIndexInRange(s.flightEnd)) {
            markBeep();
            if (s.ctrlDown) startTimedReplay();
        }
        return KeyAction::Advance;
    }
    case 'R':
        if (s.shiftDown)
            s.flightStart = s.flightHead = s.flightEnd = 0;
        else
            s.flightStart = flightIndexInRange(s.flightHead);
        markBeep();
        return KeyAction::None;
    case 'T':
        s.timeRunning = !s.timeRunning;
        return KeyAction::Advance;
    case 'C': {
        const CaptureKeys& capture = captureKeys();
        const int32_t on = !s.capturing;
        if (on && s.outputFile[0] != 0 && capture.fileOpen && !capture.fileOpen()) {
            s.flightMode = FLIGHT_STOPPED;
            s.flightRoll = 0;
            capture.start();
        }
        // Published after the start, so a frame that sees capturing finds
        // the writer ready.
        std::atomic_ref<int32_t>(s.capturing).store(on, std::memory_order_release);
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    }
    case 'X':
        if (!stopFlightAndCheckParked()) return KeyAction::RepostKey;
        if (captureKeys().finish)
            captureKeys().finish();
        else
            s.capturing = 0;
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    case 'Z':
        return KeyAction::CentrePointer;
    case 'V':
        s.flightMode = FLIGHT_STOPPED;
        return KeyAction::CentrePointerAdvance;
    case VK_ESCAPE:
        s.flightMode = FLIGHT_FROZEN;
        platform().beep(500, 250);
        return KeyAction::StoreSteeringPoint;
    case VK_SHIFT:
        s.shiftDown = 1;
        return KeyAction::None;
    case VK_CONTROL:
        s.ctrlDown = 1;
        return KeyAction::None;
    case VK_UP:
        startFlying();
        if (s.shiftDown)
            for (int i = 0; i < 3; ++i)
                velocity[i] *= FASTER;
        else if (s.ctrlDown)
            velocity[1] += s.flightAcceleration;
        else
            velocity[2] += s.flightAcceleration;
        return KeyAction::Advance;
    case VK_DOWN:
        if (s.shiftDown)
            for (int i = 0; i < 3; ++i)
                velocity[i] *= SLOWER;
        else if (s.ctrlDown)
            velocity[1] -= s.flightAcceleration;
        else
            velocity[2] -= s.flightAcceleration;
        return KeyAction::Advance;
    case VK_LEFT:
        if (s.ctrlDown)
            s.flightRoll -= ROLL_STEP;
        else
            velocity[0] -= s.flightAcceleration;
        return KeyAction::Advance;
    case VK_RIGHT:
        if (s.ctrlDown)
            s.flightRoll += ROLL_STEP;
        else
            velocity[0] += s.flightAcceleration;
        return KeyAction::Advance;
    default:
        return KeyAction::None;
    }
}

void traceKeyUp(int key) {
    ProjectState& s = state();
    if (key >= KEY_FIRST && key <= KEY_LAST) s.keyDown[key - KEY_FIRST] = 0;
    if (key == VK_SHIFT) s.shiftDown = 0;
    if (key == VK_CONTROL) s.ctrlDown = 0;
}

void traceWheel(int delta) {
    ProjectState& s = state();
    if (s.flightMode != FLIGHT_FREE) return;
    s.flightRoll += static_cast<int16_t>(delta) < 0 ? -ROLL_STEP : ROLL_STEP;
}

int traceMouseButton(bool left) {
    if (state().flightMode != FLIGHT_FREE) return 0;
    return left ? VK_UP : VK_DOWN;
}

namespace {

std::deque<RingEdit> g_pendingRingEdits; // user-interface thread only

// No frame is being drawn: the render thread waits for the advance, is
// parked, or is gone.
bool betweenFrames() {
    const RunState& run = runState();
    return !run.running() || run.held();
}

void applyRingEdit(RingEdit edit) {
    ProjectState& s = state();
    switch (edit) {
    case RingEdit::Rewind:
        s.flightHead = flightIndexInRange(s.flightStart);
        // A time-based replay would skip straight back to where it was:
        // rewound, it replays from the first record's time.
        if (s.flightMode == FLIGHT_TIMED_REPLAY && s.flightBuffer)
            s.animTime = s.flightBuffer[static_cast<size_t>(s.flightHead) + 3];
        break;
    case RingEdit::JumpToEnd:
        s.flightHead = flightIndexInRange(s.flightEnd);
        break;
    case RingEdit::MarkBeginning:
        s.flightStart = flightIndexInRange(s.flightHead);
        break;
    case RingEdit::MarkEnd:
        s.flightEnd = flightIndexInRange(s.flightHead);
        break;
    case RingEdit::Smooth:
        smoothFlight();
        break;
    case RingEdit::Clear:
        s.flightStart = s.flightHead = s.flightEnd = 0;
        break;
    }
}

} // namespace

bool applyPendingRingEdits() {
    if (!betweenFrames()) return g_pendingRingEdits.empty();
    while (!g_pendingRingEdits.empty()) {
        applyRingEdit(g_pendingRingEdits.front());
        g_pendingRingEdits.pop_front();
    }
    return true;
}

bool requestRingEdit(RingEdit edit) {
    g_pendingRingEdits.push_back(edit);
    return applyPendingRingEdits();
}

void handleAdvanceMessage() {
    RunState& run = runState();
    if (!(run.held() && run.scriptReady && run.buffersReady)) return;
    applyPendingRingEdits();
    motionStep();
    updateStatusLine(WindowId::Trace);
    run.release();
}

} // namespace vortigo
