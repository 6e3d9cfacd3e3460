#include "app/edit_tool.h"

#include <cmath>
#include <vector>

#include "geometry/matrix4.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kDegrees = static_cast<float>(kPi / 180.0);

// Blade: a convex ten-sided profile in the x-y plane, tip at x = -4, extruded
// to +-0.05 along z; bottom ring 0..9, top ring 10..19.
const float kBladeVertices[20][3] = {
    {0.7f, -0.3f, -0.05f}, {-1.5f, -0.45f, -0.05f}, {-2.8f, -0.35f, -0.05f}, {-3.6f, -0.15f, -0.05f},
    {-4.0f, 0.1f, -0.05f}, {-3.5f, 0.35f, -0.05f},  {-2.6f, 0.55f, -0.05f},  {-1.4f, 0.62f, -0.05f},
    {0.2f, 0.55f, -0.05f}, {0.7f, 0.35f, -0.05f},   {0.7f, -0.3f, 0.05f},    {-1.5f, -0.45f, 0.05f},
    {-2.8f, -0.35f, 0.05f}, {-3.6f, -0.15f, 0.05f}, {-4.0f, 0.1f, 0.05f},    {-3.5f, 0.35f, 0.05f},
    {-2.6f, 0.55f, 0.05f}, {-1.4f, 0.62f, 0.05f},   {0.2f, 0.55f, 0.05f},    {0.7f, 0.35f, 0.05f},
};
const int32_t kBladeTriangles[36][3] = {
    {0, 11, 1},   {0, 10, 11},  {1, 12, 2},   {1, 11, 12},  {2, 13, 3},   {2, 12, 13},  {3, 14, 4},
    {3, 13, 14},  {4, 15, 5},   {4, 14, 15},  {5, 16, 6},   {5, 15, 16},  {6, 17, 7},   {6, 16, 17},
    {7, 18, 8},   {7, 17, 18},  {8, 19, 9},   {8, 18, 19},  {9, 10, 0},   {9, 19, 10},  {0, 1, 2},
    {10, 12, 11}, {0, 2, 3},    {10, 13, 12}, {0, 3, 4},    {10, 14, 13}, {0, 4, 5},    {10, 15, 14},
    {0, 5, 6},    {10, 16, 15}, {0, 6, 7},    {10, 17, 16}, {0, 7, 8},    {10, 18, 17}, {0, 8, 9},
    {10, 19, 18},
};

// Handle: a grip along +x with a rounded nose (vertex 0), elliptic rims of 11
// vertices at x = 0 (1..11), 4 (12..22) and 8 (23..33), the last rim repeated
// (34..44) so that the flat back cap around vertex 45 keeps its own normals.
const float kHandleVertices[46][3] = {
    {-0.5f, 0.0f, 0.0f},
    {0.0f, 0.5f, 0.0f},         {0.0f, 0.42063f, 0.22707f},   {0.0f, 0.20771f, 0.38205f},
    {0.0f, -0.07116f, 0.41573f}, {0.0f, -0.32743f, 0.31741f}, {0.0f, -0.47975f, 0.11833f},
    {0.0f, -0.47975f, -0.11833f}, {0.0f, -0.32743f, -0.31741f}, {0.0f, -0.07116f, -0.41573f},
    {0.0f, 0.20771f, -0.38205f}, {0.0f, 0.42063f, -0.22707f},
    {4.0f, 0.62f, 0.0f},        {4.0f, 0.52158f, 0.27032f},   {4.0f, 0.25756f, 0.45482f},
    {4.0f, -0.08824f, 0.49491f}, {4.0f, -0.40601f, 0.37787f}, {4.0f, -0.59489f, 0.14087f},
    {4.0f, -0.59489f, -0.14087f}, {4.0f, -0.40601f, -0.37787f}, {4.0f, -0.08824f, -0.49491f},
    {4.0f, 0.25756f, -0.45482f}, {4.0f, 0.52158f, -0.27032f},
    {8.0f, 0.55f, 0.0f},        {8.0f, 0.46269f, 0.24329f},   {8.0f, 0.22848f, 0.40933f},
    {8.0f, -0.07827f, 0.44542f}, {8.0f, -0.36017f, 0.34009f}, {8.0f, -0.52772f, 0.12678f},
    {8.0f, -0.52772f, -0.12678f}, {8.0f, -0.36017f, -0.34009f}, {8.0f, -0.07827f, -0.44542f},
    {8.0f, 0.22848f, -0.40933f}, {8.0f, 0.46269f, -0.24329f},
    {8.0f, 0.55f, 0.0f},        {8.0f, 0.46269f, 0.24329f},   {8.0f, 0.22848f, 0.40933f},
    {8.0f, -0.07827f, 0.44542f}, {8.0f, -0.36017f, 0.34009f}, {8.0f, -0.52772f, 0.12678f},
    {8.0f, -0.52772f, -0.12678f}, {8.0f, -0.36017f, -0.34009f}, {8.0f, -0.07827f, -0.44542f},
    {8.0f, 0.22848f, -0.40933f}, {8.0f, 0.46269f, -0.24329f},
    {8.0f, 0.0f, 0.0f},
};
const int32_t kHandleTriangles[66][3] = {
    {0, 2, 1},    {0, 3, 2},    {0, 4, 3},    {0, 5, 4},    {0, 6, 5},    {0, 7, 6},    {0, 8, 7},
    {0, 9, 8},    {0, 10, 9},   {0, 11, 10},  {0, 1, 11},   {1, 13, 12},  {1, 2, 13},   {2, 14, 13},
    {2, 3, 14},   {3, 15, 14},  {3, 4, 15},   {4, 16, 15},  {4, 5, 16},   {5, 17, 16},  {5, 6, 17},
    {6, 18, 17},  {6, 7, 18},   {7, 19, 18},  {7, 8, 19},   {8, 20, 19},  {8, 9, 20},   {9, 21, 20},
    {9, 10, 21},  {10, 22, 21}, {10, 11, 22}, {11, 12, 22}, {11, 1, 12},  {12, 24, 23}, {12, 13, 24},
    {13, 25, 24}, {13, 14, 25}, {14, 26, 25}, {14, 15, 26}, {15, 27, 26}, {15, 16, 27}, {16, 28, 27},
    {16, 17, 28}, {17, 29, 28}, {17, 18, 29}, {18, 30, 29}, {18, 19, 30}, {19, 31, 30}, {19, 20, 31},
    {20, 32, 31}, {20, 21, 32}, {21, 33, 32}, {21, 22, 33}, {22, 23, 33}, {22, 12, 23}, {45, 34, 35},
    {45, 35, 36}, {45, 36, 37}, {45, 37, 38}, {45, 38, 39}, {45, 39, 40}, {45, 40, 41}, {45, 41, 42},
    {45, 42, 43}, {45, 43, 44}, {45, 44, 34},
};

// the blade tip becomes the tool's origin; the handle starts just behind the
// blade's back edge so that the two overlap
const Vec3f kBladeTranslation(4.0f, 0.0f, 0.0f);
const Vec3f kHandleTranslation(4.3f, 0.0f, 0.0f);
const Vec3f kBladeScale(0.024f, 0.024f, 0.036f);
const float kHandleScale = 0.024f;
const float kHandleTiltDegrees = -2.5f;
// the tables run along +x; the tool stands along +z after this turn
const float kStandUpDegrees = -90.0f;

template <size_t V, size_t T>
void FillMesh(const float (&vertices)[V][3], const int32_t (&triangles)[T][3], const Mat4f& placement,
              SurfaceMesh* mesh) {
  std::vector<Vec3f> positions;
  positions.reserve(V);
  for (const auto& v : vertices) positions.push_back(TransformPoint(placement, Vec3f(v[0], v[1], v[2])));
  std::vector<int32_t> indices;
  indices.reserve(3 * T);
  for (const auto& t : triangles) indices.insert(indices.end(), {t[0], t[1], t[2]});
  mesh->SetFromArrays(positions, indices);
}

}  // namespace

EditTool::EditTool() { BuildShape(); }

void EditTool::BuildShape() {
  Mat4f standUp = RotationYMatrix(kStandUpDegrees * kDegrees);
  Mat4f bladePlacement = standUp * ScalingMatrix(kBladeScale) * TranslationMatrix(kBladeTranslation);
  Mat4f handlePlacement = standUp * ScalingMatrix(Vec3f(kHandleScale, kHandleScale, kHandleScale)) *
                          TranslationMatrix(kHandleTranslation) * RotationZMatrix(kHandleTiltDegrees * kDegrees);
  FillMesh(kBladeVertices, kBladeTriangles, bladePlacement, &blade);
  FillMesh(kHandleVertices, kHandleTriangles, handlePlacement, &handle);
}

ToolPose EditTool::StartPose() {
  ToolPose pose;
  pose.rotation = RotationFromAnglesDegrees(Vec3d(0, 0, 0));
  pose.translation = Vec3d(0.2, 0.0, 0.2);
  return pose;
}

Mat3d RotationFromAnglesDegrees(const Vec3d& anglesDegrees) {
  double a = anglesDegrees.x * kPi / 180.0, b = anglesDegrees.y * kPi / 180.0, c = anglesDegrees.z * kPi / 180.0;
  double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b), cc = std::cos(c), sc = std::sin(c);
  // Rz(c) * Ry(b) * Rx(a)
  return Mat3d{{cc * cb, cc * sb * sa - sc * ca, cc * sb * ca + sc * sa,
                sc * cb, sc * sb * sa + cc * ca, sc * sb * ca - cc * sa,
                -sb, cb * sa, cb * ca}};
}

Mat4f ToolPoseMatrix(const ToolPose& pose) { return AffineMatrix(pose.rotation, pose.translation); }
