#include <gtest/gtest.h>

#include <map>

#include "cutsim/hierarchy_validation.h"
#include "support/cutsim_body.h"

namespace {

using BlockMap = std::map<std::pair<int, int>, Mat3d>;

BlockMap RowsOf(const CutSim& sim, int level) {
  BlockMap blocks;
  for (int i = 0; i < sim.vertexCount[level]; ++i) {
    const LevelVertex& row = sim.levelVertices[level][i];
    for (int p = 0; p < row.count; ++p) AddScaled(blocks[{i, row.columns[p]}], row.blocks[p], 1.0);
  }
  return blocks;
}

// P^T A P from the fine rows and the stencils, independent of the product's
// list building and position caches. Fixed vertices of the simulation level
// have zero rows in P: the coarse correction never moves them.
BlockMap GalerkinProduct(const CutSim& sim, int fine) {
  BlockMap product;
  auto held = [&](int v) { return fine == sim.numEmbeddedLevels && sim.vertexFixed[fine][v]; };
  for (const auto& [index, block] : RowsOf(sim, fine)) {
    auto [i, j] = index;
    if (held(i) || held(j)) continue;
    for (int k = 0; k < 8; ++k) {
      int wi = sim.prolongationWeights[fine][i][k];
      if (wi == 0) continue;
      for (int l = 0; l < 8; ++l) {
        int wj = sim.prolongationWeights[fine][j][l];
        if (wj == 0) continue;
        AddScaled(product[{sim.prolongationVertices[fine][i][k], sim.prolongationVertices[fine][j][l]}], block,
                  wi * wj / 64.0);
      }
    }
  }
  return product;
}

double LargestDifference(const BlockMap& a, const BlockMap& b, double* scale) {
  double worst = 0;
  *scale = 0;
  Mat3d zero;
  for (const auto& [index, block] : a) {
    auto other = b.find(index);
    const Mat3d& o = other == b.end() ? zero : other->second;
    for (int e = 0; e < 9; ++e) {
      worst = std::max(worst, std::fabs(block.m[e] - o.m[e]));
      *scale = std::max(*scale, std::fabs(block.m[e]));
    }
  }
  for (const auto& [index, block] : b) {
    if (a.count(index)) continue;
    for (double v : block.m) worst = std::max(worst, std::fabs(v));
  }
  return worst;
}

TEST(UpdateMultigridOperators, CoarseOperatorsEqualTheGalerkinProduct) {
  auto body = LoadSceneBody("LiverScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  for (int step = 0; step < 3; ++step) {
    sim.PrepareTimeStep();
    sim.SolveExtended();
  }
  for (int coarse = sim.numEmbeddedLevels + 1; coarse < sim.numLevels; ++coarse) {
    double scale;
    double difference = LargestDifference(RowsOf(sim, coarse), GalerkinProduct(sim, coarse - 1), &scale);
    EXPECT_LE(difference, 1e-12 * scale) << coarse;
  }
}

// The stiff E * I rows of fixed vertices must not reach the coarse levels,
// and a correction from the coarse levels must leave fixed vertices alone.
TEST(VCycle, CoarseCorrectionLeavesFixedVerticesAloneAndCarriesNoFixedRows) {
  auto body = LoadSceneBody("LiverScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  sim.PrepareTimeStep();
  double largestFree = 0, largestCoarse = 0;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    const LevelVertex& row = sim.levelVertices[u][i];
    for (int p = 0; p < row.count; ++p) {
      if (row.columns[p] == i && !sim.vertexFixed[u][i]) largestFree = std::max(largestFree, row.blocks[p](0, 0));
    }
  }
  ASSERT_LT(largestFree, 0.1 * sim.E);
  for (const LevelVertex& row : sim.levelVertices[u + 1]) {
    for (int p = 0; p < row.count; ++p) largestCoarse = std::max(largestCoarse, row.blocks[p](0, 0));
  }
  // P^T A P of the free rows stays within a few fine diagonals per coarse vertex
  EXPECT_LT(largestCoarse, 0.1 * sim.E);
  for (LevelVertex& v : sim.levelVertices[u + 1]) v.x = Vec3d(1, 2, 3);
  std::vector<Vec3d> before;
  for (const LevelVertex& v : sim.levelVertices[u]) before.push_back(v.x);
  sim.ProlongateAndCorrect(u);
  int moved = 0;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    bool changed = !(sim.levelVertices[u][i].x == before[i]);
    if (sim.vertexFixed[u][i]) {
      EXPECT_FALSE(changed) << i;
    } else {
      moved += changed;
    }
  }
  EXPECT_GT(moved, 0);
}

}  // namespace
