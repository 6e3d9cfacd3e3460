#include "geometry/matrix4.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979323846f;

Mat4f FromRows(std::initializer_list<float> values) {
  Mat4f m;
  int i = 0;
  for (float v : values) m.m[i++] = v;
  return m;
}

void ExpectNear(const Mat4f& a, const Mat4f& b, float tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "entry " << i;
}

void ExpectNear(const Vec3f& a, const Vec3f& b, float tolerance) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

Quaternion AxisAngle(Vec3f axis, float radians) {
  axis = Normalize(axis);
  float s = std::sin(radians / 2);
  return {axis.x * s, axis.y * s, axis.z * s, std::cos(radians / 2)};
}

}  // namespace

TEST(Matrix4, InverseUndoesGeneralMatrices) {
  const Mat4f cases[] = {
      Mat4f::Identity(),
      TranslationMatrix({1, -2, 3}) * RotationYMatrix(0.7f) * ScalingMatrix({2, 0.5f, 3}),
      PerspectiveFovRH(0.8f, 1.5f, 0.01f, 50.0f),
      // no structure at all: every cofactor matters
      FromRows({2, -1, 0, 3, 1, 4, -2, 0.5f, 0, 3, 1, -1, 0.25f, 0, 2, 5}),
      FromRows({0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0, 1}),  // zero diagonal: pivots elsewhere
  };
  for (const Mat4f& m : cases) {
    ExpectNear(Inverse(m) * m, Mat4f::Identity(), 1e-5f);
    ExpectNear(m * Inverse(m), Mat4f::Identity(), 1e-5f);
    ExpectNear(TransposedInverse(m), Transpose(Inverse(m)), 1e-6f);
  }
}

TEST(Matrix4, TransposedInverseKeepsNormalsPerpendicular) {
  Mat4f m = RotationXMatrix(0.3f) * ScalingMatrix({3, 1, 0.2f}) * TranslationMatrix({4, 5, 6});
  Vec3f tangent = Normalize(Vec3f(1, 2, 0)), normal = Vec3f(2, -1, 0.5f);
  ASSERT_NEAR(Dot(tangent, normal), 0, 1e-6f);
  Vec3f movedTangent = TransformDirection(m, tangent);
  Vec3f movedNormal = TransformDirection(TransposedInverse(m), normal);
  EXPECT_NEAR(Dot(movedTangent, movedNormal), 0, 1e-5f);
  // the plain matrix would not keep them perpendicular under this scaling
  EXPECT_GT(std::fabs(Dot(movedTangent, TransformDirection(m, normal))), 0.1f);
}

TEST(Matrix4, PerspectiveMapsNearAndFarToDepthZeroAndOne) {
  const float fov = 45 * kPi / 180, aspect = 4.0f / 3.0f, zNear = 0.001f, zFar = 100.0f;
  Mat4f p = PerspectiveFovRH(fov, aspect, zNear, zFar);
  auto project = [&](Vec3f v) {
    float in[4] = {v.x, v.y, v.z, 1}, out[4];
    TransformVector4(p, in, out);
    return Vec3f(out[0] / out[3], out[1] / out[3], out[2] / out[3]);
  };
  EXPECT_NEAR(project({0, 0, -zNear}).z, 0.0f, 1e-6f);
  EXPECT_NEAR(project({0, 0, -zFar}).z, 1.0f, 1e-6f);
  float mid = project({0, 0, -1}).z;
  EXPECT_GT(mid, 0.0f);
  EXPECT_LT(mid, 1.0f);
  // the frustum's top edge and right edge at depth 2 land on y = 1 and x = 1
  float halfHeight = 2 * std::tan(fov / 2);
  EXPECT_NEAR(project({0, halfHeight, -2}).y, 1.0f, 1e-5f);
  EXPECT_NEAR(project({halfHeight * aspect, 0, -2}).x, 1.0f, 1e-5f);
}

TEST(Matrix4, RotationsAreRightHanded) {
  ExpectNear(TransformDirection(RotationXMatrix(kPi / 2), {0, 1, 0}), {0, 0, 1}, 1e-6f);
  ExpectNear(TransformDirection(RotationYMatrix(kPi / 2), {0, 0, 1}), {1, 0, 0}, 1e-6f);
  ExpectNear(TransformDirection(RotationZMatrix(kPi / 2), {1, 0, 0}), {0, 1, 0}, 1e-6f);
  ExpectNear(TransformPoint(TranslationMatrix({1, 2, 3}) * ScalingMatrix({2, 2, 2}), {1, 1, 1}), {3, 4, 5}, 1e-6f);
}

TEST(Matrix4, QuaternionsAgreeWithAxisRotations) {
  ExpectNear(RotationFromQuaternion(AxisAngle({0, 0, 1}, 0.9f)), RotationZMatrix(0.9f), 1e-6f);
  ExpectNear(RotationFromQuaternion(AxisAngle({1, 0, 0}, -1.3f)), RotationXMatrix(-1.3f), 1e-6f);
  // a rotation about the diagonal by 120 degrees cycles the axes
  ExpectNear(TransformDirection(RotationFromQuaternion(AxisAngle({1, 1, 1}, 2 * kPi / 3)), {1, 0, 0}), {0, 1, 0},
             1e-5f);
  // the product composes like the matrices: b first, then a
  Quaternion a = AxisAngle({1, 2, 0.5f}, 0.8f), b = AxisAngle({-1, 0, 3}, 2.1f);
  ExpectNear(RotationFromQuaternion(QuaternionProduct(a, b)), RotationFromQuaternion(a) * RotationFromQuaternion(b),
             1e-5f);
}

TEST(Matrix4, CameraFrameIsReadBackFromTheView) {
  // an eye at e looking along f with up u, built as rows of the camera axes
  Vec3f eye(1, -2, 0.5f), f = Normalize(Vec3f(1, 1, -0.3f));
  Vec3f r = Normalize(Cross(f, Vec3f(0, 0, 1)));
  Vec3f u = Cross(r, f);
  Mat4f rotation = FromRows({r.x, r.y, r.z, 0, u.x, u.y, u.z, 0, -f.x, -f.y, -f.z, 0, 0, 0, 0, 1});
  Mat4f view = rotation * TranslationMatrix(-eye);
  CameraFrame frame = CameraFrameFromView(view);
  ExpectNear(frame.position, eye, 1e-5f);
  ExpectNear(frame.forward, f, 1e-5f);
  ExpectNear(frame.right, r, 1e-5f);
  ExpectNear(frame.up, u, 1e-5f);
}
