// Coarse levels of the hierarchy: every box of twice the edge length becomes
// as many coarse cells as it holds face-connected groups of finer cells, and
// every vertex gets the interpolation stencil from the next coarser level.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "cutsim/cut_sim.h"

void CutSim::ReleaseChangedNeighbourhood(int fineLevel) {
  // one ring around every cell that lost its coarse cell is regrouped too
  std::vector<int32_t>& released = scratchIndices;
  released.clear();
  int slots = faceSlotCount[fineLevel];
  for (int c = 0; c < cellCount[fineLevel]; ++c) {
    if (cellParent[fineLevel][c] != -1) continue;
    for (int face = 0; face < 6; ++face) {
      int count = faceNeighbourCount[fineLevel][6 * c + face];
      const int32_t* list = &faceNeighbours[fineLevel][(6 * static_cast<size_t>(c) + face) * slots];
      released.insert(released.end(), list, list + count);
    }
  }
  for (int32_t c : released) cellParent[fineLevel][c] = -1;
}

void CutSim::SizeCoarseLevel(int level) {
  size_t n = static_cast<size_t>(cellCount[level]);
  faceSlotCount[level] = std::max(faceSlotCount[level], 16);
  faceNeighbourCount[level].assign(6 * n, 0);
  faceNeighbours[level].assign(6 * n * faceSlotCount[level], -1);
  cellVertices[level].resize(n, {-1, -1, -1, -1, -1, -1, -1, -1});
  hangingCorners[level].resize(n, 0);
  cellRebuilt[level].assign(n, 0);
}

int CutSim::TakeCoarseCell(int level) {
  if (nextFreeCoarseCell < coarseFreeList.size()) return coarseFreeList[nextFreeCoarseCell++];
  return AllocateCell(level);
}

void CutSim::InitCoarseCell(int level, int cell, const Vec3i& position, int depth) {
  cellPosition[level][cell] = position;
  cellDepth[level][cell] = depth;
  cellRotation[level][cell] = Mat3d::Identity();
  cellStiffnessScale[level][cell] = 1.0;
  cellParent[level][cell] = -1;
  cellRebuilt[level][cell] = 1;
}

void CutSim::BuildCoarseCells(int level) {
  int fine = level - 1;
  cellVisited.assign(cellCount[fine], 0);
  ReleaseChangedNeighbourhood(fine);
  SizeCoarseLevel(level);
  std::vector<uint8_t>& used = scratchFlags;
  used.assign(cellCount[level], 0);
  for (int c = 0; c < cellCount[fine]; ++c) {
    int parent = cellParent[fine][c];
    if (parent < 0) continue;
    cellVisited[c] = 1;
    used[parent] = 1;
  }
  coarseFreeList.clear();
  nextFreeCoarseCell = 0;
  for (int c = 0; c < cellCount[level]; ++c) {
    if (!used[c]) coarseFreeList.push_back(c);
  }
  PrepareFloodFill(fine);
  int halfBox = 1 << (level - 1);
  for (int c = 0; c < cellCount[fine]; ++c) {
    if (cellVisited[c]) continue;
    const Vec3i p = cellPosition[fine][c];
    if (cellDepth[fine][c] >= level) {
      int coarse = TakeCoarseCell(level);
      InitCoarseCell(level, coarse, p, cellDepth[fine][c]);
      cellParent[fine][c] = coarse;
      cellVisited[c] = 1;
      continue;
    }
    Vec3i centre = {p.x | halfBox, p.y | halfBox, p.z | halfBox};
    CollectCornerGroup(fine, c, centre);
    int coarse = -1;
    for (const GroupEntry& member : floodResult) {
      cellVisited[member.cell] = 1;
      int parent = cellParent[fine][member.cell];
      // a coarse cell already claimed in this pass is not shared by two groups
      if (parent >= 0 && !cellRebuilt[level][parent]) coarse = parent;
    }
    if (coarse < 0) coarse = TakeCoarseCell(level);
    int boxMask = ~((1 << level) - 1);
    InitCoarseCell(level, coarse, {p.x & boxMask, p.y & boxMask, p.z & boxMask}, level);
    for (const GroupEntry& member : floodResult) cellParent[fine][member.cell] = coarse;
    ClearFloodVisited();
  }
}

void CutSim::BuildCoarseAdjacency(int level) {
  int fine = level - 1;
  int slots = faceSlotCount[fine];
  for (int c = 0; c < cellCount[fine]; ++c) {
    int parent = cellParent[fine][c];
    bool grouped = cellDepth[fine][c] < level;
    for (int face = 0; face < 6; ++face) {
      // faces inside a box are never copied: separated groups stay apart
      if (grouped) {
        int axis = face / 2;
        int boundaryFace = 2 * axis + ((cellPosition[fine][c][axis] >> (level - 1)) & 1);
        if (face != boundaryFace) continue;
      }
      int count = faceNeighbourCount[fine][6 * c + face];
      for (int k = 0; k < count; ++k) {
        int n = faceNeighbours[fine][(6 * static_cast<size_t>(c) + face) * slots + k];
        AddFaceNeighbour(level, parent, face, cellParent[fine][n]);
      }
    }
  }
  cellVisited.assign(cellCount[fine], 0);
}

// A coarse corner that hangs has no vertex of its own: its value is the
// trilinear interpolation of the corners of the cell it hangs on, the same
// weights the assembly, the masses and the corner transfer use. A fine vertex
// that needs such a corner therefore takes the host's corners with the
// composed weight w_k * w_host / 8. This keeps the coarse space conforming
// (continuous across the size change), reproduces constant and linear fields
// exactly, and fits the eight entries: in a 2:1 balanced hierarchy the
// composed weights are whole eighths on at most eight distinct vertices.
bool CutSim::ComputeStencil(int level, int vertex, std::array<int32_t, 8>& vertices,
                            std::array<int32_t, 8>& weights) const {
  vertices.fill(-1);
  weights.fill(0);
  int coarseLevel = level + 1;
  int coarse = vertexCoarseCell[level][vertex];
  if (coarse < 0) {
    vertices.fill(0);
    return true;
  }
  int shift = cellDepth[coarseLevel][coarse] - 1;
  const Vec3i& x = vertexPosition[level][vertex];
  int cornerWeight[8];
  bool needsHost = false;
  for (int k = 0; k < 8; ++k) {
    Vec3i corner = CornerPosition(coarseLevel, coarse, k);
    int w = 1;
    for (int a = 0; a < 3; ++a) w *= std::max(0, 2 - (std::abs(corner[a] - x[a]) >> shift));
    cornerWeight[k] = w;
    if (w != 0 && ((hangingCorners[coarseLevel][coarse] >> k) & 1)) needsHost = true;
  }
  if (!needsHost) {
    for (int k = 0; k < 8; ++k) {
      bool hanging = (hangingCorners[coarseLevel][coarse] >> k) & 1;
      vertices[k] = hanging ? -1 : cellVertices[coarseLevel][coarse][k];
      weights[k] = cornerWeight[k];
    }
    return true;
  }
  CornerStencil composed, corner;
  composed.count = 0;
  for (int k = 0; k < 8; ++k) {
    if (cornerWeight[k] == 0) continue;
    CornerRepresentation(coarseLevel, coarse, k, corner);
    composed.overflow = composed.overflow || corner.overflow;
    for (int n = 0; n < corner.count; ++n) {
      double eighths = cornerWeight[k] * corner.coefficient[n];
      int m = 0;
      while (m < composed.count && composed.vertex[m] != corner.vertex[n]) ++m;
      if (m == composed.count) {
        // no room: the rounded fallback below keeps the largest weights
        if (m == CornerStencil::kCapacity) {
          composed.overflow = true;
          continue;
        }
        composed.vertex[m] = corner.vertex[n];
        composed.coefficient[m] = 0;
        ++composed.count;
      }
      composed.coefficient[m] += eighths;
    }
  }
  bool fits = composed.count <= 8 && !composed.overflow;
  for (int m = 0; m < composed.count && fits; ++m) fits = composed.coefficient[m] == std::floor(composed.coefficient[m]);
  if (fits) {
    for (int m = 0; m < composed.count; ++m) {
      vertices[m] = composed.vertex[m];
      weights[m] = static_cast<int32_t>(composed.coefficient[m]);
    }
    return true;
  }
  RoundStencil(composed, vertices, weights);
  return false;
}

// Fallback for unbalanced neighbourhoods: the eight largest composed weights,
// rounded to eighths by largest remainder so that they still sum to 8
// (constants are kept; linear fields only approximately).
void CutSim::RoundStencil(const CornerStencil& composed, std::array<int32_t, 8>& vertices,
                          std::array<int32_t, 8>& weights) {
  int order[CornerStencil::kCapacity];
  for (int m = 0; m < composed.count; ++m) order[m] = m;
  std::stable_sort(order, order + composed.count,
                   [&](int a, int b) { return composed.coefficient[a] > composed.coefficient[b]; });
  int kept = std::min(composed.count, 8);
  double total = 0;
  for (int m = 0; m < kept; ++m) total += composed.coefficient[order[m]];
  double remainder[8];
  int sum = 0;
  for (int m = 0; m < kept; ++m) {
    double scaled = composed.coefficient[order[m]] * 8.0 / total;
    weights[m] = static_cast<int32_t>(std::floor(scaled));
    remainder[m] = scaled - weights[m];
    vertices[m] = composed.vertex[order[m]];
    sum += weights[m];
  }
  while (sum < 8) {
    int best = 0;
    for (int m = 1; m < kept; ++m) {
      if (remainder[m] > remainder[best]) best = m;
    }
    ++weights[best];
    remainder[best] = -1;
    ++sum;
  }
}

void CutSim::BuildProlongationStencils() {
  inexactStencilCount = 0;
  for (int level = 0; level + 1 < numLevels; ++level) {
    prolongationVertices[level].resize(vertexCount[level]);
    prolongationWeights[level].resize(vertexCount[level]);
    int count = vertexCount[level];
    int inexact = 0;
    // each vertex writes only its own stencil; the count is an integer sum
#pragma omp parallel for schedule(static) reduction(+ : inexact)
    for (int v = 0; v < count; ++v) {
      if (!ComputeStencil(level, v, prolongationVertices[level][v], prolongationWeights[level][v])) ++inexact;
    }
    inexactStencilCount += inexact;
  }
}
