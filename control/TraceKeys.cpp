#include "control/TraceKeys.h"

#include "control/StatusLine.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "media/Capture.h"
#include "platform/VirtualKeys.h"

namespace vortigo {
namespace {

constexpr float ROLL_STEP = 0.01f;
constexpr float FASTER = 1.5f;
constexpr float SLOWER = 0.75f;

bool running() {
    return runState().running() && runState().scriptReady && runState().buffersReady;
}

void markBeep() {
    platform().beep(1000, 100);
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

KeyAction traceKeyDown(int key) {
    CameraFlight& camera = cameraFlight();
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
        runState().park();
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
        const CaptureState& capture = captureView();
        const bool on = !capture.capturing();
        if (on && capture.outputFile[0] != 0 && !theCapture().isActive()) {
            camera.flightMode = FLIGHT_STOPPED;
            camera.flightRoll = 0;
            const ProjectFiles& files = projectFiles();
            theCapture().start(WindowId::Trace, capture.outputFile, files.imageWidth,
                               files.imageHeight, capture.aviFps, capture.maxAviFrames,
                               capture.audioFile);
        }
        // Published after the start, so a frame that sees capturing finds
        // the writer ready.
        capture.setCapturing(on);
        updateStatusLine(WindowId::Trace);
        return KeyAction::None;
    }
    case 'X':
        if (!stopFlightAndCheckParked()) return KeyAction::RepostKey;
        finishCapture();
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
    const auto notch = static_cast<int16_t>(delta);
    // A sideways scroll (a touchpad, a tilted wheel) has no vertical part:
    // it is no notch in either direction.
    if (camera.flightMode != FLIGHT_FREE || notch == 0) return;
    camera.flightRoll += notch < 0 ? -ROLL_STEP : ROLL_STEP;
}

int traceMouseButton(bool left) {
    if (cameraView().flightMode != FLIGHT_FREE) return 0;
    return left ? VK_UP : VK_DOWN;
}

void handleAdvanceMessage() {
    if (!advanceFlight()) return;
    updateStatusLine(WindowId::Trace);
    runState().release();
}

void handleTraceMessage(const WindowMessage& message) {
    if (message.type == MSG_ADVANCE)
        handleAdvanceMessage();
    else if (message.type == MSG_STATUS_LINE)
        updateStatusLine(WindowId::Trace);
}

} // namespace vortigo
