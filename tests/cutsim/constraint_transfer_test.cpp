#include <gtest/gtest.h>

#include <cmath>
#include <omp.h>

#include "support/cutsim_body.h"

namespace {

BodyOptions Levels(int numLevels, int numEmbeddedLevels) {
  BodyOptions options;
  options.numLevels = numLevels;
  options.numEmbeddedLevels = numEmbeddedLevels;
  return options;
}

int VertexAt(const CutSim& sim, int level, const Vec3i& p) {
  for (int v = 0; v < sim.vertexCount[level]; ++v) {
    if (sim.vertexPosition[level][v] == p) return v;
  }
  return -1;
}

// An affine map with distinct coefficients: a test field for transfers.
Vec3d Affine(const Vec3d& p) {
  return {0.1 + 1.1 * p.x - 0.2 * p.y + 0.05 * p.z, -0.3 + 0.1 * p.x + 0.9 * p.y + 0.2 * p.z,
          0.2 - 0.15 * p.x + 0.05 * p.y + 1.2 * p.z};
}

void ExpectNear(const Vec3d& a, const Vec3d& b, double tolerance, const char* what) {
  EXPECT_NEAR(a.x, b.x, tolerance) << what;
  EXPECT_NEAR(a.y, b.y, tolerance) << what;
  EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

// Fixations reach every coarse vertex whose support holds a fixed vertex;
// forces are restricted with the transposed interpolation.
TEST(PropagateConstraints, FixationsAndForcesFollowTheStencils) {
  struct Case {
    const char* name;
    Vec3i fine;
    bool fix;
    std::vector<Vec3i> coarse;  // coarse vertices that receive the constraint
  } cases[] = {
      {"fixed on a coarse vertex", {2, 2, 2}, true, {{2, 2, 2}}},
      {"fixed in the middle of a coarse edge", {1, 0, 0}, true, {{0, 0, 0}, {2, 0, 0}}},
      {"force in the centre of a coarse cell", {1, 1, 1}, false,
       {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {2, 2, 0}, {0, 0, 2}, {2, 0, 2}, {0, 2, 2}, {2, 2, 2}}},
      {"force on a coarse face centre", {3, 1, 4}, false, {{2, 0, 4}, {4, 0, 4}, {2, 2, 4}, {4, 2, 4}}},
  };
  for (const Case& c : cases) {
    auto body = BuildBody(BoxMesh({0, 0, 0}, {4, 4, 4}), Levels(3, 1));
    ASSERT_TRUE(body);
    CutSim& sim = *body->sim;
    int v = VertexAt(sim, 0, c.fine);
    ASSERT_GE(v, 0) << c.name;
    Vec3d force(0, 0, 8);
    if (c.fix) {
      ASSERT_TRUE(sim.SetVertexFixed(0, v, true));
    } else {
      sim.vertexForce[0][v] = force;
    }
    sim.PropagateConstraints(1);
    for (int k = 0; k < sim.vertexCount[1]; ++k) {
      const Vec3i& p = sim.vertexPosition[1][k];
      bool expected = std::find(c.coarse.begin(), c.coarse.end(), p) != c.coarse.end();
      if (c.fix) {
        EXPECT_EQ(sim.vertexFixed[1][k] != 0, expected) << c.name << " at " << p.x << " " << p.y << " " << p.z;
        EXPECT_EQ(sim.vertexForce[1][k], Vec3d()) << c.name;
      } else {
        Vec3d share = expected ? force * (1.0 / c.coarse.size()) : Vec3d();
        EXPECT_EQ(sim.vertexForce[1][k], share) << c.name << " at " << p.x << " " << p.y << " " << p.z;
        EXPECT_EQ(sim.vertexFixed[1][k], 0) << c.name;
      }
    }
    // the level above the top is left alone, level 0 is never changed
    for (int k = 0; k < sim.vertexCount[2]; ++k) EXPECT_EQ(sim.vertexFixed[2][k], 0);
    EXPECT_EQ(sim.vertexFixed[0][v] != 0, c.fix);
    // clearing level 0 and propagating again leaves nothing behind
    sim.SetVertexFixed(0, v, false);
    sim.vertexForce[0][v] = Vec3d();
    sim.PropagateConstraints(1);
    for (int k = 0; k < sim.vertexCount[1]; ++k) {
      EXPECT_EQ(sim.vertexFixed[1][k], 0) << c.name;
      EXPECT_EQ(sim.vertexForce[1][k], Vec3d()) << c.name;
    }
  }
}

TEST(PropagateConstraints, SumOfForcesIsKeptOnEveryLevel) {
  auto body = LoadSceneBody("SphereScene.txt", {{L"NUM_EMBEDDED_LEVELS", L"2"}});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  Vec3d total;
  for (int v = 0; v < sim.vertexCount[0]; v += 7) {
    sim.vertexForce[0][v] = Vec3d(0.5, -1.0, 0.25 * (v % 5));
    total += sim.vertexForce[0][v];
  }
  sim.PropagateConstraints(2);
  for (int level = 1; level <= 2; ++level) {
    Vec3d sum;
    for (const Vec3d& f : sim.vertexForce[level]) sum += f;
    ExpectNear(sum, total, 1e-9 * Length(total), "force sum");
  }
}

// The octree's leaf corners follow the simulation level through the
// stencils; a hanging corner interpolates and never reports a constraint.
TEST(CopyVertexPositionsIntoOctree, LeafCornersInterpolateTheSimulationLevel) {
  const int layouts[][2] = {{1, 0}, {3, 1}, {4, 2}};
  for (const auto& layout : layouts) {
    auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(layout[0], layout[1]));
    ASSERT_TRUE(body);
    CutSim& sim = *body->sim;
    int u = sim.numEmbeddedLevels;
    for (int v = 0; v < sim.vertexCount[0]; ++v) {
      sim.SetVertexFixed(0, v, v % 3 == 0);
      sim.vertexForce[0][v] = Vec3d(v, 1, 2);
    }
    if (u == 0) {
      // nothing to propagate: level 0 is the simulation level
      std::vector<uint8_t> fixed = sim.vertexFixed[0];
      sim.PropagateConstraints(0);
      EXPECT_EQ(sim.vertexFixed[0], fixed);
    }
    for (int v = 0; v < sim.vertexCount[u]; ++v) {
      sim.levelVertices[u][v].x = Affine(sim.RestPosition(u, v));
      sim.vertexHistory[u][v].previousX = Affine(sim.RestPosition(u, v)) * 0.5;
    }
    sim.CopyVertexPositionsIntoOctree();
    int hanging = 0;
    for (const auto& depth : body->octree->cells) {
      for (const OctreeCell& leaf : depth) {
        if (!leaf.leaf) continue;
        int e = leaf.element;
        for (int k = 0; k < 8; ++k) {
          Vec3i p = sim.CornerPosition(0, e, k);
          Vec3d X(p.x, p.y, p.z);
          ExpectNear(leaf.corners[k], Affine(X), 1e-12, "corner");
          ExpectNear(leaf.previousCorners[k], Affine(X) * 0.5, 1e-12, "previous corner");
          if ((sim.hangingCorners[0][e] >> k) & 1) {
            ++hanging;
            EXPECT_EQ(leaf.cornerForces[k], Vec3d());
            EXPECT_FALSE(leaf.cornerFixed[k]);
          } else {
            int v = sim.cellVertices[0][e][k];
            EXPECT_EQ(leaf.cornerForces[k], sim.vertexForce[0][v]);
            EXPECT_EQ(leaf.cornerFixed[k], sim.vertexFixed[0][v] != 0);
            if (u == 0) {
              EXPECT_EQ(leaf.corners[k], sim.levelVertices[0][v].x);
            }
          }
        }
      }
    }
    EXPECT_GT(hanging, 0) << layout[0];
  }
}

// The copy skips fixations and forces while they are unchanged: a change
// between two copies must still reach the leaves, and so must the leaves of
// a new build, which start without them.
TEST(CopyVertexPositionsIntoOctree, ChangedConstraintsAndRebuiltLeavesGetThemAgain) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(3, 1));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  auto expectLeavesHoldConstraints = [&](const char* when) {
    int checked = 0;
    for (const auto& depth : body->octree->cells) {
      for (const OctreeCell& leaf : depth) {
        if (!leaf.leaf) continue;
        int e = leaf.element;
        for (int k = 0; k < 8; ++k) {
          if ((sim.hangingCorners[0][e] >> k) & 1) continue;
          int v = sim.cellVertices[0][e][k];
          EXPECT_EQ(leaf.cornerForces[k], sim.vertexForce[0][v]) << when;
          EXPECT_EQ(leaf.cornerFixed[k], sim.vertexFixed[0][v] != 0) << when;
          ++checked;
        }
      }
    }
    EXPECT_GT(checked, 0) << when;
  };
  sim.CopyVertexPositionsIntoOctree();
  expectLeavesHoldConstraints("unconstrained");
  int v = sim.vertexCount[0] / 2;
  sim.SetVertexFixed(0, v, true);
  sim.vertexForce[0][v] = Vec3d(0, -3, 0);
  sim.CopyVertexPositionsIntoOctree();
  expectLeavesHoldConstraints("one vertex fixed and loaded");
  sim.SetVertexFixed(0, v, false);
  sim.vertexForce[0][v + 1] = Vec3d(1, 0, 0);
  sim.CopyVertexPositionsIntoOctree();
  expectLeavesHoldConstraints("fixation released, another vertex loaded");
  ASSERT_TRUE(sim.BuildHierarchy(true));
  for (auto& depth : body->octree->cells) {
    for (OctreeCell& leaf : depth) {
      for (Vec3d& force : leaf.cornerForces) force = Vec3d();
    }
  }
  sim.CopyVertexPositionsIntoOctree();
  expectLeavesHoldConstraints("after a build");
}

// The packed corner representations list every corner's representation in
// cell and corner order, whatever the number of threads that made them.
TEST(BuildLevel0CornerStencils, ListsEveryCornerInOrderOnAnyThreadCount) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(4, 2));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int threads = omp_get_max_threads();
  std::vector<int32_t> start[2], vertex[2];
  std::vector<double> coefficient[2];
  for (int run = 0; run < 2; ++run) {
    omp_set_num_threads(run == 0 ? 1 : 2);
    sim.BuildLevel0CornerStencils();
    start[run] = sim.level0StencilStart;
    vertex[run] = sim.level0StencilVertex;
    coefficient[run] = sim.level0StencilCoefficient;
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(start[0], start[1]);
  EXPECT_EQ(vertex[0], vertex[1]);
  EXPECT_EQ(coefficient[0], coefficient[1]);
  int cells = sim.cellCount[0], hangingEntries = 0;
  ASSERT_EQ(start[1].size(), 8 * static_cast<size_t>(cells) + 1);
  EXPECT_EQ(start[1].back(), static_cast<int32_t>(vertex[1].size()));
  CornerStencil stencil;
  for (int c = 0; c < cells; ++c) {
    for (int k = 0; k < 8; ++k) {
      sim.CornerRepresentation(0, c, k, stencil);
      size_t corner = 8 * static_cast<size_t>(c) + k;
      ASSERT_EQ(start[1][corner + 1] - start[1][corner], stencil.count) << c << " " << k;
      for (int n = 0; n < stencil.count; ++n) {
        EXPECT_EQ(vertex[1][start[1][corner] + n], stencil.vertex[n]);
        EXPECT_EQ(coefficient[1][start[1][corner] + n], stencil.coefficient[n]);
      }
      if (stencil.count > 1) ++hangingEntries;
    }
  }
  EXPECT_GT(hangingEntries, 0);
}

// Every leaf stores the corners of the simulation element containing it.
TEST(StoreCornerPositionsInOctree, LeavesHoldTheCornersOfTheirElement) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(4, 2));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    sim.levelVertices[u][v].x = Affine(sim.RestPosition(u, v));
    sim.vertexHistory[u][v].previousX = Affine(sim.RestPosition(u, v)) + Vec3d(1, 0, 0);
  }
  sim.StoreCornerPositionsInOctree();
  for (const auto& depth : body->octree->cells) {
    for (const OctreeCell& leaf : depth) {
      if (!leaf.leaf) continue;
      int element = sim.embeddingMap[0][leaf.element];
      for (int k = 0; k < 8; ++k) {
        Vec3i p = sim.CornerPosition(u, element, k);
        Vec3d X(p.x, p.y, p.z);
        ExpectNear(leaf.savedCorners[k], Affine(X), 1e-12, "saved corner");
        ExpectNear(leaf.savedPreviousCorners[k], Affine(X) + Vec3d(1, 0, 0), 1e-12, "saved previous corner");
      }
    }
  }
}

}  // namespace
