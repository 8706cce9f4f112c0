// Flying and replaying: the motion step, the advance's ring edits, and the
// recording's replays and smoothing, on the project state alone.
#include "ResetProjectState.h"
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "flight/FlightControls.h"
#include "flight/FlightRecord.h"
#include "flight/QuatMath.h"
#include "platform/HeadlessPlatform.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

class FlightTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::resetProjectState();
        ProjectFiles& files = projectFiles();
        CameraFlight& camera = cameraFlight();
        files.imageWidth = 640;
        files.imageHeight = 480;
        camera.zLens = -3;
        camera.animationSpeed = 0.01f;
        test::standInForAReadyRenderThread();
        setPointerSource([this](int& x, int& y) {
            x = m_pointerX;
            y = m_pointerY;
            return true;
        });
    }
    void TearDown() override { setPointerSource(nullptr); }

    // A record at `time` with position (x, 0, 0).
    void record(float x, float time) {
        cameraFlight().xCenter = x;
        cameraFlight().animTime = time;
        recordFlightSample();
    }

    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    int m_pointerX = 320, m_pointerY = 240;
};

TEST_F(FlightTest, ThePointerInTheMiddleLeavesTheCameraAlone) {
    cameraView().flightMode = FLIGHT_FREE;
    motionStep();
    EXPECT_EQ(cameraView().cameraQuat[3], 1.0f);
    EXPECT_EQ(cameraView().zLens, -3.0f);
}

TEST_F(FlightTest, ThePointerAtTheTopEdgePitchesByAnEighthOfTheRotationSpeed) {
    CameraFlight& camera = cameraFlight();
    camera.flightRotationSpeed = 2.0f;
    camera.flightMode = FLIGHT_FREE;
    m_pointerY = 0;
    motionStep();
    // A turn of 0.25 radians about the first axis.
    EXPECT_NEAR(camera.cameraQuat[0], std::sin(0.125), 1e-6);
    EXPECT_NEAR(camera.cameraQuat[3], std::cos(0.125), 1e-6);
    EXPECT_NEAR(camera.cameraMatrix[1][1], std::cos(0.25), 1e-6); // the matrix follows
}

TEST_F(FlightTest, TenThousandSamplesLeave9999Records) {
    const CameraFlight& camera = cameraView();
    for (int i = 0; i < 10000; ++i)
        record(static_cast<float>(i), static_cast<float>(i));
    EXPECT_EQ(camera.flightStart, 12);
    EXPECT_EQ(camera.flightEnd, 0);
    loadCameraFromRecord(camera.flightStart);
    EXPECT_EQ(camera.xCenter, 1.0f); // the first sample was dropped
}

TEST_F(FlightTest, MarkEndThenForeplayReplaysUpToTheRecordBeforeTheMark) {
    CameraFlight& camera = cameraFlight();
    for (int i = 0; i < 5; ++i)
        record(static_cast<float>(i), static_cast<float>(i));
    camera.flightHead = 36;
    camera.flightEnd = camera.flightHead; // Mark End
    camera.flightHead = camera.flightStart;
    camera.flightMode = FLIGHT_STEP_FORWARD;
    std::vector<float> seen;
    while (camera.flightMode == FLIGHT_STEP_FORWARD) {
        motionStep();
        if (camera.flightMode == FLIGHT_STEP_FORWARD) seen.push_back(camera.xCenter);
    }
    EXPECT_EQ(seen, (std::vector<float>{0, 1, 2}));
}

TEST_F(FlightTest, TheTimedReplayInterpolatesAtTheAnimationSpeed) {
    CameraFlight& camera = cameraFlight();
    record(0, 0);
    record(4, 1);
    record(8, 2);
    camera.animTime = -5;
    camera.animationSpeed = 0.25f;
    camera.flightHead = camera.flightStart;
    startTimedReplay();
    EXPECT_EQ(camera.animTime, 0.0f); // raised to the first record's time
    std::vector<float> seen;
    for (int i = 0; i < 12 && camera.flightMode == FLIGHT_TIMED_REPLAY; ++i) {
        motionStep();
        if (camera.flightMode == FLIGHT_TIMED_REPLAY) seen.push_back(camera.xCenter);
    }
    EXPECT_EQ(seen, (std::vector<float>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(FlightTest, EqualTimesStopTheTimedReplay) {
    CameraFlight& camera = cameraFlight();
    record(0, 0);
    record(5, 1);
    record(9, 1);
    camera.flightHead = 24; // between the two records of time 1
    camera.animTime = 0.5f;
    camera.xCenter = 77;
    startTimedReplay();
    motionStep();
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(camera.xCenter, 77.0f); // nothing was moved
}

TEST_F(FlightTest, MarkEditsKeepTheFlightGoingAndWaitForTheFrameInHand) {
    CameraFlight& camera = cameraFlight();
    for (int i = 0; i < 4; ++i)
        record(static_cast<float>(4 * i), static_cast<float>(i));
    camera.animationSpeed = 0.25f;
    camera.animTime = 0;
    camera.flightHead = camera.flightStart;
    startTimedReplay();
    for (int i = 0; i < 9; ++i)
        motionStep();
    ASSERT_EQ(camera.flightMode, FLIGHT_TIMED_REPLAY);
    ASSERT_GT(camera.xCenter, 8.0f);

    // Rewound between two frames, the replay goes on from the start.
    EXPECT_TRUE(requestRingEdit(RingEdit::Rewind));
    motionStep();
    EXPECT_EQ(camera.flightMode, FLIGHT_TIMED_REPLAY);
    EXPECT_EQ(camera.xCenter, 1.0f);

    // While a frame is drawn the edit waits for the next advance, which
    // applies it before its motion step.
    runState().release();
    const int32_t head = camera.flightHead;
    EXPECT_FALSE(requestRingEdit(RingEdit::MarkBeginning));
    EXPECT_FALSE(requestRingEdit(RingEdit::Smooth));
    EXPECT_EQ(camera.flightStart, 0);
    runState().park();
    EXPECT_TRUE(advanceFlight());
    EXPECT_EQ(camera.flightStart, head);
    EXPECT_EQ(camera.flightMode, FLIGHT_TIMED_REPLAY);

    runState().park();
    camera.flightMode = FLIGHT_FREE;
    for (RingEdit edit : {RingEdit::JumpToEnd, RingEdit::MarkEnd, RingEdit::Clear})
        EXPECT_TRUE(requestRingEdit(edit));
    EXPECT_EQ(camera.flightEnd, 0);
    EXPECT_EQ(camera.flightMode, FLIGHT_FREE);
}

TEST_F(FlightTest, SmoothingMovesOnlyTheInnerRecords) {
    const CameraFlight& camera = cameraView();
    record(0, 0);
    record(10, 1);
    smoothFlight();
    EXPECT_EQ(camera.flightBuffer[12], 10.0f); // two records: nothing changes
    record(4, 2);
    smoothFlight();
    EXPECT_EQ(camera.flightBuffer[0], 0.0f);
    EXPECT_EQ(camera.flightBuffer[12], 2.0f); // the middle record went to the midpoint
    EXPECT_EQ(camera.flightBuffer[24], 4.0f);
    EXPECT_EQ(camera.flightBuffer[15], 1.0f); // its time stays
}

} // namespace
} // namespace vortigo
