#include "flight/FlightControls.h"

#include "core/ProjectState.h"
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

namespace {

std::deque<RingEdit> g_pendingRingEdits; // user-interface thread only

// No frame is being drawn: the render thread waits for the advance, is
// parked, or is gone.
bool betweenFrames() {
    const ProjectState& s = state();
    return !s.renderRun || s.renderHold;
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

bool advanceFlight() {
    const ProjectState& s = state();
    if (!(s.renderHold && s.renderRun && s.scriptReady && s.buffersReady)) return false;
    applyPendingRingEdits();
    motionStep();
    return true;
}

} // namespace vortigo
