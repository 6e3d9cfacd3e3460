#pragma once
// One cell of the octree: a plain record, copied as a whole when levels are
// renumbered. Corner c and child octant o are numbered x + 2y + 4z; sides and
// faces are 0 = -x, 1 = +x, 2 = -y, 3 = +y, 4 = -z, 5 = +z.
#include <cstdint>

#include "geometry/vec.h"

// Neighbour slot of the same-level cell at offset (dx, dy, dz) in {-1, 0, 1}^3.
inline constexpr int NeighbourSlot(int dx, int dy, int dz) { return (dx + 1) + 3 * (dy + 1) + 9 * (dz + 1); }
inline constexpr int kSelfSlot = 13;
// Neighbour slot across each side -x, +x, -y, +y, -z, +z.
inline constexpr int kSideSlots[6] = {12, 14, 10, 16, 4, 22};

// Cache-line aligned, with the fields the corner copy of every time step
// touches first: the positions then fill seven lines of each leaf instead of
// being picked from across its 1.5 KB.
struct alignas(64) OctreeCell {
  Vec3d previousCorners[8];
  Vec3d corners[8];       // current corner positions (octree frame, mesh units)
  int32_t element = 0;    // level-0 cell of the finite element model
  bool leaf = true;
  bool wasLeaf = false;
  bool cornerFixed[8] = {false, false, false, false, false, false, false, false};
  Vec3d cornerForces[8];
  int32_t level = 0;            // octree depth, 0 = root
  int32_t x = 0, y = 0, z = 0;  // coordinates at this level
  int32_t parent = -2;          // index at level - 1; -2 for the root
  // child index at level + 1; -1: not subdivided; -2: no child in that octant
  int32_t children[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  // same-level cell at offset (dx, dy, dz) in slot (dx+1) + 3(dy+1) + 9(dz+1);
  // -1: covered by a leaf one level coarser; -2: nothing there
  int32_t neighbours[27];
  bool surfaceMark = false;
  float offsets[6];       // voxel units from the cell centre to the side's crossing; +inf: none
  Vec3f normals[6];       // surface normal at each crossing
  int32_t cutTag[6] = {0, 0, 0, 0, 0, 0};
  bool links[6];          // true while the surface does not separate the side
  int32_t cornerSurface[8][8];  // [corner][block member] -> surface vertex
  bool cornerDone[8] = {false, false, false, false, false, false, false, false};
  Vec3d savedPreviousCorners[8];  // corners of the leaf's simulation element before a cut
  Vec3d savedCorners[8];
  bool adjacencyCurrent = false;
  bool cornerVerticesCurrent = false;
};
