#include "geometry/matrix4.h"

#include <cmath>

Mat4f operator*(const Mat4f& a, const Mat4f& b) {
  Mat4f p;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a(r, k) * b(k, c);
      p(r, c) = sum;
    }
  }
  return p;
}

Mat4f Transpose(const Mat4f& m) {
  Mat4f t;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t(r, c) = m(c, r);
  return t;
}

namespace {

// Cofactor matrix of m (entry (r, c) = (-1)^(r+c) times the minor without row r
// and column c), from the 2x2 minors of the upper and lower row pairs; double
// precision keeps the cancellation in the minors small.
void Cofactors(const Mat4f& m, double cof[16], double* determinant) {
  double a[16];
  for (int i = 0; i < 16; ++i) a[i] = m.m[i];
  auto at = [&](int r, int c) { return a[4 * r + c]; };
  // 2x2 minors of rows 0, 1 (s) and rows 2, 3 (t), for the column pairs
  // (0,1) (0,2) (0,3) (1,2) (1,3) (2,3)
  double s[6], t[6];
  const int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  for (int k = 0; k < 6; ++k) {
    int i = pairs[k][0], j = pairs[k][1];
    s[k] = at(0, i) * at(1, j) - at(0, j) * at(1, i);
    t[k] = at(2, i) * at(3, j) - at(2, j) * at(3, i);
  }
  // rows 0 and 1 of the cofactor matrix expand over the minors of rows 2, 3
  cof[0] = at(1, 1) * t[5] - at(1, 2) * t[4] + at(1, 3) * t[3];
  cof[1] = -(at(1, 0) * t[5] - at(1, 2) * t[2] + at(1, 3) * t[1]);
  cof[2] = at(1, 0) * t[4] - at(1, 1) * t[2] + at(1, 3) * t[0];
  cof[3] = -(at(1, 0) * t[3] - at(1, 1) * t[1] + at(1, 2) * t[0]);
  cof[4] = -(at(0, 1) * t[5] - at(0, 2) * t[4] + at(0, 3) * t[3]);
  cof[5] = at(0, 0) * t[5] - at(0, 2) * t[2] + at(0, 3) * t[1];
  cof[6] = -(at(0, 0) * t[4] - at(0, 1) * t[2] + at(0, 3) * t[0]);
  cof[7] = at(0, 0) * t[3] - at(0, 1) * t[1] + at(0, 2) * t[0];
  // rows 2 and 3 expand over the minors of rows 0, 1
  cof[8] = at(3, 1) * s[5] - at(3, 2) * s[4] + at(3, 3) * s[3];
  cof[9] = -(at(3, 0) * s[5] - at(3, 2) * s[2] + at(3, 3) * s[1]);
  cof[10] = at(3, 0) * s[4] - at(3, 1) * s[2] + at(3, 3) * s[0];
  cof[11] = -(at(3, 0) * s[3] - at(3, 1) * s[1] + at(3, 2) * s[0]);
  cof[12] = -(at(2, 1) * s[5] - at(2, 2) * s[4] + at(2, 3) * s[3]);
  cof[13] = at(2, 0) * s[5] - at(2, 2) * s[2] + at(2, 3) * s[1];
  cof[14] = -(at(2, 0) * s[4] - at(2, 1) * s[2] + at(2, 3) * s[0]);
  cof[15] = at(2, 0) * s[3] - at(2, 1) * s[1] + at(2, 2) * s[0];
  *determinant = at(0, 0) * cof[0] + at(0, 1) * cof[1] + at(0, 2) * cof[2] + at(0, 3) * cof[3];
}

}  // namespace

Mat4f Inverse(const Mat4f& m) {
  double cof[16], det;
  Cofactors(m, cof, &det);
  // the inverse is the adjugate (transposed cofactors) over the determinant
  Mat4f inv;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) inv(r, c) = static_cast<float>(cof[4 * c + r] / det);
  return inv;
}

Mat4f TransposedInverse(const Mat4f& m) {
  double cof[16], det;
  Cofactors(m, cof, &det);
  Mat4f t;
  for (int i = 0; i < 16; ++i) t.m[i] = static_cast<float>(cof[i] / det);
  return t;
}

Vec3f TransformPoint(const Mat4f& m, const Vec3f& p) {
  return {m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3),
          m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3),
          m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3)};
}

Vec3f TransformDirection(const Mat4f& m, const Vec3f& v) {
  return {m(0, 0) * v.x + m(0, 1) * v.y + m(0, 2) * v.z,
          m(1, 0) * v.x + m(1, 1) * v.y + m(1, 2) * v.z,
          m(2, 0) * v.x + m(2, 1) * v.y + m(2, 2) * v.z};
}

void TransformVector4(const Mat4f& m, const float in[4], float out[4]) {
  float result[4];
  for (int r = 0; r < 4; ++r) result[r] = m(r, 0) * in[0] + m(r, 1) * in[1] + m(r, 2) * in[2] + m(r, 3) * in[3];
  for (int r = 0; r < 4; ++r) out[r] = result[r];
}

Mat4f TranslationMatrix(const Vec3f& t) {
  Mat4f m = Mat4f::Identity();
  m(0, 3) = t.x;
  m(1, 3) = t.y;
  m(2, 3) = t.z;
  return m;
}

Mat4f ScalingMatrix(const Vec3f& s) {
  Mat4f m = Mat4f::Identity();
  m(0, 0) = s.x;
  m(1, 1) = s.y;
  m(2, 2) = s.z;
  return m;
}

Mat4f RotationXMatrix(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(1, 1) = c;
  m(1, 2) = -s;
  m(2, 1) = s;
  m(2, 2) = c;
  return m;
}

Mat4f RotationYMatrix(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(0, 0) = c;
  m(0, 2) = s;
  m(2, 0) = -s;
  m(2, 2) = c;
  return m;
}

Mat4f RotationZMatrix(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(0, 0) = c;
  m(0, 1) = -s;
  m(1, 0) = s;
  m(1, 1) = c;
  return m;
}

Mat4f AffineMatrix(const Mat3d& rotation, const Vec3d& translation) {
  Mat4f m = Mat4f::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m(r, c) = static_cast<float>(rotation(r, c));
    m(r, 3) = static_cast<float>(translation[r]);
  }
  return m;
}

Mat4f PerspectiveFovRH(float fovYRadians, float aspect, float zNear, float zFar) {
  float yScale = 1.0f / std::tan(fovYRadians * 0.5f);
  Mat4f m;
  m(0, 0) = yScale / aspect;
  m(1, 1) = yScale;
  m(2, 2) = zFar / (zNear - zFar);
  m(2, 3) = zNear * zFar / (zNear - zFar);
  m(3, 2) = -1.0f;
  return m;
}

Mat4f RotationFromQuaternion(const Quaternion& q) {
  float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  Mat4f m = Mat4f::Identity();
  m(0, 0) = 1 - 2 * (yy + zz);
  m(0, 1) = 2 * (xy - wz);
  m(0, 2) = 2 * (xz + wy);
  m(1, 0) = 2 * (xy + wz);
  m(1, 1) = 1 - 2 * (xx + zz);
  m(1, 2) = 2 * (yz - wx);
  m(2, 0) = 2 * (xz - wy);
  m(2, 1) = 2 * (yz + wx);
  m(2, 2) = 1 - 2 * (xx + yy);
  return m;
}

Quaternion QuaternionProduct(const Quaternion& a, const Quaternion& b) {
  Quaternion p;
  p.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
  p.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
  p.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
  p.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
  return p;
}

CameraFrame CameraFrameFromInverseView(const Mat4f& inverseView) {
  CameraFrame frame;
  frame.position = TransformPoint(inverseView, Vec3f(0, 0, 0));
  frame.forward = Normalize(TransformDirection(inverseView, Vec3f(0, 0, -1)));
  frame.right = Normalize(TransformDirection(inverseView, Vec3f(1, 0, 0)));
  frame.up = Normalize(TransformDirection(inverseView, Vec3f(0, 1, 0)));
  return frame;
}

CameraFrame CameraFrameFromView(const Mat4f& view) { return CameraFrameFromInverseView(Inverse(view)); }
