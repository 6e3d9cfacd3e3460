#pragma once
// Independent reference computations for geometry tests: exact distances to
// a triangle mesh, enclosed volume and the closed-surface check.
#include <cstdint>
#include <string>
#include <vector>

#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

double PointTriangleDistance(const Vec3d& p, const Vec3d& a, const Vec3d& b, const Vec3d& c);

// Triangles bucketed in a uniform grid for distance queries near the surface.
class MeshDistance {
 public:
  MeshDistance(const SurfaceMesh& mesh, double bucketSize);
  // Exact distance from p to the mesh when it is at most radius; otherwise a
  // value greater than radius.
  double DistanceWithin(const Vec3d& p, double radius) const;

 private:
  std::vector<Vec3d> a_, b_, c_;
  Vec3d origin_;
  double bucketSize_;
  Vec3i dims_;
  std::vector<std::vector<int32_t>> buckets_;
};

// Signed volume enclosed by triangles (positive for outward winding).
double EnclosedVolume(const std::vector<Vec3f>& positions, const std::vector<int32_t>& triangles);
double EnclosedVolume(const SurfaceMesh& mesh);

// "" when every edge is used by exactly two triangles in opposite directions,
// else a description of the first offending edge. With coincident sheets
// allowed, an edge may carry more triangles as long as it is used as often in
// each direction (two sheets touching back to back along a crease).
std::string ClosedOrientedSurfaceError(const std::vector<int32_t>& triangles, bool allowCoincidentSheets = false);

// Number of connected components of the triangles (through shared vertices).
int SurfaceComponentCount(const std::vector<int32_t>& triangles, int vertexCount);
