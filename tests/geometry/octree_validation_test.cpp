#include "geometry/octree_validation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "geometry/octree.h"
#include "support/geometry_meshes.h"

namespace {

// What lies at a place of a level, found by descending from the root: the
// cell there, -1 when a coarser leaf covers it, -2 when nothing does.
int CellAt(const Octree& octree, int level, int x, int y, int z) {
  const int size = 1 << level;
  if (x < 0 || y < 0 || z < 0 || x >= size || y >= size || z >= size) return -2;
  int current = 0;
  for (int l = 1; l <= level; ++l) {
    const int shift = level - l;
    const int octant = ((x >> shift) & 1) + 2 * ((y >> shift) & 1) + 4 * ((z >> shift) & 1);
    const int child = octree.cells[l - 1][current].children[octant];
    if (child < 0) return child;
    current = child;
  }
  return current;
}

// Neighbour tables rebuilt from the tree's shape alone, without the
// restriction that the build's own neighbour search applies.
void RecomputeNeighbours(Octree& octree) {
  for (int level = 1; level < octree.levelCount; ++level) {
    for (OctreeCell& c : octree.cells[level]) {
      for (int k = 0; k < 27; ++k) {
        c.neighbours[k] = CellAt(octree, level, c.x + k % 3 - 1, c.y + (k % 9) / 3 - 1, c.z + k / 9 - 1);
      }
    }
  }
}

// Exchanges two cells of a level and every reference to them, so that the
// tree stays whole and only their numbers change places.
void SwapCells(Octree& octree, int level, int a, int b) {
  auto remap = [&](int32_t& index) {
    if (index == a) index = b;
    else if (index == b) index = a;
  };
  for (OctreeCell& c : octree.cells[level]) {
    for (int32_t& n : c.neighbours) remap(n);
  }
  if (level > 0) {
    for (OctreeCell& p : octree.cells[level - 1]) {
      for (int32_t& child : p.children) remap(child);
    }
  }
  std::swap(octree.cells[level][a], octree.cells[level][b]);
  if (level + 1 < octree.levelCount) {
    for (int i : {a, b}) {
      for (int32_t child : octree.cells[level][i].children) {
        if (child >= 0) octree.cells[level + 1][child].parent = i;
      }
    }
  }
}

// A same-level neighbour pair (lower index first) of a level and its slot.
struct NeighbourPair {
  int cell = -1, slot = -1, neighbour = -1;
};

NeighbourPair FindPair(const Octree& octree, int level) {
  const auto& row = octree.cells[level];
  for (int i = 0; i < static_cast<int>(row.size()); ++i) {
    for (int k = 0; k < 27; ++k) {
      if (k != kSelfSlot && row[i].neighbours[k] > i) return {i, k, row[i].neighbours[k]};
    }
  }
  return {};
}

// A leaf above the finest level and its level.
std::pair<int, int> FindCoarseLeaf(const Octree& octree) {
  for (int level = 1; level < octree.FinestLevel(); ++level) {
    for (int i = 0; i < static_cast<int>(octree.cells[level].size()); ++i) {
      if (octree.cells[level][i].leaf) return {level, i};
    }
  }
  return {-1, -1};
}

// A coarse leaf A and a leaf B one level finer that touches it.
struct TouchingLeaves {
  int level = -1, coarse = -1, fine = -1;  // A at level, B at level + 1
};

TouchingLeaves FindTouchingLeaves(const Octree& octree) {
  for (int level = 1; level + 2 < octree.levelCount; ++level) {
    for (const OctreeCell& b : octree.cells[level + 1]) {
      if (!b.leaf) continue;
      for (int k = 0; k < 27; ++k) {
        if (b.neighbours[k] != -1) continue;
        const int a = CellAt(octree, level, (b.x + k % 3 - 1) >> 1, (b.y + (k % 9) / 3 - 1) >> 1, (b.z + k / 9 - 1) >> 1);
        if (a >= 0 && octree.cells[level][a].leaf) return {level, a, b.neighbours[kSelfSlot]};
      }
    }
  }
  return {};
}

int32_t VoxelOfCell(const Octree& octree, int level, int cell) {
  const OctreeCell& c = octree.cells[level][cell];
  const int w = octree.CellWidth(level);
  return octree.voxelGrid->Index(c.x * w, c.y * w, c.z * w);
}

// A solid box of 32 unit voxels with interior leaves of up to 8 voxels: six
// levels, leaves of every width from 8 down to 1.
class OctreeValidationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_ = MakeBox(Vec3f(0.25f, 0.25f, 0.25f), Vec3f(31.75f, 31.75f, 31.75f));
    Build(octree_);
    ASSERT_EQ(ValidateOctree(octree_), "");
  }
  void Build(Octree& octree) const { ASSERT_TRUE(octree.BuildFromMesh(box_, Vec3d(1, 1, 1), 8, nullptr)); }

  SurfaceMesh box_;
  Octree octree_;
};

TEST_F(OctreeValidationTest, BuiltNeighbourTablesAreWhatTheShapeImplies) {
  // the build's tables against tables derived from the parent/child links alone
  Octree copy;
  Build(copy);
  RecomputeNeighbours(copy);
  for (int level = 0; level < octree_.levelCount; ++level) {
    for (size_t i = 0; i < octree_.cells[level].size(); ++i) {
      for (int k = 0; k < 27; ++k) {
        ASSERT_EQ(copy.cells[level][i].neighbours[k], octree_.cells[level][i].neighbours[k]) << level << " " << i;
      }
    }
  }
}

TEST_F(OctreeValidationTest, EveryBrokenInvariantIsReported) {
  const int finest = octree_.FinestLevel();
  struct Case {
    const char* name;
    std::function<void(Octree&)> corrupt;
    const char* message;
  };
  const Case cases[] = {
      {"neighbour entry not mutual",
       [&](Octree& o) {
         const NeighbourPair p = FindPair(o, finest);
         o.cells[finest][p.neighbour].neighbours[26 - p.slot] = -2;
       },
       "is not mutual"},
      {"-1 where a cell of the level exists",
       [&](Octree& o) {
         const NeighbourPair p = FindPair(o, finest);
         o.cells[finest][p.cell].neighbours[p.slot] = -1;
       },
       "is -1 but a cell of the level is there"},
      {"neighbour naming a cell elsewhere",
       [&](Octree& o) {
         const NeighbourPair p = FindPair(o, finest);
         const int last = static_cast<int>(o.cells[finest].size()) - 1;
         o.cells[finest][p.cell].neighbours[p.slot] = p.neighbour == last ? last - 1 : last;
       },
       "names a cell at the wrong place"},
      {"two levels between touching leaves",
       [&](Octree& o) {
         // split the finer of two touching leaves: its children touch a leaf two levels up
         const TouchingLeaves t = FindTouchingLeaves(o);
         ASSERT_GE(t.fine, 0);
         const bool all[8] = {true, true, true, true, true, true, true, true};
         o.Subdivide(t.level + 1, t.fine, all);
         RecomputeNeighbours(o);
       },
       "neighbouring leaves differ by more than one level"},
      {"cells out of depth-first order",
       [&](Octree& o) { SwapCells(o, finest, 0, static_cast<int>(o.cells[finest].size()) - 1); },
       "depth-first numbering expects index 0"},
      {"coarse leaf over an outside voxel",
       [&](Octree& o) {
         const auto [level, leaf] = FindCoarseLeaf(o);
         o.voxelGrid->records[VoxelOfCell(o, level, leaf)].inside = false;
       },
       "coarse leaf covers an outside voxel"},
      {"coarse leaf over a crossed voxel",
       [&](Octree& o) {
         const auto [level, leaf] = FindCoarseLeaf(o);
         o.voxelGrid->AddSurfaceSample(VoxelOfCell(o, level, leaf), 0, 0.25, Vec3d(1, 0, 0));
       },
       "coarse leaf covers a crossed voxel"},
      {"severed side without a crossing",
       [&](Octree& o) {
         for (OctreeCell& c : o.cells[finest]) {
           if (c.links[0]) {
             c.links[0] = false;
             return;
           }
         }
       },
       "is severed without a crossing"},
      {"child that names another parent",
       [&](Octree& o) { o.cells[finest][0].parent = 1; },
       "names another parent"},
  };
  for (const Case& c : cases) {
    Octree corrupted;
    Build(corrupted);
    c.corrupt(corrupted);
    const std::string problem = ValidateOctree(corrupted);
    EXPECT_NE(problem.find(c.message), std::string::npos) << c.name << ": \"" << problem << "\"";
  }
}

TEST_F(OctreeValidationTest, CellsAppendedAfterTheBuildAreExemptFromTheOrderOnly) {
  const auto [level, leaf] = FindCoarseLeaf(octree_);
  ASSERT_GE(level, 0);
  octree_.RefineLeaf(level, leaf);
  ASSERT_GT(octree_.cells[level + 1].size(), size_t(octree_.builtCellCounts[level + 1]));
  EXPECT_EQ(ValidateOctree(octree_), "");

  // an appended cell still has to keep every other invariant
  const int appended = octree_.builtCellCounts[level + 1];
  OctreeCell& cell = octree_.cells[level + 1][appended];
  int slot = -1;
  for (int k = 0; k < 27 && slot < 0; ++k) {
    if (k != kSelfSlot && cell.neighbours[k] >= 0) slot = k;
  }
  ASSERT_GE(slot, 0);
  cell.neighbours[slot] = -2;
  EXPECT_NE(ValidateOctree(octree_).find("neighbour slot"), std::string::npos) << ValidateOctree(octree_);
}

}  // namespace
