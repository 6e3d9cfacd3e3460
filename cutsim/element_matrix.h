#pragma once
// Stiffness matrix of one hexahedral element: 8 x 8 blocks of 3 x 3 doubles,
// block (i, j) coupling corner i with corner j, corners numbered x + 2y + 4z,
// blocks stored block-row by block-row, each block row-major.
#include <cstring>

#include "geometry/vec.h"

struct ElementMatrix {
  double m[576] = {};

  double* Block(int row, int column) { return m + 9 * (8 * row + column); }
  const double* Block(int row, int column) const { return m + 9 * (8 * row + column); }
  // Scalar entry of the 24 x 24 matrix (corner-major, component-minor).
  double& operator()(int row, int column) { return Block(row / 3, column / 3)[3 * (row % 3) + column % 3]; }
  double operator()(int row, int column) const { return Block(row / 3, column / 3)[3 * (row % 3) + column % 3]; }

  void SetZero() { std::memset(m, 0, sizeof(m)); }
  ElementMatrix& operator+=(const ElementMatrix& o) {
    for (int i = 0; i < 576; ++i) m[i] += o.m[i];
    return *this;
  }
  ElementMatrix& operator*=(double s) {
    for (int i = 0; i < 576; ++i) m[i] *= s;
    return *this;
  }
  bool operator==(const ElementMatrix& o) const { return std::memcmp(m, o.m, sizeof(m)) == 0; }
};

// Exact integral of the isotropic linear-elastic bilinear form over the
// trilinear hexahedron [0, hx] x [0, hy] x [0, hz] (Lame constants from E, nu).
ElementMatrix ComputeVoxelStiffness(double hx, double hy, double hz, double E, double nu);

// Adds P^T * child * P to parent, P[n][k] being the weight of parent corner k
// at child corner n; each weight scales a whole 3 x 3 block.
void AddInterpolatedMatrix(const ElementMatrix& child, const double weights[8][8], ElementMatrix& parent);
