#pragma once
// Regular voxel grid with a vector distance field: every inside voxel knows
// the signed distance to the nearest surface and the direction towards it.
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

  void AddSurfaceSample(int32_t voxel, int axis, double offset, const Vec3d& normal);
  void SetInside(const std::vector<uint64_t>& insideBits);
  void EnqueueVoxel(const Vec3i& voxel);
  void ComputeBySweeping();
  void UpdateByWavefront();
  bool Sample(const Vec3d& point, double& distance, Vec3d& direction) const;
  bool SampleMasked(const bool mask[8], const Vec3d& point, double& distance, Vec3d& direction) const;
  // Text dump of the maintained distance records; false when the file cannot be written.
  bool WriteText(const std::wstring& fileName) const;

  int32_t Index(int x, int y, int z) const { return x + resolution.x * (y + resolution.y * z); }
  int32_t VoxelCount() const { return resolution.x * resolution.y * resolution.z; }

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
};
