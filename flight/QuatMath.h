// Quaternion, vector and matrix operations of the camera and the flight
// controls. Recorded flights and stored projects replay exactly only when
// they go through the same arithmetic, so every formula here keeps a fixed
// component order and a fixed precision per step (see QuatMath.cpp, which is
// also compiled without floating-point contraction for that reason).
//
// Threads: pure functions anywhere; the three that touch the camera
// (core/CameraFlight.h) on the motion thread, render thread idle.
#pragma once

namespace vortigo {

// Order x, y, z, w; w is the scalar part. The identity is (0, 0, 0, 1), the
// layout of cameraQuat and of the orientation in every flight record.
struct Quat {
    float x, y, z, w;
};

struct Vec3 {
    float x, y, z;
};

using Axis = double[3];
// Row-major, M[i][j]; the layout of cameraMatrix. Its rows are the axes of
// turnQuat.
using Matrix3 = double[3][3];

Quat quatFrom(const float q[4]);
void store(const Quat& q, float out[4]);
Vec3 vecFrom(const float v[3]);
void store(const Vec3& v, float out[3]);

// Unit length; a zero length gives (x, y, z, 1).
Quat normalizeQuat(const Quat& q);

// Normalised p times q, p on the left.
Quat multiplyQuat(const Quat& p, const Quat& q);

// Turn by angle (radians) about axis; the axis is taken as it is, not
// normalised.
Quat axisAngleQuat(const Axis& axis, double angle);

// p times (turn c about axes[2]) (turn b about axes[1]) (turn a about axes[0]).
Quat turnQuat(const Quat& p, const Matrix3& axes, double a, double b, double c);

// Spherical interpolation from a (t = 0) to b (t = 1); nearly parallel or
// opposite quaternions are blended linearly.
Quat slerpQuat(const Quat& a, const Quat& b, float t);

void quatToMatrix(const Quat& q, Matrix3& out);

// v taken as a row vector: out[j] = sum over i of v[i] M[i][j].
Vec3 vectorTimesMatrix(const Vec3& v, const Matrix3& m);

// The three rotation angles (radians) that cameraRotation holds.
Vec3 matrixToAngles(const Matrix3& m);

// cameraRotation -> cameraQuat and cameraMatrix, from the identity; also
// clears flightRoll.
void anglesToOrientation();

// cameraMatrix -> cameraRotation.
void orientationToAngles();

// Writes cameraQuat and keeps cameraMatrix = quatToMatrix(cameraQuat).
void setCameraQuat(const Quat& q);

} // namespace vortigo
