#include <gtest/gtest.h>

#include "cutsim/hierarchy_validation.h"
#include "support/cutsim_body.h"

namespace {

// Largest error of the prolongation of a linear field from level + 1 to level.
double LinearFieldError(const CutSim& sim, int level) {
  auto field = [](const Vec3i& p) { return 0.25 + 1.5 * p.x - 0.75 * p.y + 2.0 * p.z; };
  double worst = 0;
  for (int v = 0; v < sim.vertexCount[level]; ++v) {
    if (sim.vertexCoarseCell[level][v] < 0) continue;
    double value = 0;
    for (int k = 0; k < 8; ++k) {
      int w = sim.prolongationWeights[level][v][k];
      if (w != 0) value += w / 8.0 * field(sim.vertexPosition[level + 1][sim.prolongationVertices[level][v][k]]);
    }
    worst = std::max(worst, std::fabs(value - field(sim.vertexPosition[level][v])));
  }
  return worst;
}

TEST(ProlongationStencils, ReproduceLinearFieldsOnEveryLevelOfTheBundledScenes) {
  for (const char* name : {"BeamScene.txt", "SphereScene.txt", "LiverScene.txt"}) {
    auto body = LoadSceneBody(name);
    ASSERT_TRUE(body) << name;
    const CutSim& sim = *body->sim;
    ASSERT_EQ(ValidateHierarchy(sim), "") << name;
    for (int level = 0; level + 1 < sim.numLevels; ++level) EXPECT_EQ(LinearFieldError(sim, level), 0.0) << name << " " << level;
  }
}

}  // namespace
