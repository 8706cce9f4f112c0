// Flying and replaying: the motion step, the Trace window's keys, and the
// recording's replays and smoothing, on the project state alone.
#include "ResetProjectState.h"
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
        ProjectState& s = state();
        s.imageWidth = 640;
        s.imageHeight = 480;
        s.zLens = -3;
        s.animationSpeed = 0.01f;
        runState().moveTo(RunPhase::Drawing);
        runState().scriptReady.set();
        runState().buffersReady.set();
        runState().park();
        setPointerSource([this](int& x, int& y) {
            x = m_pointerX;
            y = m_pointerY;
            return true;
        });
    }
    void TearDown() override {
        setPointerSource(nullptr);
        runState().moveTo(RunPhase::ShuttingDown);
        runState().scriptReady.clear();
        runState().buffersReady.clear();
    }

    // A record at `time` with position (x, 0, 0).
    void record(float x, float time) {
        state().xCenter = x;
        state().animTime = time;
        recordFlightSample();
    }

    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    int m_pointerX = 320, m_pointerY = 240;
};

TEST_F(FlightTest, ThePointerInTheMiddleLeavesTheCameraAlone) {
    state().flightMode = FLIGHT_FREE;
    motionStep();
    EXPECT_EQ(state().cameraQuat[3], 1.0f);
    EXPECT_EQ(state().zLens, -3.0f);
}

TEST_F(FlightTest, ThePointerAtTheTopEdgePitchesByAnEighthOfTheRotationSpeed) {
    ProjectState& s = state();
    s.flightRotationSpeed = 2.0f;
    s.flightMode = FLIGHT_FREE;
    m_pointerY = 0;
    motionStep();
    // A turn of 0.25 radians about the first axis.
    EXPECT_NEAR(s.cameraQuat[0], std::sin(0.125), 1e-6);
    EXPECT_NEAR(s.cameraQuat[3], std::cos(0.125), 1e-6);
    EXPECT_NEAR(s.cameraMatrix[1][1], std::cos(0.25), 1e-6); // the matrix follows
}

TEST_F(FlightTest, UpAndShiftChangeTheVelocityAndSStopsWithoutForgettingIt) {
    ProjectState& s = state();
    EXPECT_EQ(traceKeyDown(VK_UP), KeyAction::Advance);
    EXPECT_EQ(s.flightMode, FLIGHT_FREE);
    EXPECT_FLOAT_EQ(s.flightVelocity[2], 0.0005f);
    traceKeyDown(VK_SHIFT);
    traceKeyDown(VK_UP);
    EXPECT_FLOAT_EQ(s.flightVelocity[2], 0.0005f * 1.5f);
    traceKeyDown(VK_DOWN);
    EXPECT_FLOAT_EQ(s.flightVelocity[2], 0.0005f * 1.5f * 0.75f);
    traceKeyUp(VK_SHIFT);
    EXPECT_EQ(s.shiftDown, 0);

    s.flightRoll = 0.03f;
    EXPECT_EQ(traceKeyDown('S'), KeyAction::None);
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(s.flightRoll, 0.0f);
    EXPECT_FLOAT_EQ(s.flightVelocity[2], 0.0005f * 1.125f);
    traceKeyDown('W');
    motionStep();
    EXPECT_NEAR(s.zLens, -3.0f + 0.0005f * 1.125f, 1e-7); // flying on with that velocity
}

TEST_F(FlightTest, KeysWaitForACompiledScriptButReleasesAlwaysCount) {
    ProjectState& s = state();
    runState().scriptReady.clear();
    EXPECT_EQ(traceKeyDown('A'), KeyAction::None);
    EXPECT_EQ(s.keyDown['A' - KEY_FIRST], 0);
    EXPECT_EQ(traceKeyDown('W'), KeyAction::None);
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    s.keyDown['B' - KEY_FIRST] = 1;
    traceKeyUp('B');
    EXPECT_EQ(s.keyDown['B' - KEY_FIRST], 0);
    runState().scriptReady.set();
    traceKeyDown('A');
    EXPECT_EQ(s.keyDown['A' - KEY_FIRST], 1);
}

TEST_F(FlightTest, DigitKeysNudgeTheFirstFourUdefs) {
    traceKeyDown('2');
    traceKeyDown('2');
    traceKeyDown('7');
    EXPECT_FLOAT_EQ(state().udef[0], 0.02f);
    EXPECT_FLOAT_EQ(state().udef[3], -0.01f);
}

TEST_F(FlightTest, TheWheelRollsOnlyInFreeFlight) {
    traceWheel(120);
    EXPECT_EQ(state().flightRoll, 0.0f);
    state().flightMode = FLIGHT_FREE;
    traceWheel(-120);
    traceWheel(-120);
    EXPECT_FLOAT_EQ(state().flightRoll, -0.02f);
    EXPECT_EQ(traceMouseButton(true), VK_UP);
}

TEST_F(FlightTest, TenThousandSamplesLeave9999Records) {
    ProjectState& s = state();
    for (int i = 0; i < 10000; ++i)
        record(static_cast<float>(i), static_cast<float>(i));
    EXPECT_EQ(s.flightStart, 12);
    EXPECT_EQ(s.flightEnd, 0);
    loadCameraFromRecord(s.flightStart);
    EXPECT_EQ(s.xCenter, 1.0f); // the first sample was dropped
}

TEST_F(FlightTest, MarkEndThenForeplayReplaysUpToTheRecordBeforeTheMark) {
    ProjectState& s = state();
    for (int i = 0; i < 5; ++i)
        record(static_cast<float>(i), static_cast<float>(i));
    s.flightHead = 36;
    s.flightEnd = s.flightHead; // Mark End
    s.flightHead = s.flightStart;
    s.flightMode = FLIGHT_STEP_FORWARD;
    std::vector<float> seen;
    while (s.flightMode == FLIGHT_STEP_FORWARD) {
        motionStep();
        if (s.flightMode == FLIGHT_STEP_FORWARD) seen.push_back(s.xCenter);
    }
    EXPECT_EQ(seen, (std::vector<float>{0, 1, 2}));
}

TEST_F(FlightTest, StepReplaysOfAnEmptyRecordingStopAtOnce) {
    ProjectState& s = state();
    traceKeyDown('Q');
    EXPECT_TRUE(m_platform.beeps().empty());
    motionStep();
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(s.zLens, -3.0f);
}

TEST_F(FlightTest, TheTimedReplayInterpolatesAtTheAnimationSpeed) {
    ProjectState& s = state();
    record(0, 0);
    record(4, 1);
    record(8, 2);
    s.animTime = -5;
    s.animationSpeed = 0.25f;
    s.flightHead = s.flightStart;
    startTimedReplay();
    EXPECT_EQ(s.animTime, 0.0f); // raised to the first record's time
    std::vector<float> seen;
    for (int i = 0; i < 12 && s.flightMode == FLIGHT_TIMED_REPLAY; ++i) {
        motionStep();
        if (s.flightMode == FLIGHT_TIMED_REPLAY) seen.push_back(s.xCenter);
    }
    EXPECT_EQ(seen, (std::vector<float>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(FlightTest, EqualTimesStopTheTimedReplay) {
    ProjectState& s = state();
    record(0, 0);
    record(5, 1);
    record(9, 1);
    s.flightHead = 24; // between the two records of time 1
    s.animTime = 0.5f;
    s.xCenter = 77;
    startTimedReplay();
    motionStep();
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(s.xCenter, 77.0f); // nothing was moved
}

TEST_F(FlightTest, MarkEditsKeepTheFlightGoingAndWaitForTheFrameInHand) {
    ProjectState& s = state();
    for (int i = 0; i < 4; ++i)
        record(static_cast<float>(4 * i), static_cast<float>(i));
    s.animationSpeed = 0.25f;
    s.animTime = 0;
    s.flightHead = s.flightStart;
    startTimedReplay();
    for (int i = 0; i < 9; ++i)
        motionStep();
    ASSERT_EQ(s.flightMode, FLIGHT_TIMED_REPLAY);
    ASSERT_GT(s.xCenter, 8.0f);

    // Rewound between two frames, the replay goes on from the start.
    EXPECT_TRUE(requestRingEdit(RingEdit::Rewind));
    motionStep();
    EXPECT_EQ(s.flightMode, FLIGHT_TIMED_REPLAY);
    EXPECT_EQ(s.xCenter, 1.0f);

    // While a frame is drawn the edit waits for the next advance, which
    // applies it before its motion step.
    runState().release();
    const int32_t head = s.flightHead;
    EXPECT_FALSE(requestRingEdit(RingEdit::MarkBeginning));
    EXPECT_FALSE(requestRingEdit(RingEdit::Smooth));
    EXPECT_EQ(s.flightStart, 0);
    runState().park();
    handleAdvanceMessage();
    EXPECT_EQ(s.flightStart, head);
    EXPECT_EQ(s.flightMode, FLIGHT_TIMED_REPLAY);

    runState().park();
    s.flightMode = FLIGHT_FREE;
    for (RingEdit edit : {RingEdit::JumpToEnd, RingEdit::MarkEnd, RingEdit::Clear})
        EXPECT_TRUE(requestRingEdit(edit));
    EXPECT_EQ(s.flightEnd, 0);
    EXPECT_EQ(s.flightMode, FLIGHT_FREE);
}

TEST_F(FlightTest, SmoothingMovesOnlyTheInnerRecords) {
    ProjectState& s = state();
    record(0, 0);
    record(10, 1);
    smoothFlight();
    EXPECT_EQ(s.flightBuffer[12], 10.0f); // two records: nothing changes
    record(4, 2);
    smoothFlight();
    EXPECT_EQ(s.flightBuffer[0], 0.0f);
    EXPECT_EQ(s.flightBuffer[12], 2.0f); // the middle record went to the midpoint
    EXPECT_EQ(s.flightBuffer[24], 4.0f);
    EXPECT_EQ(s.flightBuffer[15], 1.0f); // its time stays
}

TEST_F(FlightTest, ShiftRClearsAndRMarksTheBeginning) {
    ProjectState& s = state();
    record(0, 0);
    record(1, 1);
    traceKeyDown('R');
    EXPECT_EQ(s.flightStart, 24);
    traceKeyDown(VK_SHIFT);
    traceKeyDown('R');
    EXPECT_EQ(s.flightStart, 0);
    EXPECT_EQ(s.flightEnd, 0);
    EXPECT_EQ(m_platform.beeps().size(), 2u);
}

} // namespace
} // namespace vortigo
