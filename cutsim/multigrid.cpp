// Geometric multigrid on the levels above the simulation level: point
// Gauss-Seidel smoothing, residual restriction along the transposed
// stencils, Galerkin coarse operators and a CG solve on the coarsest level.
#include <cassert>
#include <cmath>

#include "cutsim/cut_sim.h"

namespace {
bool UsablePivot(double d) { return d != 0 && std::isfinite(d); }
}  // namespace

// Fixed vertices of the simulation level keep their position: the coarse
// correction must not move them, so their prolongation rows (and with them
// the restriction and the Galerkin product) are zero. Otherwise the E * I
// rows of fixed vertices enter the coarse operators and stiffen every coarse
// vertex near a fixation far beyond the free body around it.
bool CutSim::HeldByFixation(int level, int vertex) const {
  return level == numEmbeddedLevels && vertexFixed[level][vertex];
}

void CutSim::GaussSeidelSweep(int level, double omega) {
  std::vector<LevelVertex>& vertices = levelVertices[level];
  int n = vertexCount[level];
  for (int i = 0; i < n; ++i) {
    LevelVertex& row = vertices[i];
    Vec3d a = row.b;
    const Mat3d* D = nullptr;
    for (int p = 0; p < row.count; ++p) {
      int j = row.columns[p];
      if (j == i) {
        D = &row.blocks[p];
        continue;
      }
      a -= MulVec(row.blocks[p], vertices[j].x);
    }
    // a row without a usable diagonal leaves its vertex where it is: a zero
    // or non-finite pivot would put inf or NaN into x and spread from there
    if (D == nullptr) continue;
    const Mat3d& d = *D;
    Vec3d& x = row.x;
    if (UsablePivot(d.m[0])) x.x += omega * ((a.x - d.m[1] * x.y - d.m[2] * x.z) / d.m[0] - x.x);
    if (UsablePivot(d.m[4])) x.y += omega * ((a.y - d.m[3] * x.x - d.m[5] * x.z) / d.m[4] - x.y);
    if (UsablePivot(d.m[8])) x.z += omega * ((a.z - d.m[6] * x.x - d.m[7] * x.y) / d.m[8] - x.z);
  }
}

void CutSim::ComputeResidual(int level) {
  std::vector<LevelVertex>& vertices = levelVertices[level];
  int n = vertexCount[level];
#pragma omp parallel for schedule(static) if (n >= kParallelLevelMinimum)
  for (int i = 0; i < n; ++i) {
    LevelVertex& row = vertices[i];
    Vec3d r = row.b;
    for (int p = 0; p < row.count; ++p) r -= MulVec(row.blocks[p], vertices[row.columns[p]].x);
    row.r = r;
  }
}

void CutSim::Restrict(int level) {
  std::vector<LevelVertex>& coarse = levelVertices[level + 1];
  for (LevelVertex& v : coarse) {
    v.x = Vec3d();
    v.b = Vec3d();
  }
  const std::vector<LevelVertex>& fine = levelVertices[level];
  for (int i = 0; i < vertexCount[level]; ++i) {
    if (HeldByFixation(level, i)) continue;
    const auto& stencil = prolongationVertices[level][i];
    const auto& weights = prolongationWeights[level][i];
    for (int k = 0; k < 8; ++k) {
      if (weights[k] != 0) coarse[stencil[k]].b += fine[i].r * (weights[k] / 8.0);
    }
  }
}

void CutSim::ProlongateAndCorrect(int level) {
  const std::vector<LevelVertex>& coarse = levelVertices[level + 1];
  std::vector<LevelVertex>& fine = levelVertices[level];
  int n = vertexCount[level];
#pragma omp parallel for schedule(static) if (n >= kParallelLevelMinimum)
  for (int i = 0; i < n; ++i) {
    if (HeldByFixation(level, i)) continue;
    const auto& stencil = prolongationVertices[level][i];
    const auto& weights = prolongationWeights[level][i];
    Vec3d correction;
    for (int k = 0; k < 8; ++k) {
      if (weights[k] != 0) correction += coarse[stencil[k]].x * (weights[k] / 8.0);
    }
    fine[i].x += correction;
  }
}

void CutSim::SolveCoarsestLevel() {
  int coarsest = numLevels - 1;
  std::vector<LevelVertex>& vertices = levelVertices[coarsest];
  size_t n = 3 * static_cast<size_t>(vertexCount[coarsest]);
  if (coarseRightHandSide.size() != n) coarseRightHandSide.resize(n, 0.0);
  if (coarseSolution.size() != n) coarseSolution.resize(n, 0.0);
  for (int i = 0; i < vertexCount[coarsest]; ++i) {
    for (int c = 0; c < 3; ++c) coarseRightHandSide[3 * i + c] = vertices[i].b[c];
  }
  lastCoarseIterations = coarseSolver.Solve(coarseRightHandSide, coarseSolution);
  for (int i = 0; i < vertexCount[coarsest]; ++i) {
    for (int c = 0; c < 3; ++c) vertices[i].x[c] = coarseSolution[3 * i + c];
  }
}

void CutSim::VCycle(int preSweeps, int postSweeps) {
  int u = numEmbeddedLevels;
  for (int level = u; level < numLevels - 1; ++level) {
    for (int s = 0; s < preSweeps; ++s) GaussSeidelSweep(level, 1.0);
    ComputeResidual(level);
    Restrict(level);
  }
  SolveCoarsestLevel();
  for (int level = numLevels - 2; level >= u; --level) {
    ProlongateAndCorrect(level);
    for (int s = 0; s < postSweeps; ++s) GaussSeidelSweep(level, 1.0);
  }
}

void CutSim::Solve(int cycles) {
  if (!built) return;
  for (int c = 0; c < cycles; ++c) VCycle(kPreSmoothingSweeps, kPostSmoothingSweeps);
}

void CutSim::SolveExtended() { Solve(2); }

void CutSim::ZeroLevelSystem(int level) {
  for (LevelVertex& row : levelVertices[level]) {
    for (int p = 0; p < row.count; ++p) row.blocks[p] = Mat3d();
    row.b = Vec3d();
  }
}

// T = sum over the row's blocks A(i, j) of the coarse columns of j's
// stencil; positions in T are cached like block positions.
void CutSim::BuildGalerkinRow(int fineLevel, int vertex) {
  galerkinColumns.clear();
  galerkinBlocks.clear();
  const LevelVertex& row = levelVertices[fineLevel][vertex];
  // a fixed row (E * I) is not part of the correction space; its blocks
  // still enter with weight 0 so that the structure does not depend on
  // which vertices are fixed
  double rowScale = HeldByFixation(fineLevel, vertex) ? 0.0 : 1.0;
  for (int p = 0; p < row.count; ++p) {
    int j = row.columns[p];
    // a fixed column has a zero prolongation row too, so that P^T A P stays
    // symmetric even if a fixed column of a free row is not empty
    double scale = HeldByFixation(fineLevel, j) ? 0.0 : rowScale;
    const auto& stencil = prolongationVertices[fineLevel][j];
    const auto& weights = prolongationWeights[fineLevel][j];
    for (int k = 0; k < 8; ++k) {
      if (weights[k] == 0) continue;
      int position = -1;
      if (ScatterReplaying()) {
        position = NextScatterPosition();
        // a recorded entry that is not this column means the replay went astray
        if (position >= static_cast<int>(galerkinColumns.size()) ||
            (position >= 0 && galerkinColumns[position] != stencil[k])) {
          AbandonReplay();
          position = -1;
          for (size_t t = 0; t < galerkinColumns.size(); ++t) {
            if (galerkinColumns[t] == stencil[k]) position = static_cast<int>(t);
          }
        }
      } else {
        position = -1;
        for (size_t t = 0; t < galerkinColumns.size(); ++t) {
          if (galerkinColumns[t] == stencil[k]) {
            position = static_cast<int>(t);
            break;
          }
        }
        RecordScatterPosition(position);
      }
      if (position < 0) {
        position = static_cast<int>(galerkinColumns.size());
        galerkinColumns.push_back(stencil[k]);
        galerkinBlocks.push_back(Mat3d());
      }
      AddScaled(galerkinBlocks[position], row.blocks[p], scale * weights[k] / 8.0);
    }
  }
}

void CutSim::BuildCoarsestMatrix() {
  int coarsest = numLevels - 1;
  int n = vertexCount[coarsest];
  coarseSolver.Init(3 * n);
  for (int i = 0; i < n; ++i) {
    WireRow(coarsest, i);
    const LevelVertex& row = levelVertices[coarsest][i];
    for (int c = 0; c < 3; ++c) {
      for (int p = 0; p < row.count; ++p) {
        int j = row.columns[p];
        const Mat3d& B = row.blocks[p];
        coarseSolver.AddEntry(3 * j, B(c, 0));
        coarseSolver.AddEntry(3 * j + 1, B(c, 1));
        coarseSolver.AddEntry(3 * j + 2, B(c, 2));
      }
      coarseSolver.EndRow();
    }
  }
  coarseSolution.resize(3 * static_cast<size_t>(n), 0.0);
  coarseRightHandSide.resize(3 * static_cast<size_t>(n), 0.0);
  coarseSolver.UpdateInverseDiagonal();
}

void CutSim::UpdateMultigridOperators(bool structureChangedNow, int simulationLevel) {
  if (!built) return;
  for (int level = simulationLevel + 1; level < numLevels; ++level) ZeroLevelSystem(level);
  if (static_cast<int>(galerkinGathers.size()) < numLevels) galerkinGathers.resize(numLevels);
  for (int coarse = simulationLevel + 1; coarse < numLevels; ++coarse) {
    int fine = coarse - 1;
    bool replay = !structureChangedNow && !scatterPositions[coarse].empty();
    if (replay && (GalerkinGatherFitsRows(coarse) || BuildGalerkinGather(coarse))) {
      GatherGalerkinProduct(coarse);
      continue;
    }
    // the sequential pass searches and records the positions the gather needs
    galerkinGathers[coarse].valid = false;
    BeginScatter(coarse, structureChangedNow, !structureChangedNow);
    for (int i = 0; i < vertexCount[fine]; ++i) {
      WireRow(fine, i);
      BuildGalerkinRow(fine, i);
      const auto& stencil = prolongationVertices[fine][i];
      const auto& weights = prolongationWeights[fine][i];
      for (int k = 0; k < 8; ++k) {
        if (weights[k] == 0) continue;
        for (size_t t = 0; t < galerkinColumns.size(); ++t) {
          ScatterBlock(coarse, stencil[k], galerkinColumns[t], galerkinBlocks[t], weights[k] / 8.0);
        }
      }
    }
    EndScatter();
  }
  BuildCoarsestMatrix();
}
