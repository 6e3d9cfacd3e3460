#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "geometry/octree.h"
#include "geometry/octree_validation.h"
#include "support/geometry_meshes.h"
#include "support/geometry_reference.h"
#include "support/octree_scene.h"

namespace {

// Two triangles of the rectangle spanned by corner and the edges u and v.
void InsertRectangle(Octree& octree, const Vec3f& corner, const Vec3f& u, const Vec3f& v, int32_t tag) {
  octree.InsertCutTriangle(corner, corner + u, corner + u + v, tag);
  octree.InsertCutTriangle(corner, corner + u + v, corner + v, tag);
}

// Cuts placed by fractions of the body's box: a slit halfway through, an
// L-shaped slit with a concave corner in its rim, and a slanted cut right
// through near one end.
void CutBody(Octree& octree, int step) {
  const Vec3f e = Vec3f(octree.meshBoxHalfExtent) * 2.0f;
  auto at = [&](float x, float y, float z) { return Vec3f(x * e.x, y * e.y, z * e.z); };
  switch (step) {
    case 0:
      InsertRectangle(octree, at(0.52f, -0.1f, -0.1f), at(0, 0.6f, 0), at(0, 0, 1.2f), 1);
      break;
    case 1:
      InsertRectangle(octree, at(0.2f, 0.37f, -0.1f), at(0.25f, 0, 0), at(0, 0, 0.7f), 2);
      InsertRectangle(octree, at(0.2f, 0.37f, -0.1f), at(0.5f, 0, 0), at(0, 0, 0.45f), 2);
      break;
    default:
      InsertRectangle(octree, at(0.8f, -0.1f, -0.1f), at(0.05f, 1.2f, 0), at(0.03f, 0, 1.2f), 3);
      break;
  }
}

class BundledSurfaceTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledSurfaceTest, ReconstructedSurfaceIsClosedAndFollowsTheMeshBeforeAndAfterCuts) {
  OctreeScene scene;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath(GetParam()), scene, nullptr));
  Octree& octree = *scene.octree;
  ASSERT_GT(octree.surfaceTriangles.size(), 0u);
  EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "");

  const double inputVolume = EnclosedVolume(scene.mesh);
  EXPECT_NEAR(EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles) / inputVolume, 1.0, 0.03);

  const double diagonal = Length(scene.voxelSize);
  const MeshDistance distance(scene.mesh, 2 * diagonal);
  std::vector<char> used(octree.surfaceVertexCount, 0);
  for (int32_t v : octree.surfaceTriangles) used[v] = 1;
  int far = 0;
  double worst = 0;
  for (int v = 0; v < octree.surfaceVertexCount; ++v) {
    if (!used[v]) continue;
    const double d = distance.DistanceWithin(Vec3d(octree.surfacePositions[v]), diagonal);
    worst = std::max(worst, d);
    far += d > diagonal;
  }
  EXPECT_EQ(far, 0) << "worst distance " << worst / diagonal << " voxel diagonals";

  // cut sheets have no thickness: the enclosed volume stays
  for (int step = 0; step < 3; ++step) {
    CutBody(octree, step);
    ASSERT_EQ(ValidateOctree(octree), "") << step;
    octree.ExtractSurface();
    EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "") << step;
    EXPECT_NEAR(EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles) / inputVolume, 1.0, 0.03) << step;
  }
  // the last cut parts the body: one more closed piece
  EXPECT_EQ(SurfaceComponentCount(octree.surfaceTriangles, octree.surfaceVertexCount), 2);
}

INSTANTIATE_TEST_SUITE_P(Scenes, BundledSurfaceTest,
                         ::testing::Values("LiverScene.txt", "BeamScene.txt", "SphereScene.txt"));

// Distance from p to the surface of the axis-aligned box [lo, hi].
double BoxSurfaceDistance(const Vec3d& p, const Vec3d& lo, const Vec3d& hi) {
  double outside = 0, inside = 1e300;
  for (int a = 0; a < 3; ++a) {
    const double below = lo[a] - p[a], above = p[a] - hi[a];
    const double gap = std::max({below, above, 0.0});
    outside += gap * gap;
    inside = std::min({inside, -below, -above});
  }
  return outside > 0 ? std::sqrt(outside) : std::max(inside, 0.0);
}

TEST(DualContouring, BoxSurfaceKeepsItsFacesEdgesAndCorners) {
  // faces between voxel centres; the error function must find the sharp edges and corners
  const Vec3d lo(0, 0, 0), hi(5.4, 4.6, 6.2);
  SurfaceMesh box = MakeBox(Vec3f(lo), Vec3f(hi));
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(box, Vec3d(1, 1, 1), 10, nullptr));
  octree.ExtractSurface();
  EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "");
  std::vector<char> isCorner(octree.surfaceVertexCount, 0);
  for (int32_t v : octree.surfaceTriangles) {
    const Vec3d p(octree.surfacePositions[v]);
    EXPECT_LT(BoxSurfaceDistance(p, lo, hi), 1e-5);
    int onFaces = 0;
    for (int a = 0; a < 3; ++a) onFaces += std::fabs(p[a] - lo[a]) < 1e-5 || std::fabs(p[a] - hi[a]) < 1e-5;
    isCorner[v] = onFaces == 3;
  }
  EXPECT_EQ(std::count(isCorner.begin(), isCorner.end(), 1), 8);
  EXPECT_NEAR(EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles), 5.4 * 4.6 * 6.2, 1e-3);
  // each severed side gives exactly two triangles
  int severed = 0;
  for (const OctreeCell& c : octree.cells[octree.FinestLevel()]) {
    for (bool link : c.links) severed += !link;
  }
  EXPECT_EQ(octree.surfaceTriangles.size(), size_t(6 * severed));
}

// A box of 24 voxels cut by planes; tests run ExtractSurface after each change.
struct CutBox {
  SurfaceMesh mesh = MakeBox(Vec3f(0, 0, 0), Vec3f(23.6f, 23.6f, 23.6f));
  Octree octree;
  CutBox() {
    EXPECT_TRUE(octree.BuildFromMesh(mesh, Vec3d(1, 1, 1), 10, nullptr));
    octree.ExtractSurface();
  }
  // Two triangles of the plane x = 11.3 + 0.2 y over the given y and z ranges.
  void CutPlane(float y0, float y1, float z0, float z1, int32_t tag) {
    auto at = [](float y, float z) { return Vec3f(11.3f + 0.2f * y, y, z); };
    octree.InsertCutTriangle(at(y0, z0), at(y1, z0), at(y1, z1), tag);
    octree.InsertCutTriangle(at(y0, z0), at(y1, z1), at(y0, z1), tag);
  }
};

TEST(DualContouring, ThroughCutSplitsTheSurfaceIntoTwoClosedPieces) {
  CutBox box;
  const double volume = EnclosedVolume(box.octree.surfacePositions, box.octree.surfaceTriangles);
  box.CutPlane(-5, 30, -5, 30, 4);
  EXPECT_EQ(ValidateOctree(box.octree), "");
  box.octree.ExtractSurface();
  const Octree& octree = box.octree;
  EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "");
  EXPECT_EQ(SurfaceComponentCount(octree.surfaceTriangles, octree.surfaceVertexCount), 2);
  EXPECT_NEAR(EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles), volume, 0.01 * volume);
  // both sides of the cut carry its tag, facing away from each other
  Vec3d tagNormalSum;
  int tagged = 0;
  for (size_t t = 0; t < octree.surfaceTriangleTag.size(); ++t) {
    if (octree.surfaceTriangleTag[t] != 4) continue;
    ++tagged;
    const Vec3d a(octree.surfacePositions[octree.surfaceTriangles[3 * t]]);
    const Vec3d b(octree.surfacePositions[octree.surfaceTriangles[3 * t + 1]]);
    const Vec3d c(octree.surfacePositions[octree.surfaceTriangles[3 * t + 2]]);
    tagNormalSum += Cross(b - a, c - a);
    // cut vertices lie on the cut plane
    EXPECT_NEAR(a.x - 0.2 * a.y, 11.3, 1e-3);
  }
  EXPECT_GT(tagged, 2 * 24 * 24);
  EXPECT_LT(Length(tagNormalSum), 1e-2);
}

TEST(DualContouring, SlitKeepsOnePieceWithTwoSheetsMeetingAtItsRim) {
  CutBox box;
  box.CutPlane(-5, 12.5f, -5, 30, 2);  // the lower half in y only
  EXPECT_EQ(ValidateOctree(box.octree), "");
  box.octree.ExtractSurface();
  EXPECT_EQ(ClosedOrientedSurfaceError(box.octree.surfaceTriangles), "");
  EXPECT_EQ(SurfaceComponentCount(box.octree.surfaceTriangles, box.octree.surfaceVertexCount), 1);
}

// Triangle corners as positions, for comparing surfaces with different vertex numbering.
std::vector<std::array<float, 9>> TriangleCorners(const Octree& octree) {
  std::vector<std::array<float, 9>> result;
  for (size_t t = 0; t < octree.surfaceTriangles.size(); t += 3) {
    std::array<float, 9> corners;
    for (int k = 0; k < 3; ++k) {
      const Vec3f& p = octree.surfacePositions[octree.surfaceTriangles[t + k]];
      for (int a = 0; a < 3; ++a) corners[3 * k + a] = p[a];
    }
    result.push_back(corners);
  }
  std::sort(result.begin(), result.end());
  return result;
}

TEST(DualContouring, LocalUpdateAfterCutsEqualsAFullExtraction) {
  CutBox box;
  box.CutPlane(-5, 12.5f, -5, 30, 2);
  box.octree.ExtractSurface();
  box.CutPlane(8, 30, 3.3f, 15.7f, 3);
  box.octree.ExtractSurface();
  const size_t vertices = box.octree.surfaceVertexCell.size();
  const auto incremental = TriangleCorners(box.octree);
  for (OctreeCell& c : box.octree.cells[box.octree.FinestLevel()]) {
    for (bool& done : c.cornerDone) done = false;
  }
  box.octree.ExtractSurface();
  EXPECT_GT(box.octree.surfaceVertexCell.size(), vertices) << "recomputed vertices are appended";
  EXPECT_EQ(TriangleCorners(box.octree), incremental);
  // adjacency lists every triangle under each of its vertices, in increasing order
  const Octree& o = box.octree;
  for (int v = 0; v < o.surfaceVertexCount; ++v) {
    for (int k = o.vertexTriangleStart[v]; k < o.vertexTriangleStart[v + 1]; ++k) {
      const int t = o.vertexTriangles[k];
      EXPECT_TRUE(o.surfaceTriangles[3 * t] == v || o.surfaceTriangles[3 * t + 1] == v || o.surfaceTriangles[3 * t + 2] == v);
      if (k > o.vertexTriangleStart[v]) {
        EXPECT_LT(o.vertexTriangles[k - 1], t);
      }
    }
  }
  EXPECT_EQ(o.vertexTriangleStart[o.surfaceVertexCount], static_cast<int>(o.surfaceTriangles.size()));
}

TEST(DualContouring, SurfaceFollowsTheCellCorners) {
  CutBox box;
  Octree& octree = box.octree;
  const std::vector<Vec3f> rest = octree.surfacePositions;
  // trilinear embedding reproduces any affine motion of the corners exactly
  auto current = [](const Vec3d& p) { return Vec3d(2 * p.x + 0.5 * p.y + 1, p.y - 0.25 * p.z, 3 * p.z - 2); };
  auto previous = [](const Vec3d& p) { return p + Vec3d(0, 0, -1); };
  for (auto& level : octree.cells) {
    for (OctreeCell& c : level) {
      for (int k = 0; k < 8; ++k) {
        c.previousCorners[k] = previous(c.corners[k]);
        c.corners[k] = current(c.corners[k]);
      }
    }
  }
  octree.UpdateSurfacePositions();
  octree.UpdatePreviousSurfacePositions();
  for (size_t v = 0; v < rest.size(); ++v) {
    const Vec3d expected = current(Vec3d(rest[v]));
    const Vec3d expectedPrevious = previous(Vec3d(rest[v]));
    for (int a = 0; a < 3; ++a) {
      EXPECT_NEAR(octree.surfacePositions[v][a], expected[a], 1e-4);
      EXPECT_NEAR(octree.surfacePreviousPositions[v][a], expectedPrevious[a], 1e-4);
    }
  }
  SurfaceMesh exported;
  octree.ExportSurface(exported);
  EXPECT_EQ(exported.vertices.size(), rest.size());
  EXPECT_EQ(exported.triangles.size() * 3, octree.surfaceTriangles.size());
}

TEST(DualContouring, CornersWithoutVertexNeverBecomeTriangleIndices) {
  CutBox box;
  Octree& octree = box.octree;
  // a side severed behind the extraction's back: its blocks stay done, without vertices
  int leafLevel = -1;
  for (int leaf = octree.FindLeaf(Vec3i(11, 11, 11), &leafLevel); leafLevel < octree.FinestLevel();
       leaf = octree.FindLeaf(Vec3i(11, 11, 11), &leafLevel)) {
    ASSERT_GE(leaf, 0);
    octree.RefineLeaf(leafLevel, leaf);
  }
  octree.ExtractSurface();
  const size_t triangles = octree.surfaceTriangles.size();
  OctreeCell& cell = octree.cells[leafLevel][octree.FindLeaf(Vec3i(11, 11, 11), &leafLevel)];
  cell.links[1] = false;
  cell.offsets[1] = 0.2f;
  octree.ExtractSurface();
  EXPECT_EQ(octree.surfaceTriangles.size(), triangles);
  for (int32_t v : octree.surfaceTriangles) EXPECT_GE(v, 0);
}

TEST(DualContouring, LiverStaysConsistentThroughCuts) {
  OctreeScene scene;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath("LiverScene.txt"), scene, nullptr));
  Octree& octree = *scene.octree;
  const Vec3f extent = Vec3f(octree.meshBoxHalfExtent) * 2.0f;
  // a blade stroke across the middle, segment by segment, as the edit tool makes it
  for (int segment = 0; segment < 6; ++segment) {
    const float x0 = extent.x * (0.2f + 0.1f * segment), x1 = x0 + 0.1f * extent.x;
    const Vec3f a(x0, 0.45f * extent.y, -0.1f * extent.z), b(x1, 0.55f * extent.y, -0.1f * extent.z);
    const Vec3f c(x0, 0.5f * extent.y, 1.1f * extent.z), e(x1, 0.6f * extent.y, 1.1f * extent.z);
    octree.InsertCutTriangle(a, b, c, 1);
    octree.InsertCutTriangle(c, b, e, 1);
    ASSERT_EQ(ValidateOctree(octree), "") << segment;
    octree.ExtractSurface();
    ASSERT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "") << segment;
  }
  octree.voxelGrid->UpdateByWavefront();
  int tagged = 0;
  for (int32_t tag : octree.surfaceTriangleTag) tagged += tag == 1;
  EXPECT_GT(tagged, 1000);
}

}  // namespace
