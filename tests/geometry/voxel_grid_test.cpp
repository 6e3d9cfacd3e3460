#include "geometry/voxel_grid.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "geometry/octree.h"
#include "support/geometry_reference.h"
#include "support/octree_scene.h"
#include "support/temp_folder.h"

namespace {

bool HasSeed(const VoxelGrid& grid, int32_t i) { return (grid.hasSeed[i >> 6] >> (i & 63)) & 1; }

std::vector<uint64_t> Bits(int32_t count, std::initializer_list<int32_t> set) {
  std::vector<uint64_t> bits((count + 63) / 64, 0);
  for (int32_t i : set) bits[i >> 6] |= uint64_t(1) << (i & 63);
  return bits;
}

TEST(VoxelGrid, SurfaceSamplesKeepTheShortestTangentPlaneVector) {
  VoxelGrid grid(Vec3i(2, 2, 2), Vec3d(1, 1, 1));
  grid.AddSurfaceSample(0, 0, 0.3, Vec3d(1, 0, 0));
  EXPECT_EQ(grid.seeds[0], Vec3d(0.3, 0, 0));
  const double r = 1 / std::sqrt(2.0);
  grid.AddSurfaceSample(1, 0, 0.3, Vec3d(r, r, 0));
  EXPECT_NEAR(grid.seeds[1].x, 0.15, 1e-12);
  EXPECT_NEAR(grid.seeds[1].y, 0.15, 1e-12);
  // longer candidates leave the seed, shorter ones replace it
  grid.AddSurfaceSample(0, 1, -0.4, Vec3d(0, -1, 0));
  EXPECT_EQ(grid.seeds[0], Vec3d(0.3, 0, 0));
  grid.AddSurfaceSample(0, 2, 0.2, Vec3d(0, 0, 1));
  EXPECT_EQ(grid.seeds[0], Vec3d(0, 0, 0.2));
  // a zero or non-finite normal names no plane and is ignored
  grid.AddSurfaceSample(2, 0, 0.3, Vec3d(0, 0, 0));
  grid.AddSurfaceSample(3, 0, 0.3, Vec3d(std::nan(""), 0, 0));
  EXPECT_FALSE(HasSeed(grid, 2));
  EXPECT_FALSE(HasSeed(grid, 3));
  EXPECT_TRUE(IsFinite(grid.seeds[2]));
}

TEST(VoxelGrid, LoneInsideVoxelTakesTheFirstNeighbourTried) {
  VoxelGrid grid(Vec3i(3, 3, 3), Vec3d(0.5, 2, 3));
  const int32_t centre = grid.Index(1, 1, 1);
  grid.SetInside(Bits(27, {centre}));
  grid.ComputeBySweeping();
  // the -x neighbour of the first sub-sweep wins; equal lengths never replace
  EXPECT_EQ(grid.records[centre].direction, Vec3d(-1, 0, 0));
  EXPECT_FLOAT_EQ(grid.records[centre].distance, -0.5f);
  EXPECT_TRUE(grid.referenceRecords[centre].inside);
  EXPECT_EQ(grid.records[0].distance, 0.0f);
}

TEST(VoxelGrid, SamplingInterpolatesAndRespectsTheRange) {
  VoxelGrid grid(Vec3i(3, 2, 2), Vec3d(1, 1, 1));
  for (int i = 0; i < grid.VoxelCount(); ++i) {
    grid.records[i].distance = (i % 3) == 1 ? -3.0f : -1.0f;  // layer x = 1 at -3, the others at -1
    grid.records[i].direction = Vec3d(0, 0, 1);
  }
  double d = 0;
  Vec3d dir;
  EXPECT_TRUE(grid.Sample(Vec3d(1.0, 1.0, 1.0), d, dir));  // halfway between x = 0 and 1
  EXPECT_DOUBLE_EQ(d, -2.0);
  EXPECT_EQ(dir, Vec3d(0, 0, 1));
  // the last half voxel before the upper end has no cell to interpolate in
  EXPECT_FALSE(grid.Sample(Vec3d(2.6, 1.0, 1.0), d, dir));
  EXPECT_FALSE(grid.Sample(Vec3d(0.4, 1.0, 1.0), d, dir));
  EXPECT_FALSE(grid.Sample(Vec3d(std::nan(""), 1.0, 1.0), d, dir));
  EXPECT_FALSE(grid.Sample(Vec3d(1e300, 1.0, 1.0), d, dir));
  // masked corners inside the body count as outside: the x = 1 layer flips to +3
  const bool mask[8] = {true, false, true, false, true, false, true, false};
  EXPECT_TRUE(grid.SampleMasked(mask, Vec3d(0.75, 1.0, 1.0), d, dir));
  EXPECT_DOUBLE_EQ(d, 0.0);
  EXPECT_FALSE(grid.SampleMasked(mask, Vec3d(1.25, 1.0, 1.0), d, dir));
  EXPECT_DOUBLE_EQ(d, 2.0);
  EXPECT_EQ(dir, Vec3d(0, 0, -1));
}

// Every inside voxel is checked; under the address sanitizer, whose checks
// make the brute-force reference ten times slower, every seventh.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDistanceCheckStride = 7;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kDistanceCheckStride = 7;
#else
constexpr int kDistanceCheckStride = 1;
#endif
#else
constexpr int kDistanceCheckStride = 1;
#endif

// The distance field of a bundled scene against exact distances to the mesh.
class DistanceFieldTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DistanceFieldTest, InsideDistancesAreWithinOneVoxelDiagonal) {
  OctreeScene scene;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath(GetParam()), scene, nullptr));
  const VoxelGrid& grid = *scene.octree->voxelGrid;
  const double diagonal = Length(scene.voxelSize);
  const MeshDistance exact(scene.mesh, 4 * diagonal);
  int checked = 0, wrong = 0;
  for (int32_t i = 0; i < grid.VoxelCount(); i += kDistanceCheckStride) {
    if (!grid.records[i].inside) continue;
    const int x = i % grid.resolution.x, y = (i / grid.resolution.x) % grid.resolution.y,
              z = i / (grid.resolution.x * grid.resolution.y);
    const Vec3d centre = Mul(Vec3d(x + 0.5, y + 0.5, z + 0.5), scene.voxelSize);
    const double field = -grid.records[i].distance;
    const double radius = field + diagonal;
    const double d = exact.DistanceWithin(centre, radius);
    ++checked;
    if (d > radius || d < field - diagonal) ++wrong;
  }
  EXPECT_GT(checked, 100);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Scenes, DistanceFieldTest, ::testing::Values("LiverScene.txt", "SphereScene.txt", "BeamScene.txt"));

TEST(VoxelGrid, WavefrontFromACutMatchesAFreshSweepAndIsThreadIndependent) {
  OctreeScene scene;
  ASSERT_TRUE(LoadOctreeScene(BundledScenePath("SphereScene.txt"), scene, nullptr));
  Octree& octree = *scene.octree;
  VoxelGrid& grid = *octree.voxelGrid;
  // nothing enqueued: nothing changes
  const std::vector<VoxelRecord> before = grid.records;
  grid.UpdateByWavefront();
  EXPECT_EQ(std::memcmp(before.data(), grid.records.data(), before.size() * sizeof(VoxelRecord)), 0);

  // a planar cut through the middle seeds new surface
  const Vec3f c = Vec3f(octree.meshBoxHalfExtent);
  const float r = 2 * c.x;
  octree.InsertCutTriangle(Vec3f(-r, c.y + 0.3f * c.y, -r), Vec3f(3 * r, c.y + 0.1f * c.y, -r), Vec3f(c.x, c.y, 3 * r), 1);
  ASSERT_FALSE(grid.indexQueue.empty());
  VoxelGrid twoThreads = grid;
  VoxelGrid swept = grid;
  omp_set_num_threads(1);
  grid.UpdateByWavefront();
  omp_set_num_threads(2);
  twoThreads.UpdateByWavefront();
  EXPECT_EQ(std::memcmp(grid.records.data(), twoThreads.records.data(), grid.records.size() * sizeof(VoxelRecord)), 0);
  for (uint64_t word : grid.touched) EXPECT_EQ(word, 0u);

  for (VoxelRecord& record : swept.records) {
    record.distance = 0;
    record.direction = Vec3d();
  }
  swept.ComputeBySweeping();
  const double diagonal = Length(scene.voxelSize);
  int closer = 0;
  for (int32_t i = 0; i < grid.VoxelCount(); ++i) {
    if (!grid.records[i].inside) continue;
    EXPECT_NEAR(grid.records[i].distance, swept.records[i].distance, diagonal) << i;
    closer += grid.records[i].distance > before[i].distance;
    EXPECT_GE(grid.records[i].distance, before[i].distance - 1e-6) << "a cut never moves the surface away";
  }
  EXPECT_GT(closer, 100);
}

TEST(VoxelGrid, WriteTextDumpsTheMaintainedRecords) {
  VoxelGrid grid(Vec3i(2, 1, 1), Vec3d(0.5, 0.25, 0.125));
  grid.SetInside(Bits(2, {1}));
  grid.records[1].distance = -0.25f;
  grid.records[1].direction = Vec3d(1, 0, 0);
  TempFolder folder;
  ASSERT_TRUE(grid.WriteText(folder.WideFile("field.txt")));
  EXPECT_EQ(TempFolder::Read(folder.File("field.txt")), "2 1 1\t0.5 0.25 0.125\t0\t0 0 0\t0\t-0.25\t1 0 0\t1\t");
  EXPECT_FALSE(grid.WriteText(folder.WideFile("missing/field.txt")));
}

}  // namespace
