#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "geometry/octree.h"
#include "geometry/octree_validation.h"
#include "support/geometry_meshes.h"

namespace {

// A solid box of 32 unit voxels whose interior is covered by 8- and 4-voxel leaves.
struct BoxOctree {
  SurfaceMesh mesh = MakeBox(Vec3f(0, 0, 0), Vec3f(31.6f, 31.6f, 31.6f));
  Octree octree;
  BoxOctree() {
    EXPECT_TRUE(octree.BuildFromMesh(mesh, Vec3d(1, 1, 1), 10, nullptr));
  }
  // Pretends a finite element build has seen every cell.
  void MarkAllCurrent() {
    for (auto& level : octree.cells) {
      for (OctreeCell& c : level) {
        c.adjacencyCurrent = c.cornerVerticesCurrent = true;
        for (bool& done : c.cornerDone) done = true;
      }
    }
  }
};

// A leaf above the finest level with a coarser leaf among its neighbours.
bool FindLeafNextToCoarser(const Octree& octree, int& level, int& cell) {
  for (level = octree.FinestLevel() - 1; level > 0; --level) {
    for (cell = 0; cell < static_cast<int>(octree.cells[level].size()); ++cell) {
      const OctreeCell& c = octree.cells[level][cell];
      if (!c.leaf) continue;
      for (int k = 0; k < 27; ++k) {
        if (c.neighbours[k] == -1) return true;
      }
    }
  }
  return false;
}

TEST(RefineLeaf, RefinesCoarserNeighboursFirstAndKeepsNeighboursMutual) {
  BoxOctree box;
  Octree& octree = box.octree;
  int level = 0, cell = 0;
  ASSERT_TRUE(FindLeafNextToCoarser(octree, level, cell));
  box.MarkAllCurrent();
  // distinct corner values, so that interpolation is visible
  OctreeCell& leaf = octree.cells[level][cell];
  for (int c = 0; c < 8; ++c) {
    leaf.corners[c] = Vec3d(c, c * c, 1.0 / (c + 1));
    leaf.previousCorners[c] = Vec3d(-c, 0, c);
  }
  const OctreeCell before = leaf;
  octree.RefineLeaf(level, cell);

  EXPECT_EQ(ValidateOctree(octree), "");
  const OctreeCell& parent = octree.cells[level][cell];
  EXPECT_FALSE(parent.leaf);
  for (int k = 0; k < 27; ++k) {
    EXPECT_NE(parent.neighbours[k], -1) << "the coarser neighbour was refined first";
    const int n = parent.neighbours[k];
    if (n >= 0) {
      EXPECT_FALSE(octree.cells[level][n].cornerVerticesCurrent);
    }
  }
  for (int side = 0; side < 6; ++side) {
    const int n = parent.neighbours[kSideSlots[side]];
    if (n >= 0) {
      EXPECT_FALSE(octree.cells[level][n].adjacencyCurrent);
    }
  }
  // the centre of the parent is corner 7 of child 0 and corner 0 of child 7
  Vec3d centre, previousCentre;
  for (int c = 0; c < 8; ++c) {
    centre += before.corners[c] * 0.125;
    previousCentre += before.previousCorners[c] * 0.125;
  }
  const OctreeCell& first = octree.cells[level + 1][parent.children[0]];
  const OctreeCell& last = octree.cells[level + 1][parent.children[7]];
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(first.corners[7][a], centre[a], 1e-12);
    EXPECT_NEAR(last.corners[0][a], centre[a], 1e-12);
    EXPECT_NEAR(last.previousCorners[0][a], previousCentre[a], 1e-12);
  }
  EXPECT_EQ(first.corners[0], before.corners[0]);
  EXPECT_FALSE(first.adjacencyCurrent);
  EXPECT_FALSE(first.wasLeaf);
}

TEST(RefineLeaf, SavedCornersAreCopiedInsideAnElementAndInterpolatedAboveIt) {
  for (int embeddedLevels : {0, 5}) {
    BoxOctree box;
    Octree& octree = box.octree;
    octree.embedded = true;
    octree.embeddedLevels = embeddedLevels;
    int level = 0, cell = 0;
    ASSERT_TRUE(FindLeafNextToCoarser(octree, level, cell));
    OctreeCell& leaf = octree.cells[level][cell];
    for (int c = 0; c < 8; ++c) {
      leaf.savedCorners[c] = Vec3d(c, 2 * c, 3 * c);
      leaf.savedPreviousCorners[c] = Vec3d(-c, 0, 0);
    }
    const OctreeCell before = leaf;
    octree.RefineLeaf(level, cell);
    const OctreeCell& child = octree.cells[level + 1][octree.cells[level][cell].children[7]];
    if (embeddedLevels == 0) {
      // children are elements of their own: the saved corners follow the lattice
      EXPECT_EQ(child.savedCorners[7], before.savedCorners[7]);
      EXPECT_EQ(child.savedCorners[0], Vec3d(3.5, 7, 10.5));
      EXPECT_EQ(child.savedPreviousCorners[0], Vec3d(-3.5, 0, 0));
    } else {
      for (int c = 0; c < 8; ++c) EXPECT_EQ(child.savedCorners[c], before.savedCorners[c]);
    }
  }
}

TEST(AddCutCrossing, StoresTheCrossingInAVoxelCellRefiningOnTheWay) {
  BoxOctree box;
  Octree& octree = box.octree;
  box.MarkAllCurrent();
  const Vec3i voxel(12, 13, 14);
  int leafLevel = -1;
  ASSERT_GE(octree.FindLeaf(voxel, &leafLevel), 0);
  ASSERT_LT(leafLevel, octree.FinestLevel()) << "the voxel starts inside a coarse leaf";

  const int cell = octree.AddCutCrossing(voxel, 1, 0.25f, Vec3f(1, 0, 0), 7);
  ASSERT_GE(cell, 0);
  EXPECT_EQ(ValidateOctree(octree), "");
  const int finest = octree.FinestLevel();
  const OctreeCell& c = octree.cells[finest][cell];
  EXPECT_EQ(Vec3i(c.x, c.y, c.z), voxel);
  EXPECT_FALSE(c.links[1]);
  EXPECT_EQ(c.offsets[1], 0.25f);
  EXPECT_EQ(c.normals[1], Vec3f(1, 0, 0));
  EXPECT_EQ(c.cutTag[1], 7);
  EXPECT_TRUE(c.links[0]);
  // the distance field learns the new surface and queues the voxel
  const VoxelGrid& grid = *octree.voxelGrid;
  EXPECT_EQ(grid.seeds[grid.Index(12, 13, 14)], Vec3d(0.25, 0, 0));
  EXPECT_EQ(grid.indexQueue.back(), grid.Index(12, 13, 14));

  // a second crossing on the -y side of the same, now finest, cell redoes the
  // blocks around that side's four corners only; its sibling lies across
  box.MarkAllCurrent();
  ASSERT_EQ(octree.AddCutCrossing(voxel, 2, 0.5f, Vec3f(0, -1, 0), 7), cell);
  const OctreeCell& same = octree.cells[finest][cell];
  ASSERT_GE(same.neighbours[kSideSlots[2]], 0);
  const OctreeCell& across = octree.cells[finest][same.neighbours[kSideSlots[2]]];
  for (int corner = 0; corner < 8; ++corner) {
    EXPECT_EQ(same.cornerDone[corner], (corner & 2) != 0) << corner;
    EXPECT_EQ(across.cornerDone[corner], (corner & 2) == 0) << corner;
  }
  EXPECT_FALSE(same.adjacencyCurrent);
  EXPECT_FALSE(across.cornerVerticesCurrent);
  EXPECT_TRUE(across.adjacencyCurrent) << "the neighbour's own link still holds";
}

TEST(AddCutCrossing, OutsideTheGridOrTheBodyChangesNothing) {
  SurfaceMesh sphere = MakeSphere(Vec3f(0, 0, 0), 9.7f, 3);
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(sphere, Vec3d(1, 1, 1), 10, nullptr));
  std::vector<size_t> counts;
  for (const auto& level : octree.cells) counts.push_back(level.size());
  const Vec3i span(1 << (octree.levelCount - 1), 0, 0);
  for (const Vec3i& voxel : {Vec3i(-1, 5, 5), Vec3i(5, 5, octree.resolution.z), span, Vec3i(0, 0, 0)}) {
    EXPECT_EQ(octree.AddCutCrossing(voxel, 0, 0.5f, Vec3f(1, 0, 0), 1), -1);
  }
  EXPECT_EQ(octree.AddCutCrossing(Vec3i(10, 10, 10), 0, std::nanf(""), Vec3f(1, 0, 0), 1), -1);
  for (size_t level = 0; level < counts.size(); ++level) EXPECT_EQ(octree.cells[level].size(), counts[level]);
  EXPECT_TRUE(octree.voxelGrid->indexQueue.empty());
}

std::vector<uint8_t> CellBytes(const Octree& octree) {
  std::vector<uint8_t> bytes;
  for (const auto& level : octree.cells) {
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(level.data());
    bytes.insert(bytes.end(), begin, begin + level.size() * sizeof(OctreeCell));
  }
  return bytes;
}

TEST(InsertCutTriangle, RepeatingATriangleChangesOnlyTheTag) {
  BoxOctree box;
  Octree& octree = box.octree;
  const Vec3f a(5.2f, 3.1f, 4.4f), b(25.1f, 6.3f, 5.2f), c(12.7f, 27.9f, 26.3f);
  octree.InsertCutTriangle(a, b, c, 1);
  const std::vector<OctreeCell> finestBefore = octree.cells[octree.FinestLevel()];
  const std::vector<Vec3d> seedsBefore = octree.voxelGrid->seeds;
  octree.InsertCutTriangle(a, b, c, 2);
  EXPECT_EQ(octree.cutTriangleVertices.size(), 6u);
  EXPECT_EQ(ValidateOctree(octree), "");
  const auto& finest = octree.cells[octree.FinestLevel()];
  ASSERT_EQ(finest.size(), finestBefore.size());
  int retagged = 0;
  for (size_t i = 0; i < finest.size(); ++i) {
    for (int s = 0; s < 6; ++s) {
      EXPECT_EQ(finest[i].offsets[s], finestBefore[i].offsets[s]);
      EXPECT_EQ(finest[i].normals[s], finestBefore[i].normals[s]);
      EXPECT_EQ(finest[i].links[s], finestBefore[i].links[s]);
      if (finestBefore[i].cutTag[s] == 1) {
        EXPECT_EQ(finest[i].cutTag[s], 2);
        ++retagged;
      }
    }
  }
  EXPECT_GT(retagged, 100);
  EXPECT_EQ(std::memcmp(seedsBefore.data(), octree.voxelGrid->seeds.data(), seedsBefore.size() * sizeof(Vec3d)), 0);
}

TEST(InsertCutTriangle, TrianglesMissingTheBodyOnlyRecordTheirVertices) {
  SurfaceMesh sphere = MakeSphere(Vec3f(0, 0, 0), 9.7f, 3);
  Octree octree;
  ASSERT_TRUE(octree.BuildFromMesh(sphere, Vec3d(1, 1, 1), 10, nullptr));
  const std::vector<uint8_t> before = CellBytes(octree);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  const Vec3f triangles[][3] = {
      {{-30, -30, -5}, {-25, -30, -5}, {-30, -25, 5}},          // outside the grid
      {{0.2f, 0.2f, 0.3f}, {2.1f, 0.2f, 0.4f}, {0.3f, 2.2f, 1.9f}},  // the empty corner of the grid
      {{1e30f, 1e30f, 0}, {-1e30f, 1e30f, 1}, {0, -1e30f, 2e30f}},  // crossing nothing but the far corners
      {{nan, 1, 1}, {5, 5, 5}, {1, 9, 3}},
      {{inf, 1, 1}, {5, 5, 5}, {1, 9, 3}},
  };
  for (const auto& t : triangles) octree.InsertCutTriangle(t[0], t[1], t[2], 3);
  EXPECT_EQ(octree.cutTriangleVertices.size(), 15u);
  EXPECT_EQ(CellBytes(octree), before);
  EXPECT_TRUE(octree.voxelGrid->indexQueue.empty());
}

}  // namespace
