#pragma once
// Regular voxel grid with a vector distance field: every inside voxel knows
// the signed distance to the nearest surface and the direction towards it.
#include <cassert>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "geometry/vec.h"

class SurfaceMesh;

struct VoxelRecord {
  float distance = 0;  // negative inside the body (mesh units), 0 outside
  Vec3d direction;     // unit vector towards the nearest surface point
  bool inside = false;
};

class VoxelGrid {
 public:
  VoxelGrid(const Vec3i& resolution, const Vec3d& voxelSize);

  // Keeps, per voxel, the shortest vector to a tangent plane of the surface
  // seen along an axis (offset in voxel units, signed along the axis).
  void AddSurfaceSample(int32_t voxel, int axis, double offset, const Vec3d& normal);
  void SetInside(const std::vector<uint64_t>& insideBits);
  // Marks a voxel whose surface changed as a start of the wavefront update.
  void EnqueueVoxel(const Vec3i& voxel);
  // Full vector distance transform: two passes of four sub-sweeps per slice.
  void ComputeBySweeping();
  // Breadth-first update from the enqueued voxels after a cut.
  void UpdateByWavefront();
  // Trilinear distance and direction at a point of the octree frame; false
  // outside the interpolation range or where the distance is positive.
  bool Sample(const Vec3d& point, double& distance, Vec3d& direction) const;
  // As Sample, but corners whose mask entry is false count as outside.
  bool SampleMasked(const bool mask[8], const Vec3d& point, double& distance, Vec3d& direction) const;
  // Text dump of the maintained distance records; false when the file cannot be written.
  bool WriteText(const std::wstring& fileName) const;

  int32_t Index(int x, int y, int z) const { return x + resolution.x * (y + resolution.y * z); }
  // Voxel indices are int32: the voxelizer refuses larger grids, and a grid
  // built directly must stay within them too.
  int32_t VoxelCount() const {
    const int64_t count = int64_t(resolution.x) * resolution.y * resolution.z;
    assert(resolution.x >= 0 && resolution.y >= 0 && resolution.z >= 0 && count <= INT32_MAX);
    return static_cast<int32_t>(count);
  }

  std::vector<VoxelRecord> records;
  std::vector<VoxelRecord> referenceRecords;  // inside flags only
  std::vector<uint64_t> hasSeed;              // bit per voxel
  std::vector<Vec3d> seeds;                   // shortest seed vector (voxel units)
  std::deque<int32_t> indexQueue;
  std::deque<Vec3i> coordinateQueue;
  std::vector<uint64_t> touched;              // bit per voxel
  Vec3i resolution;
  Vec3d voxelSize;
  const SurfaceMesh* mesh = nullptr;

 private:
  // Voxel-unit vector to the surface implied by a record (zero outside).
  Vec3d VectorFromRecord(int32_t voxel) const;
  void WriteRecord(int32_t voxel, const Vec3d& w);
  // One sub-sweep of a slice: rows and columns in the given directions, each
  // inside voxel trying the neighbours at the given offsets in order.
  void SweepSlice(std::vector<Vec3d>& w, int z, bool yDown, bool xDown, const Vec3i* deltas, int deltaCount) const;
  bool InterpolationCell(const Vec3d& point, int cell[3], double fraction[3]) const;
  bool Interpolate(const bool* mask, const Vec3d& point, double& distance, Vec3d& direction) const;
};
