#pragma once
// Voxelization of a closed triangle surface by depth peeling: the surface is
// scan-converted along each axis, the sorted crossings of every line of voxel
// centres alternate between entering and leaving the body. The x pass decides
// inside and outside; the y and z passes only warn where they disagree.
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "geometry/vec.h"

class SurfaceMesh;
class VoxelGrid;

// Surface crossings of one voxel, per side s = 2 axis + (0 lower, 1 upper).
struct VoxelCrossings {
  float offsets[6];  // voxel units from the voxel centre to the crossing; +inf: none
  Vec3f normals[6];  // unit normal of the triangle that made the crossing
};

// The voxel model: transient, it lives only while the octree is built.
struct VoxelModel {
  static constexpr uint8_t kInside = 1;
  static constexpr uint8_t kInterior = 2;  // inside and crossed on no side

  Vec3d origin;                          // minimum corner of the mesh's box (mesh units)
  Vec3i resolution;                      // n_x, n_y, n_z
  int64_t insideCount = 0;
  std::vector<uint8_t> flags;            // per voxel: kInside | kInterior
  std::vector<int32_t> crossingSlot;     // per voxel: index into crossings, -1: no crossing
  std::vector<VoxelCrossings> crossings; // only for voxels with a crossing

  int32_t Index(int x, int y, int z) const { return x + resolution.x * (y + resolution.y * z); }
  bool IsInside(int32_t voxel) const { return flags[voxel] & kInside; }
  bool IsInterior(int32_t voxel) const { return flags[voxel] & kInterior; }
  float Offset(int32_t voxel, int side) const;
  Vec3f Normal(int32_t voxel, int side) const;
  void Release();
};

// Bytes of memory available to this process now: MemAvailable of the
// kernel, or the physical memory where that is unknown.
int64_t AvailableMemoryBytes();

// Checks the mesh and the voxel size and computes n_a = ceil(2 halfExtent_a / s_a).
// False, with an ERROR line, for an empty or broken mesh, a voxel size that is
// not positive and finite, or a grid too large to index, or one whose build
// (grid, voxel model, fragment columns, octree cells) needs more memory than
// is available.
bool ComputeVoxelResolution(const SurfaceMesh& mesh, const Vec3d& voxelSize, Vec3i& resolution, std::wostream* log);

// Bytes that a build at this resolution is expected to need: the grid, the
// voxel model, the fragment columns, the crossing records and the octree
// cells (from the surface's projected area); what ComputeVoxelResolution
// compares with the available memory.
double EstimatedBuildBytes(const SurfaceMesh& mesh, const Vec3d& voxelSize, const Vec3i& resolution);

// Fills the model and seeds the grid (surface samples, inside set). The grid
// must have the resolution of ComputeVoxelResolution. False when no voxel is inside.
bool Voxelize(const SurfaceMesh& mesh, const Vec3d& voxelSize, VoxelGrid& grid, VoxelModel& model,
              std::wostream* log);
