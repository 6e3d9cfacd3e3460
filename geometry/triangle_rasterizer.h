#pragma once
// Scan conversion of a triangle against the lines through voxel centres that
// run along one axis. Shared by the voxelization, which peels depth layers,
// and the cut insertion, which turns every covered line into a crossing.
//
// For a pass along axis a the depth axis is a, the column axis (a + 1) % 3 and
// the row axis (a + 2) % 3. Rows and columns are filled at their centres
// (i + 0.5) under a half-open rule, so a centre on an edge shared by two
// triangles is covered by exactly one of them.
#include <algorithm>
#include <cmath>
#include <utility>

#include "geometry/vec.h"

struct RasterAxes {
  int depth, column, row;
};

inline RasterAxes RasterAxesAlong(int axis) { return {axis, (axis + 1) % 3, (axis + 2) % 3}; }

// First index whose centre k + 0.5 is >= position, clamped to [0, count]
// before the conversion to int so that huge coordinates cannot overflow.
inline int RasterFirstCentre(double position, int count) {
  double first = std::ceil(position - 0.5);
  if (!(first > 0.0)) return 0;
  if (first > static_cast<double>(count)) return count;
  return static_cast<int>(first);
}

struct RasterEdgePoint {
  double column, depth;
};

// Column and depth where the edge from p to q (p below q in row order) meets
// the row line; every triangle evaluates a shared edge with the same operands.
inline RasterEdgePoint RasterEdgeAtRow(const Vec3d& p, const Vec3d& q, double row) {
  double t = (row - p.z) / (q.z - p.z);
  return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

template <typename Emit>
void RasterFillRows(const Vec3d& lower, const Vec3d& upper, const Vec3d& shortLower, const Vec3d& shortUpper,
              int rowBegin, int rowEnd, int columnCount, Emit& emit) {
  for (int i = rowBegin; i < rowEnd; ++i) {
    double row = i + 0.5;
    RasterEdgePoint l = RasterEdgeAtRow(lower, upper, row);
    RasterEdgePoint r = RasterEdgeAtRow(shortLower, shortUpper, row);
    if (r.column < l.column) std::swap(l, r);
    if (l.column == r.column) continue;
    int columnBegin = RasterFirstCentre(l.column, columnCount);
    int columnEnd = RasterFirstCentre(r.column, columnCount);
    double slope = (r.depth - l.depth) / (r.column - l.column);
    for (int j = columnBegin; j < columnEnd; ++j) emit(j, i, l.depth + (j + 0.5 - l.column) * slope);
  }
}

// Calls emit(column, row, depth) for every covered centre line of the grid,
// depth in the coordinates of the vertices along the depth axis. Vertices are
// in voxel units; a triangle with a non-finite coordinate covers nothing.
template <typename Emit>
void RasterizeTriangle(const Vec3d vertices[3], int axis, const Vec3i& resolution, Emit&& emit) {
  const RasterAxes axes = RasterAxesAlong(axis);
  // (column, depth, row) of each vertex, sorted by row
  Vec3d v[3];
  for (int k = 0; k < 3; ++k) {
    if (!IsFinite(vertices[k])) return;
    v[k] = Vec3d(vertices[k][axes.column], vertices[k][axes.depth], vertices[k][axes.row]);
  }
  if (v[1].z < v[0].z) std::swap(v[0], v[1]);
  if (v[2].z < v[1].z) std::swap(v[1], v[2]);
  if (v[1].z < v[0].z) std::swap(v[0], v[1]);
  if (v[0].z == v[2].z) return;

  const int rowCount = resolution[axes.row];
  const int columnCount = resolution[axes.column];
  const int rowLow = RasterFirstCentre(v[0].z, rowCount);
  const int rowMid = RasterFirstCentre(v[1].z, rowCount);
  const int rowHigh = RasterFirstCentre(v[2].z, rowCount);
  if (v[1].z != v[0].z) RasterFillRows(v[0], v[2], v[0], v[1], rowLow, rowMid, columnCount, emit);
  if (v[1].z != v[2].z) RasterFillRows(v[0], v[2], v[1], v[2], rowMid, rowHigh, columnCount, emit);
}
