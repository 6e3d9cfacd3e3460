#include "geometry/octree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "geometry/octree_validation.h"
#include "support/geometry_meshes.h"
#include "support/octree_scene.h"

namespace {

int CountLeaves(const Octree& octree, int level) {
  int leaves = 0;
  for (const OctreeCell& c : octree.cells[level]) leaves += c.leaf;
  return leaves;
}

TEST(Octree, SingleVoxelGridHasOnlyTheRoot) {
  SurfaceMesh box = MakeBox(Vec3f(0, 0, 0), Vec3f(1, 1, 1));
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(box, Vec3d(1, 1, 1), 10, nullptr));
  EXPECT_EQ(octree.resolution, Vec3i(1, 1, 1));
  ASSERT_EQ(octree.levelCount, 1);
  ASSERT_EQ(octree.cells[0].size(), 1u);
  const OctreeCell& root = octree.cells[0][0];
  EXPECT_TRUE(root.leaf);
  for (int o = 0; o < 8; ++o) EXPECT_EQ(root.children[o], -1);
  for (int k = 0; k < 27; ++k) EXPECT_EQ(root.neighbours[k], k == kSelfSlot ? 0 : -2);
  // the voxel centre sees every face half a voxel away, so every side is severed
  for (int s = 0; s < 6; ++s) {
    EXPECT_FALSE(root.links[s]) << s;
    EXPECT_FLOAT_EQ(root.offsets[s], 0.5f) << s;
  }
  EXPECT_EQ(ValidateOctree(octree), "");
}

TEST(Octree, LevelCountFollowsTheLongestAxis) {
  // resolution (5, 3, 2) needs 2^3 >= 5, so four levels
  SurfaceMesh box = MakeBox(Vec3f(0, 0, 0), Vec3f(4.6f, 2.6f, 1.6f));
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(box, Vec3d(1, 1, 1), 10, nullptr));
  EXPECT_EQ(octree.resolution, Vec3i(5, 3, 2));
  EXPECT_EQ(octree.levelCount, 4);
  for (const OctreeCell& c : octree.cells[3]) {
    EXPECT_LT(c.x, 5);
    EXPECT_LT(c.y, 3);
    EXPECT_LT(c.z, 2);
  }
  EXPECT_EQ(ValidateOctree(octree), "");
}

int LeavesOfWidth(const Octree& octree, int width) {
  for (int level = 0; level < octree.levelCount; ++level) {
    if (octree.CellWidth(level) == width) return CountLeaves(octree, level);
  }
  return 0;
}

TEST(Octree, InteriorLeavesRespectTheMaximumWidthAndRestriction) {
  // solid boxes aligned with unit voxels
  struct Case {
    float edge;
    int maxWidth;
    int expectedWidestLeaf;
  };
  const Case cases[] = {
      {32, 10, 8},   // interior covered by 8-voxel leaves, no 16-voxel leaf
      {64, 16, 16},  // 16-voxel leaves whose neighbours are 8 voxels wide survive
      {40, 16, 8},   // the 16-voxel interior cell touches 4-voxel cells and is split
  };
  for (const Case& c : cases) {
    SurfaceMesh box = MakeBox(Vec3f(0, 0, 0), Vec3f(c.edge, c.edge, c.edge));
    Octree octree;
    ASSERT_TRUE(octree.BuildFromMesh(box, Vec3d(1, 1, 1), c.maxWidth, nullptr));
    EXPECT_EQ(ValidateOctree(octree), "") << c.edge;
    EXPECT_GT(LeavesOfWidth(octree, c.expectedWidestLeaf), 0) << c.edge;
    EXPECT_EQ(LeavesOfWidth(octree, 2 * c.expectedWidestLeaf), 0) << c.edge;
  }
}

TEST(Octree, DepthFirstNumberingStartsWithOctantZero) {
  SurfaceMesh sphere = MakeSphere(Vec3f(0, 0, 0), 10.0f, 3);
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(sphere, Vec3d(1, 1, 1), 10, nullptr));
  EXPECT_EQ(octree.cells[0][0].children[0], 0);
  // level 1 cells are the root's children in octant order
  int expected = 0;
  for (int o = 0; o < 8; ++o) {
    if (octree.cells[0][0].children[o] >= 0) {
      EXPECT_EQ(octree.cells[0][0].children[o], expected++);
    }
  }
  EXPECT_EQ(ValidateOctree(octree), "");
}

TEST(Octree, FinestCellsCarryTheVoxelCrossings) {
  // box [0.25, 5.75] on unit voxels: the x faces lie 0.25 from the outer voxel centres
  SurfaceMesh box = MakeBox(Vec3f(0.25f, 0.25f, 0.25f), Vec3f(5.75f, 5.75f, 5.75f));
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(box, Vec3d(1, 1, 1), 10, nullptr));
  int lowLeaf = 0, level = -1;
  lowLeaf = octree.FindLeaf(Vec3i(0, 2, 2), &level);
  ASSERT_EQ(level, octree.FinestLevel());
  const OctreeCell& low = octree.cells[level][lowLeaf];
  EXPECT_FALSE(low.links[0]);
  EXPECT_NEAR(low.offsets[0], 0.5f, 1e-6);
  EXPECT_NEAR(low.normals[0].x, -1.0f, 1e-6);
  EXPECT_TRUE(low.links[1]);
  EXPECT_TRUE(std::isinf(low.offsets[1]));
  // rest corners are integer positions times the voxel size
  EXPECT_EQ(low.corners[7], Vec3d(1, 3, 3));
  EXPECT_EQ(octree.FindLeaf(Vec3i(-1, 0, 0), &level), -1);
  EXPECT_EQ(octree.FindLeaf(Vec3i(6, 0, 0), &level), -1);
}

TEST(Octree, FailedBuildsReportAndLeaveNoCells) {
  struct Case {
    const char* name;
    SurfaceMesh mesh;
    Vec3d voxelSize;
    const wchar_t* message;
  };
  SurfaceMesh flat;
  flat.SetFromArrays({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 1});
  // a face naming a missing vertex, set directly (the OBJ reader rejects such files)
  SurfaceMesh broken = MakeBox(Vec3f(0, 0, 0), Vec3f(1, 1, 1));
  broken.triangles[0].i2 = 7;
  broken.triangles[0].i0 = 8;
  const SurfaceMesh box = MakeBox(Vec3f(0, 0, 0), Vec3f(1, 1, 1));
  const double nan = std::nan("");
  const Case cases[] = {
      {"flat mesh", flat, Vec3d(0.1, 0.1, 0.1), L"ERROR: Voxelization of surface mesh does not contain any voxels"},
      {"empty mesh", SurfaceMesh(), Vec3d(0.1, 0.1, 0.1), L"ERROR: Surface mesh has no triangles"},
      {"missing vertex", broken, Vec3d(0.1, 0.1, 0.1), L"ERROR: Surface mesh triangle 0 refers to the missing vertex 8"},
      {"zero voxel", box, Vec3d(0.1, 0, 0.1), L"must be positive and finite"},
      {"negative voxel", box, Vec3d(-0.1, 0.1, 0.1), L"must be positive and finite"},
      {"nan voxel", box, Vec3d(0.1, nan, 0.1), L"must be positive and finite"},
      {"index overflow", box, Vec3d(1e-4, 1e-4, 1e-4), L"ERROR: Voxel grid resolution 10000 x 10000 x 10000 is too large"},
      // just below 2^31 voxels: indexable, but about 285 GB
      {"memory", box, Vec3d(1.0 / 1290, 1.0 / 1290, 1.0 / 1290), L"ERROR: Voxel grid resolution 1290 x 1290 x 1290 needs about"},
      {"axis overflow", box, Vec3d(1e-12, 1, 1), L"is too large"},
  };
  for (const Case& c : cases) {
    std::wostringstream log;
    Octree octree;
    EXPECT_FALSE(octree.BuildFromMesh(c.mesh, c.voxelSize, 10, &log)) << c.name;
    EXPECT_NE(log.str().find(c.message), std::wstring::npos) << c.name << ": " << std::string(log.str().begin(), log.str().end());
    EXPECT_TRUE(octree.cells.empty()) << c.name;
  }
}

// The bundled scenes are built the way scene set-up builds them.
class BundledSceneTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledSceneTest, BuildSatisfiesTheInvariants) {
  OctreeScene scene;
  std::wostringstream log;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath(GetParam()), scene, &log)) << std::string(log.str().begin(), log.str().end());
  EXPECT_EQ(log.str(), L"") << "a closed mesh voxelizes without warnings";
  EXPECT_EQ(ValidateOctree(*scene.octree), "");
}

INSTANTIATE_TEST_SUITE_P(Scenes, BundledSceneTest, ::testing::Values("LiverScene.txt", "BeamScene.txt", "SphereScene.txt"));

}  // namespace
