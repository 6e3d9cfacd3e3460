#pragma once
// 4x4 float matrix functions for the scene set-up, the camera and the renderer.
// Matrices are stored row by row and act on column vectors (p' = M * p), so a
// product A * B applies B first.
#include "geometry/vec.h"

// Unit quaternion (x, y, z) = sin(angle / 2) * axis, w = cos(angle / 2).
struct Quaternion {
  float x = 0, y = 0, z = 0, w = 1;
};

// Eye position and unit viewing, right-hand and up directions in world space.
struct CameraFrame {
  Vec3f position;
  Vec3f forward;
  Vec3f right;
  Vec3f up;
};

Mat4f operator*(const Mat4f& a, const Mat4f& b);
Mat4f Transpose(const Mat4f& m);
// General inverse by cofactor expansion; a singular matrix gives non-finite entries.
Mat4f Inverse(const Mat4f& m);
// Transpose of the general inverse: carries normals under m.
Mat4f TransposedInverse(const Mat4f& m);

// M * (p, 1) without the division by w, and M * (v, 0).
Vec3f TransformPoint(const Mat4f& m, const Vec3f& p);
Vec3f TransformDirection(const Mat4f& m, const Vec3f& v);
// M * (x, y, z, w) for a full 4-vector.
void TransformVector4(const Mat4f& m, const float in[4], float out[4]);

Mat4f TranslationMatrix(const Vec3f& t);
Mat4f ScalingMatrix(const Vec3f& s);
// Right-handed rotations by an angle in radians: counter-clockwise when the
// axis points at the viewer.
Mat4f RotationXMatrix(float radians);
Mat4f RotationYMatrix(float radians);
Mat4f RotationZMatrix(float radians);
// The 3x3 part from a rotation and the translation column.
Mat4f AffineMatrix(const Mat3d& rotation, const Vec3d& translation);

// Right-handed perspective projection: the view looks along -z, view depths
// -zNear ... -zFar map to 0 ... 1 after the division by w.
Mat4f PerspectiveFovRH(float fovYRadians, float aspect, float zNear, float zFar);

Mat4f RotationFromQuaternion(const Quaternion& q);
// Hamilton product a * b: its rotation applies b first, like the matrix product.
Quaternion QuaternionProduct(const Quaternion& a, const Quaternion& b);

// Reads the eye frame from the inverse of a view matrix: the eye is where the
// view space origin lies, and the view looks along -z with y up.
CameraFrame CameraFrameFromInverseView(const Mat4f& inverseView);
CameraFrame CameraFrameFromView(const Mat4f& view);
