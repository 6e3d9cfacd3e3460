#include "geometry/symmetric_eigen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

Mat3d FromOuterProducts(const std::vector<Vec3d>& normals) {
  Mat3d m;
  for (const Vec3d& n : normals) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m(r, c) += n[r] * n[c];
    }
  }
  return m;
}

// V diag(values) V^T reproduces the matrix and V is orthonormal.
void ExpectDecomposes(const Mat3d& m, double tolerance) {
  double values[3];
  Mat3d v;
  DecomposeSymmetric3(m, values, v);
  EXPECT_LE(values[0], values[1]);
  EXPECT_LE(values[1], values[2]);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double product = 0, rebuilt = 0;
      for (int k = 0; k < 3; ++k) {
        product += v(k, r) * v(k, c);
        rebuilt += v(r, k) * values[k] * v(c, k);
      }
      EXPECT_NEAR(product, r == c ? 1.0 : 0.0, 1e-12);
      EXPECT_NEAR(rebuilt, m(r, c), tolerance);
    }
  }
}

TEST(SymmetricEigen, KnownSpectra) {
  // rank one: a single normal gives eigenvalues 0, 0, 1 with the normal as top vector
  const Vec3d n = Normalize(Vec3d(1, 2, 2));
  double values[3];
  Mat3d v;
  DecomposeSymmetric3(FromOuterProducts({n}), values, v);
  EXPECT_NEAR(values[0], 0, 1e-15);
  EXPECT_NEAR(values[1], 0, 1e-15);
  EXPECT_NEAR(values[2], 1, 1e-15);
  EXPECT_NEAR(std::fabs(v(0, 2) * n.x + v(1, 2) * n.y + v(2, 2) * n.z), 1, 1e-14);
  // a box corner: three orthogonal normals give the identity
  DecomposeSymmetric3(FromOuterProducts({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), values, v);
  for (double value : values) EXPECT_NEAR(value, 1, 1e-15);
  // non-finite input yields a harmless zero spectrum
  Mat3d broken = Mat3d::Identity();
  broken(1, 2) = broken(2, 1) = std::nan("");
  DecomposeSymmetric3(broken, values, v);
  for (double value : values) EXPECT_EQ(value, 0);
}

TEST(SymmetricEigen, RandomMatricesDecompose) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<Vec3d> normals;
    const int count = 1 + trial % 5;
    for (int k = 0; k < count; ++k) normals.push_back(Normalize(Vec3d(uniform(random), uniform(random), uniform(random))));
    ExpectDecomposes(FromOuterProducts(normals), 1e-13);
    Mat3d general;
    for (int r = 0; r < 3; ++r) {
      for (int c = r; c < 3; ++c) general(r, c) = general(c, r) = 100 * uniform(random);
    }
    ExpectDecomposes(general, 1e-11);
  }
}

}  // namespace
