#include "geometry/octree.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <ostream>
#include <utility>

#include "geometry/surface_mesh.h"
#include "geometry/voxelizer.h"

namespace {

constexpr float kNoCrossing = std::numeric_limits<float>::infinity();

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Asks for huge pages on the whole 2 MB pages inside a reserved cell array:
// cells are 1.5 KB records, and touching them page by page when a build or a
// cut appends thousands of them costs more than filling them. Only a hint.
void AdviseHugePages(const void* data, size_t bytes) {
  constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Tops up a level's room for later refinement to twice its cells once the
// restriction has appended its own: address space only, untouched pages cost
// no memory, so that cuts append cells without moving a level (a move copies
// the whole level and faults the new pages in). Left out when even the
// address space would not fit.
void ReserveRefinementRoom(std::vector<OctreeCell>& level) {
  const size_t room = 2 * level.size() + 64;
  if (level.capacity() >= room) return;
  if (2.0 * double(room) * sizeof(OctreeCell) >= double(AvailableMemoryBytes())) return;
  level.reserve(room);
  AdviseHugePages(level.data(), level.capacity() * sizeof(OctreeCell));
}

// Smallest k with 2^k >= n.
int CeilLog2(int n) {
  int k = 0;
  while ((int64_t(1) << k) < n) ++k;
  return k;
}

// A fully initialised leaf without neighbours; children -2 at the finest level.
OctreeCell MakeCell(int level, int x, int y, int z, int parent, bool finest) {
  OctreeCell cell;
  cell.level = level;
  cell.x = x;
  cell.y = y;
  cell.z = z;
  cell.parent = parent;
  for (int o = 0; o < 8; ++o) cell.children[o] = finest ? -2 : -1;
  for (int k = 0; k < 27; ++k) cell.neighbours[k] = 0;
  for (int s = 0; s < 6; ++s) {
    cell.offsets[s] = kNoCrossing;
    cell.normals[s] = Vec3f();
    cell.links[s] = true;
  }
  // no surface vertex yet: -1 never turns into a triangle corner
  for (int c = 0; c < 8; ++c) {
    for (int m = 0; m < 8; ++m) cell.cornerSurface[c][m] = -1;
  }
  return cell;
}

// Per level of the tree, one byte per cell position: any voxel inside, and
// every voxel (clipped to the grid) interior. Built bottom up from the voxels.
class OccupancyPyramid {
 public:
  static constexpr uint8_t kAnyInside = 1;
  static constexpr uint8_t kAllInterior = 2;

  OccupancyPyramid(const VoxelModel& model, int levelCount) : levels_(levelCount), dims_(levelCount) {
    const int finest = levelCount - 1;
    dims_[finest] = model.resolution;
    levels_[finest].resize(static_cast<size_t>(model.flags.size()));
    for (size_t v = 0; v < model.flags.size(); ++v) {
      const uint8_t f = model.flags[v];
      levels_[finest][v] = ((f & VoxelModel::kInside) ? kAnyInside : 0) | ((f & VoxelModel::kInterior) ? kAllInterior : 0);
    }
    for (int level = finest - 1; level >= 0; --level) ReduceLevel(level);
  }

  bool Contains(int level, int x, int y, int z) const {
    const Vec3i& d = dims_[level];
    return x >= 0 && y >= 0 && z >= 0 && x < d.x && y < d.y && z < d.z;
  }
  uint8_t Flags(int level, int x, int y, int z) const {
    const Vec3i& d = dims_[level];
    return levels_[level][static_cast<size_t>(x) + static_cast<size_t>(d.x) * (y + static_cast<size_t>(d.y) * z)];
  }

 private:
  void ReduceLevel(int level) {
    const Vec3i& fine = dims_[level + 1];
    Vec3i& d = dims_[level];
    d = Vec3i((fine.x + 1) / 2, (fine.y + 1) / 2, (fine.z + 1) / 2);
    levels_[level].assign(static_cast<size_t>(d.x) * d.y * d.z, 0);
    for (int z = 0; z < d.z; ++z) {
      for (int y = 0; y < d.y; ++y) {
        for (int x = 0; x < d.x; ++x) {
          uint8_t any = 0, all = kAllInterior;
          for (int o = 0; o < 8; ++o) {
            const int cx = 2 * x + (o & 1), cy = 2 * y + ((o >> 1) & 1), cz = 2 * z + (o >> 2);
            if (!Contains(level + 1, cx, cy, cz)) continue;
            const uint8_t f = Flags(level + 1, cx, cy, cz);
            any |= f & kAnyInside;
            all &= f;
          }
          levels_[level][static_cast<size_t>(x) + static_cast<size_t>(d.x) * (y + static_cast<size_t>(d.y) * z)] =
              any | (all & kAllInterior);
        }
      }
    }
  }

  std::vector<std::vector<uint8_t>> levels_;
  std::vector<Vec3i> dims_;
};

}  // namespace

Octree::Octree() = default;
Octree::~Octree() = default;

void Octree::Clear() {
  voxelGrid.reset();
  levelCount = 0;
  cells.clear();
  builtCellCounts.clear();
  cutTriangleVertices.clear();
  surfaceTriangles.clear();
  surfaceTriangleTag.clear();
  vertexTriangleCount.clear();
  vertexTriangleStart.clear();
  vertexTriangles.clear();
  surfaceVertexLevel.clear();
  surfaceVertexCell.clear();
  surfaceVertexLocal.clear();
  surfacePositions.clear();
  surfacePreviousPositions.clear();
  surfaceVertexCount = 0;
  buildTimings = OctreeBuildTimings();
}

bool Octree::BuildFromMesh(const SurfaceMesh& surfaceMesh, const Vec3d& voxelSize_, int maxInteriorCellWidth,
                           std::wostream* log) {
  Clear();
  mesh = &surfaceMesh;
  voxelSize = voxelSize_;
  meshBoxCenter = Vec3d(surfaceMesh.bboxCenter);
  meshBoxHalfExtent = Vec3d(surfaceMesh.bboxHalfExtent);

  if (!ComputeVoxelResolution(surfaceMesh, voxelSize, resolution, log)) return false;
  // the estimate before the build keeps absurd grids out; should memory still
  // run out (other processes take it meanwhile), the build fails the same way
  try {
    if (Build(surfaceMesh, maxInteriorCellWidth, log)) return true;
  } catch (const std::bad_alloc&) {
    if (log) {
      *log << L"ERROR: Out of memory while building the octree for voxel grid resolution " << resolution.x << L" x "
           << resolution.y << L" x " << resolution.z << std::endl;
    }
  }
  Clear();
  return false;
}

bool Octree::Build(const SurfaceMesh& surfaceMesh, int maxInteriorCellWidth, std::wostream* log) {
  auto start = std::chrono::steady_clock::now();
  voxelGrid = std::make_unique<VoxelGrid>(resolution, voxelSize);
  voxelGrid->mesh = &surfaceMesh;
  VoxelModel model;
  if (!Voxelize(surfaceMesh, voxelSize, *voxelGrid, model, log)) return false;
  buildTimings.voxelize = SecondsSince(start);

  levelCount = std::max({CeilLog2(resolution.x), CeilLog2(resolution.y), CeilLog2(resolution.z)}) + 1;
  start = std::chrono::steady_clock::now();
  CreateRoot();
  if (!RefineTopDown(model, maxInteriorCellWidth, log)) return false;
  buildTimings.refine = SecondsSince(start);

  start = std::chrono::steady_clock::now();
  CopyVoxelCrossings(model);
  model.Release();
  buildTimings.copyCrossings = SecondsSince(start);

  start = std::chrono::steady_clock::now();
  ComputeNeighbours();
  buildTimings.neighbours = SecondsSince(start);

  start = std::chrono::steady_clock::now();
  RenumberDepthFirst();
  buildTimings.renumber = SecondsSince(start);

  start = std::chrono::steady_clock::now();
  ComputeRestCorners();
  buildTimings.corners = SecondsSince(start);

  for (int level = 1; level < levelCount; ++level) ReserveRefinementRoom(cells[level]);
  builtCellCounts.resize(levelCount);
  for (int level = 0; level < levelCount; ++level) builtCellCounts[level] = static_cast<int32_t>(cells[level].size());
  return true;
}

void Octree::CreateRoot() {
  cells.assign(levelCount, std::vector<OctreeCell>());
  OctreeCell root = MakeCell(0, 0, 0, 0, -2, false);
  for (int k = 0; k < 27; ++k) root.neighbours[k] = -2;
  root.neighbours[kSelfSlot] = 0;
  cells[0].push_back(root);
}

bool Octree::RefineTopDown(const VoxelModel& model, int maxInteriorCellWidth, std::wostream* log) {
  const OccupancyPyramid pyramid(model, levelCount);
  std::vector<uint8_t> occupancy;  // per cell of the level: bit o set for an occupied octant
  for (int level = 0; level + 1 < levelCount; ++level) {
    const int width = CellWidth(level);
    const int32_t count = static_cast<int32_t>(cells[level].size());
    occupancy.assign(count, 0);
    size_t children = 0;
    for (int32_t i = 0; i < count; ++i) {
      const OctreeCell& cell = cells[level][i];
      const bool allInterior = pyramid.Flags(level, cell.x, cell.y, cell.z) & OccupancyPyramid::kAllInterior;
      if (allInterior && width <= maxInteriorCellWidth) continue;
      uint8_t bits = 0;
      for (int o = 0; o < 8; ++o) {
        const int cx = 2 * cell.x + (o & 1), cy = 2 * cell.y + ((o >> 1) & 1), cz = 2 * cell.z + (o >> 2);
        if (pyramid.Contains(level + 1, cx, cy, cz) &&
            (pyramid.Flags(level + 1, cx, cy, cz) & OccupancyPyramid::kAnyInside)) {
          bits |= uint8_t(1 << o);
        }
      }
      occupancy[i] = bits;
      children += static_cast<size_t>(__builtin_popcount(bits));
    }
    // the exact size of the level, checked before it is allocated
    const int64_t available = AvailableMemoryBytes();
    const double bytes = double(children) * sizeof(OctreeCell);
    if (bytes > double(available)) {
      if (log) {
        *log << L"ERROR: Voxel grid resolution " << resolution.x << L" x " << resolution.y << L" x " << resolution.z
             << L" needs about " << std::llround(bytes / 1048576.0) << L" MB for the " << children
             << L" octree cells of level " << level + 1 << L", more than the " << available / 1048576
             << L" MB of memory available" << std::endl;
      }
      return false;
    }
    // room for the restriction and for cuts to refine later without moving the level:
    // reserved pages stay untouched, and so cost no memory, until cells are appended;
    // the room is left out when even the address space it takes would not fit
    const size_t room = 2.0 * bytes < double(available) ? 2 * children + 64 : children;
    cells[level + 1].reserve(room);
    AdviseHugePages(cells[level + 1].data(), cells[level + 1].capacity() * sizeof(OctreeCell));
    for (int32_t i = 0; i < count; ++i) {
      if (!occupancy[i]) continue;
      bool occupied[8];
      for (int o = 0; o < 8; ++o) occupied[o] = (occupancy[i] >> o) & 1;
      Subdivide(level, i, occupied);
    }
  }
  return true;
}

void Octree::Subdivide(int level, int cell, const bool occupied[8]) {
  const bool finest = level + 1 == levelCount - 1;
  std::vector<OctreeCell>& next = cells[level + 1];
  OctreeCell& parent = cells[level][cell];
  parent.leaf = false;
  const int px = parent.x, py = parent.y, pz = parent.z;
  for (int o = 0; o < 8; ++o) {
    if (!occupied[o]) {
      cells[level][cell].children[o] = -2;
      continue;
    }
    const int32_t index = static_cast<int32_t>(next.size());
    next.push_back(MakeCell(level + 1, 2 * px + (o & 1), 2 * py + ((o >> 1) & 1), 2 * pz + (o >> 2), cell, finest));
    cells[level][cell].children[o] = index;
  }
}

void Octree::CopyVoxelCrossings(const VoxelModel& model) {
  const int finest = FinestLevel();
  for (OctreeCell& cell : cells[finest]) {
    const int32_t voxel = model.Index(cell.x, cell.y, cell.z);
    for (int s = 0; s < 6; ++s) {
      cell.offsets[s] = model.Offset(voxel, s);
      cell.normals[s] = model.Normal(voxel, s);
      cell.links[s] = std::isinf(cell.offsets[s]);
    }
  }
}

void Octree::ComputeNeighbours() {
  for (int level = levelCount - 1; level >= 1; --level) {
    // restriction only appends cells to coarser levels, so this level's size is fixed here
    const int32_t count = static_cast<int32_t>(cells[level].size());
    for (int32_t i = 0; i < count; ++i) {
      for (int k = 0; k < 27; ++k) {
        const int neighbour = FindNeighbour(level, i, k);
        cells[level][i].neighbours[k] = neighbour;
      }
    }
  }
}

void Octree::OctantsInsideGrid(int level, int cell, bool occupied[8]) const {
  const OctreeCell& c = cells[level][cell];
  const int childWidth = CellWidth(level + 1);
  for (int o = 0; o < 8; ++o) {
    const int64_t vx = int64_t(2 * c.x + (o & 1)) * childWidth;
    const int64_t vy = int64_t(2 * c.y + ((o >> 1) & 1)) * childWidth;
    const int64_t vz = int64_t(2 * c.z + (o >> 2)) * childWidth;
    occupied[o] = vx < resolution.x && vy < resolution.y && vz < resolution.z;
  }
}

int Octree::FindNeighbour(int level, int cell, int slot) {
  const OctreeCell& start = cells[level][cell];
  const int size = 1 << level;
  const int tx = start.x + slot % 3 - 1, ty = start.y + (slot % 9) / 3 - 1, tz = start.z + slot / 9 - 1;
  if (tx < 0 || ty < 0 || tz < 0 || tx >= size || ty >= size || tz >= size) return -2;

  // climb to the deepest common ancestor
  int ancestorLevel = level, ancestor = cell;
  while (true) {
    const OctreeCell& a = cells[ancestorLevel][ancestor];
    const int shift = level - ancestorLevel;
    if (a.x == (tx >> shift) && a.y == (ty >> shift) && a.z == (tz >> shift)) break;
    ancestor = a.parent;
    --ancestorLevel;
  }
  // descend towards the target, splitting leaves two or more levels too coarse
  int current = ancestor;
  for (int l = ancestorLevel + 1; l <= level; ++l) {
    const int shift = level - l;
    const int octant = ((tx >> shift) & 1) + 2 * ((ty >> shift) & 1) + 4 * ((tz >> shift) & 1);
    int child = cells[l - 1][current].children[octant];
    if (child == -2) return -2;
    if (child == -1) {
      if (l == level) return -1;
      bool occupied[8];
      OctantsInsideGrid(l - 1, current, occupied);
      Subdivide(l - 1, current, occupied);
      child = cells[l - 1][current].children[octant];
      if (child < 0) return -2;
    }
    current = child;
  }
  return current;
}

int Octree::FindLeaf(const Vec3i& voxel, int* leafLevel) const {
  if (cells.empty() || cells[0].empty()) return -1;
  if (voxel.x < 0 || voxel.y < 0 || voxel.z < 0 || voxel.x >= resolution.x || voxel.y >= resolution.y ||
      voxel.z >= resolution.z) {
    return -1;
  }
  int level = 0, current = 0;
  while (!cells[level][current].leaf) {
    const int shift = levelCount - 2 - level;
    const int octant = ((voxel.x >> shift) & 1) + 2 * ((voxel.y >> shift) & 1) + 4 * ((voxel.z >> shift) & 1);
    const int child = cells[level][current].children[octant];
    if (child < 0) return -1;
    current = child;
    ++level;
  }
  if (leafLevel) *leafLevel = level;
  return current;
}

void Octree::RenumberDepthFirst() {
  // old -> new index per level, in depth-first pre-order with octants 0..7
  std::vector<std::vector<int32_t>> newIndex(levelCount);
  std::vector<int32_t> nextIndex(levelCount, 0);
  for (int level = 0; level < levelCount; ++level) newIndex[level].assign(cells[level].size(), -1);
  std::vector<std::pair<int, int32_t>> stack;
  stack.emplace_back(0, 0);
  while (!stack.empty()) {
    const auto [level, index] = stack.back();
    stack.pop_back();
    newIndex[level][index] = nextIndex[level]++;
    if (level + 1 >= levelCount) continue;
    const OctreeCell& cell = cells[level][index];
    for (int o = 7; o >= 0; --o) {
      if (cell.children[o] >= 0) stack.emplace_back(level + 1, cell.children[o]);
    }
  }

  // move every cell to its new place by following the permutation's cycles
  for (int level = 0; level < levelCount; ++level) {
    std::vector<int32_t> target = newIndex[level];
    std::vector<OctreeCell>& row = cells[level];
    for (int32_t i = 0; i < static_cast<int32_t>(row.size()); ++i) {
      while (target[i] != i) {
        const int32_t j = target[i];
        std::swap(row[i], row[j]);
        std::swap(target[i], target[j]);
      }
    }
  }

  auto remap = [](const std::vector<int32_t>& map, int32_t& index) {
    if (index >= 0) index = map[index];
  };
  for (int level = 0; level < levelCount; ++level) {
    for (OctreeCell& cell : cells[level]) {
      if (level > 0) remap(newIndex[level - 1], cell.parent);
      if (level + 1 < levelCount) {
        for (int o = 0; o < 8; ++o) remap(newIndex[level + 1], cell.children[o]);
      }
      for (int k = 0; k < 27; ++k) remap(newIndex[level], cell.neighbours[k]);
    }
  }
}

void Octree::ComputeRestCorners() {
  for (int level = 0; level < levelCount; ++level) {
    const double width = CellWidth(level);
    for (OctreeCell& cell : cells[level]) {
      for (int c = 0; c < 8; ++c) {
        cell.corners[c] = Vec3d((cell.x + (c & 1)) * width * voxelSize.x, (cell.y + ((c >> 1) & 1)) * width * voxelSize.y,
                                (cell.z + (c >> 2)) * width * voxelSize.z);
        cell.cornerForces[c] = Vec3d();
        cell.cornerFixed[c] = false;
      }
      cell.wasLeaf = false;
      cell.adjacencyCurrent = false;
      cell.cornerVerticesCurrent = false;
    }
  }
}
