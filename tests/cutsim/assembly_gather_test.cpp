#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <vector>

#include "support/cutsim_body.h"

namespace {

struct LevelSystem {
  std::vector<Mat3d> blocks;
  std::vector<Vec3d> b;
};

LevelSystem SystemOf(const CutSim& sim, int level) {
  LevelSystem system;
  for (int i = 0; i < sim.vertexCount[level]; ++i) {
    const LevelVertex& row = sim.levelVertices[level][i];
    system.blocks.insert(system.blocks.end(), row.blocks, row.blocks + row.count);
    system.b.push_back(row.b);
  }
  return system;
}

bool BitIdentical(const LevelSystem& a, const LevelSystem& b) {
  return a.blocks.size() == b.blocks.size() && a.b.size() == b.b.size() &&
         std::memcmp(a.blocks.data(), b.blocks.data(), a.blocks.size() * sizeof(Mat3d)) == 0 &&
         std::memcmp(a.b.data(), b.b.data(), a.b.size() * sizeof(Vec3d)) == 0;
}

// The sphere's simulation level has hanging corners, so element blocks are
// spread over host corners with several terms per row block; a few steps
// under gravity give rotations that are not the identity.
TEST(AssemblyGather, GatheredRowsAreBitIdenticalToTheSearchedScatterOnOneAndTwoThreads) {
  auto body = LoadSceneBody("SphereScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  for (int step = 0; step < 3; ++step) {
    sim.PrepareTimeStep();
    sim.SolveExtended();
  }
  sim.ComputeRotations(u);
  sim.Assemble(u, true, false);  // searches every block
  EXPECT_EQ(sim.gatherLevel, -1);
  LevelSystem searched = SystemOf(sim, u);
  sim.Assemble(u, false, true);  // searches and records the positions
  ASSERT_TRUE(BitIdentical(SystemOf(sim, u), searched));
  for (int threads : {2, 1, 2}) {
    omp_set_num_threads(threads);
    sim.Assemble(u, false, false);
    EXPECT_EQ(sim.gatherLevel, u) << threads;
    EXPECT_TRUE(BitIdentical(SystemOf(sim, u), searched)) << threads << " threads";
  }
  omp_set_num_threads(2);
  // a rebuild changes the structure: the lists are dropped, not replayed
  sim.Assemble(u, true, false);
  EXPECT_EQ(sim.gatherLevel, -1);
}

// A record that no longer fits the rows (here one position made to point
// past its row) builds no lists; the scatter takes over, drops the record and
// still assembles the right system.
TEST(AssemblyGather, RecordThatDoesNotFitTheRowsFallsBackToTheScatter) {
  auto body = LoadSceneBody("SphereScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  sim.PrepareTimeStep();
  sim.ComputeRotations(u);
  sim.Assemble(u, true, false);
  LevelSystem searched = SystemOf(sim, u);
  sim.Assemble(u, false, true);
  ASSERT_FALSE(sim.scatterPositions[u].empty());
  sim.scatterPositions[u][sim.scatterPositions[u].size() / 2] = 1 << 20;
  sim.Assemble(u, false, false);
  EXPECT_EQ(sim.gatherLevel, -1);
  EXPECT_TRUE(sim.scatterPositions[u].empty());
  EXPECT_TRUE(BitIdentical(SystemOf(sim, u), searched));
  // the next pass records afresh and the one after gathers again
  sim.Assemble(u, false, true);
  sim.Assemble(u, false, false);
  EXPECT_EQ(sim.gatherLevel, u);
  EXPECT_TRUE(BitIdentical(SystemOf(sim, u), searched));
}

std::vector<LevelSystem> CoarseSystemsOf(const CutSim& sim) {
  std::vector<LevelSystem> systems;
  for (int level = sim.numEmbeddedLevels + 1; level < sim.numLevels; ++level) systems.push_back(SystemOf(sim, level));
  return systems;
}

bool BitIdentical(const std::vector<LevelSystem>& a, const std::vector<LevelSystem>& b) {
  if (a.size() != b.size()) return false;
  for (size_t n = 0; n < a.size(); ++n) {
    if (!BitIdentical(a[n], b[n])) return false;
  }
  return true;
}

bool AllGalerkinGathersValid(const CutSim& sim) {
  for (int level = sim.numEmbeddedLevels + 1; level < sim.numLevels; ++level) {
    if (!sim.galerkinGathers[level].valid) return false;
  }
  return true;
}

// The coarse operators from the gathered products equal those of the
// sequential pass bit for bit, on one and two threads, also when a fixation
// changed after the lists were made.
TEST(GalerkinGather, CoarseOperatorsAreBitIdenticalToTheSequentialPassAlsoAfterAFixationChanged) {
  auto body = LoadSceneBody("SphereScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ASSERT_GE(sim.numLevels, u + 3);  // two Galerkin levels: the second is built from gathered rows
  for (int step = 0; step < 3; ++step) {
    sim.PrepareTimeStep();
    sim.SolveExtended();
  }
  ASSERT_TRUE(AllGalerkinGathersValid(sim));
  for (int fixation = 0; fixation < 2; ++fixation) {
    if (fixation == 1) {
      ASSERT_TRUE(sim.SetVertexFixed(u, sim.vertexCount[u] / 2, true));
    }
    sim.ComputeRotations(u);
    sim.Assemble(u, false, false);
    std::vector<std::vector<LevelSystem>> gathered;
    for (int threads : {2, 1}) {
      omp_set_num_threads(threads);
      sim.UpdateMultigridOperators(false, u);
      EXPECT_TRUE(AllGalerkinGathersValid(sim)) << threads;
      gathered.push_back(CoarseSystemsOf(sim));
    }
    omp_set_num_threads(2);
    sim.UpdateMultigridOperators(true, u);  // searches every block
    EXPECT_FALSE(sim.galerkinGathers[u + 1].valid);
    std::vector<LevelSystem> searched = CoarseSystemsOf(sim);
    for (const auto& systems : gathered) EXPECT_TRUE(BitIdentical(systems, searched)) << "fixation " << fixation;
  }
}

}  // namespace
