#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>

#include "support/cutsim_body.h"

namespace {

// Largest |x - X| over the simulation level.
double LargestDisplacement(const CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  double worst = 0;
  for (int i = 0; i < sim.vertexCount[u]; ++i) worst = std::max(worst, Length(sim.levelVertices[u][i].x - sim.RestPosition(u, i)));
  return worst;
}

void Step(CutSim& sim) {
  sim.PrepareTimeStep();
  sim.SolveExtended();
  sim.CopyVertexPositionsIntoOctree();
}

Mat3d RotationAbout(const Vec3d& axis, double angle) {
  Vec3d n = Normalize(axis);
  double c = std::cos(angle), s = std::sin(angle);
  Mat3d R;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) R(i, j) = (1 - c) * n[i] * n[j] + (i == j ? c : 0.0);
  }
  R(0, 1) -= s * n.z;
  R(0, 2) += s * n.y;
  R(1, 0) += s * n.z;
  R(1, 2) -= s * n.x;
  R(2, 0) -= s * n.y;
  R(2, 1) += s * n.x;
  return R;
}

// The sphere has interior leaves of 8 voxels, so its simulation level mixes
// element sizes and has hanging corners.
std::unique_ptr<SimBody> SphereWithoutGravity() {
  return LoadSceneBody("SphereScene.txt", {{L"GRAVITY", L"0 0 0"}});
}

TEST(TimeStep, BodyAtRestStaysAtRest) {
  auto body = SphereWithoutGravity();
  ASSERT_TRUE(body);
  for (int step = 0; step < 100; ++step) Step(*body->sim);
  EXPECT_LT(LargestDisplacement(*body->sim), 1e-10 * BodyDiagonal(*body->sim));
}

TEST(TimeStep, RigidlyRotatedBodyAtRestStaysThere) {
  auto body = SphereWithoutGravity();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  Mat3d R = RotationAbout({1, 2, 3}, 0.8);
  Vec3d shift(0.05, -0.02, 0.1);
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    Vec3d x = MulVec(R, sim.RestPosition(u, i)) + shift;
    sim.levelVertices[u][i].x = x;
    sim.vertexHistory[u][i].previousX = x;
  }
  std::vector<Vec3d> start(sim.vertexCount[u]);
  for (int i = 0; i < sim.vertexCount[u]; ++i) start[i] = sim.levelVertices[u][i].x;
  for (int step = 0; step < 20; ++step) Step(sim);
  for (int e = 0; e < sim.cellCount[u]; ++e) {
    for (int k = 0; k < 9; ++k) ASSERT_NEAR(sim.cellRotation[u][e].m[k], R.m[k], 1e-9) << e;
  }
  double worst = 0;
  for (int i = 0; i < sim.vertexCount[u]; ++i) worst = std::max(worst, Length(sim.levelVertices[u][i].x - start[i]));
  EXPECT_LT(worst, 1e-9 * BodyDiagonal(sim));
}

// Translations and infinitesimal rotations produce no elastic force, also
// where hanging corners spread element blocks over the host's corners.
TEST(Assemble, StiffnessAnnihilatesRigidMotionsAcrossHangingCorners) {
  auto body = SphereWithoutGravity();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  int hanging = 0;
  for (uint8_t bits : sim.hangingCorners[u]) hanging += bits != 0;
  ASSERT_GT(hanging, 0);
  sim.inertiaEnabled = false;
  sim.PrepareTimeStep();
  Vec3d translation(0.01, -0.02, 0.03), spin(0.01, 0.02, -0.015);
  double bScale = 0;
  for (const LevelVertex& v : sim.levelVertices[u]) bScale = std::max(bScale, Length(v.b));
  for (int mode = 0; mode < 2; ++mode) {
    for (int i = 0; i < sim.vertexCount[u]; ++i) {
      Vec3d X = sim.RestPosition(u, i);
      sim.levelVertices[u][i].x = X + (mode == 0 ? translation : Cross(spin, X));
    }
    sim.ComputeResidual(u);
    // b = K X (no gravity, no inertia), so the residual is -K (x - X)
    for (int i = 0; i < sim.vertexCount[u]; ++i) ASSERT_LT(Length(sim.levelVertices[u][i].r), 1e-10 * bScale) << mode << " " << i;
  }
}

TEST(TimeStep, FixedVerticesKeepTheirPositionAfterEveryVCycle) {
  auto body = LoadSceneBody("LiverScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  std::vector<int> fixed;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    if (sim.vertexFixed[u][i]) fixed.push_back(i);
  }
  ASSERT_FALSE(fixed.empty());
  std::vector<Vec3d> position, previous;
  for (int i : fixed) {
    position.push_back(sim.levelVertices[u][i].x);
    previous.push_back(sim.vertexHistory[u][i].previousX);
  }
  for (int step = 0; step < 5; ++step) {
    sim.PrepareTimeStep();
    for (int cycle = 0; cycle < 2; ++cycle) {
      sim.VCycle(2, 1);
      for (size_t n = 0; n < fixed.size(); ++n) ASSERT_EQ(sim.levelVertices[u][fixed[n]].x, position[n]) << step;
    }
  }
  // fixed vertices are skipped by the right-hand side: x^- is not shifted
  for (size_t n = 0; n < fixed.size(); ++n) EXPECT_EQ(sim.vertexHistory[u][fixed[n]].previousX, previous[n]);
  EXPECT_GT(LargestDisplacement(sim), 1e-4);
}

TEST(TimeStep, StepsAreIdenticalOnOneAndTwoThreads) {
  std::vector<Vec3d> result[2];
  for (int threads = 1; threads <= 2; ++threads) {
    omp_set_num_threads(threads);
    auto body = LoadSceneBody("SphereScene.txt");
    ASSERT_TRUE(body);
    for (int step = 0; step < 4; ++step) Step(*body->sim);
    for (const LevelVertex& v : body->sim->levelVertices[body->sim->numEmbeddedLevels]) result[threads - 1].push_back(v.x);
    for (const auto& depth : body->octree->cells) {
      for (const OctreeCell& c : depth) {
        if (c.leaf) result[threads - 1].push_back(c.corners[7]);
      }
    }
  }
  omp_set_num_threads(2);
  ASSERT_EQ(result[0].size(), result[1].size());
  for (size_t n = 0; n < result[0].size(); ++n) ASSERT_EQ(result[0][n], result[1][n]) << n;
}

TEST(ComputeRotations, DegenerateDeformationsKeepTheUnrotatedFrame) {
  const double nan = std::nan("");
  Mat3d inverted = Mat3d::Identity();
  inverted(0, 0) = -1;
  Mat3d flattened = Mat3d::Identity();
  flattened(2, 2) = 0;
  Mat3d broken = Mat3d::Identity();
  broken(1, 2) = nan;
  Mat3d sheared = Mat3d::Identity();
  sheared(0, 1) = 3.0;
  for (const Mat3d& F : {inverted, flattened, broken, Mat3d()}) {
    Mat3d R = PolarRotation(F);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(R.m[k], Mat3d::Identity().m[k]);
  }
  // a plain rotation with stretch comes back as the rotation
  Mat3d rotation = RotationAbout({0, 0, 1}, 0.5);
  Mat3d stretched = rotation;
  for (int i = 0; i < 3; ++i) stretched(i, 0) *= 1.3;
  Mat3d R = PolarRotation(stretched);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(R.m[k], rotation.m[k], 1e-3);
  Mat3d shearedR = PolarRotation(sheared);
  EXPECT_NEAR(shearedR(0, 0) * shearedR(1, 1) - shearedR(0, 1) * shearedR(1, 0), 1.0, 0.1);
}

TEST(ComputeRotations, ElementWithoutCornerMassIsNotRotated) {
  auto body = SphereWithoutGravity();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  int element = sim.cellCount[u] / 2;
  Mat3d R = RotationAbout({0, 1, 0}, 0.3);
  for (int i = 0; i < sim.vertexCount[u]; ++i) sim.levelVertices[u][i].x = MulVec(R, sim.RestPosition(u, i));
  CornerStencil stencil;
  for (int k = 0; k < 8; ++k) {
    sim.CornerRepresentation(u, element, k, stencil);
    for (int n = 0; n < stencil.count; ++n) sim.vertexMass[u][stencil.vertex[n]] = 0;
  }
  sim.ComputeRotations(u);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(sim.cellRotation[u][element].m[k], Mat3d::Identity().m[k]);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(sim.cellRotation[u][0].m[k], R.m[k], 1e-9);
}

}  // namespace

namespace {

TEST(ComputeRotations, GradientIsExactForLinearFieldsAndTheCentreGradientForEqualMasses) {
  const double length[3] = {0.5, 1.0, 2.0};
  Mat3d G;
  const double entries[9] = {0.1, -0.3, 0.2, 0.05, 0.4, -0.1, 0.3, 0.2, -0.25};
  for (int k = 0; k < 9; ++k) G.m[k] = entries[k];
  Vec3d linear[8], bent[8];
  for (int c = 0; c < 8; ++c) {
    Vec3d X(((c >> 0) & 1) * length[0], ((c >> 1) & 1) * length[1], ((c >> 2) & 1) * length[2]);
    linear[c] = MulVec(G, X) + Vec3d(1, 2, 3);
    bent[c] = linear[c] + Vec3d(0.3 * (c == 5), -0.2 * (c == 2), 0.1 * (c == 7));
  }
  // unequal masses, as at the surface: the fit stays exact
  const double surface[8] = {1.0, 0.5, 0.25, 0.125, 0.5, 0.25, 0.125, 0.0625};
  Mat3d fitted = CornerDisplacementGradient(surface, linear, length);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(fitted.m[k], G.m[k], 1e-12);
  // equal masses: the trilinear field's gradient at the element centre
  const double equal[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  Mat3d centre = CornerDisplacementGradient(equal, bent, length);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double expected = 0;
      for (int c = 0; c < 8; ++c) {
        double derivative = (((c >> j) & 1) ? 1.0 : -1.0) / length[j];
        for (int a = 0; a < 3; ++a) {
          if (a != j) derivative *= 0.5;
        }
        expected += bent[c][i] * derivative;
      }
      EXPECT_NEAR(centre(i, j), expected, 1e-12) << i << j;
    }
  }
}

}  // namespace
