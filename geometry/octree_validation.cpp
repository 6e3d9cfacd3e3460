#include "geometry/octree_validation.h"

#include <cmath>
#include <sstream>
#include <vector>

#include "geometry/octree.h"

namespace {

std::string CellName(int level, int index) {
  std::ostringstream s;
  s << "cell " << index << " of level " << level;
  return s.str();
}

// What lies at integer position t of a level: the cell there, or the leaf
// that covers the place from a coarser level, or nothing.
struct Location {
  int index = -2;      // cell at the level, -1 covered by a coarser leaf, -2 nothing
  int leafLevel = -1;  // level of the covering leaf when index is -1
};

Location Locate(const Octree& octree, int level, int tx, int ty, int tz) {
  Location result;
  const int size = 1 << level;
  if (tx < 0 || ty < 0 || tz < 0 || tx >= size || ty >= size || tz >= size) return result;
  int current = 0;
  for (int l = 1; l <= level; ++l) {
    const int shift = level - l;
    const int octant = ((tx >> shift) & 1) + 2 * ((ty >> shift) & 1) + 4 * ((tz >> shift) & 1);
    const int child = octree.cells[l - 1][current].children[octant];
    if (child == -2) return result;
    if (child == -1) {
      result.index = -1;
      result.leafLevel = l - 1;
      return result;
    }
    current = child;
  }
  result.index = current;
  return result;
}

class Validator {
 public:
  explicit Validator(const Octree& octree) : o_(octree) {}

  std::string Run() {
    if (static_cast<int>(o_.cells.size()) != o_.levelCount) return "the tree has " + Count(o_.cells.size()) + " levels, expected " + Count(o_.levelCount);
    if (o_.levelCount == 0) return "";
    if (o_.cells[0].size() != 1) return "level 0 holds " + Count(o_.cells[0].size()) + " cells instead of the root";
    if (o_.cells[0][0].parent != -2) return "the root has a parent";
    for (int level = 0; level < o_.levelCount && error_.empty(); ++level) {
      for (int i = 0; i < static_cast<int>(o_.cells[level].size()) && error_.empty(); ++i) CheckCell(level, i);
    }
    if (error_.empty()) CheckDepthFirstOrder();
    return error_;
  }

 private:
  static std::string Count(size_t n) { return std::to_string(n); }

  bool Fail(int level, int i, const std::string& what) {
    if (error_.empty()) error_ = CellName(level, i) + ": " + what;
    return false;
  }

  void CheckCell(int level, int i) {
    const OctreeCell& c = o_.cells[level][i];
    const int size = 1 << level;
    if (c.level != level) { Fail(level, i, "stores level " + std::to_string(c.level)); return; }
    if (c.x < 0 || c.y < 0 || c.z < 0 || c.x >= size || c.y >= size || c.z >= size) {
      Fail(level, i, "coordinates outside the level");
      return;
    }
    if (!CheckParent(level, i) || !CheckChildren(level, i) || !CheckNeighbours(level, i)) return;
    if (c.leaf && level < o_.FinestLevel() && !CheckInteriorLeaf(level, i)) return;
    if (level == o_.FinestLevel()) CheckSides(level, i);
  }

  bool CheckParent(int level, int i) {
    const OctreeCell& c = o_.cells[level][i];
    if (level == 0) return true;
    if (c.parent < 0 || c.parent >= static_cast<int>(o_.cells[level - 1].size())) return Fail(level, i, "invalid parent");
    const OctreeCell& p = o_.cells[level - 1][c.parent];
    const int octant = (c.x & 1) + 2 * (c.y & 1) + 4 * (c.z & 1);
    if (p.children[octant] != i) return Fail(level, i, "its parent does not name it as child " + std::to_string(octant));
    if (p.x != (c.x >> 1) || p.y != (c.y >> 1) || p.z != (c.z >> 1)) return Fail(level, i, "lies outside its parent");
    return true;
  }

  bool CheckChildren(int level, int i) {
    const OctreeCell& c = o_.cells[level][i];
    const bool finest = level == o_.FinestLevel();
    if (c.leaf) {
      // finest cells have no octants; the root of a single-voxel tree keeps -1 like other leaves
      const int expected = (finest && level > 0) ? -2 : -1;
      for (int k = 0; k < 8; ++k) {
        if (c.children[k] != expected) return Fail(level, i, "leaf with child entry " + std::to_string(c.children[k]));
      }
      return true;
    }
    if (finest) return Fail(level, i, "finest cell that is not a leaf");
    int existing = 0;
    for (int k = 0; k < 8; ++k) {
      const int child = c.children[k];
      if (child == -2) continue;
      if (child < 0 || child >= static_cast<int>(o_.cells[level + 1].size())) {
        return Fail(level, i, "subdivided cell with child entry " + std::to_string(child));
      }
      if (o_.cells[level + 1][child].parent != i) return Fail(level, i, "child " + std::to_string(k) + " names another parent");
      ++existing;
    }
    if (existing == 0) return Fail(level, i, "subdivided cell without children");
    return true;
  }

  bool CheckNeighbours(int level, int i) {
    const OctreeCell& c = o_.cells[level][i];
    if (c.neighbours[kSelfSlot] != i) return Fail(level, i, "slot 13 does not name the cell itself");
    if (level == 0) return true;
    const int count = static_cast<int>(o_.cells[level].size());
    for (int k = 0; k < 27; ++k) {
      const int entry = c.neighbours[k];
      const int tx = c.x + k % 3 - 1, ty = c.y + (k % 9) / 3 - 1, tz = c.z + k / 9 - 1;
      const std::string slot = "neighbour slot " + std::to_string(k);
      if (entry >= 0) {
        if (entry >= count) return Fail(level, i, slot + " names a missing cell");
        const OctreeCell& d = o_.cells[level][entry];
        if (d.x != tx || d.y != ty || d.z != tz) return Fail(level, i, slot + " names a cell at the wrong place");
        if (d.neighbours[26 - k] != i) return Fail(level, i, slot + " is not mutual");
        continue;
      }
      const Location at = Locate(o_, level, tx, ty, tz);
      if (entry == -1) {
        if (at.index >= 0) return Fail(level, i, slot + " is -1 but a cell of the level is there");
        if (at.index == -2) return Fail(level, i, slot + " is -1 but nothing is there");
        // this check from the finer side is what enforces the restriction: a leaf two
        // or more levels coarser covers a place next to a cell of this level
        if (at.leafLevel != level - 1) {
          return Fail(level, i, slot + " is covered by a leaf of level " + std::to_string(at.leafLevel) +
                                    ": neighbouring leaves differ by more than one level");
        }
      } else if (entry == -2) {
        if (at.index != -2) return Fail(level, i, slot + " is -2 but the place is covered");
      } else {
        return Fail(level, i, slot + " holds " + std::to_string(entry));
      }
    }
    return true;
  }

  // Crossed voxels are those with a seed: the voxelizer drops the fragments of
  // triangles without area, so every crossing it records has a normal and
  // leaves a seed, and cuts add theirs only to finest cells.
  bool CheckInteriorLeaf(int level, int i) {
    if (!o_.voxelGrid) return true;
    const VoxelGrid& grid = *o_.voxelGrid;
    const OctreeCell& c = o_.cells[level][i];
    const int w = o_.CellWidth(level);
    for (int z = c.z * w; z < (c.z + 1) * w && z < grid.resolution.z; ++z) {
      for (int y = c.y * w; y < (c.y + 1) * w && y < grid.resolution.y; ++y) {
        for (int x = c.x * w; x < (c.x + 1) * w && x < grid.resolution.x; ++x) {
          const int32_t v = grid.Index(x, y, z);
          if (!grid.records[v].inside) return Fail(level, i, "coarse leaf covers an outside voxel");
          if ((grid.hasSeed[v >> 6] >> (v & 63)) & 1) return Fail(level, i, "coarse leaf covers a crossed voxel");
        }
      }
    }
    return true;
  }

  bool CheckSides(int level, int i) {
    const OctreeCell& c = o_.cells[level][i];
    for (int s = 0; s < 6; ++s) {
      if (c.links[s] == std::isfinite(c.offsets[s])) {
        return Fail(level, i, "side " + std::to_string(s) + (c.links[s] ? " is linked but has a crossing" : " is severed without a crossing"));
      }
    }
    return true;
  }

  // Cells present at the build appear in depth-first pre-order within each level.
  void CheckDepthFirstOrder() {
    if (o_.builtCellCounts.size() != o_.cells.size()) return;
    std::vector<int> expected(o_.levelCount, 0);
    std::vector<std::pair<int, int>> stack{{0, 0}};
    while (!stack.empty()) {
      const auto [level, index] = stack.back();
      stack.pop_back();
      if (index < o_.builtCellCounts[level]) {
        if (index != expected[level]) {
          Fail(level, index, "depth-first numbering expects index " + std::to_string(expected[level]) + " here");
          return;
        }
        ++expected[level];
      }
      if (level + 1 >= o_.levelCount) continue;
      for (int octant = 7; octant >= 0; --octant) {
        const int child = o_.cells[level][index].children[octant];
        if (child >= 0) stack.emplace_back(level + 1, child);
      }
    }
  }

  const Octree& o_;
  std::string error_;
};

}  // namespace

std::string ValidateOctree(const Octree& octree) { return Validator(octree).Run(); }
