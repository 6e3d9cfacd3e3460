// Moving fixations, forces and positions between the levels of the hierarchy
// and between the model and the corners of the octree's leaves.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

void CutSim::PropagateConstraints(int topLevel) {
  if (!built) return;
  topLevel = std::min(topLevel, numLevels - 1);
  for (int level = 1; level <= topLevel; ++level) {
    std::fill(vertexFixed[level].begin(), vertexFixed[level].end(), 0);
    std::fill(vertexForce[level].begin(), vertexForce[level].end(), Vec3d());
  }
  // level L + 1 is complete before it is propagated further
  for (int level = 0; level < topLevel; ++level) {
    for (int i = 0; i < vertexCount[level]; ++i) {
      const auto& coarse = prolongationVertices[level][i];
      const auto& weights = prolongationWeights[level][i];
      if (vertexFixed[level][i]) {
        for (int k = 0; k < 8; ++k) {
          if (weights[k] != 0) vertexFixed[level + 1][coarse[k]] = 1;
        }
      }
      const Vec3d& force = vertexForce[level][i];
      if (force.x != 0 || force.y != 0 || force.z != 0) {
        for (int k = 0; k < 8; ++k) {
          if (weights[k] != 0) vertexForce[level + 1][coarse[k]] += force * (weights[k] / 8.0);
        }
      }
    }
  }
}

void CutSim::InterpolatePositionsDown(int coarseLevel, std::array<Vec3d, 2>* packed) {
  int fine = coarseLevel - 1;
  const std::vector<LevelVertex>& coarseVertices = levelVertices[coarseLevel];
  const std::vector<VertexHistory>& coarseHistory = vertexHistory[coarseLevel];
  std::vector<LevelVertex>& fineVertices = levelVertices[fine];
  std::vector<VertexHistory>& fineHistory = vertexHistory[fine];
#pragma omp parallel for schedule(static)
  for (int i = 0; i < vertexCount[fine]; ++i) {
    const auto& coarse = prolongationVertices[fine][i];
    const auto& weights = prolongationWeights[fine][i];
    Vec3d x, previous;
    for (int k = 0; k < 8; ++k) {
      if (weights[k] == 0) continue;
      double w = weights[k] / 8.0;
      x += coarseVertices[coarse[k]].x * w;
      previous += coarseHistory[coarse[k]].previousX * w;
    }
    fineVertices[i].x = x;
    fineHistory[i].previousX = previous;
    if (packed) packed[i] = {x, previous};
  }
}

void CutSim::BuildLevel0CornerStencils() {
  int cells = cellCount[0];
  size_t corners = 8 * static_cast<size_t>(cells);
  std::vector<int32_t>& start = level0StencilStart;
  start.assign(corners + 1, 0);
  // counts first, in parallel; a regular corner is its own vertex
#pragma omp parallel for schedule(static)
  for (int c = 0; c < cells; ++c) {
    CornerStencil stencil;
    for (int k = 0; k < 8; ++k) {
      bool hanging = (hangingCorners[0][c] >> k) & 1;
      if (hanging) CornerRepresentation(0, c, k, stencil);
      start[8 * static_cast<size_t>(c) + k + 1] = hanging ? stencil.count : 1;
    }
  }
  for (size_t corner = 0; corner < corners; ++corner) start[corner + 1] += start[corner];
  level0StencilVertex.resize(start[corners]);
  level0StencilCoefficient.resize(start[corners]);
  // then every corner fills its own entries
#pragma omp parallel for schedule(static)
  for (int c = 0; c < cells; ++c) {
    CornerStencil stencil;
    for (int k = 0; k < 8; ++k) {
      CornerRepresentation(0, c, k, stencil);
      int first = start[8 * static_cast<size_t>(c) + k];
      std::copy_n(stencil.vertex, stencil.count, level0StencilVertex.begin() + first);
      std::copy_n(stencil.coefficient, stencil.count, level0StencilCoefficient.begin() + first);
    }
  }
}

namespace {

// Writes whole cache lines of corner data past the cache: the lines are
// overwritten entirely, so reading them in first (as a plain store does)
// would only double the memory traffic of the copy.
void StreamCorners(Vec3d* target, const Vec3d* source) {
#if defined(__SSE2__)
  static_assert(sizeof(Vec3d) == 24 && 8 * sizeof(Vec3d) % 16 == 0);
  if (reinterpret_cast<uintptr_t>(target) % 16 == 0) {
    const double* from = &source[0].x;
    double* to = &target[0].x;
    for (int k = 0; k < 24; k += 2) _mm_stream_pd(to + k, _mm_loadu_pd(from + k));
    return;
  }
#endif
  std::copy_n(source, 8, target);
}

}  // namespace

void CutSim::CopyLeafCorners(OctreeCell& leaf) const {
  int e = leaf.element;
  Vec3d x[8], previous[8];
  for (int k = 0; k < 8; ++k) {
    size_t corner = 8 * static_cast<size_t>(e) + k;
    for (int n = level0StencilStart[corner]; n < level0StencilStart[corner + 1]; ++n) {
      const std::array<Vec3d, 2>& state = level0States[level0StencilVertex[n]];
      double coefficient = level0StencilCoefficient[n];
      x[k] += state[0] * coefficient;
      previous[k] += state[1] * coefficient;
    }
  }
  StreamCorners(leaf.corners, x);
  StreamCorners(leaf.previousCorners, previous);
}

void CutSim::CopyLeafConstraints(OctreeCell& leaf) const {
  int e = leaf.element;
  for (int k = 0; k < 8; ++k) {
    // a hanging corner follows other vertices and carries no constraint
    bool hanging = (hangingCorners[0][e] >> k) & 1;
    int v = cellVertices[0][e][k];
    leaf.cornerForces[k] = hanging ? Vec3d() : vertexForce[0][v];
    leaf.cornerFixed[k] = hanging ? false : vertexFixed[0][v] != 0;
  }
}

bool CutSim::LeafConstraintsCurrent() const {
  // bitwise, so that a force of -0 replacing +0 is copied too
  auto same = [](const auto& a, const auto& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
  };
  return leafConstraintsCopied && same(vertexFixed[0], copiedVertexFixed) && same(vertexForce[0], copiedVertexForce);
}

OctreeCell* CutSim::BuiltLeafOf(int level0Cell) const {
  auto [depth, index] = elementOctreeCell[level0Cell];
  if (depth < 0) return nullptr;
  OctreeCell& leaf = octree.cells[depth][index];
  return leaf.leaf && leaf.wasLeaf && leaf.element == level0Cell ? &leaf : nullptr;
}

void CutSim::CopyVertexPositionsIntoOctree() {
  if (!built) return;
  // the corners read every vertex up to eight times: from a packed copy of
  // x and x^- rather than from the wide vertex records
  int vertices = vertexCount[0];
  level0States.resize(vertices);
  for (int level = numEmbeddedLevels; level >= 1; --level) {
    InterpolatePositionsDown(level, level == 1 ? level0States.data() : nullptr);
  }
  if (numEmbeddedLevels == 0) {
#pragma omp parallel for schedule(static)
    for (int v = 0; v < vertices; ++v) level0States[v] = {levelVertices[0][v].x, vertexHistory[0][v].previousX};
  }
  // fixations and forces change far less often than positions: the leaves
  // get them again only when they differ from the last copy
  bool constraints = !LeafConstraintsCurrent();
  int cells = cellCount[0];
#pragma omp parallel
  {
#pragma omp for schedule(static) nowait
    for (int c = 0; c < cells; ++c) {
      if (OctreeCell* leaf = BuiltLeafOf(c)) {
        CopyLeafCorners(*leaf);
        if (constraints) CopyLeafConstraints(*leaf);
      }
    }
#if defined(__SSE2__)
    // this thread's streamed corners are in memory before the team ends
    _mm_sfence();
#endif
  }
  if (constraints) {
    copiedVertexFixed = vertexFixed[0];
    copiedVertexForce = vertexForce[0];
    leafConstraintsCopied = true;
  }
}

int CutSim::SimulationElementOf(int level0Cell) const {
  int cell = level0Cell;
  for (int level = 0; level < numEmbeddedLevels; ++level) cell = cellParent[level][cell];
  return cell;
}

void CutSim::ComputeElementCornerStates(std::vector<std::array<Vec3d, 16>>& states) const {
  int u = numEmbeddedLevels;
  int elements = cellCount[u];
  states.resize(elements);
#pragma omp parallel for schedule(static)
  for (int e = 0; e < elements; ++e) {
    CornerStencil stencil;
    for (int k = 0; k < 8; ++k) {
      CornerRepresentation(u, e, k, stencil);
      Vec3d x, previous;
      for (int n = 0; n < stencil.count; ++n) {
        x += levelVertices[u][stencil.vertex[n]].x * stencil.coefficient[n];
        previous += vertexHistory[u][stencil.vertex[n]].previousX * stencil.coefficient[n];
      }
      states[e][k] = x;
      states[e][8 + k] = previous;
    }
  }
}

void CutSim::StoreCornerPositionsInOctree() {
  if (!built) return;
  // the corners of an element are the same for all the leaves it holds
  std::vector<std::array<Vec3d, 16>>& states = scratchElementCorners;
  ComputeElementCornerStates(states);
  int cells = cellCount[0];
#pragma omp parallel for schedule(static)
  for (int c = 0; c < cells; ++c) {
    OctreeCell* leaf = BuiltLeafOf(c);
    if (!leaf) continue;
    const std::array<Vec3d, 16>& state = states[SimulationElementOf(c)];
    for (int k = 0; k < 8; ++k) {
      leaf->savedCorners[k] = state[k];
      leaf->savedPreviousCorners[k] = state[8 + k];
    }
  }
}
