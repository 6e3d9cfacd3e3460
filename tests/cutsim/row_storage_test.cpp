#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

namespace {

Mat3d Diagonal(double a, double b, double c) {
  Mat3d m;
  m(0, 0) = a;
  m(1, 1) = b;
  m(2, 2) = c;
  return m;
}

// A level of four vertices whose rows point at storage owned by the test.
struct SmallLevel {
  Octree octree;
  CutSim sim{octree};
  std::vector<int32_t> columns[4];
  std::vector<Mat3d> blocks[4];

  explicit SmallLevel() {
    sim.vertexCount[0] = 4;
    sim.levelVertices[0].resize(4);
    sim.vertexHistory[0].resize(4);
  }
  void SetRow(int i, std::vector<int32_t> c, std::vector<Mat3d> b) {
    columns[i] = std::move(c);
    blocks[i] = std::move(b);
    LevelVertex& row = sim.levelVertices[0][i];
    row.count = static_cast<int32_t>(columns[i].size());
    row.columns = columns[i].data();
    row.blocks = blocks[i].data();
  }
};

// Rows without a diagonal block, with a zero one or with non-finite pivots
// leave those components of x alone; nothing non-finite reaches x.
TEST(GaussSeidelSweep, UnusablePivotsLeaveTheVertexInPlace) {
  SmallLevel level;
  const double nan = std::nan(""), inf = HUGE_VAL;
  level.SetRow(0, {0}, {Diagonal(2, 2, 2)});
  level.SetRow(1, {0}, {Diagonal(1, 1, 1)});
  level.SetRow(2, {2}, {Mat3d()});
  level.SetRow(3, {3}, {Diagonal(nan, inf, 2)});
  std::vector<LevelVertex>& v = level.sim.levelVertices[0];
  for (int i = 0; i < 4; ++i) {
    v[i].x = Vec3d(0.5, 0.5, 0.5);
    v[i].b = Vec3d(2, 4, 6);
  }
  level.sim.GaussSeidelSweep(0, 1.0);
  EXPECT_EQ(v[0].x, Vec3d(1, 2, 3));
  EXPECT_EQ(v[1].x, Vec3d(0.5, 0.5, 0.5));
  EXPECT_EQ(v[2].x, Vec3d(0.5, 0.5, 0.5));
  EXPECT_EQ(v[3].x, Vec3d(0.5, 0.5, 3));
}

// A pass that records, a pass that replays the same sequence and a pass
// whose sequence differs from the record must all give the searched sums.
TEST(ScatterBlock, ReplayThatLeavesTheRecordFallsBackToSearching) {
  SmallLevel level;
  CutSim& sim = level.sim;
  for (int i = 0; i < 4; ++i) level.SetRow(i, {i, (i + 1) % 4}, {Mat3d(), Mat3d()});
  auto pass = [&](const std::vector<std::array<int, 2>>& sequence) {
    for (int i = 0; i < 4; ++i) std::fill(level.blocks[i].begin(), level.blocks[i].end(), Mat3d());
    sim.BeginScatter(0, false, true);
    for (size_t n = 0; n < sequence.size(); ++n) {
      sim.ScatterBlock(0, sequence[n][0], sequence[n][1], Diagonal(1, 2, 3), 1.0 + n);
    }
    sim.EndScatter();
  };
  std::vector<std::array<int, 2>> recorded = {{0, 0}, {0, 1}, {1, 2}, {3, 0}, {2, 2}};
  pass(recorded);
  ASSERT_EQ(sim.scatterPositions[0], (std::vector<int32_t>{0, 1, 1, 1, 0}));
  pass(recorded);
  EXPECT_EQ(sim.scatterPositions[0].size(), 5u);
  EXPECT_EQ(level.blocks[3][1](2, 2), 12.0);
  // same length, other order: positions no longer name these columns
  std::vector<std::array<int, 2>> swapped = {{0, 1}, {0, 0}, {1, 2}, {2, 2}, {3, 0}};
  pass(swapped);
  EXPECT_EQ(level.blocks[0][1](0, 0), 1.0);
  EXPECT_EQ(level.blocks[0][0](0, 0), 2.0);
  EXPECT_EQ(level.blocks[2][0](1, 1), 8.0);
  EXPECT_EQ(level.blocks[3][1](2, 2), 15.0);
  EXPECT_TRUE(sim.scatterPositions[0].empty());
  // a longer sequence than the record: the extra block is searched as well
  pass(recorded);
  pass(recorded);
  std::vector<std::array<int, 2>> longer = recorded;
  longer.push_back({1, 1});
  pass(longer);
  EXPECT_EQ(level.blocks[1][0](0, 0), 6.0);
  EXPECT_TRUE(sim.scatterPositions[0].empty());
}

TEST(SetVertexFixed, IndicesOutOfRangeChangeNothing) {
  Octree octree;
  CutSim sim(octree);
  sim.vertexFixed[0].assign(3, 0);
  EXPECT_TRUE(sim.SetVertexFixed(0, 2, true));
  EXPECT_FALSE(sim.SetVertexFixed(0, 3, true));
  EXPECT_FALSE(sim.SetVertexFixed(0, -1, true));
  EXPECT_FALSE(sim.SetVertexFixed(1, 0, true));
  EXPECT_EQ(sim.vertexFixed[0], (std::vector<uint8_t>{0, 0, 1}));
}

}  // namespace
