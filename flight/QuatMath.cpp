// Every expression below is written in the order and precision that recorded
// flights were made with; reordering a sum or widening a float step changes
// the last bits and a long replay drifts. The file is built with
// -ffp-contract=off so the compiler cannot fuse products into FMAs either.
#include "flight/QuatMath.h"

#include "core/CameraFlight.h"

#include <algorithm>
#include <cmath>

namespace vortigo {

Quat quatFrom(const float q[4]) {
    return {q[0], q[1], q[2], q[3]};
}

void store(const Quat& q, float out[4]) {
    out[0] = q.x;
    out[1] = q.y;
    out[2] = q.z;
    out[3] = q.w;
}

Vec3 vecFrom(const float v[3]) {
    return {v[0], v[1], v[2]};
}

void store(const Vec3& v, float out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

Quat normalizeQuat(const Quat& q) {
    // Single precision throughout, sum and root alike.
    const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (length == 0.0f) return {q.x, q.y, q.z, 1.0f};
    return {q.x / length, q.y / length, q.z / length, q.w / length};
}

Quat multiplyQuat(const Quat& p, const Quat& q) {
    const Quat r{
        p.w * q.x + p.x * q.w + (p.y * q.z - p.z * q.y),
        p.w * q.y + p.y * q.w + (p.z * q.x - p.x * q.z),
        p.w * q.z + p.z * q.w + (p.x * q.y - p.y * q.x),
        p.w * q.w - (p.z * q.z + p.y * q.y + p.x * q.x),
    };
    return normalizeQuat(r);
}

Quat axisAngleQuat(const Axis& axis, double angle) {
    const double h = angle / 2.0;
    const double s = std::sin(h);
    const double c = std::cos(h);
    return {static_cast<float>(axis[0] * s), static_cast<float>(axis[1] * s),
            static_cast<float>(axis[2] * s), static_cast<float>(c)};
}

Quat turnQuat(const Quat& p, const Matrix3& axes, double a, double b, double c) {
    Quat r = axisAngleQuat(axes[2], c);
    r = multiplyQuat(r, axisAngleQuat(axes[1], b));
    r = multiplyQuat(r, axisAngleQuat(axes[0], a));
    return multiplyQuat(p, r);
}

Quat slerpQuat(const Quat& a, const Quat& b, float t) {
    const float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    const float absD = std::fabs(d);
    float s0, s1;
    // 1 - |d| is exact in float wherever it can come near the threshold, so
    // comparing in float decides the branch exactly as a double would.
    if (1.0f - absD > 0.01f) {
        // omega, k, s0 and s1 are held in single precision like d; each
        // trigonometric function runs in double on its float argument and the
        // result is rounded to float as it is stored.
        const float omega = static_cast<float>(std::acos(static_cast<double>(absD)));
        const float k = static_cast<float>(1.0 / std::sin(static_cast<double>(omega)));
        s0 = static_cast<float>(std::sin(static_cast<double>((1.0f - t) * omega)) * k);
        s1 = static_cast<float>(std::sin(static_cast<double>(t * omega)) * k);
        if (d < 0.0f) s0 = -s0;
    } else {
        // No sign change here: q and -q at t = 0.5 cancel to the identity,
        // and replays depend on that.
        s0 = 1.0f - t;
        s1 = t;
    }
    return normalizeQuat(
        {s0 * a.x + s1 * b.x, s0 * a.y + s1 * b.y, s0 * a.z + s1 * b.z, s0 * a.w + s1 * b.w});
}

void quatToMatrix(const Quat& q, Matrix3& m) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    m[0][0] = 1 - 2 * (y * y + z * z);
    m[0][1] = 2 * (x * y - z * w);
    m[0][2] = 2 * (x * z + y * w);
    m[1][0] = 2 * (x * y + z * w);
    m[1][1] = 1 - 2 * (z * z + x * x);
    m[1][2] = 2 * (y * z - x * w);
    m[2][0] = 2 * (x * z - y * w);
    m[2][1] = 2 * (y * z + x * w);
    m[2][2] = 1 - 2 * (y * y + x * x);
}

Vec3 vectorTimesMatrix(const Vec3& v, const Matrix3& m) {
    const double x = v.x, y = v.y, z = v.z;
    float out[3];
    for (int j = 0; j < 3; ++j)
        out[j] = static_cast<float>(x * m[0][j] + y * m[1][j] + z * m[2][j]);
    return {out[0], out[1], out[2]};
}

Vec3 matrixToAngles(const Matrix3& m) {
    // A matrix built from a float quaternion can carry |M[2][1]| a rounding
    // step above 1; asin would give NaN and the camera would be lost. Values
    // inside [-1, 1] pass through unchanged.
    const double p = std::asin(std::clamp(-m[2][1], -1.0, 1.0));
    double q, r;
    if (std::cos(p) > 0.000001) {
        q = std::atan2(m[0][1], m[1][1]);
        r = std::atan2(m[2][0], m[2][2]);
    } else {
        q = std::atan2(-m[1][1], m[0][0]);
        r = 0;
    }
    return {static_cast<float>(-p), static_cast<float>(-r), static_cast<float>(-q)};
}

void anglesToOrientation() {
    CameraFlight& camera = cameraFlight();
    store(Quat{0, 0, 0, 1}, camera.cameraQuat);
    camera.flightRoll = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            camera.cameraMatrix[i][j] = i == j ? 1.0 : 0.0;
    const Quat turned =
        turnQuat(quatFrom(camera.cameraQuat), camera.cameraMatrix, camera.cameraRotation[0],
                 camera.cameraRotation[1], camera.cameraRotation[2]);
    setCameraQuat(turned);
}

void orientationToAngles() {
    CameraFlight& camera = cameraFlight();
    store(matrixToAngles(camera.cameraMatrix), camera.cameraRotation);
}

void setCameraQuat(const Quat& q) {
    CameraFlight& camera = cameraFlight();
    store(q, camera.cameraQuat);
    quatToMatrix(quatFrom(camera.cameraQuat), camera.cameraMatrix);
}

} // namespace vortigo
