// Cut insertion: cut triangles become crossings on the finest cells they
// separate; leaves are refined on the way so that every crossing sits
// between two voxel-sized cells, keeping the tree restricted.
#include <cassert>
#include <cmath>

#include "geometry/octree.h"
#include "geometry/triangle_rasterizer.h"

namespace {

// Trilinear interpolation of eight corner values at fractions f in [0, 1]^3.
Vec3d Trilinear(const Vec3d corners[8], double fx, double fy, double fz) {
  Vec3d result;
  for (int c = 0; c < 8; ++c) {
    const double w = ((c & 1) ? fx : 1.0 - fx) * (((c >> 1) & 1) ? fy : 1.0 - fy) * ((c >> 2) ? fz : 1.0 - fz);
    result += corners[c] * w;
  }
  return result;
}

// Corner c of child o lies at lattice point (bits of o + bits of c) / 2 of the parent.
void InterpolateCornerSet(const Vec3d parent[8], int octant, Vec3d child[8]) {
  for (int c = 0; c < 8; ++c) {
    const double fx = ((octant & 1) + (c & 1)) * 0.5;
    const double fy = (((octant >> 1) & 1) + ((c >> 1) & 1)) * 0.5;
    const double fz = ((octant >> 2) + (c >> 2)) * 0.5;
    child[c] = Trilinear(parent, fx, fy, fz);
  }
}

}  // namespace

void Octree::InsertCutTriangle(const Vec3f& p0, const Vec3f& p1, const Vec3f& p2, int32_t tag) {
  cutTriangleVertices.push_back(p0);
  cutTriangleVertices.push_back(p1);
  cutTriangleVertices.push_back(p2);
  if (cells.empty()) return;

  const Vec3d q[3] = {Vec3d(p0), Vec3d(p1), Vec3d(p2)};
  Vec3d normal = Normalize(Cross(q[1] - q[0], q[2] - q[0]));
  const Vec3d voxels[3] = {Div(q[0], voxelSize), Div(q[1], voxelSize), Div(q[2], voxelSize)};
  for (int axis = 0; axis < 3; ++axis) {
    // the sign changes accumulate: after this axis the normal points along +axis
    if (normal[axis] < 0.0) normal = -normal;
    InsertCrossingsAlongAxis(voxels, axis, normal, tag);
  }
}

void Octree::InsertCrossingsAlongAxis(const Vec3d vertices[3], int axis, Vec3d& normal, int32_t tag) {
  const RasterAxes axes = RasterAxesAlong(axis);
  const Vec3f upperNormal(normal);
  const Vec3f lowerNormal(-normal);
  RasterizeTriangle(vertices, axis, resolution, [&](int j, int i, double depth) {
    const double t = depth - 0.5;
    // lines crossed outside the grid's depth range reach no voxel; checked before any conversion
    if (!(t >= -1.0 && t < double(resolution[axis]))) return;
    const double k = std::floor(t);
    const float fraction = static_cast<float>(t - k);
    Vec3i below;
    below[axes.depth] = static_cast<int>(k);
    below[axes.column] = j;
    below[axes.row] = i;
    Vec3i above = below;
    above[axis] += 1;
    AddCutCrossing(below, 2 * axis + 1, fraction, upperNormal, tag);
    AddCutCrossing(above, 2 * axis, 1.0f - fraction, lowerNormal, tag);
  });
}

int Octree::AddCutCrossing(const Vec3i& voxel, int side, float offset, const Vec3f& normal, int32_t tag) {
  if (cells.empty() || side < 0 || side > 5 || !std::isfinite(offset) || !IsFinite(normal)) return -1;
  const int64_t span = int64_t(1) << (levelCount - 1);
  for (int a = 0; a < 3; ++a) {
    // voxels past the grid's end have no distance record even where a cell reaches them
    if (voxel[a] < 0 || voxel[a] >= span || voxel[a] >= resolution[a]) return -1;
  }

  int current = 0;
  for (int level = 0; level + 1 < levelCount; ++level) {
    const int shift = levelCount - 2 - level;
    const int octant = ((voxel.x >> shift) & 1) + 2 * ((voxel.y >> shift) & 1) + 4 * ((voxel.z >> shift) & 1);
    int child = cells[level][current].children[octant];
    if (child == -2) return -1;
    if (child == -1) {
      RefineLeaf(level, current);
      child = cells[level][current].children[octant];
      if (child < 0) return -1;
    }
    current = child;
  }

  const int finest = FinestLevel();
  if (voxelGrid) {
    const double signedOffset = (side & 1) ? double(offset) : -double(offset);
    voxelGrid->AddSurfaceSample(voxelGrid->Index(voxel.x, voxel.y, voxel.z), side / 2, signedOffset, Vec3d(normal));
    voxelGrid->EnqueueVoxel(voxel);
  }
  OctreeCell& cell = cells[finest][current];
  cell.offsets[side] = offset;
  cell.normals[side] = normal;
  cell.cutTag[side] = tag;
  cell.links[side] = false;
  cell.adjacencyCurrent = false;
  cell.cornerVerticesCurrent = false;
  for (int k = 0; k < 27; ++k) {
    const int neighbour = cell.neighbours[k];
    if (neighbour >= 0) cells[finest][neighbour].cornerVerticesCurrent = false;
  }
  InvalidateSurfaceAroundSide(current, side);
  return current;
}

void Octree::InvalidateSurfaceAroundSide(int finestCell, int side) {
  const int finest = FinestLevel();
  const int axis = side / 2, upper = side & 1;
  for (int c = 0; c < 8; ++c) {
    if (((c >> axis) & 1) != upper) continue;
    // every finest cell of the block around corner c shares that point as its corner 7 - m
    for (int m = 0; m < 8; ++m) {
      const int dx = (c & 1) + (m & 1) - 1, dy = ((c >> 1) & 1) + ((m >> 1) & 1) - 1, dz = (c >> 2) + (m >> 2) - 1;
      const int member = cells[finest][finestCell].neighbours[NeighbourSlot(dx, dy, dz)];
      if (member >= 0) cells[finest][member].cornerDone[7 - m] = false;
    }
  }
}

void Octree::RefineLeaf(int level, int cell) {
  // finest cells and cells already split have nothing to refine
  if (!cells[level][cell].leaf || level + 1 >= levelCount) return;
  // coarser neighbours first, so that no leaf ends up two levels coarser than the children
  for (int k = 0; k < 27; ++k) {
    if (cells[level][cell].neighbours[k] != -1) continue;
    const OctreeCell& c = cells[level][cell];
    const OctreeCell& parent = cells[level - 1][c.parent];
    const int tx = c.x + k % 3 - 1, ty = c.y + (k % 9) / 3 - 1, tz = c.z + k / 9 - 1;
    const int coarse = parent.neighbours[NeighbourSlot((tx >> 1) - parent.x, (ty >> 1) - parent.y, (tz >> 1) - parent.z)];
    if (coarse >= 0 && cells[level - 1][coarse].leaf) RefineLeaf(level - 1, coarse);
  }

  bool occupied[8];
  OctantsInsideGrid(level, cell, occupied);
  Subdivide(level, cell, occupied);

  for (int k = 0; k < 27; ++k) {
    const int neighbour = cells[level][cell].neighbours[k];
    if (neighbour < 0) continue;
    cells[level][neighbour].cornerVerticesCurrent = false;
  }
  for (int side = 0; side < 6; ++side) {
    const int neighbour = cells[level][cell].neighbours[kSideSlots[side]];
    if (neighbour >= 0) cells[level][neighbour].adjacencyCurrent = false;
  }
  InterpolateChildCorners(level, cell);
  ConnectChildNeighbours(level, cell);
}

void Octree::InterpolateChildCorners(int level, int cell) {
  const OctreeCell& parent = cells[level][cell];
  // children no finer than the simulation level are elements of their own
  const bool ownElements = embeddedLevels < levelCount - level - 1;
  for (int octant = 0; octant < 8; ++octant) {
    const int index = parent.children[octant];
    if (index < 0) continue;
    OctreeCell& child = cells[level + 1][index];
    InterpolateCornerSet(parent.corners, octant, child.corners);
    InterpolateCornerSet(parent.previousCorners, octant, child.previousCorners);
    for (int c = 0; c < 8; ++c) {
      child.cornerForces[c] = Vec3d();
      child.cornerFixed[c] = false;
    }
    if (!embedded) continue;
    if (ownElements) {
      InterpolateCornerSet(parent.savedCorners, octant, child.savedCorners);
      InterpolateCornerSet(parent.savedPreviousCorners, octant, child.savedPreviousCorners);
    } else {
      for (int c = 0; c < 8; ++c) {
        child.savedCorners[c] = parent.savedCorners[c];
        child.savedPreviousCorners[c] = parent.savedPreviousCorners[c];
      }
    }
  }
}

void Octree::ConnectChildNeighbours(int level, int cell) {
  const int childLevel = level + 1;
  const OctreeCell parent = cells[level][cell];
  for (int octant = 0; octant < 8; ++octant) {
    const int child = parent.children[octant];
    const int cx = 2 * parent.x + (octant & 1), cy = 2 * parent.y + ((octant >> 1) & 1), cz = 2 * parent.z + (octant >> 2);
    for (int k = 0; k < 27; ++k) {
      const int tx = cx + k % 3 - 1, ty = cy + (k % 9) / 3 - 1, tz = cz + k / 9 - 1;
      // the parent's neighbourhood covers every place around its children
      const int around = parent.neighbours[NeighbourSlot((tx >> 1) - parent.x, (ty >> 1) - parent.y, (tz >> 1) - parent.z)];
      assert(around != -1);
      int entry = -2;
      if (around >= 0) {
        const OctreeCell& coarse = cells[level][around];
        entry = coarse.leaf ? -1 : coarse.children[(tx & 1) + 2 * (ty & 1) + 4 * (tz & 1)];
      }
      if (child >= 0) cells[childLevel][child].neighbours[k] = entry;
      // the cells around now see the new child (or nothing, for an octant outside the grid)
      if (entry >= 0 && k != kSelfSlot) {
        OctreeCell& other = cells[childLevel][entry];
        const int mirrored = child >= 0 ? child : -2;
        if (other.neighbours[26 - k] != mirrored) {
          other.neighbours[26 - k] = mirrored;
          other.adjacencyCurrent = false;
          other.cornerVerticesCurrent = false;
        }
      }
    }
  }
}
