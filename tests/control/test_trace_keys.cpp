// The Trace window's keys, wheel and buttons on the project state, the keys
// C and X against the real capture writer, and the status line.
#include "ResetProjectState.h"
#include "TempDir.h"
#include "control/StatusLine.h"
#include "control/TraceKeys.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "media/Capture.h"
#include "platform/HeadlessPlatform.h"
#include "platform/VirtualKeys.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace vortigo {
namespace {

constexpr int W = 32, H = 24;

class TraceKeysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        projectFiles().imageWidth = 640;
        projectFiles().imageHeight = 480;
        cameraFlight().zLens = -3;
        cameraFlight().animationSpeed = 0.01f;
        test::standInForAReadyRenderThread();
    }
    void TearDown() override {
        theCapture().finish(); // the one writer outlives the test
    }

    // A record at `time` with position (x, 0, 0).
    void record(float x, float time) {
        cameraFlight().xCenter = x;
        cameraFlight().animTime = time;
        recordFlightSample();
    }

    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    test::TempDir m_dir;
};

TEST_F(TraceKeysTest, UpAndShiftChangeTheVelocityAndSStopsWithoutForgettingIt) {
    CameraFlight& camera = cameraFlight();
    EXPECT_EQ(traceKeyDown(VK_UP), KeyAction::Advance);
    EXPECT_EQ(camera.flightMode, FLIGHT_FREE);
    EXPECT_FLOAT_EQ(camera.flightVelocity[2], 0.0005f);
    traceKeyDown(VK_SHIFT);
    traceKeyDown(VK_UP);
    EXPECT_FLOAT_EQ(camera.flightVelocity[2], 0.0005f * 1.5f);
    traceKeyDown(VK_DOWN);
    EXPECT_FLOAT_EQ(camera.flightVelocity[2], 0.0005f * 1.5f * 0.75f);
    traceKeyUp(VK_SHIFT);
    EXPECT_EQ(camera.shiftDown, 0);

    camera.flightRoll = 0.03f;
    EXPECT_EQ(traceKeyDown('S'), KeyAction::None);
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(camera.flightRoll, 0.0f);
    EXPECT_FLOAT_EQ(camera.flightVelocity[2], 0.0005f * 1.125f);
    traceKeyDown('W');
    motionStep();
    EXPECT_NEAR(camera.zLens, -3.0f + 0.0005f * 1.125f, 1e-7); // flying on with that velocity
}

TEST_F(TraceKeysTest, KeysWaitForACompiledScriptButReleasesAlwaysCount) {
    CameraFlight& camera = cameraFlight();
    runState().scriptReady.clear();
    EXPECT_EQ(traceKeyDown('A'), KeyAction::None);
    EXPECT_EQ(camera.keyDown['A' - KEY_FIRST], 0);
    EXPECT_EQ(traceKeyDown('W'), KeyAction::None);
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    camera.keyDown['B' - KEY_FIRST] = 1;
    traceKeyUp('B');
    EXPECT_EQ(camera.keyDown['B' - KEY_FIRST], 0);
    runState().scriptReady.set();
    traceKeyDown('A');
    EXPECT_EQ(camera.keyDown['A' - KEY_FIRST], 1);
}

TEST_F(TraceKeysTest, DigitKeysNudgeTheFirstFourUdefs) {
    traceKeyDown('2');
    traceKeyDown('2');
    traceKeyDown('7');
    EXPECT_FLOAT_EQ(cameraView().udef[0], 0.02f);
    EXPECT_FLOAT_EQ(cameraView().udef[3], -0.01f);
}

TEST_F(TraceKeysTest, TheWheelRollsOnlyInFreeFlight) {
    traceWheel(120);
    EXPECT_EQ(cameraView().flightRoll, 0.0f);
    cameraView().flightMode = FLIGHT_FREE;
    traceWheel(-120);
    traceWheel(-120);
    traceWheel(0); // a sideways scroll
    EXPECT_FLOAT_EQ(cameraView().flightRoll, -0.02f);
    EXPECT_EQ(traceMouseButton(true), VK_UP);
}

TEST_F(TraceKeysTest, StepReplaysOfAnEmptyRecordingStopAtOnce) {
    const CameraFlight& camera = cameraView();
    traceKeyDown('Q');
    EXPECT_TRUE(m_platform.beeps().empty());
    motionStep();
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(camera.zLens, -3.0f);
}

TEST_F(TraceKeysTest, ShiftRClearsAndRMarksTheBeginning) {
    const CameraFlight& camera = cameraView();
    record(0, 0);
    record(1, 1);
    traceKeyDown('R');
    EXPECT_EQ(camera.flightStart, 24);
    traceKeyDown(VK_SHIFT);
    traceKeyDown('R');
    EXPECT_EQ(camera.flightStart, 0);
    EXPECT_EQ(camera.flightEnd, 0);
    EXPECT_EQ(m_platform.beeps().size(), 2u);
}

TEST_F(TraceKeysTest, KeyCStartsBeforeCapturingAndKeyXFinishes) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    capture.setCapturing(false);
    files.imageWidth = W;
    files.imageHeight = H;
    capture.aviFps = 25;
    capture.maxAviFrames = 0;
    capture.audioFile[0] = 0;
    std::snprintf(capture.outputFile, sizeof capture.outputFile, "%s",
                  m_dir.file("keys.tga").c_str());
    camera.flightMode = FLIGHT_FREE;

    traceKeyDown('C');
    EXPECT_EQ(capture.capturing(), 1);
    EXPECT_TRUE(theCapture().isActive());
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    const std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 3, 7);
    captureFinishedFrame(frame.data());
    // C again pauses the feed with the writer still active.
    traceKeyDown('C');
    EXPECT_EQ(capture.capturing(), 0);
    EXPECT_TRUE(theCapture().isActive());
    captureFinishedFrame(frame.data());
    traceKeyDown('C');
    captureFinishedFrame(frame.data());
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("keys.tga1.tga")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("keys.tga2.tga")));

    EXPECT_EQ(traceKeyDown('X'), KeyAction::None);
    EXPECT_EQ(capture.capturing(), 0);
    EXPECT_FALSE(theCapture().isActive());

    // An empty output name only toggles the flag.
    capture.outputFile[0] = 0;
    traceKeyDown('C');
    EXPECT_EQ(capture.capturing(), 1);
    EXPECT_FALSE(theCapture().isActive());
    capture.setCapturing(false);
}

// The write fails on the post-processing thread, which leaves the title to
// the Trace window: it must read "cap:off" once the window has its message.
TEST_F(TraceKeysTest, AFailedCaptureWriteTurnsTheTitleToCaptureOff) {
    CaptureState& capture = captureState();
    m_platform.setHandler(WindowId::Trace, handleTraceMessage);
    const std::string folder = m_dir.file("stills");
    std::filesystem::create_directory(folder);
    projectFiles().imageWidth = W;
    projectFiles().imageHeight = H;
    capture.aviFps = 25;
    std::snprintf(capture.outputFile, sizeof capture.outputFile, "%s/clip.tga", folder.c_str());
    traceKeyDown('C');
    ASSERT_TRUE(theCapture().isActive());
    EXPECT_NE(m_platform.title(WindowId::Trace).find(" cap:on,"), std::string::npos);

    std::filesystem::remove_all(folder);
    const std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 3, 7);
    captureFinishedFrame(frame.data());
    EXPECT_EQ(capture.capturing(), 0);
    EXPECT_FALSE(theCapture().isActive());
    m_platform.pump();
    EXPECT_NE(m_platform.title(WindowId::Trace).find(" cap:off,"), std::string::npos)
        << m_platform.title(WindowId::Trace);
}

TEST_F(TraceKeysTest, TheStatusLineFormatsTheCameraAndTheFrameTime) {
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    camera.xCenter = 0.0f;
    camera.yCenter = 0.0001f;
    camera.zLens = -3.0f;
    camera.animTime = 1.25f;
    capture.setCapturing(false);
    frameQueue().frameMs = 99999;
    EXPECT_EQ(statusLineText(),
              "xc:0.000e+00 yc:1.000e-04 zc:-3.000e+00 time:1.2500 cap:off, mspf:99999");
    frameQueue().frameMs = 100000;
    capture.setCapturing(true);
    EXPECT_EQ(statusLineText(),
              "xc:0.000e+00 yc:1.000e-04 zc:-3.000e+00 time:1.2500 cap:on, mspf:0");
    capture.setCapturing(false);
}

} // namespace
} // namespace vortigo
