#pragma once
// Per-vertex records of a level's linear system. A row is "wired" when its
// columns/blocks point at storage (the vertex's builder or the shared pools);
// an unwired row has a null columns pointer.
#include <cstdint>
#include <vector>

#include "geometry/vec.h"

struct LevelVertex {
  int32_t count = 0;          // blocks in the row; the vertex itself is one column
  int32_t* columns = nullptr; // count column vertex indices, in row order
  Mat3d* blocks = nullptr;    // count blocks A(i, j)
  Mat3d inertia;              // inertia block written by the assembly
  Vec3d x;                    // position, the solution variable (mesh units)
  Vec3d b;                    // right-hand side
  Vec3d r;                    // residual, scratch of the V-cycle

  bool Wired() const { return columns != nullptr; }
};

struct VertexHistory {
  std::vector<int32_t> builderColumns;  // row under construction: columns
  std::vector<Mat3d> builderBlocks;     // and their blocks
  Vec3d previousX;                      // position at the start of the previous step
};

// Small 3 x 3 helpers used by the assembly and the solver.
inline void AddScaled(Mat3d& target, const Mat3d& source, double s) {
  for (int k = 0; k < 9; ++k) target.m[k] += s * source.m[k];
}
inline Vec3d MulVec(const Mat3d& a, const Vec3d& v) {
  return {a.m[0] * v.x + a.m[1] * v.y + a.m[2] * v.z, a.m[3] * v.x + a.m[4] * v.y + a.m[5] * v.z,
          a.m[6] * v.x + a.m[7] * v.y + a.m[8] * v.z};
}
