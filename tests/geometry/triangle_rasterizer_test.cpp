#include "geometry/triangle_rasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Coverage count per column of an 8 x 8 grid for a pass along z (columns x, rows y).
std::vector<int> Coverage(const std::vector<std::array<Vec3d, 3>>& triangles, double* lastDepth = nullptr) {
  const Vec3i resolution(8, 8, 8);
  std::vector<int> count(64, 0);
  for (const auto& t : triangles) {
    RasterizeTriangle(t.data(), 2, resolution, [&](int column, int row, double depth) {
      ASSERT_GE(column, 0);
      ASSERT_LT(column, 8);
      ASSERT_GE(row, 0);
      ASSERT_LT(row, 8);
      ++count[row * 8 + column];
      if (lastDepth) *lastDepth = depth;
    });
  }
  return count;
}

TEST(TriangleRasterizer, SharedEdgesThroughCentresCoverEachColumnOnce) {
  // a square split along its diagonal, which passes through the centres (k + 0.5, k + 0.5)
  const std::vector<int> count = Coverage({{Vec3d(0, 0, 0), Vec3d(8, 0, 0), Vec3d(8, 8, 0)},
                                           {Vec3d(0, 0, 0), Vec3d(8, 8, 0), Vec3d(0, 8, 0)}});
  for (int c : count) EXPECT_EQ(c, 1);
  // a fan of four triangles around an inner centre point
  const Vec3d centre(3.5, 4.5, 0);
  const std::vector<int> fan = Coverage({{centre, Vec3d(0, 0, 0), Vec3d(8, 0, 0)},
                                         {centre, Vec3d(8, 0, 0), Vec3d(8, 8, 0)},
                                         {centre, Vec3d(8, 8, 0), Vec3d(0, 8, 0)},
                                         {centre, Vec3d(0, 8, 0), Vec3d(0, 0, 0)}});
  for (int c : fan) EXPECT_EQ(c, 1);
}

TEST(TriangleRasterizer, DepthIsInterpolatedOnThePlane) {
  // plane z = 1 + 0.25 x + 0.5 y
  double depth = 0;
  auto plane = [](double x, double y) { return Vec3d(x, y, 1 + 0.25 * x + 0.5 * y); };
  RasterizeTriangle(std::array<Vec3d, 3>{plane(0, 0), plane(8, 0), plane(0, 8)}.data(), 2, Vec3i(8, 8, 8),
                    [&](int column, int row, double d) {
                      depth = d;
                      EXPECT_NEAR(d, 1 + 0.25 * (column + 0.5) + 0.5 * (row + 0.5), 1e-12);
                    });
  EXPECT_NE(depth, 0);
}

TEST(TriangleRasterizer, HugeAndNonFiniteCoordinatesStayInsideTheGrid) {
  const double huge = 1e300, nan = std::numeric_limits<double>::quiet_NaN();
  // a triangle far larger than the grid covers every column exactly once
  const std::vector<int> count = Coverage({{Vec3d(-huge, -huge, 0), Vec3d(huge, -huge, 0), Vec3d(0, huge, 0)}});
  for (int c : count) EXPECT_EQ(c, 1);
  // rows and columns far beyond the grid in either direction give nothing
  for (int c : Coverage({{Vec3d(1e12, 1e12, 0), Vec3d(2e12, 1e12, 0), Vec3d(1e12, 2e12, 0)}})) EXPECT_EQ(c, 0);
  for (int c : Coverage({{Vec3d(-3e9, -3e9, 0), Vec3d(-1e9, -3e9, 0), Vec3d(-3e9, -1e9, 0)}})) EXPECT_EQ(c, 0);
  for (int c : Coverage({{Vec3d(0, 0, 0), Vec3d(8, 0, 0), Vec3d(nan, 8, 0)}})) EXPECT_EQ(c, 0);
  // a triangle edge-on to the axis has no area in the projection
  for (int c : Coverage({{Vec3d(0, 0, 0), Vec3d(8, 8, 0), Vec3d(4, 4, 5)}})) EXPECT_EQ(c, 0);
}

}  // namespace
