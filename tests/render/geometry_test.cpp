#include "render/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/closed_surface.h"

using namespace GLTools;

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

template <typename V>
std::vector<Vec3f> Positions(const Geometry<V>& g) {
  std::vector<Vec3f> p;
  for (const V& v : g.vertices) p.push_back(v.position);
  return p;
}

// area of the regular n-gon inscribed in a circle of radius r
double PolygonArea(int n, double r) { return 0.5 * n * r * r * std::sin(2 * 3.14159265358979323846 / n); }

void ExpectNear(const Vec3f& a, const Vec3f& b, float tolerance) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

}  // namespace

TEST(Geometry, UnitBoxHasTheFixedCornerOrderAndEnclosesTheUnitCube) {
  UnitBox<VP> box;
  box.Generate();
  const Vec3f corners[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  ASSERT_EQ(box.vertices.size(), 8u);
  ASSERT_EQ(box.indices.size(), 36u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(box.vertices[i].position, corners[i]);
  EXPECT_EQ(box.indices[0], 7u);
  EXPECT_EQ(box.indices[35], 1u);
  EXPECT_EQ(ClosedSurfaceProblem(Positions(box), box.indices), "");
  EXPECT_NEAR(SignedVolume(Positions(box), box.indices), 1.0, 1e-9);
}

TEST(Geometry, UnitPlaneFacesAlongItsNormals) {
  for (bool twoSided : {false, true}) {
    UnitPlane<VPN> plane(twoSided);
    plane.Generate();
    ASSERT_EQ(plane.vertices.size(), twoSided ? 12u : 6u);
    EXPECT_TRUE(plane.indices.empty());
    ExpectNear(plane.vertices[0].position, {0, 1, 0}, 0);
    ExpectNear(plane.vertices[5].position, {1, 0, 0}, 0);
    for (size_t t = 0; t < plane.vertices.size(); t += 3) {
      const VPN* v = &plane.vertices[t];
      Vec3f faceNormal = Cross(v[1].position - v[0].position, v[2].position - v[0].position);
      for (int k = 0; k < 3; ++k) ExpectNear(faceNormal, v[k].normal, 1e-6f);
    }
    if (twoSided) {
      ExpectNear(plane.vertices[6].position, {1, 0, 0}, 0);
      ExpectNear(plane.vertices[11].position, {0, 1, 0}, 0);
      ExpectNear(plane.vertices[6].normal, {0, 0, -1}, 0);
    }
  }
}

TEST(Geometry, ArrowIsAClosedOutwardShaftAndConeOfTheRightVolume) {
  const float rs = 0.1f, rh = 0.2f, ls = 0.6f, lh = 0.4f;
  for (int n : {3, 8, 32}) {
    Arrow<VPN> arrow(n, rs, rh, ls, lh);
    arrow.Generate();
    ASSERT_EQ(arrow.vertices.size(), size_t(7 * n + 1));
    ASSERT_EQ(arrow.indices.size(), size_t(18 * n));
    EXPECT_EQ(ClosedSurfaceProblem(Positions(arrow), arrow.indices), "") << n << " segments";
    double expected = PolygonArea(n, rs) * ls + PolygonArea(n, rh) * lh / 3;
    EXPECT_NEAR(SignedVolume(Positions(arrow), arrow.indices), expected, 1e-6) << n << " segments";
  }
}

TEST(Geometry, ArrowVerticesFollowTheFixedOrder) {
  const int n = 8;
  const float rs = 0.1f, rh = 0.2f, ls = 0.6f, lh = 0.4f, s = std::sqrt(rh * rh + lh * lh);
  Arrow<VPN> arrow(n, rs, rh, ls, lh);
  arrow.Generate();
  const auto& v = arrow.vertices;
  ExpectNear(v[0].position, {0, 0, 0}, 0);
  ExpectNear(v[0].normal, {0, 0, -1}, 0);
  const int i = 3;
  float c = std::cos(i * kTwoPi / n), sn = std::sin(i * kTwoPi / n);
  ExpectNear(v[1 + i].position, {rs * c, rs * sn, 0}, 1e-6f);
  // shaft side: unnormalized radial normal of length rs
  ExpectNear(v[1 + n + 2 * i].position, {rs * c, rs * sn, 0}, 1e-6f);
  ExpectNear(v[1 + n + 2 * i + 1].position, {rs * c, rs * sn, ls}, 1e-6f);
  ExpectNear(v[1 + n + 2 * i + 1].normal, {rs * c, rs * sn, 0}, 1e-6f);
  // head underside
  ExpectNear(v[1 + 3 * n + 2 * i + 1].position, {rh * c, rh * sn, ls}, 1e-6f);
  ExpectNear(v[1 + 3 * n + 2 * i + 1].normal, {0, 0, -1}, 0);
  // cone rim and the tip with the normal half a segment further round
  ExpectNear(v[1 + 5 * n + 2 * i].normal, {c * lh / s, sn * lh / s, rh / s}, 1e-6f);
  float half = (i + 0.5f) * kTwoPi / n;
  ExpectNear(v[1 + 5 * n + 2 * i + 1].position, {0, 0, ls + lh}, 1e-6f);
  ExpectNear(v[1 + 5 * n + 2 * i + 1].normal, {std::cos(half) * lh / s, std::sin(half) * lh / s, rh / s}, 1e-6f);
}

TEST(Geometry, CylinderSidesFaceOutward) {
  const int n = 12;
  const float r = 0.1f, h = 1;
  Cylinder<VPN> cylinder(n, r, h);
  cylinder.Generate();
  ASSERT_EQ(cylinder.vertices.size(), size_t(2 * n));
  ASSERT_EQ(cylinder.indices.size(), size_t(6 * n));
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(Length(cylinder.vertices[2 * i].normal), r, 1e-6f);
    EXPECT_EQ(cylinder.vertices[2 * i + 1].position.z, h);
  }
  for (size_t t = 0; t < cylinder.indices.size(); t += 3) {
    Vec3f p0 = cylinder.vertices[cylinder.indices[t]].position, p1 = cylinder.vertices[cylinder.indices[t + 1]].position,
          p2 = cylinder.vertices[cylinder.indices[t + 2]].position;
    Vec3f centre = (p0 + p1 + p2) / 3.0f;
    EXPECT_GT(Dot(Cross(p1 - p0, p2 - p0), Vec3f(centre.x, centre.y, 0)), 0) << "triangle " << t / 3;
  }
  // the tube closes: every side edge is shared by exactly two triangles
  std::vector<uint32_t> closedWithCaps = cylinder.indices;
  std::vector<Vec3f> positions = Positions(cylinder);
  positions.push_back({0, 0, 0});
  positions.push_back({0, 0, h});
  for (uint32_t i = 0; i < uint32_t(n); ++i) {
    uint32_t j = (i + 1) % n;
    closedWithCaps.insert(closedWithCaps.end(), {uint32_t(2 * n), 2 * j, 2 * i, uint32_t(2 * n + 1), 2 * i + 1, 2 * j + 1});
  }
  EXPECT_EQ(ClosedSurfaceProblem(positions, closedWithCaps), "");
  EXPECT_NEAR(SignedVolume(positions, closedWithCaps), PolygonArea(n, r) * h, 1e-6);
}

TEST(Geometry, MeshCopiesTheSurfaceMeshAsItIs) {
  SurfaceMesh mesh;
  mesh.SetFromArrays({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3});
  Mesh<VPN> geometry(mesh);
  geometry.Generate();
  ASSERT_EQ(geometry.vertices.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(geometry.vertices[i].position, mesh.vertices[i].position);
    EXPECT_EQ(geometry.vertices[i].normal, mesh.vertices[i].normal);
  }
  EXPECT_EQ(geometry.indices, (std::vector<uint32_t>{0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3}));
  Mesh<VP> positionsOnly(mesh);
  positionsOnly.Generate();
  EXPECT_EQ(positionsOnly.vertices[3].position, Vec3f(0, 0, 1));
}
