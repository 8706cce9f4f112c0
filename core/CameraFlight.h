// Camera, animation time, udef, the flight ring and its marks, the flight
// controls and their tuning.
//
// Owner: the motion thread, the one that steps the flight: the
// user-interface thread in the studio, the batch session's render thread in
// vortigo-render (HeadlessSession claims it). It writes while the render
// thread is held (core/RunState.h), before it releases the next frame, so
// the render thread (which reads the camera while it draws) sees a whole
// step. cameraFlight() hands the
// group out for writing and, in debug builds, stops a writer on any other
// thread; cameraView() is the readers' view.
//
// The render thread writes the camera too, while it draws a frame (the Drawing
// phase, so the motion thread rests): udPre may move the camera, and what it
// did is taken back into these fields (cameraForDrawing()). The run state's
// hand-off orders the two writers; they never write at the same time.
//
// Exceptions: flightMode is atomic, and any thread may stop the flight. The
// script writes the words that live in its blocks (animTime and
// animationSpeed in AnimInfo; the ring's marks and keyDown in FrameInfo) in
// place, from whichever thread runs it, and the udef and flight-ring blocks
// it is lent.
#pragma once

#include "core/ProjectTypes.h"
#include "core/ScriptBlocks.h"

#include <atomic>

namespace vortigo {

struct CameraFlight {
    CameraFlight(FrameInfo& frameInfo, AnimInfo& animInfo);
    CameraFlight(const CameraFlight&) = delete;
    CameraFlight& operator=(const CameraFlight&) = delete;

    // Tuning (udef keys, arrow keys, timer).
    float& animationSpeed;
    float udefDelta = 0.01f;
    float flightAcceleration = 0.0005f;
    float flightRotationSpeed = 1.0f;

    // Camera and animation time.
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

    // Flight controls (never stored).
    float flightVelocity[3]{};
    float flightRoll = 0.0f;
    uint8_t shiftDown = 0, ctrlDown = 0;
    int32_t* keyDown; // keyDown[k - KEY_FIRST] is virtual key k; lives in FrameInfo

    // Any thread may stop the flight (stopFlightAndCheckParked() does), so it may be
    // written through the readers' view too.
    mutable std::atomic<int> flightMode{FLIGHT_STOPPED};
};

// The motion thread's handle; in debug builds any other thread stops here.
CameraFlight& cameraFlight();
// The render thread while it draws (or the motion thread): takes back the
// camera udPre moved.
CameraFlight& cameraForDrawing();
// Any thread, reading (see the rule above for when the values hold still).
const CameraFlight& cameraView();

} // namespace vortigo
