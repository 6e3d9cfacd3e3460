#include "support/geometry_reference.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <utility>

double PointTriangleDistance(const Vec3d& p, const Vec3d& a, const Vec3d& b, const Vec3d& c) {
  // closest point by Voronoi regions of the triangle
  const Vec3d ab = b - a, ac = c - a, ap = p - a;
  const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return Length(p - a);
  const Vec3d bp = p - b;
  const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return Length(p - b);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return Length(p - (a + ab * (d1 / (d1 - d3))));
  const Vec3d cp = p - c;
  const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return Length(p - c);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return Length(p - (a + ac * (d2 / (d2 - d6))));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    return Length(p - (b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)))));
  }
  const double denominator = 1.0 / (va + vb + vc);
  return Length(p - (a + ab * (vb * denominator) + ac * (vc * denominator)));
}

MeshDistance::MeshDistance(const SurfaceMesh& mesh, double bucketSize) : bucketSize_(bucketSize) {
  Vec3d lo(1e300, 1e300, 1e300), hi(-1e300, -1e300, -1e300);
  for (const auto& v : mesh.vertices) {
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], double(v.position[k]));
      hi[k] = std::max(hi[k], double(v.position[k]));
    }
  }
  origin_ = lo;
  for (int k = 0; k < 3; ++k) dims_[k] = std::max(1, int(std::ceil((hi[k] - lo[k]) / bucketSize)) + 1);
  buckets_.resize(size_t(dims_.x) * dims_.y * dims_.z);
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const auto& tri = mesh.triangles[t];
    const Vec3d p[3] = {Vec3d(mesh.vertices[tri.i0].position), Vec3d(mesh.vertices[tri.i1].position),
                        Vec3d(mesh.vertices[tri.i2].position)};
    a_.push_back(p[0]);
    b_.push_back(p[1]);
    c_.push_back(p[2]);
    int from[3], to[3];
    for (int k = 0; k < 3; ++k) {
      const double mn = std::min({p[0][k], p[1][k], p[2][k]}), mx = std::max({p[0][k], p[1][k], p[2][k]});
      from[k] = std::clamp(int((mn - origin_[k]) / bucketSize), 0, dims_[k] - 1);
      to[k] = std::clamp(int((mx - origin_[k]) / bucketSize), 0, dims_[k] - 1);
    }
    for (int z = from[2]; z <= to[2]; ++z)
      for (int y = from[1]; y <= to[1]; ++y)
        for (int x = from[0]; x <= to[0]; ++x) buckets_[x + size_t(dims_.x) * (y + size_t(dims_.y) * z)].push_back(int32_t(t));
  }
}

double MeshDistance::DistanceWithin(const Vec3d& p, double radius) const {
  int from[3], to[3];
  for (int k = 0; k < 3; ++k) {
    from[k] = std::clamp(int(std::floor((p[k] - radius - origin_[k]) / bucketSize_)), 0, dims_[k] - 1);
    to[k] = std::clamp(int(std::floor((p[k] + radius - origin_[k]) / bucketSize_)), 0, dims_[k] - 1);
  }
  double best = std::numeric_limits<double>::infinity();
  for (int z = from[2]; z <= to[2]; ++z)
    for (int y = from[1]; y <= to[1]; ++y)
      for (int x = from[0]; x <= to[0]; ++x)
        for (int32_t t : buckets_[x + size_t(dims_.x) * (y + size_t(dims_.y) * z)])
          best = std::min(best, PointTriangleDistance(p, a_[t], b_[t], c_[t]));
  return best;
}

double EnclosedVolume(const std::vector<Vec3f>& positions, const std::vector<int32_t>& triangles) {
  double volume = 0;
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const Vec3d a(positions[triangles[t]]), b(positions[triangles[t + 1]]), c(positions[triangles[t + 2]]);
    volume += Dot(a, Cross(b, c)) / 6.0;
  }
  return volume;
}

double EnclosedVolume(const SurfaceMesh& mesh) {
  std::vector<Vec3f> positions;
  std::vector<int32_t> triangles;
  for (const auto& v : mesh.vertices) positions.push_back(v.position);
  for (const auto& t : mesh.triangles) triangles.insert(triangles.end(), {t.i0, t.i1, t.i2});
  return EnclosedVolume(positions, triangles);
}

std::string ClosedOrientedSurfaceError(const std::vector<int32_t>& triangles, bool allowCoincidentSheets) {
  // directed edge -> uses
  std::map<std::pair<int32_t, int32_t>, int> directed;
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int k = 0; k < 3; ++k) ++directed[{triangles[t + k], triangles[t + (k + 1) % 3]}];
  }
  for (const auto& [edge, uses] : directed) {
    auto reverse = directed.find({edge.second, edge.first});
    const int reverseUses = reverse == directed.end() ? 0 : reverse->second;
    const bool balanced = uses == reverseUses;
    if (!balanced || (!allowCoincidentSheets && uses != 1)) {
      return "edge " + std::to_string(edge.first) + "-" + std::to_string(edge.second) + " used " +
             std::to_string(uses) + " times forwards and " + std::to_string(reverseUses) + " times backwards";
    }
  }
  return "";
}

int SurfaceComponentCount(const std::vector<int32_t>& triangles, int vertexCount) {
  std::vector<int> parent(vertexCount);
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  std::vector<char> used(vertexCount, 0);
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int k = 0; k < 3; ++k) used[triangles[t + k]] = 1;
    parent[find(triangles[t])] = find(triangles[t + 1]);
    parent[find(triangles[t + 1])] = find(triangles[t + 2]);
  }
  int components = 0;
  for (int v = 0; v < vertexCount; ++v) components += used[v] && find(v) == v;
  return components;
}
