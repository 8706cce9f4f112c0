#include "ResetProjectState.h"
#include "core/CameraFlight.h"
#include "flight/QuatMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vortigo {
namespace {

constexpr double PI = std::numbers::pi;

void expectQuatNear(const Quat& got, const Quat& want, float tolerance = 1e-6f) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
    EXPECT_NEAR(got.w, want.w, tolerance);
}

// Independent double-precision Hamilton product, p on the left.
struct QuatD {
    double x, y, z, w;
};
QuatD times(const QuatD& p, const QuatD& q) {
    return {p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
            p.w * q.y + p.y * q.w + p.z * q.x - p.x * q.z,
            p.w * q.z + p.z * q.w + p.x * q.y - p.y * q.x,
            p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z};
}
QuatD turn(const double axis[3], double angle) {
    const double s = std::sin(angle / 2);
    return {axis[0] * s, axis[1] * s, axis[2] * s, std::cos(angle / 2)};
}
Quat toFloat(const QuatD& q) {
    return {float(q.x), float(q.y), float(q.z), float(q.w)};
}

TEST(QuatNormalize, ZeroLengthAndScaling) {
    expectQuatNear(normalizeQuat({0, 0, 0, 0}), {0, 0, 0, 1}, 0);
    expectQuatNear(normalizeQuat({0, 0, 0, 2}), {0, 0, 0, 1}, 0);
    expectQuatNear(normalizeQuat({3, 0, 4, 0}), {0.6f, 0, 0.8f, 0});
    expectQuatNear(normalizeQuat({-1, -1, -1, -1}), {-0.5f, -0.5f, -0.5f, -0.5f}, 0);
    // The squares underflow in single precision, so this counts as length 0
    // and keeps its vector part; a double length would give (1, 0, 0, 0).
    const Quat tiny = normalizeQuat({1e-30f, 0, 0, 0});
    EXPECT_EQ(tiny.x, 1e-30f);
    EXPECT_EQ(tiny.w, 1.0f);
}

TEST(QuatMultiply, PIsOnTheLeftAndResultIsNormalised) {
    // (1,2,3,4)(5,6,7,8) = (24, 48, 48, -6) before normalising; the other
    // order would give (32, 32, 56, -6).
    const float length = std::sqrt(5220.0f);
    expectQuatNear(multiplyQuat({1, 2, 3, 4}, {5, 6, 7, 8}),
                   {24 / length, 48 / length, 48 / length, -6 / length});
}

TEST(QuatAxisAngle, HalfAngleAndAxisTakenAsItIs) {
    const double z[3] = {0, 0, 1};
    const float h = float(std::sqrt(0.5));
    expectQuatNear(axisAngleQuat(z, PI / 2), {0, 0, h, h});
    const double longAxis[3] = {2, 0, 0};
    expectQuatNear(axisAngleQuat(longAxis, PI), {2, 0, 0, 0});
}

TEST(QuatTurn, EachAngleTurnsAboutItsOwnRow) {
    // Rows of a quarter turn about z: axis 0 is (0,-1,0), axis 1 is (1,0,0).
    Matrix3 axes;
    quatToMatrix(axisAngleQuat(Axis{0, 0, 1}, PI / 2), axes);
    const Quat identity{0, 0, 0, 1};
    for (int row = 0; row < 3; ++row) {
        const double angles[3] = {row == 0 ? 0.3 : 0, row == 1 ? 0.3 : 0, row == 2 ? 0.3 : 0};
        expectQuatNear(turnQuat(identity, axes, angles[0], angles[1], angles[2]),
                       toFloat(turn(axes[row], 0.3)));
    }
}

TEST(QuatTurn, ThreeAnglesComposeAsPTimesCTimesBTimesA) {
    Matrix3 axes;
    quatToMatrix(normalizeQuat({0.1f, 0.2f, 0.3f, 0.9f}), axes);
    const QuatD p{0.5, -0.5, 0.5, 0.5};
    const double a = 0.4, b = -0.7, c = 1.1;
    const QuatD want = times(p, times(times(turn(axes[2], c), turn(axes[1], b)), turn(axes[0], a)));
    const QuatD reversed =
        times(p, times(times(turn(axes[0], a), turn(axes[1], b)), turn(axes[2], c)));
    ASSERT_GT(std::fabs(want.x - reversed.x) + std::fabs(want.w - reversed.w), 0.01);

    expectQuatNear(turnQuat(toFloat(p), axes, a, b, c), toFloat(want));
}

TEST(QuatSlerp, EqualQuaternionsStayPut) {
    const Quat q = normalizeQuat({0.1f, -0.4f, 0.3f, 0.8f});
    for (float t : {0.0f, 0.25f, 0.5f, 0.7f, 1.0f})
        expectQuatNear(slerpQuat(q, q, t), q);
}

TEST(QuatSlerp, OppositeQuaternionsCancelToIdentityHalfway) {
    const Quat q{0.5f, 0.5f, 0.5f, 0.5f};
    const Quat minus{-0.5f, -0.5f, -0.5f, -0.5f};
    expectQuatNear(slerpQuat(q, minus, 0.5f), {0, 0, 0, 1}, 0);
}

TEST(QuatSlerp, SphericalBranchFollowsTheArc) {
    const double z[3] = {0, 0, 1};
    const Quat identity{0, 0, 0, 1};
    const Quat quarter = axisAngleQuat(z, PI / 2);
    expectQuatNear(slerpQuat(identity, quarter, 0.5f), axisAngleQuat(z, PI / 4));
    // A linear blend would give 21.6 degrees here, not 22.5.
    expectQuatNear(slerpQuat(identity, quarter, 0.25f), axisAngleQuat(z, PI / 8));
    expectQuatNear(slerpQuat(identity, quarter, 0.0f), identity);
    expectQuatNear(slerpQuat(identity, quarter, 1.0f), quarter);
}

TEST(QuatSlerp, NegativeDotNegatesTheFirstWeight) {
    const double z[3] = {0, 0, 1};
    const Quat q = axisAngleQuat(z, PI / 2);
    const Quat minusQuarter{-q.x, -q.y, -q.z, -q.w};
    // s0 = -s1 on the identity, so the result is the 45-degree turn negated.
    const Quat half = axisAngleQuat(z, PI / 4);
    expectQuatNear(slerpQuat({0, 0, 0, 1}, minusQuarter, 0.5f),
                   {-half.x, -half.y, -half.z, -half.w});
}

TEST(QuatToMatrix, IdentityQuarterTurnAndDoublePrecision) {
    Matrix3 m;
    quatToMatrix({0, 0, 0, 1}, m);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(m[i][j], i == j ? 1.0 : 0.0);

    quatToMatrix(axisAngleQuat(Axis{0, 0, 1}, PI / 2), m);
    EXPECT_NEAR(m[0][1], -1.0, 1e-6);
    EXPECT_NEAR(m[1][0], 1.0, 1e-6);
    EXPECT_NEAR(m[2][2], 1.0, 1e-12);

    // Products of the float components must be formed in double.
    const Quat q{0.1f, 0.2f, 0.3f, 0.9f};
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    quatToMatrix(q, m);
    EXPECT_DOUBLE_EQ(m[0][0], 1 - 2 * (y * y + z * z));
    EXPECT_DOUBLE_EQ(m[1][2], 2 * (y * z - x * w));
    EXPECT_DOUBLE_EQ(m[2][0], 2 * (x * z - y * w));
}

TEST(QuatVectorTimesMatrix, VectorIsARowAndSumsInDouble) {
    const Matrix3 m{{1, 2, 3}, {4, 5, 6}, {7, 8, 10}};
    const Vec3 out = vectorTimesMatrix({1, 2, 3}, m);
    EXPECT_EQ(out.x, 30.0f); // a column vector would give 14, 32, 47
    EXPECT_EQ(out.y, 36.0f);
    EXPECT_EQ(out.z, 45.0f);

    // Rounding the matrix to float first would cancel to exactly zero.
    const double tiny = std::ldexp(1.0, -30);
    const Matrix3 close{{1 + tiny, 0, 0}, {-1, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(vectorTimesMatrix({1, 1, 0}, close).x, float(tiny));
}

class QuatCameraAngles : public ::testing::Test {
  protected:
    void SetUp() override { test::resetProjectState(); }
    static Vec3 roundTrip(float x, float y, float z) {
        CameraFlight& camera = cameraFlight();
        camera.cameraRotation[0] = x;
        camera.cameraRotation[1] = y;
        camera.cameraRotation[2] = z;
        anglesToOrientation();
        orientationToAngles();
        return vecFrom(camera.cameraRotation);
    }
};

TEST_F(QuatCameraAngles, SingleAnglesReadBackUnchanged) {
    for (int axis = 0; axis < 3; ++axis) {
        float in[3] = {0, 0, 0};
        in[axis] = 0.3f;
        const Vec3 out = roundTrip(in[0], in[1], in[2]);
        EXPECT_NEAR(out.x, in[0], 1e-6f) << "axis " << axis;
        EXPECT_NEAR(out.y, in[1], 1e-6f) << "axis " << axis;
        EXPECT_NEAR(out.z, in[2], 1e-6f) << "axis " << axis;
    }
}

TEST_F(QuatCameraAngles, CombinedAnglesReadBackChanged) {
    const Vec3 out = roundTrip(0.2f, 0.3f, 0.4f);
    EXPECT_NEAR(out.x, 0.191f, 0.0005f);
    EXPECT_NEAR(out.y, 0.306f, 0.0005f);
    EXPECT_NEAR(out.z, 0.340f, 0.0005f);
}

TEST_F(QuatCameraAngles, OrientationStartsFromIdentityAndKeepsMatrixInStep) {
    CameraFlight& camera = cameraFlight();
    store(normalizeQuat({1, 2, 3, 4}), camera.cameraQuat);
    camera.flightRoll = 0.7f;
    camera.cameraRotation[0] = 0.2f;
    camera.cameraRotation[1] = -0.5f;
    camera.cameraRotation[2] = 1.0f;
    anglesToOrientation();

    EXPECT_EQ(camera.flightRoll, 0.0f);
    const Matrix3 identity{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    expectQuatNear(quatFrom(camera.cameraQuat), turnQuat({0, 0, 0, 1}, identity, 0.2f, -0.5f, 1.0f),
                   0);
    Matrix3 m;
    quatToMatrix(quatFrom(camera.cameraQuat), m);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(camera.cameraMatrix[i][j], m[i][j]);
}

TEST_F(QuatCameraAngles, GimbalBranchUsesTheFirstTwoDiagonals) {
    const Matrix3 m{{0.25, 0, 0}, {0, -0.5, 0}, {0, -1, 0}};
    const Vec3 a = matrixToAngles(m);
    EXPECT_FLOAT_EQ(a.x, float(-PI / 2));
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_FLOAT_EQ(a.z, float(-std::atan2(0.5, 0.25)));
}

TEST_F(QuatCameraAngles, StraightUpPitchReadsBackFinite) {
    // Normalising this float quarter turn rounds up, leaving M[2][1] just
    // above 1: asin alone would make the camera rotation NaN.
    setCameraQuat(normalizeQuat({0.70710677f, 0, 0, 0.70710677f}));
    const CameraFlight& camera = cameraView();
    ASSERT_GT(camera.cameraMatrix[2][1], 1.0);
    orientationToAngles();
    EXPECT_FLOAT_EQ(camera.cameraRotation[0], float(PI / 2));
    EXPECT_TRUE(std::isfinite(camera.cameraRotation[1]));
    EXPECT_TRUE(std::isfinite(camera.cameraRotation[2]));
}

} // namespace
} // namespace vortigo
