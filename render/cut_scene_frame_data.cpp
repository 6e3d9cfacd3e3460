#include "render/cut_scene_frame_data.h"

#include <cmath>

#include "cutsim/cut_sim.h"
#include "geometry/matrix4.h"
#include "geometry/octree.h"

namespace {

// Distance of an arrow's base from its vertex, in vertex handle radii: the
// arrow starts outside the handle sphere.
constexpr float kArrowBaseOffset = 1.5f;
// Forces are drawn ten times their value before the arrow scale applies.
constexpr double kForceDrawScale = 10.0;

bool IsFiniteMatrix(const Mat4f& m) {
  for (float v : m.m)
    if (!std::isfinite(v)) return false;
  return true;
}

// Unit sum of the face normals of the vertex's triangles with this tag, in
// adjacency order so that every caller gets the same bits; zero when they cancel.
Vec3f SmoothedNormal(const Octree& octree, const std::vector<Vec3f>& faceNormals, int32_t v, int32_t tag) {
  const std::vector<int32_t>& tags = octree.surfaceTriangleTag;
  const std::vector<int32_t>& adjacent = octree.vertexTriangles;
  Vec3f sum;
  for (int32_t k = octree.vertexTriangleStart[v]; k < octree.vertexTriangleStart[v + 1]; ++k) {
    const int32_t other = adjacent[k];
    if (tags[other] == tag) sum += faceNormals[other];
  }
  return Normalize(sum);
}

}  // namespace

InstanceMatrices CollapsedInstance() {
  InstanceMatrices instance;
  instance.worldView.m[15] = 1;
  return instance;
}

InstanceMatrices AxisInstance(const Mat4f& view, const Mat4f& viewTransInv, const Vec3f& origin, const Vec3f& axis,
                              float across, float along) {
  if (!(across > 0) || !(along > 0) || !std::isfinite(across) || !std::isfinite(along) || !IsFinite(origin) ||
      !IsFinite(axis))
    return CollapsedInstance();
  // a right-handed frame (e1, e2, axis): e1 is perpendicular to the axis and
  // to the coordinate direction the axis is least aligned with
  const Vec3f e3 = axis;
  const float ax = std::fabs(e3.x), ay = std::fabs(e3.y), az = std::fabs(e3.z);
  const Vec3f helper = ax <= ay && ax <= az ? Vec3f(1, 0, 0) : (ay <= az ? Vec3f(0, 1, 0) : Vec3f(0, 0, 1));
  const Vec3f e1 = Normalize(Cross(helper, e3));
  const Vec3f e2 = Cross(e3, e1);
  const Vec3f columns[3] = {e1 * across, e2 * across, e3 * along};

  Mat4f world = Mat4f::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) world(r, c) = columns[c][r];
    world(r, 3) = origin[r];
  }
  // the transposed inverse of translation * rotation * scaling in closed form:
  // rotation * scaling^-1 on top, -(rotation * scaling^-1)^T origin below
  const Vec3f inverseColumns[3] = {e1 / across, e2 / across, e3 / along};
  Mat4f worldTransInv = Mat4f::Identity();
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) worldTransInv(r, c) = inverseColumns[c][r];
    worldTransInv(3, c) = -Dot(inverseColumns[c], origin);
  }

  InstanceMatrices instance;
  instance.worldView = view * world;
  instance.transInvWorldView = viewTransInv * worldTransInv;
  if (!IsFiniteMatrix(instance.worldView) || !IsFiniteMatrix(instance.transInvWorldView)) return CollapsedInstance();
  return instance;
}

InstanceMatrices ForceArrowInstance(const Mat4f& view, const Mat4f& viewTransInv, const Vec3f& vertex,
                                    const Vec3d& force, float handleRadius, float arrowScale) {
  const Vec3d drawn = force * kForceDrawScale;
  const double length = Length(drawn);
  if (!(length > 0) || !std::isfinite(length)) return CollapsedInstance();
  const Vec3f direction(static_cast<float>(drawn.x / length), static_cast<float>(drawn.y / length),
                        static_cast<float>(drawn.z / length));
  const float scale = static_cast<float>(arrowScale * length);
  const Vec3f base = vertex + direction * (kArrowBaseOffset * handleRadius);
  return AxisInstance(view, viewTransInv, base, direction, scale, scale);
}

void CutSceneFrameData::BuildRenderVertices(const CutSim& sim) {
  const int32_t count = static_cast<int32_t>(sim.renderVertices.size());
  renderPositions.resize(count);
  renderFixed.resize(count);
  const std::vector<LevelVertex>& vertices = sim.levelVertices[0];
  const std::vector<uint8_t>& fixed = sim.vertexFixed[0];
  for (int32_t r = 0; r < count; ++r) {
    const int32_t v = sim.renderVertices[r];
    const Vec3d& x = vertices[v].x;
    renderPositions[r] = Vec3f(static_cast<float>(x.x), static_cast<float>(x.y), static_cast<float>(x.z));
    renderFixed[r] = fixed[v] != 0 ? 1 : 0;
  }
}

void CutSceneFrameData::BuildArrowInstances(const CutSim& sim, const Mat4f& view, float handleRadius,
                                            float arrowScale) {
  const int32_t count = static_cast<int32_t>(renderPositions.size());
  arrows.resize(count);
  const Mat4f viewTransInv = TransposedInverse(view);
  const std::vector<Vec3d>& forces = sim.vertexForce[0];
  for (int32_t r = 0; r < count; ++r) {
    arrows[r] = ForceArrowInstance(view, viewTransInv, renderPositions[r], forces[sim.renderVertices[r]],
                                   handleRadius, arrowScale);
  }
}

void CutSceneFrameData::BuildSketchInstances(const std::vector<std::vector<Vec3f>>& polylines, const Mat4f& view) {
  sketches.clear();
  const Mat4f viewTransInv = TransposedInverse(view);
  for (const std::vector<Vec3f>& polyline : polylines) {
    for (size_t i = 1; i < polyline.size(); ++i) {
      const Vec3f segment = polyline[i] - polyline[i - 1];
      const float length = Length(segment);
      sketches.push_back(length > 0 ? AxisInstance(view, viewTransInv, polyline[i - 1], segment / length,
                                                   kSketchCylinderScale, length)
                                    : CollapsedInstance());
    }
  }
}

void CutSceneFrameData::BuildSurface(Octree& octree) {
  octree.UpdateSurfacePositions(false);
  surfaceTypes.assign(octree.surfacePositions.size(), 0);
  ExpandSurfaceCorners(octree);
}

void CutSceneFrameData::ExpandSurfaceCorners(const Octree& octree) {
  const std::vector<Vec3f>& positions = octree.surfacePositions;
  const std::vector<int32_t>& triangles = octree.surfaceTriangles;
  const std::vector<int32_t>& tags = octree.surfaceTriangleTag;
  const std::vector<int32_t>& start = octree.vertexTriangleStart;
  const std::vector<int32_t>& adjacent = octree.vertexTriangles;
  const int32_t triangleCount = static_cast<int32_t>(triangles.size() / 3);
  const int32_t vertexCount = start.empty() ? 0 : static_cast<int32_t>(start.size() - 1);
  faceNormals.resize(triangleCount);
  vertexNormals.resize(vertexCount);
  vertexNormalTags.resize(vertexCount);
  corners.resize(3 * static_cast<size_t>(triangleCount));

  for (int32_t t = 0; t < triangleCount; ++t) {
    const Vec3f& p0 = positions[triangles[3 * t]];
    faceNormals[t] = Cross(positions[triangles[3 * t + 1]] - p0, positions[triangles[3 * t + 2]] - p0);
  }

  // Most vertices carry one tag, so the smoothed normal is summed once per
  // vertex for the tag of its first triangle; corners of another tag sum their own.
  for (int32_t v = 0; v < vertexCount; ++v) {
    const int32_t tag = start[v] < start[v + 1] ? tags[adjacent[start[v]]] : 0;
    vertexNormalTags[v] = tag;
    vertexNormals[v] = SmoothedNormal(octree, faceNormals, v, tag);
  }

  const Vec3f color(kSurfaceCornerColor[0], kSurfaceCornerColor[1], kSurfaceCornerColor[2]);
  for (int32_t t = 0; t < triangleCount; ++t) {
    const int32_t tag = tags[t];
    for (int32_t c = 3 * t; c < 3 * t + 3; ++c) {
      const int32_t v = triangles[c];
      Vec3f normal = vertexNormalTags[v] == tag ? vertexNormals[v] : SmoothedNormal(octree, faceNormals, v, tag);
      // opposite faces of a thin sheet can cancel; the triangle's own plane stands in
      if (LengthSquared(normal) == 0) normal = Normalize(faceNormals[t]);
      corners[c] = ExpandedCorner{positions[v], normal, color, tag};
    }
  }
}
