#include "ResetProjectState.h"
#include "core/CameraFlight.h"
#include "flight/FlightRecord.h"

#include <gtest/gtest.h>

namespace vortigo {
namespace {

TEST(FlightIndex, AnyValueComesIntoRange) {
    EXPECT_EQ(flightIndexInRange(0), 0);
    EXPECT_EQ(flightIndexInRange(24), 24);
    EXPECT_EQ(flightIndexInRange(25), 24);
    EXPECT_EQ(flightIndexInRange(-5), 0);
    EXPECT_EQ(flightIndexInRange(INT32_MIN), 0);
    EXPECT_EQ(flightIndexInRange(119988), 119988);
    EXPECT_EQ(flightIndexInRange(119999), 119988);
    EXPECT_EQ(flightIndexInRange(INT32_MAX), 119988);
}

TEST(FlightIndex, StepsWrapAroundTheRing) {
    EXPECT_EQ(flightIndexForward(119988), 0);
    EXPECT_EQ(flightIndexForward(0), 12);
    EXPECT_EQ(flightIndexBackward(0), 119988);
    EXPECT_EQ(flightIndexBackward(12), 0);
    EXPECT_EQ(flightIndexForward(1000000), 0);
}

class FlightRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { test::resetProjectState(); }
};

TEST_F(FlightRecordTest, RingHoldsAtMost9999Records) {
    const CameraFlight& camera = cameraView();
    for (int i = 0; i < 9999; ++i)
        recordFlightSample();
    EXPECT_EQ(camera.flightStart, 0);
    EXPECT_EQ(camera.flightEnd, 119988);
    recordFlightSample(); // wraps to 0 and pushes the oldest record out
    EXPECT_EQ(camera.flightHead, 0);
    EXPECT_EQ(camera.flightEnd, 0);
    EXPECT_EQ(camera.flightStart, 12);
}

TEST_F(FlightRecordTest, ScriptWrittenIndicesNeverReachOutsideTheRing) {
    CameraFlight& camera = cameraFlight();
    camera.flightHead = 2000000000;
    camera.xCenter = 3.0f;
    recordFlightSample();
    EXPECT_FLOAT_EQ(camera.flightBuffer[119988], 3.0f);
    EXPECT_EQ(camera.flightHead, 0);
    camera.flightHead = -77;
    recordFlightSample();
    EXPECT_FLOAT_EQ(camera.flightBuffer[0], 3.0f);
    EXPECT_EQ(camera.flightHead, 12);
}

} // namespace
} // namespace vortigo
