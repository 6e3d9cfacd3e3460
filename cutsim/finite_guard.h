#pragma once
// Keeps blown-up time steps out of the model. Before a step the guard copies
// the state the step overwrites (positions, previous positions and right-hand
// sides of the simulation level and the levels above it, and the coarse
// solver's warm start); when the step leaves a position that is not finite,
// or so far out that the float surface and render data would overflow, the
// copy is put back, so the body stays where it was and the program goes on.
//
// The log gets one "WARNING: " line for a run of rolled-back steps: the first
// rollback after a kept step (or after the start) warns, later ones stay
// quiet until a step is kept again.
#include <iosfwd>
#include <vector>

#include "geometry/vec.h"

class CutSim;

class FiniteGuard {
 public:
  // A position farther than this many grid diagonals from the grid counts as
  // blown up: no deformation of a real body gets there, and the surface's
  // float arithmetic (products of two coordinates) stays finite below it.
  static constexpr double kBlowUpDiagonals = 1e6;

  // Copies the state a step overwrites.
  void Snapshot(const CutSim& sim);
  // True when the simulation level's positions and previous positions and
  // the coarse warm start are finite and no position is blown up.
  static bool StateIsUsable(const CutSim& sim);
  // Puts the snapshot back; false (nothing changed) when the model's vertex
  // counts changed since the snapshot was taken. A warm start sized since
  // (by the first step after a build) is reset to zero.
  bool Restore(CutSim& sim) const;
  // After a step: keeps a usable state, else restores the snapshot and warns
  // once per run of rollbacks. True when the step was kept.
  bool KeepOrRollBack(CutSim& sim, std::wostream* log);

  int rollbackCount() const { return rollbackCount_; }
  bool rollingBack() const { return warned_; }

 private:
  int firstLevel_ = 0;
  std::vector<int> levelStart_;        // [level - firstLevel_ + 1] offsets into the vectors below
  std::vector<Vec3d> x_;               // [offset + vertex] position
  std::vector<Vec3d> b_;               // [offset + vertex] right-hand side
  std::vector<Vec3d> previousX_;       // [offset + vertex] position at the start of the previous step
  std::vector<double> coarseSolution_; // warm start of the coarsest level
  bool warned_ = false;                // in a run of rollbacks that has been reported
  int rollbackCount_ = 0;
};

// The application's time step (assembly, solve, copy into the octree) with
// the guard between the solve and the copy, so that nothing unusable reaches
// the octree. False when the step was rolled back.
bool GuardedTimeStep(CutSim& sim, std::wostream* log);
// The assembly alone (what a single-step key does while the simulation
// stands still), under the same guard.
bool GuardedPrepareTimeStep(CutSim& sim, std::wostream* log);
