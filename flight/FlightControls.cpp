#include "flight/FlightControls.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "flight/FlightRecord.h"
#include "flight/QuatMath.h"

#include <deque>
#include <mutex>

namespace vortigo {
namespace {

std::mutex g_pointerMutex;
PointerSource g_pointer;
int g_steeringX = 0, g_steeringY = 0;

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

} // namespace

void setPointerSource(PointerSource source) {
    std::lock_guard lock(g_pointerMutex);
    g_pointer = std::move(source);
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

namespace {

std::deque<RingEdit> g_pendingRingEdits; // user-interface thread only

// No frame is being drawn: the render thread waits for the advance, is
// parked, or is gone.
bool betweenFrames() {
    const RunState& run = runState();
    return !run.running() || run.held();
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

bool advanceFlight() {
    if (!(runState().held() && runState().running() && runState().scriptReady &&
          runState().buffersReady))
        return false;
    applyPendingRingEdits();
    motionStep();
    return true;
}

} // namespace vortigo
