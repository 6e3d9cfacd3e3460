#include "cutsim/finite_guard.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

namespace {

// Largest coordinate magnitude a usable position may have (mesh units).
double BlowUpLimit(const CutSim& sim) {
  const Octree& octree = sim.octree;
  double diagonal = Length(Mul(Vec3d(octree.resolution), octree.voxelSize));
  return FiniteGuard::kBlowUpDiagonals * diagonal;
}

// Finite and, coordinate by coordinate, within limit; written so that NaN fails.
bool Usable(const Vec3d& p, double limit) {
  return std::fabs(p.x) <= limit && std::fabs(p.y) <= limit && std::fabs(p.z) <= limit;
}

bool Finite(const Vec3d& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

}  // namespace

void FiniteGuard::Snapshot(const CutSim& sim) {
  firstLevel_ = sim.numEmbeddedLevels;
  levelStart_.assign(1, 0);
  x_.clear();
  b_.clear();
  previousX_.clear();
  for (int level = firstLevel_; level < sim.numLevels; ++level) {
    int n = sim.vertexCount[level];
    for (int i = 0; i < n; ++i) {
      x_.push_back(sim.levelVertices[level][i].x);
      b_.push_back(sim.levelVertices[level][i].b);
      previousX_.push_back(sim.vertexHistory[level][i].previousX);
    }
    levelStart_.push_back(static_cast<int>(x_.size()));
  }
  coarseSolution_ = sim.coarseSolution;
}

bool FiniteGuard::StateIsUsable(const CutSim& sim) {
  if (!sim.Built()) return true;
  int u = sim.numEmbeddedLevels;
  double limit = BlowUpLimit(sim);
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    const LevelVertex& row = sim.levelVertices[u][i];
    if (!Usable(row.x, limit) || !Usable(sim.vertexHistory[u][i].previousX, limit) || !Finite(row.b)) return false;
  }
  for (double v : sim.coarseSolution) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

bool FiniteGuard::Restore(CutSim& sim) const {
  int levels = sim.numLevels - firstLevel_;
  if (firstLevel_ != sim.numEmbeddedLevels || static_cast<int>(levelStart_.size()) != levels + 1) return false;
  for (int k = 0; k < levels; ++k) {
    if (levelStart_[k + 1] - levelStart_[k] != sim.vertexCount[firstLevel_ + k]) return false;
  }
  for (int k = 0; k < levels; ++k) {
    int level = firstLevel_ + k;
    for (int i = 0; i < sim.vertexCount[level]; ++i) {
      int at = levelStart_[k] + i;
      sim.levelVertices[level][i].x = x_[at];
      sim.levelVertices[level][i].b = b_[at];
      // the residual is scratch of the solve; a blown-up one must not be dumped
      sim.levelVertices[level][i].r = Vec3d();
      sim.vertexHistory[level][i].previousX = previousX_[at];
    }
  }
  // the first step after a build sizes the warm start; zero is the cold start
  if (coarseSolution_.size() == sim.coarseSolution.size()) {
    sim.coarseSolution = coarseSolution_;
  } else {
    std::fill(sim.coarseSolution.begin(), sim.coarseSolution.end(), 0.0);
  }
  return true;
}

bool FiniteGuard::KeepOrRollBack(CutSim& sim, std::wostream* log) {
  if (StateIsUsable(sim)) {
    warned_ = false;
    return true;
  }
  bool restored = Restore(sim);
  ++rollbackCount_;
  if (!warned_ && log) {
    if (restored) {
      *log << L"WARNING: A time step produced non-finite or blown-up positions; it was undone and the body kept "
              L"its last finite state (further such steps are undone without a message)"
           << std::endl;
    } else {
      *log << L"WARNING: A time step produced non-finite or blown-up positions and the model changed during "
              L"the step, so it could not be undone"
           << std::endl;
    }
  }
  warned_ = true;
  return false;
}

bool GuardedTimeStep(CutSim& sim, std::wostream* log) {
  if (!sim.Built()) return true;
  sim.finiteGuard.Snapshot(sim);
  sim.PrepareTimeStep();
  sim.SolveExtended();
  bool kept = sim.finiteGuard.KeepOrRollBack(sim, log);
  // also after a rollback: the octree's corners are rewritten from the restored state
  sim.CopyVertexPositionsIntoOctree();
  return kept;
}

bool GuardedPrepareTimeStep(CutSim& sim, std::wostream* log) {
  if (!sim.Built()) return true;
  sim.finiteGuard.Snapshot(sim);
  sim.PrepareTimeStep();
  return sim.finiteGuard.KeepOrRollBack(sim, log);
}
