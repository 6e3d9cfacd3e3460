// Moving fixations, forces and positions between the levels of the hierarchy
// and between the model and the corners of the octree's leaves.
#include <algorithm>
#include <cassert>

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

void CutSim::InterpolatePositionsDown(int coarseLevel) {
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
  }
}

void CutSim::CopyLeafCorners(OctreeCell& leaf) const {
  int e = leaf.element;
  CornerStencil stencil;
  for (int k = 0; k < 8; ++k) {
    CornerRepresentation(0, e, k, stencil);
    Vec3d x, previous;
    for (int n = 0; n < stencil.count; ++n) {
      x += levelVertices[0][stencil.vertex[n]].x * stencil.coefficient[n];
      previous += vertexHistory[0][stencil.vertex[n]].previousX * stencil.coefficient[n];
    }
    leaf.corners[k] = x;
    leaf.previousCorners[k] = previous;
    // a hanging corner follows other vertices and carries no constraint
    bool hanging = (hangingCorners[0][e] >> k) & 1;
    int v = cellVertices[0][e][k];
    leaf.cornerForces[k] = hanging ? Vec3d() : vertexForce[0][v];
    leaf.cornerFixed[k] = hanging ? false : vertexFixed[0][v] != 0;
  }
}

void CutSim::CopyVertexPositionsIntoOctree() {
  if (!built) return;
  for (int level = numEmbeddedLevels; level >= 1; --level) InterpolatePositionsDown(level);
  for (std::vector<OctreeCell>& depthCells : octree.cells) {
    int count = static_cast<int>(depthCells.size());
#pragma omp parallel for schedule(static)
    for (int i = 0; i < count; ++i) {
      // leaves a cut created belong to the model only after the next build
      if (depthCells[i].leaf && depthCells[i].wasLeaf) CopyLeafCorners(depthCells[i]);
    }
  }
}

int CutSim::SimulationElementOf(int level0Cell) const {
  int cell = level0Cell;
  for (int level = 0; level < numEmbeddedLevels; ++level) cell = cellParent[level][cell];
  return cell;
}

void CutSim::StoreCornerPositionsInOctree() {
  if (!built) return;
  int u = numEmbeddedLevels;
  CornerStencil stencil;
  for (std::vector<OctreeCell>& depthCells : octree.cells) {
    for (OctreeCell& leaf : depthCells) {
      if (!leaf.leaf || !leaf.wasLeaf) continue;
      int element = SimulationElementOf(leaf.element);
      for (int k = 0; k < 8; ++k) {
        CornerRepresentation(u, element, k, stencil);
        Vec3d x, previous;
        for (int n = 0; n < stencil.count; ++n) {
          x += levelVertices[u][stencil.vertex[n]].x * stencil.coefficient[n];
          previous += vertexHistory[u][stencil.vertex[n]].previousX * stencil.coefficient[n];
        }
        leaf.savedCorners[k] = x;
        leaf.savedPreviousCorners[k] = previous;
      }
    }
  }
}
