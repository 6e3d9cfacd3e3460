// Element stiffness matrices, the composite table, the Galerkin matrices of
// the embedded levels, rest forces and lumped masses.
#include "cutsim/element_matrix.h"

#include <cassert>
#include <cmath>
#include <ostream>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

namespace {

// Integral over [0, h] of two 1D linear shape functions of offsets p and q
// (0: 1 - x/h, 1: x/h), each differentiated or not.
double ShapeIntegral1D(double h, int p, int q, bool derivativeP, bool derivativeQ) {
  double sp = p ? 1.0 : -1.0, sq = q ? 1.0 : -1.0;
  if (derivativeP && derivativeQ) return sp * sq / h;
  if (derivativeP) return sp / 2.0;
  if (derivativeQ) return sq / 2.0;
  return p == q ? h / 3.0 : h / 6.0;
}

// Integral over the box of (d/dx_i N_a) * (d/dx_j N_b); the trilinear shape
// functions factor per axis, so the 3D integral is a product of 1D ones.
double GradientProductIntegral(const double h[3], int a, int b, int i, int j) {
  double product = 1.0;
  for (int axis = 0; axis < 3; ++axis) {
    int p = (a >> axis) & 1, q = (b >> axis) & 1;
    product *= ShapeIntegral1D(h[axis], p, q, axis == i, axis == j);
  }
  return product;
}

// Trilinear weight of a coarse corner k (box of edge 2, corners at 0 or 2) at
// a fine corner n of child octant j (edge 1), as in the composite table.
double OctantCornerWeight(int octant, int fineCorner, int coarseCorner) {
  double w = 1.0;
  for (int a = 0; a < 3; ++a) {
    int fine = ((octant >> a) & 1) + ((fineCorner >> a) & 1);
    int coarse = 2 * ((coarseCorner >> a) & 1);
    w *= (2 - std::abs(fine - coarse)) / 2.0;
  }
  return w;
}

}  // namespace

ElementMatrix ComputeVoxelStiffness(double hx, double hy, double hz, double E, double nu) {
  double lambda = E * nu / ((1.0 - 2.0 * nu) * (1.0 + nu));
  double mu = E / (2.0 * (1.0 + nu));
  const double h[3] = {hx, hy, hz};
  ElementMatrix K;
  for (int a = 0; a < 8; ++a) {
    for (int b = 0; b < 8; ++b) {
      double* block = K.Block(a, b);
      double laplace = 0;
      for (int k = 0; k < 3; ++k) laplace += GradientProductIntegral(h, a, b, k, k);
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          // lambda div(u) div(v) + mu (grad u : grad v + grad u : grad v^T)
          double value = lambda * GradientProductIntegral(h, a, b, i, j) +
                         mu * GradientProductIntegral(h, a, b, j, i);
          if (i == j) value += mu * laplace;
          block[3 * i + j] = value;
        }
      }
    }
  }
  return K;
}

void AddInterpolatedMatrix(const ElementMatrix& child, const double weights[8][8], ElementMatrix& parent) {
  // two passes of 8 x 8 x 8 block products: T = child * P, parent += P^T * T
  ElementMatrix t;
  for (int n = 0; n < 8; ++n) {
    for (int m = 0; m < 8; ++m) {
      const double* source = child.Block(n, m);
      for (int l = 0; l < 8; ++l) {
        double w = weights[m][l];
        if (w == 0) continue;
        double* target = t.Block(n, l);
        for (int k = 0; k < 9; ++k) target[k] += w * source[k];
      }
    }
  }
  for (int n = 0; n < 8; ++n) {
    for (int k = 0; k < 8; ++k) {
      double w = weights[n][k];
      if (w == 0) continue;
      for (int l = 0; l < 8; ++l) {
        const double* source = t.Block(n, l);
        double* target = parent.Block(k, l);
        for (int e = 0; e < 9; ++e) target[e] += w * source[e];
      }
    }
  }
}

bool CutSim::SetMaterial(const Vec3d& /*voxelSizeIgnored*/, double modulus, double poissonRatio, bool inertiaOn,
                         double step, double damping, double materialDensity, bool rotationsOn,
                         std::wostream* log) {
  // the octree's voxel size is authoritative: positions are in its units
  voxelSize = octree.voxelSize;
  nu = poissonRatio;
  inertiaEnabled = inertiaOn;
  timeStep = step;
  dampingFactor = damping;
  E = modulus;
  rotationsEnabled = rotationsOn;
  density = materialDensity;
  voxelMass = voxelSize.x * voxelSize.y * voxelSize.z * density;
  double elementScale = std::ldexp(0.8, numEmbeddedLevels);
  collisionCellSize = voxelSize * elementScale;
  penaltyStiffness = 2.0;
  // a Poisson ratio of 0.5 or more has no finite stiffness; keep zero matrices
  if (!ValidateMaterial(log)) {
    voxelStiffness.SetZero();
    compositeStiffness.assign(256, ElementMatrix());
    return false;
  }
  voxelStiffness = ComputeVoxelStiffness(voxelSize.x, voxelSize.y, voxelSize.z, E, nu);
  ComputeCompositeStiffness();
  return true;
}

void CutSim::ComputeCompositeStiffness() {
  ElementMatrix octantStiffness[8];
  for (int j = 0; j < 8; ++j) {
    double weights[8][8];
    for (int n = 0; n < 8; ++n) {
      for (int k = 0; k < 8; ++k) weights[n][k] = OctantCornerWeight(j, n, k);
    }
    AddInterpolatedMatrix(voxelStiffness, weights, octantStiffness[j]);
  }
  compositeStiffness.assign(256, ElementMatrix());
  for (int mask = 1; mask < 256; ++mask) {
    for (int j = 0; j < 8; ++j) {
      if ((mask >> j) & 1) compositeStiffness[mask] += octantStiffness[j];
    }
  }
  // the full cell is a depth-1 element; setting it exactly makes grouped full
  // cells and carried-over depth-1 leaves bit-identical (the sum differs only
  // by rounding)
  compositeStiffness[255] = voxelStiffness;
  compositeStiffness[255] *= 2.0;
}

void CutSim::ComputeChildOctantMasks() {
  childOctantMask.assign(cellCount[1], 0);
  for (int c = 0; c < cellCount[0]; ++c) {
    int parent = cellParent[0][c];
    if (parent < 0) continue;
    if (cellDepth[0][c] >= 1) {
      childOctantMask[parent] = 255;
      continue;
    }
    Vec3i d = cellPosition[0][c] - cellPosition[1][parent];
    int bit = d.x + 2 * d.y + 4 * d.z;
    assert(bit >= 0 && bit < 8);
    childOctantMask[parent] |= 1 << bit;
  }
}

void CutSim::GroupChildrenByParent(int childLevel) {
  int parentCount = cellCount[childLevel + 1];
  childStart.assign(parentCount + 1, 0);
  for (int c = 0; c < cellCount[childLevel]; ++c) {
    int parent = cellParent[childLevel][c];
    if (parent >= 0) ++childStart[parent + 1];
  }
  for (int p = 0; p < parentCount; ++p) childStart[p + 1] += childStart[p];
  childList.resize(childStart[parentCount]);
  std::vector<int32_t>& fill = childFill;
  fill.assign(childStart.begin(), childStart.end() - 1);
  for (int c = 0; c < cellCount[childLevel]; ++c) {
    int parent = cellParent[childLevel][c];
    if (parent >= 0) childList[fill[parent]++] = c;
  }
}

bool CutSim::StoresElementMatrices(int level) const {
  return level == numEmbeddedLevels || (level >= 2 && level < numEmbeddedLevels);
}

void CutSim::Level1Matrix(int cell, ElementMatrix& out) const {
  int depth = cellDepth[1][cell];
  if (depth == 1) {
    out = compositeStiffness[childOctantMask[cell] & 255];
    return;
  }
  out = voxelStiffness;
  out *= std::ldexp(1.0, depth);
}

const ElementMatrix& CutSim::ElementMatrixOf(int level, int cell, ElementMatrix& scratch) const {
  if (StoresElementMatrices(level)) return elementMatrices[level][cell];
  if (level == 0) return voxelStiffness;
  Level1Matrix(cell, scratch);
  return scratch;
}

void CutSim::AccumulateChildMatrices(int level) {
  int childLevel = level - 1;
  GroupChildrenByParent(childLevel);
  std::vector<ElementMatrix>& parents = elementMatrices[level];
  int parentCount = cellCount[level];
  // parallel over coarse cells, each summing its children in ascending
  // order: the result does not depend on the thread count
#pragma omp parallel for schedule(static)
  for (int p = 0; p < parentCount; ++p) {
    if (!cellRebuilt[level][p]) continue;
    int parentDepth = cellDepth[level][p];
    double parentSize = static_cast<double>(1 << parentDepth);
    ElementMatrix scratch;
    for (int k = childStart[p]; k < childStart[p + 1]; ++k) {
      int c = childList[k];
      const ElementMatrix& child = ElementMatrixOf(childLevel, c, scratch);
      if (cellDepth[childLevel][c] == parentDepth) {
        parents[p] += child;
        continue;
      }
      double weights[8][8];
      for (int n = 0; n < 8; ++n) {
        Vec3i childCorner = CornerPosition(childLevel, c, n);
        for (int j = 0; j < 8; ++j) {
          Vec3i parentCorner = CornerPosition(level, p, j);
          double w = 1.0;
          for (int a = 0; a < 3; ++a) w *= 1.0 - std::abs(childCorner[a] - parentCorner[a]) / parentSize;
          weights[n][j] = w;
        }
      }
      AddInterpolatedMatrix(child, weights, parents[p]);
    }
  }
}

void CutSim::ComputeElementMatrices() {
  int u = numEmbeddedLevels;
  if (u == 0) return;
  for (int level = 2; level <= u; ++level) {
    for (int c = 0; c < cellCount[level]; ++c) {
      if (cellRebuilt[level][c]) elementMatrices[level][c].SetZero();
    }
  }
  ComputeChildOctantMasks();
  if (u == 1) {
    for (int c = 0; c < cellCount[1]; ++c) {
      if (cellRebuilt[1][c]) Level1Matrix(c, elementMatrices[1][c]);
    }
  }
  for (int level = 2; level <= u; ++level) AccumulateChildMatrices(level);
  for (int c = 0; c < cellCount[u]; ++c) {
    if (cellRebuilt[u][c]) elementMatrices[u][c] *= std::ldexp(1.0, -cellDepth[u][c]);
  }
}

void CutSim::ComputeRestForces() {
  int u = numEmbeddedLevels;
  int elements = cellCount[u];
  restForces.resize(elements);
  // every element writes only its own forces
#pragma omp parallel for schedule(static)
  for (int e = 0; e < elements; ++e) {
    Vec3d rest[8];
    for (int k = 0; k < 8; ++k) {
      Vec3i p = CornerPosition(u, e, k);
      rest[k] = {p.x * voxelSize.x, p.y * voxelSize.y, p.z * voxelSize.z};
    }
    const ElementMatrix& K = elementMatrices[u][e];
    for (int i = 0; i < 8; ++i) {
      Vec3d f;
      for (int k = 0; k < 8; ++k) {
        const double* B = K.Block(i, k);
        f.x += B[0] * rest[k].x + B[1] * rest[k].y + B[2] * rest[k].z;
        f.y += B[3] * rest[k].x + B[4] * rest[k].y + B[5] * rest[k].z;
        f.z += B[6] * rest[k].x + B[7] * rest[k].y + B[8] * rest[k].z;
      }
      restForces[e][i] = f;
    }
  }
}

void CutSim::ComputeLumpedMasses() {
  int u = numEmbeddedLevels;
  for (int level = 0; level <= u; ++level) vertexMass[level].assign(vertexCount[level], 0.0);
  for (int c = 0; c < cellCount[0]; ++c) {
    // a cell of depth s holds 8^s voxels; each corner takes an eighth
    double cornerMass = std::ldexp(voxelMass, 3 * cellDepth[0][c]) / 8.0;
    for (int n = level0StencilStart[8 * static_cast<size_t>(c)]; n < level0StencilStart[8 * static_cast<size_t>(c) + 8];
         ++n) {
      vertexMass[0][level0StencilVertex[n]] += level0StencilCoefficient[n] * cornerMass;
    }
  }
  for (int level = 1; level <= u; ++level) {
    const std::vector<double>& fine = vertexMass[level - 1];
    std::vector<double>& coarse = vertexMass[level];
    for (int i = 0; i < vertexCount[level - 1]; ++i) {
      const auto& vertices = prolongationVertices[level - 1][i];
      const auto& weights = prolongationWeights[level - 1][i];
      for (int k = 0; k < 8; ++k) {
        if (weights[k] != 0) coarse[vertices[k]] += weights[k] * fine[i] / 8.0;
      }
    }
  }
}
