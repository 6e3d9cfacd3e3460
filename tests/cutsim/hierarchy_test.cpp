#include <gtest/gtest.h>

#include "cutsim/hierarchy_validation.h"
#include "support/cutsim_body.h"

namespace {

TEST(Hierarchy, ScratchBox) {
  BodyOptions options;
  options.numLevels = 3;
  options.numEmbeddedLevels = 1;
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 4, 4}), options);
  ASSERT_TRUE(body);
  const CutSim& sim = *body->sim;
  for (int l = 0; l < sim.numLevels; ++l) printf("level %d: cells %d vertices %d\n", l, sim.cellCount[l], sim.vertexCount[l]);
  EXPECT_EQ(ValidateHierarchy(sim), "");
}

}  // namespace
