#include "geometry/voxelizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "geometry/octree.h"
#include "geometry/voxel_grid.h"
#include "support/geometry_meshes.h"
#include "support/octree_scene.h"

namespace {

struct Voxelization {
  bool ok = false;
  VoxelModel model;
  std::unique_ptr<VoxelGrid> grid;
  std::wstring log;
};

Voxelization VoxelizeMesh(const SurfaceMesh& mesh, const Vec3d& voxelSize = Vec3d(1, 1, 1)) {
  Voxelization v;
  std::wostringstream log;
  Vec3i resolution;
  if (ComputeVoxelResolution(mesh, voxelSize, resolution, &log)) {
    v.grid = std::make_unique<VoxelGrid>(resolution, voxelSize);
    v.ok = Voxelize(mesh, voxelSize, *v.grid, v.model, &log);
  }
  v.log = log.str();
  return v;
}

bool HasLine(const std::wstring& log, const std::wstring& line) { return log.find(line + L"\n") != std::wstring::npos; }

int CountOccurrences(const std::wstring& log, const std::wstring& text) {
  int n = 0;
  for (size_t pos = log.find(text); pos != std::wstring::npos; pos = log.find(text, pos + 1)) ++n;
  return n;
}

TEST(Voxelizer, CubeOnVoxelBoundariesFillsExactlyItsVoxels) {
  // face diagonals run through column centres: each must give exactly one fragment
  const Voxelization v = VoxelizeMesh(MakeBox(Vec3f(0, 0, 0), Vec3f(4, 4, 4)));
  ASSERT_TRUE(v.ok);
  EXPECT_EQ(v.log, L"");
  EXPECT_EQ(v.model.resolution, Vec3i(4, 4, 4));
  EXPECT_EQ(v.model.insideCount, 64);
  for (int z = 0; z < 4; ++z) {
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) {
        const int32_t i = v.model.Index(x, y, z);
        const int c[3] = {x, y, z};
        bool crossed = false;
        for (int a = 0; a < 3; ++a) {
          // the outer layers see their face half a voxel away, the others nothing
          EXPECT_EQ(v.model.Offset(i, 2 * a), c[a] == 0 ? 0.5f : INFINITY);
          EXPECT_EQ(v.model.Offset(i, 2 * a + 1), c[a] == 3 ? 0.5f : INFINITY);
          if (c[a] == 0) {
            EXPECT_EQ(v.model.Normal(i, 2 * a)[a], -1.0f);
          }
          crossed = crossed || c[a] == 0 || c[a] == 3;
        }
        EXPECT_EQ(v.model.IsInterior(i), !crossed);
      }
    }
  }
  // the outer voxels seed the grid with the vector to their face
  const int32_t corner = v.grid->Index(0, 1, 1);
  EXPECT_EQ(v.grid->seeds[corner], Vec3d(-0.5, 0, 0));
  EXPECT_TRUE(v.grid->records[corner].inside);
  EXPECT_FALSE(v.grid->hasSeed[v.grid->Index(1, 1, 1) >> 6] >> (v.grid->Index(1, 1, 1) & 63) & 1);
}

TEST(Voxelizer, FaceThroughVoxelCentresCountsAsInside) {
  // the +x face at 3.5 runs through the centres of the last layer: closed interval
  const Voxelization v = VoxelizeMesh(MakeBox(Vec3f(0, 0, 0), Vec3f(3.5f, 4, 4)));
  ASSERT_TRUE(v.ok);
  const int32_t last = v.model.Index(3, 1, 1);
  EXPECT_TRUE(v.model.IsInside(last));
  EXPECT_EQ(v.model.Offset(last, 1), 0.0f);
}

TEST(Voxelizer, HoleWarnsAboutOddColumnsNamedByTheirAxes) {
  SurfaceMesh cube = MakeBox(Vec3f(0, 0, 0), Vec3f(4, 4, 4));
  // drop the upper triangle (z above y) of the -x face
  cube.triangles.erase(cube.triangles.begin());
  const Voxelization v = VoxelizeMesh(cube);
  EXPECT_TRUE(HasLine(v.log, L"WARNING: Building voxelization model along axis x: Odd number of fragments in voxel column (y=0, z=3)"));
  EXPECT_FALSE(HasLine(v.log, L"WARNING: Building voxelization model along axis x: Odd number of fragments in voxel column (y=3, z=0)"));
}

TEST(Voxelizer, DegenerateTriangleAddsNothing) {
  SurfaceMesh cube = MakeBox(Vec3f(0, 0, 0), Vec3f(4, 4, 4));
  const Voxelization plain = VoxelizeMesh(cube);
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  for (const auto& vertex : cube.vertices) positions.push_back(vertex.position);
  for (const auto& t : cube.triangles) indices.insert(indices.end(), {t.i0, t.i1, t.i2});
  positions.insert(positions.end(), {{1.1f, 1.2f, 1.3f}, {2.1f, 2.2f, 2.3f}, {3.1f, 3.2f, 3.3f}});
  indices.insert(indices.end(), {8, 9, 10});
  cube.SetFromArrays(positions, indices);
  const Voxelization withDegenerate = VoxelizeMesh(cube);
  EXPECT_EQ(withDegenerate.log, L"");
  EXPECT_EQ(withDegenerate.model.flags, plain.model.flags);
}

TEST(Voxelizer, ResolutionCoversTheBox) {
  Vec3i resolution;
  // thinner than a voxel still gets one layer; exactly one voxel per axis gives 1 x 1 x 1
  ASSERT_TRUE(ComputeVoxelResolution(MakeBox(Vec3f(0, 0, 0), Vec3f(4, 4, 0.3f)), Vec3d(1, 1, 1), resolution, nullptr));
  EXPECT_EQ(resolution, Vec3i(4, 4, 1));
  ASSERT_TRUE(ComputeVoxelResolution(MakeBox(Vec3f(0, 0, 0), Vec3f(2, 3, 4)), Vec3d(2, 3, 4), resolution, nullptr));
  EXPECT_EQ(resolution, Vec3i(1, 1, 1));
}

TEST(Voxelizer, ColumnsKeepAtMostSixtyFourFragments) {
  // 33 nested boxes give 66 crossings on the central column
  SurfaceMesh nested;
  for (int k = 0; k < 33; ++k) AppendMesh(nested, MakeBox(Vec3f(-k - 0.2f, -0.6f, -0.6f), Vec3f(k + 0.2f, 0.6f, 0.6f)));
  const Voxelization v = VoxelizeMesh(nested, Vec3d(1, 1.2, 1.2));
  EXPECT_EQ(CountOccurrences(v.log, L"WARNING: Depth layer buffer overflow while peeling along axis x for voxel column (y=0, z=0)\n"), 2);
}

TEST(Voxelizer, PassesThatDisagreeLeaveNoFalseCrossings) {
  // a stray sheet inside a cube, facing -y: the y pass sees three crossings per
  // column and calls the voxels above the sheet outside, which the x pass made inside
  SurfaceMesh mesh = MakeBox(Vec3f(0, 0, 0), Vec3f(8, 8, 8));
  SurfaceMesh sheet;
  sheet.SetFromArrays({{1, 4.25f, 1}, {7, 4.25f, 1}, {7, 4.25f, 7}, {1, 4.25f, 7}}, {0, 1, 2, 0, 2, 3});
  AppendMesh(mesh, sheet);
  const Voxelization v = VoxelizeMesh(mesh);
  ASSERT_TRUE(v.ok);
  EXPECT_TRUE(HasLine(v.log, L"WARNING: Building voxelization model along axis y: Odd number of fragments in voxel column (z=3, x=3)"));
  EXPECT_TRUE(HasLine(v.log, L"WARNING: Building voxelization model along axis y: Inconsistency found in voxel column (z=3, x=3)"));
  // above the sheet: inside, and no crossing along y that would sever links
  const int32_t above = v.model.Index(3, 6, 3);
  EXPECT_TRUE(v.model.IsInside(above));
  EXPECT_TRUE(std::isinf(v.model.Offset(above, 2)) && std::isinf(v.model.Offset(above, 3)));
  EXPECT_TRUE(v.model.IsInterior(above));
  // below the sheet the sheet itself is a crossing
  EXPECT_FLOAT_EQ(v.model.Offset(v.model.Index(3, 3, 3), 3), 0.75f);
}

TEST(Voxelizer, TooLargeGridsNameTheirResolutionInWholeNumbers) {
  const SurfaceMesh box = MakeBox(Vec3f(0, 0, 0), Vec3f(1, 1, 1));
  struct Case {
    Vec3d voxelSize;
    const wchar_t* message;
  } cases[] = {
      {Vec3d(std::ldexp(1.0, -24), std::ldexp(1.0, -10), 1),
       L"ERROR: Voxel grid resolution 16777216 x 1024 x 1 is too large: voxel indices must fit in 32 bits\n"},
      {Vec3d(std::ldexp(1.0, -100), 1, 1),
       L"ERROR: Voxel grid resolution 1267650600228229401496703205376 x 1 x 1 is too large: voxel indices must fit in 32 bits\n"},
  };
  for (const Case& c : cases) {
    std::wostringstream log;
    Vec3i resolution(7, 7, 7);
    EXPECT_FALSE(ComputeVoxelResolution(box, c.voxelSize, resolution, &log));
    EXPECT_EQ(log.str(), c.message);
    EXPECT_EQ(resolution, Vec3i(7, 7, 7));
  }
}

// What the scene set-up order builds from a bundled scene, for the checks below.
class BundledVoxelizationTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledVoxelizationTest, MemoryEstimateCoversWhatTheBuildKeeps) {
  OctreeScene scene;
  ASSERT_TRUE(ReadSceneMesh(BundledScenePath(GetParam()), scene, nullptr));
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(scene.mesh, scene.voxelSize, 10, nullptr));
  const Voxelization v = VoxelizeMesh(scene.mesh, scene.voxelSize);
  ASSERT_TRUE(v.ok);
  double cells = 0;
  for (const auto& level : octree.cells) cells += double(level.size());
  const double voxels = double(octree.voxelGrid->VoxelCount());
  const double kept = cells * sizeof(OctreeCell) + voxels * (2 * sizeof(VoxelRecord) + sizeof(Vec3d)) +
                      double(v.model.crossings.size()) * sizeof(VoxelCrossings);
  const double estimate = EstimatedBuildBytes(scene.mesh, scene.voxelSize, octree.resolution);
  EXPECT_GE(estimate, kept);
  // and not so far above that builds which fit would be refused
  EXPECT_LE(estimate, 4 * kept);
}

TEST_P(BundledVoxelizationTest, EveryCrossingLeavesASeed) {
  // the octree checker tells crossed voxels by their seed
  OctreeScene scene;
  ASSERT_TRUE(ReadSceneMesh(BundledScenePath(GetParam()), scene, nullptr));
  const Voxelization v = VoxelizeMesh(scene.mesh, scene.voxelSize);
  ASSERT_TRUE(v.ok);
  int crossed = 0;
  for (int32_t i = 0; i < v.grid->VoxelCount(); ++i) {
    bool finite = false;
    for (int side = 0; side < 6; ++side) finite = finite || std::isfinite(v.model.Offset(i, side));
    const bool seeded = (v.grid->hasSeed[i >> 6] >> (i & 63)) & 1;
    ASSERT_EQ(finite && v.model.IsInside(i), seeded) << i;
    crossed += finite;
  }
  EXPECT_GT(crossed, 1000);
}

INSTANTIATE_TEST_SUITE_P(Scenes, BundledVoxelizationTest,
                         ::testing::Values("LiverScene.txt", "BeamScene.txt", "SphereScene.txt"));

}  // namespace
