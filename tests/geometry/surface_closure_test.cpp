// The reconstructed surface stays a closed, consistently wound surface of the
// body's volume through cuts that stop inside it, cross each other, meet at
// corners and finally part it: every edge in exactly two triangles, used in
// opposite directions, so no sheet is doubled and no rim is left open.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/octree.h"
#include "geometry/octree_validation.h"
#include "support/geometry_reference.h"
#include "support/octree_scene.h"

namespace {

// Cut triangles placed by fractions of the body's box.
struct Blade {
  Vec3f extent;
  Vec3f At(float x, float y, float z) const { return Vec3f(x * extent.x, y * extent.y, z * extent.z); }
};

// The edit tool's blade stroke: segment b sweeps the quad between path
// points b-1 and b, from `behind` above the path down to `depth` below it.
void Stroke(Octree& octree, const Blade& blade, const std::vector<Vec3f>& path, float behind, float depth,
            int32_t id) {
  const Vec3f down(0, 0, -1);
  for (size_t b = 1; b < path.size(); ++b) {
    const Vec3f p0 = blade.At(path[b - 1].x, path[b - 1].y, path[b - 1].z);
    const Vec3f p1 = blade.At(path[b].x, path[b].y, path[b].z);
    const Vec3f a = p0 - down * behind, bb = p1 - down * behind, c = p0 + down * depth, e = p1 + down * depth;
    octree.InsertCutTriangle(a, bb, c, id);
    octree.InsertCutTriangle(c, bb, e, id);
  }
}

class SurfaceClosureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SurfaceClosureTest, CutsThatStopCrossAndPartKeepTheSurfaceClosed) {
  OctreeScene scene;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath(GetParam()), scene, nullptr));
  Octree& octree = *scene.octree;
  const Blade blade{Vec3f(octree.meshBoxHalfExtent) * 2.0f};
  const float height = blade.extent.z;
  const double volume = EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles);
  ASSERT_GT(volume, 0);

  // each cut with its expected number of closed pieces afterwards
  struct Cut {
    const char* what;
    std::vector<Vec3f> path;
    float behind, depth;  // above and below the path, in heights of the box
    int pieces;
  };
  std::vector<Vec3f> wavy;
  for (int b = 0; b <= 10; ++b) wavy.push_back(Vec3f(0.1f + 0.08f * b, 0.3f + 0.1f * std::sin(1.3f * b), 1.2f));
  const Cut cuts[] = {
      {"ten-segment wavy slit halfway down", wavy, 0.2f, 0.7f, 1},
      {"crossing slit", {Vec3f(0.55f, -0.2f, 1.2f), Vec3f(0.5f, 0.5f, 1.2f), Vec3f(0.45f, 1.2f, 1.2f)}, 0.2f, 0.8f, 1},
      {"crack inside the body", {Vec3f(0.35f, 0.45f, 0.6f), Vec3f(0.65f, 0.55f, 0.6f)}, 0.1f, 0.25f, 1},
      {"through cut across the whole body", {Vec3f(0.83f, -0.2f, 1.2f), Vec3f(0.85f, 1.2f, 1.2f)}, 0.2f, 1.5f, 2},
  };
  int32_t id = 1;
  for (const Cut& cut : cuts) {
    Stroke(octree, blade, cut.path, cut.behind * height, cut.depth * height, id++);
    ASSERT_EQ(ValidateOctree(octree), "") << cut.what;
    octree.ExtractSurface();
    EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "") << cut.what;
    // the cut sheets enclose nothing: the volume stays that of the body
    EXPECT_NEAR(EnclosedVolume(octree.surfacePositions, octree.surfaceTriangles) / volume, 1.0, 1e-3) << cut.what;
    EXPECT_EQ(SurfaceComponentCount(octree.surfaceTriangles, octree.surfaceVertexCount), cut.pieces) << cut.what;
    for (int32_t v : octree.surfaceTriangles) ASSERT_LT(v, octree.surfaceVertexCount);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenes, SurfaceClosureTest,
                         ::testing::Values("LiverScene.txt", "BeamScene.txt", "SphereScene.txt"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find("Scene"));
                         });

}  // namespace
