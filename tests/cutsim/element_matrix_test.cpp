#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <eigen3/Eigen/Dense>
#include <random>

#include "cutsim/element_matrix.h"
#include "cutsim/hierarchy_validation.h"
#include "support/cutsim_body.h"

namespace {

using Matrix24 = Eigen::Matrix<double, 24, 24>;

Matrix24 ToEigen(const ElementMatrix& K) {
  Matrix24 m;
  for (int r = 0; r < 24; ++r) {
    for (int c = 0; c < 24; ++c) m(r, c) = K(r, c);
  }
  return m;
}

// Independent reference: B^T D B integrated with 4 x 4 x 4 Gauss points.
Matrix24 QuadratureStiffness(double hx, double hy, double hz, double E, double nu) {
  const double point[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563, 0.8611363115940526};
  const double weight[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461, 0.3478548451374538};
  double lambda = E * nu / ((1 - 2 * nu) * (1 + nu)), mu = E / (2 * (1 + nu));
  Eigen::Matrix<double, 6, 6> D = Eigen::Matrix<double, 6, 6>::Zero();
  D.topLeftCorner<3, 3>().setConstant(lambda);
  for (int i = 0; i < 3; ++i) D(i, i) += 2 * mu;
  for (int i = 3; i < 6; ++i) D(i, i) = mu;
  const double h[3] = {hx, hy, hz};
  Matrix24 K = Matrix24::Zero();
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 4; ++b) {
      for (int c = 0; c < 4; ++c) {
        double x[3] = {(point[a] + 1) / 2 * hx, (point[b] + 1) / 2 * hy, (point[c] + 1) / 2 * hz};
        Eigen::Matrix<double, 6, 24> B = Eigen::Matrix<double, 6, 24>::Zero();
        for (int corner = 0; corner < 8; ++corner) {
          double f[3], df[3];
          for (int axis = 0; axis < 3; ++axis) {
            bool high = (corner >> axis) & 1;
            f[axis] = high ? x[axis] / h[axis] : 1 - x[axis] / h[axis];
            df[axis] = (high ? 1.0 : -1.0) / h[axis];
          }
          double g[3] = {df[0] * f[1] * f[2], f[0] * df[1] * f[2], f[0] * f[1] * df[2]};
          int col = 3 * corner;
          B(0, col) = g[0];
          B(1, col + 1) = g[1];
          B(2, col + 2) = g[2];
          B(3, col) = g[1];  // engineering shear strains xy, yz, zx
          B(3, col + 1) = g[0];
          B(4, col + 1) = g[2];
          B(4, col + 2) = g[1];
          B(5, col) = g[2];
          B(5, col + 2) = g[0];
        }
        double volume = weight[a] * weight[b] * weight[c] * hx * hy * hz / 8;
        K += volume * B.transpose() * D * B;
      }
    }
  }
  return K;
}

// Six rigid-body modes (three translations, three infinitesimal rotations)
// of a box's corners.
Eigen::Matrix<double, 24, 6> RigidModes(const double h[3]) {
  Eigen::Matrix<double, 24, 6> modes = Eigen::Matrix<double, 24, 6>::Zero();
  for (int corner = 0; corner < 8; ++corner) {
    Eigen::Vector3d p(((corner >> 0) & 1) * h[0], ((corner >> 1) & 1) * h[1], ((corner >> 2) & 1) * h[2]);
    for (int a = 0; a < 3; ++a) modes(3 * corner + a, a) = 1;
    for (int a = 0; a < 3; ++a) {
      Eigen::Vector3d axis = Eigen::Vector3d::Unit(a);
      modes.block<3, 1>(3 * corner, 3 + a) = axis.cross(p);
    }
  }
  return modes;
}

TEST(VoxelStiffness, MatchesCheckValuesOfTheUnitCube) {
  ElementMatrix K = ComputeVoxelStiffness(1, 1, 1, 1, 0.3);
  EXPECT_NEAR(K(0, 0), 0.2350427350427, 1e-12);
  EXPECT_NEAR(K(0, 1), 0.0801282051282, 1e-12);
}

TEST(VoxelStiffness, EqualsHighOrderQuadratureOnBoxes) {
  const double boxes[3][5] = {{1, 1, 1, 1, 0.3}, {0.5, 2, 1.5, 3e4, 0.45}, {0.0022, 0.003, 0.001, 1e5, 0.1}};
  for (const auto& box : boxes) {
    Matrix24 exact = ToEigen(ComputeVoxelStiffness(box[0], box[1], box[2], box[3], box[4]));
    Matrix24 reference = QuadratureStiffness(box[0], box[1], box[2], box[3], box[4]);
    EXPECT_LE((exact - reference).cwiseAbs().maxCoeff(), 1e-13 * reference.cwiseAbs().maxCoeff()) << box[0];
  }
}

TEST(VoxelStiffness, IsSymmetricWithExactlySixRigidZeroModes) {
  const double h[3] = {0.5, 2, 1.5};
  Matrix24 K = ToEigen(ComputeVoxelStiffness(h[0], h[1], h[2], 3e4, 0.45));
  double scale = K.cwiseAbs().maxCoeff();
  EXPECT_EQ((K - K.transpose()).cwiseAbs().maxCoeff(), 0.0);
  EXPECT_LE((K * RigidModes(h)).cwiseAbs().maxCoeff(), 1e-12 * scale * 2);
  Eigen::SelfAdjointEigenSolver<Matrix24> eigen(K);
  int zero = 0;
  for (int i = 0; i < 24; ++i) {
    double value = eigen.eigenvalues()(i);
    EXPECT_GT(value, -1e-12 * scale);
    if (std::fabs(value) < 1e-10 * scale) ++zero;
  }
  EXPECT_EQ(zero, 6);
}

TEST(CompositeStiffness, PartialCellsStoreTheEnergyOfTheirVoxels) {
  Octree octree;
  octree.voxelSize = {0.5, 2, 1.5};
  CutSim sim(octree);
  ASSERT_TRUE(sim.SetMaterial({}, 3e4, 0.3, true, 0.02, 1, 1000, true));
  EXPECT_TRUE(sim.compositeStiffness[0] == ElementMatrix());
  ElementMatrix twice = sim.voxelStiffness;
  twice *= 2.0;
  EXPECT_TRUE(sim.compositeStiffness[255] == twice);
  // energy of a coarse displacement = sum of the energies of the filled
  // octants under trilinear interpolation, computed here with dense matrices
  Matrix24 K = ToEigen(sim.voxelStiffness);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  Eigen::Matrix<double, 24, 1> coarse;
  for (int i = 0; i < 24; ++i) coarse(i) = uniform(random);
  for (int mask : {1, 3, 24, 129, 170, 254, 255}) {
    double expected = 0;
    for (int octant = 0; octant < 8; ++octant) {
      if (!((mask >> octant) & 1)) continue;
      Eigen::Matrix<double, 24, 1> fine = Eigen::Matrix<double, 24, 1>::Zero();
      for (int n = 0; n < 8; ++n) {
        for (int k = 0; k < 8; ++k) {
          double w = 1;
          for (int a = 0; a < 3; ++a) w *= 1 - std::abs(((octant >> a) & 1) + ((n >> a) & 1) - 2 * ((k >> a) & 1)) / 2.0;
          fine.segment<3>(3 * n) += w * coarse.segment<3>(3 * k);
        }
      }
      expected += fine.dot(K * fine);
    }
    double energy = coarse.dot(ToEigen(sim.compositeStiffness[mask]) * coarse);
    EXPECT_NEAR(energy, expected, 1e-12 * std::fabs(expected)) << mask;
  }
}

TEST(SetMaterial, RejectsAPoissonRatioWithoutFiniteStiffness) {
  Octree octree;
  octree.voxelSize = {1, 1, 1};
  CutSim sim(octree);
  std::wostringstream log;
  EXPECT_FALSE(sim.SetMaterial({}, 1e4, 0.5, true, 0.02, 1, 1000, true, &log));
  EXPECT_NE(log.str().find(L"ERROR: Poisson ratio"), std::wstring::npos);
  for (double v : sim.voxelStiffness.m) ASSERT_EQ(v, 0.0);
}

// Full elements of the embedded levels are exact Galerkin projections of
// their voxels: nested trilinear spaces, so a full 2^u element equals the
// stiffness of one box of that size (normalised: the voxel matrix).
TEST(ElementMatrices, FullEmbeddedElementsEqualTheScaledVoxelMatrix) {
  for (int u : {1, 2, 3}) {
    BodyOptions options;
    options.voxelSize = {0.5, 0.25, 1};
    options.numEmbeddedLevels = u;
    options.numLevels = u + 1;
    int n = 1 << u;
    auto body = BuildBody(BoxMesh({0, 0, 0}, {2.0f * n * 0.5f, 2.0f * n * 0.25f, 1.0f * n}), options);
    ASSERT_TRUE(body);
    const CutSim& sim = *body->sim;
    ASSERT_EQ(sim.cellCount[u], 4) << u;
    double scale = 0;
    for (double v : sim.voxelStiffness.m) scale = std::max(scale, std::fabs(v));
    for (int e = 0; e < sim.cellCount[u]; ++e) {
      for (int k = 0; k < 576; ++k) {
        ASSERT_NEAR(sim.elementMatrices[u][e].m[k], sim.voxelStiffness.m[k], 1e-12 * scale) << u << " " << e;
      }
    }
  }
}

TEST(ElementMatrices, AccumulationIsIdenticalOnOneAndTwoThreads) {
  auto body = LoadSceneBody("SphereScene.txt", {{L"NUM_EMBEDDED_LEVELS", L"3"}, {L"NUM_LEVELS", L"4"}});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  auto recompute = [&](int threads) {
    omp_set_num_threads(threads);
    for (int level = 1; level <= u; ++level) std::fill(sim.cellRebuilt[level].begin(), sim.cellRebuilt[level].end(), 1);
    sim.ComputeElementMatrices();
    return sim.elementMatrices[u];
  };
  std::vector<ElementMatrix> one = recompute(1), two = recompute(2);
  omp_set_num_threads(2);
  ASSERT_EQ(one.size(), two.size());
  for (size_t e = 0; e < one.size(); ++e) ASSERT_TRUE(one[e] == two[e]) << e;
}

TEST(LumpedMasses, EveryEmbeddedLevelCarriesTheWholeMass) {
  auto body = LoadSceneBody("SphereScene.txt", {{L"NUM_EMBEDDED_LEVELS", L"2"}});
  ASSERT_TRUE(body);
  const CutSim& sim = *body->sim;
  double voxels = 0;
  for (int c = 0; c < sim.cellCount[0]; ++c) voxels += std::ldexp(1.0, 3 * sim.cellDepth[0][c]);
  double expected = voxels * sim.voxelMass;
  for (int level = 0; level <= sim.numEmbeddedLevels; ++level) {
    double total = 0;
    for (double m : sim.vertexMass[level]) {
      EXPECT_GE(m, 0.0);
      total += m;
    }
    EXPECT_NEAR(total, expected, 1e-9 * expected) << level;
  }
}

}  // namespace
