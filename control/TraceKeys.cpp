#include "control/TraceKeys.h"

#include "control/StatusLine.h"
#include "core/Handoff.h"
#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "media/Capture.h"
#include "platform/VirtualKeys.h"

#include <atomic>

namespace vortigo {
namespace {

constexpr float ROLL_STEP = 0.01f;
constexpr float FASTER = 1.5f;
constexpr float SLOWER = 0.75f;

bool running() {
    const ProjectState& s = state();
    return s.renderRun && s.scriptReady && s.buffersReady;
}

void markBeep() {
    platform().beep(1000, 100);
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
        s.renderHold.set();
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
        const int32_t on = !s.capturing;
        if (on && s.outputFile[0] != 0 && !theCapture().isActive()) {
            s.flightMode = FLIGHT_STOPPED;
            s.flightRoll = 0;
            theCapture().start(WindowId::Trace, s.outputFile, s.imageWidth, s.imageHeight, s.aviFps,
                               s.maxAviFrames, s.audioFile);
        }
        // Published after the start, so a frame that sees capturing finds
        // the writer ready.
        std::atomic_ref<int32_t>(s.capturing).store(on, std::memory_order_release);
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    }
    case 'X':
        if (!idleTest()) return KeyAction::RepostKey;
        finishCapture();
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
    const auto notch = static_cast<int16_t>(delta);
    // A sideways scroll (a touchpad, a tilted wheel) has no vertical part:
    // it is no notch in either direction.
    if (s.flightMode != FLIGHT_FREE || notch == 0) return;
    s.flightRoll += notch < 0 ? -ROLL_STEP : ROLL_STEP;
}

int traceMouseButton(bool left) {
    if (state().flightMode != FLIGHT_FREE) return 0;
    return left ? VK_UP : VK_DOWN;
}

void handleAdvanceMessage() {
    if (!advanceFlight()) return;
    updateStatusLine(WindowId::Trace);
    state().renderHold.clear();
}

void handleTraceMessage(const WindowMessage& message) {
    if (message.type == MSG_ADVANCE)
        handleAdvanceMessage();
    else if (message.type == MSG_STATUS_LINE)
        updateStatusLine(WindowId::Trace);
}

} // namespace vortigo
