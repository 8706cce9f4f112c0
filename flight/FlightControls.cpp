#include "flight/FlightControls.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
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
    const ProjectState& s = state();
    return s.renderRun && s.scriptReady && s.buffersReady;
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
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    const double sy = 0.5 - static_cast<double>(y) / files.imageHeight;
    const double sx = 0.5 - static_cast<double>(x) / files.imageWidth;
    const double pitch = sy * sy * sy, yaw = sx * sx * sx;
    setCameraQuat(turnQuat(quatFrom(camera.cameraQuat), camera.cameraMatrix,
                           camera.flightRotationSpeed * pitch, camera.flightRotationSpeed * yaw,
                           camera.flightRoll));
    const Vec3 step = vectorTimesMatrix(vecFrom(camera.flightVelocity), camera.cameraMatrix);
    camera.xCenter += step.x;
    camera.yCenter += step.y;
    camera.zLens += step.z;
    if (camera.timeRunning) {
        camera.animTime += camera.animationSpeed;
        recordFlightSample();
    }
}

void startFlying() {
    CameraFlight& camera = cameraFlight();
    if (camera.flightMode != FLIGHT_FREE) {
        camera.flightMode = FLIGHT_FREE;
        for (float& v : camera.flightVelocity)
            v = 0;
        camera.flightRoll = 0;
    }
}

void nudgeUdef(int index, float sign) {
    CameraFlight& camera = cameraFlight();
    if (camera.udef) camera.udef[index] += sign * camera.udefDelta;
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
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    switch (camera.flightMode.load()) {
    case FLIGHT_FREE: {
        // Without a pointer the flight goes straight ahead.
        int x = files.imageWidth / 2, y = files.imageHeight / 2;
        if (!currentPointer(x, y)) {
            x = files.imageWidth / 2;
            y = files.imageHeight / 2;
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
    CameraFlight& camera = cameraFlight();
    const CaptureState& capture = captureView();
    ProjectState& s = state();
    if (!running()) return KeyAction::None;
    if (key >= KEY_FIRST && key <= KEY_LAST) camera.keyDown[key - KEY_FIRST] = 1;
    float* velocity = camera.flightVelocity;
    switch (key) {
    case 'W':
        camera.flightMode = FLIGHT_FREE;
        return KeyAction::Advance;
    case 'S':
        camera.flightMode = FLIGHT_STOPPED;
        camera.flightRoll = 0;
        s.renderHold.set();
        camera.ctrlDown = camera.shiftDown = 0;
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
        camera.flightMode = FLIGHT_STEP_BACKWARD;
        if (camera.shiftDown) camera.flightHead = flightIndexInRange(camera.flightEnd);
        if (flightIndexInRange(camera.flightStart) != flightIndexInRange(camera.flightEnd))
            markBeep();
        return KeyAction::Advance;
    case 'E': {
        camera.flightMode = FLIGHT_STEP_FORWARD;
        if (camera.shiftDown || camera.ctrlDown)
            camera.flightHead = flightIndexInRange(camera.flightStart);
        if (flightIndexInRange(camera.flightStart) != flightIndexInRange(camera.flightEnd)) {
            markBeep();
            if (camera.ctrlDown) startTimedReplay();
        }
        return KeyAction::Advance;
    }
    case 'R':
        if (camera.shiftDown)
            camera.flightStart = camera.flightHead = camera.flightEnd = 0;
        else
            camera.flightStart = flightIndexInRange(camera.flightHead);
        markBeep();
        return KeyAction::None;
    case 'T':
        camera.timeRunning = !camera.timeRunning;
        return KeyAction::Advance;
    case 'C': {
        const CaptureKeys& keys = captureKeys();
        const bool on = !capture.capturing();
        if (on && capture.outputFile[0] != 0 && keys.fileOpen && !keys.fileOpen()) {
            camera.flightMode = FLIGHT_STOPPED;
            camera.flightRoll = 0;
            keys.start();
        }
        // Published after the start, so a frame that sees capturing finds
        // the writer ready.
        capture.setCapturing(on);
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    }
    case 'X':
        if (!idleTest()) return KeyAction::RepostKey;
        if (captureKeys().finish)
            captureKeys().finish();
        else
            capture.setCapturing(false);
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    case 'Z':
        return KeyAction::CentrePointer;
    case 'V':
        camera.flightMode = FLIGHT_STOPPED;
        return KeyAction::CentrePointerAdvance;
    case VK_ESCAPE:
        camera.flightMode = FLIGHT_FROZEN;
        platform().beep(500, 250);
        return KeyAction::StoreSteeringPoint;
    case VK_SHIFT:
        camera.shiftDown = 1;
        return KeyAction::None;
    case VK_CONTROL:
        camera.ctrlDown = 1;
        return KeyAction::None;
    case VK_UP:
        startFlying();
        if (camera.shiftDown)
            for (int i = 0; i < 3; ++i)
                velocity[i] *= FASTER;
        else if (camera.ctrlDown)
            velocity[1] += camera.flightAcceleration;
        else
            velocity[2] += camera.flightAcceleration;
        return KeyAction::Advance;
    case VK_DOWN:
        if (camera.shiftDown)
            for (int i = 0; i < 3; ++i)
                velocity[i] *= SLOWER;
        else if (camera.ctrlDown)
            velocity[1] -= camera.flightAcceleration;
        else
            velocity[2] -= camera.flightAcceleration;
        return KeyAction::Advance;
    case VK_LEFT:
        if (camera.ctrlDown)
            camera.flightRoll -= ROLL_STEP;
        else
            velocity[0] -= camera.flightAcceleration;
        return KeyAction::Advance;
    case VK_RIGHT:
        if (camera.ctrlDown)
            camera.flightRoll += ROLL_STEP;
        else
            velocity[0] += camera.flightAcceleration;
        return KeyAction::Advance;
    default:
        return KeyAction::None;
    }
}

void traceKeyUp(int key) {
    CameraFlight& camera = cameraFlight();
    if (key >= KEY_FIRST && key <= KEY_LAST) camera.keyDown[key - KEY_FIRST] = 0;
    if (key == VK_SHIFT) camera.shiftDown = 0;
    if (key == VK_CONTROL) camera.ctrlDown = 0;
}

void traceWheel(int delta) {
    CameraFlight& camera = cameraFlight();
    if (camera.flightMode != FLIGHT_FREE) return;
    camera.flightRoll += static_cast<int16_t>(delta) < 0 ? -ROLL_STEP : ROLL_STEP;
}

int traceMouseButton(bool left) {
    if (cameraView().flightMode != FLIGHT_FREE) return 0;
    return left ? VK_UP : VK_DOWN;
}

namespace {

std::deque<RingEdit> g_pendingRingEdits; // user-interface thread only

// No frame is being drawn: the render thread waits for the advance, is
// parked, or is gone.
bool betweenFrames() {
    const ProjectState& s = state();
    return !s.renderRun || s.renderHold;
}

void applyRingEdit(RingEdit edit) {
    CameraFlight& camera = cameraFlight();
    switch (edit) {
    case RingEdit::Rewind:
        camera.flightHead = flightIndexInRange(camera.flightStart);
        // A time-based replay would skip straight back to where it was:
        // rewound, it replays from the first record's time.
        if (camera.flightMode == FLIGHT_TIMED_REPLAY && camera.flightBuffer)
            camera.animTime = camera.flightBuffer[static_cast<size_t>(camera.flightHead) + 3];
        break;
    case RingEdit::JumpToEnd:
        camera.flightHead = flightIndexInRange(camera.flightEnd);
        break;
    case RingEdit::MarkBeginning:
        camera.flightStart = flightIndexInRange(camera.flightHead);
        break;
    case RingEdit::MarkEnd:
        camera.flightEnd = flightIndexInRange(camera.flightHead);
        break;
    case RingEdit::Smooth:
        smoothFlight();
        break;
    case RingEdit::Clear:
        camera.flightStart = camera.flightHead = camera.flightEnd = 0;
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
    ProjectState& s = state();
    if (!(s.renderHold && s.renderRun && s.scriptReady && s.buffersReady)) return;
    applyPendingRingEdits();
    motionStep();
    updateStatusLine(WindowId::Trace);
    s.renderHold.clear();
}

} // namespace vortigo
