#include "geometry/voxel_grid.h"

#include <cassert>
#include <cmath>
#include <locale>
#include <ostream>

#include "geometry/file_util.h"

namespace {

bool TestBit(const std::vector<uint64_t>& bits, int32_t i) { return (bits[i >> 6] >> (i & 63)) & 1; }
void SetBit(std::vector<uint64_t>& bits, int32_t i) { bits[i >> 6] |= uint64_t(1) << (i & 63); }

size_t WordCount(int32_t voxels) { return (static_cast<size_t>(voxels) + 63) / 64; }

}  // namespace

VoxelGrid::VoxelGrid(const Vec3i& resolution_, const Vec3d& voxelSize_)
    : resolution(resolution_), voxelSize(voxelSize_) {
  const size_t count = static_cast<size_t>(VoxelCount());
  records.assign(count, VoxelRecord());
  referenceRecords.assign(count, VoxelRecord());
  hasSeed.assign(WordCount(VoxelCount()), 0);
  seeds.assign(count, Vec3d());
  touched.assign(WordCount(VoxelCount()), 0);
}

void VoxelGrid::AddSurfaceSample(int32_t voxel, int axis, double offset, const Vec3d& normal) {
  const double normalLengthSquared = Dot(normal, normal);
  // a zero or broken normal names no tangent plane: the sample carries no distance
  if (!(normalLengthSquared > 0.0) || !std::isfinite(normalLengthSquared) || !std::isfinite(offset)) return;
  const Vec3d candidate = normal * (offset * normal[axis] / normalLengthSquared);
  if (!TestBit(hasSeed, voxel)) {
    seeds[voxel] = candidate;
    SetBit(hasSeed, voxel);
  } else if (LengthSquared(seeds[voxel]) > LengthSquared(candidate)) {
    seeds[voxel] = candidate;
  }
}

void VoxelGrid::SetInside(const std::vector<uint64_t>& insideBits) {
  const int32_t count = VoxelCount();
  for (int32_t i = 0; i < count; ++i) {
    const bool inside = TestBit(insideBits, i);
    records[i].inside = inside;
    referenceRecords[i].inside = inside;
  }
}

void VoxelGrid::EnqueueVoxel(const Vec3i& voxel) {
  // callers enqueue voxels of the grid only; an outside one would be written out of bounds later
  assert(voxel.x >= 0 && voxel.y >= 0 && voxel.z >= 0 && voxel.x < resolution.x && voxel.y < resolution.y &&
         voxel.z < resolution.z);
  const int32_t index = Index(voxel.x, voxel.y, voxel.z);
  indexQueue.push_back(index);
  coordinateQueue.push_back(voxel);
  SetBit(touched, index);
}

Vec3d VoxelGrid::VectorFromRecord(int32_t voxel) const {
  const VoxelRecord& r = records[voxel];
  return Div(r.direction * -double(r.distance), voxelSize);
}

void VoxelGrid::WriteRecord(int32_t voxel, const Vec3d& w) {
  VoxelRecord& r = records[voxel];
  r.distance = static_cast<float>(-Length(Mul(w, voxelSize)));
  const double length = Length(w);
  r.direction = length != 0.0 ? w / length : w;
}

void VoxelGrid::SweepSlice(std::vector<Vec3d>& w, int z, bool yDown, bool xDown, const Vec3i* deltas,
                           int deltaCount) const {
  const int nx = resolution.x, ny = resolution.y, nz = resolution.z;
  for (int yStep = 0; yStep < ny; ++yStep) {
    const int y = yDown ? ny - 1 - yStep : yStep;
    for (int xStep = 0; xStep < nx; ++xStep) {
      const int x = xDown ? nx - 1 - xStep : xStep;
      const int32_t p = Index(x, y, z);
      if (!records[p].inside) continue;
      Vec3d best = w[p];
      double bestLength = LengthSquared(best);
      for (int k = 0; k < deltaCount; ++k) {
        const Vec3i& d = deltas[k];
        const int qx = x + d.x, qy = y + d.y, qz = z + d.z;
        if (qx < 0 || qx >= nx || qy < 0 || qy >= ny || qz < 0 || qz >= nz) continue;
        const Vec3d candidate = w[Index(qx, qy, qz)] + Vec3d(d);
        const double candidateLength = LengthSquared(candidate);
        if (bestLength > candidateLength) {
          best = candidate;
          bestLength = candidateLength;
        }
      }
      w[p] = best;
    }
  }
}

void VoxelGrid::ComputeBySweeping() {
  const int32_t count = VoxelCount();
  const double far = double(count);
  std::vector<Vec3d> w(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    if (!records[i].inside) {
      w[i] = VectorFromRecord(i);
    } else {
      w[i] = TestBit(hasSeed, i) ? seeds[i] : Vec3d(far, far, far);
    }
  }

  static const Vec3i kBackwardA[] = {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  static const Vec3i kForwardA[] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  static const Vec3i kPlusXPlusY[] = {{1, 0, 0}, {0, 1, 0}};
  static const Vec3i kPlusXMinusY[] = {{1, 0, 0}, {0, -1, 0}};
  static const Vec3i kMinusXMinusY[] = {{-1, 0, 0}, {0, -1, 0}};
  static const Vec3i kMinusXPlusY[] = {{-1, 0, 0}, {0, 1, 0}};
  for (int z = resolution.z - 1; z >= 0; --z) {
    SweepSlice(w, z, true, false, kBackwardA, 3);
    SweepSlice(w, z, true, true, kPlusXPlusY, 2);
    SweepSlice(w, z, false, true, kPlusXMinusY, 2);
    SweepSlice(w, z, false, false, kMinusXMinusY, 2);
  }
  for (int z = 0; z < resolution.z; ++z) {
    SweepSlice(w, z, false, true, kForwardA, 3);
    SweepSlice(w, z, false, false, kMinusXMinusY, 2);
    SweepSlice(w, z, true, false, kMinusXPlusY, 2);
    SweepSlice(w, z, true, true, kPlusXPlusY, 2);
  }

  for (int32_t i = 0; i < count; ++i) {
    if (records[i].inside) WriteRecord(i, w[i]);
  }
}

void VoxelGrid::UpdateByWavefront() {
  const int32_t count = VoxelCount();
  std::vector<Vec3d> w(static_cast<size_t>(count));
  // touched voxels restart from their seed; one whose sample carried no plane keeps its record
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < count; ++i) {
    w[i] = TestBit(touched, i) && TestBit(hasSeed, i) ? seeds[i] : VectorFromRecord(i);
  }

  static const Vec3i kFaceDeltas[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  while (!indexQueue.empty()) {
    const int32_t c = indexQueue.front();
    const Vec3i p = coordinateQueue.front();
    indexQueue.pop_front();
    coordinateQueue.pop_front();
    for (const Vec3i& d : kFaceDeltas) {
      const Vec3i q = p + d;
      if (q.x < 0 || q.x >= resolution.x || q.y < 0 || q.y >= resolution.y || q.z < 0 || q.z >= resolution.z) continue;
      const int32_t n = Index(q.x, q.y, q.z);
      if (!records[n].inside) continue;
      const Vec3d candidate = w[c] - Vec3d(d);
      if (LengthSquared(w[n]) > LengthSquared(candidate)) {
        w[n] = candidate;
        indexQueue.push_back(n);
        coordinateQueue.push_back(q);
      }
      SetBit(touched, n);
    }
  }

  // one iteration per 64-voxel word, so clearing touched bits never races; outside
  // voxels are cleared too, so that a stale bit cannot restart them from a seed later
  const int64_t words = static_cast<int64_t>(touched.size());
#pragma omp parallel for schedule(static)
  for (int64_t word = 0; word < words; ++word) {
    uint64_t bits = touched[word];
    while (bits) {
      const int bit = __builtin_ctzll(bits);
      bits &= bits - 1;
      const int32_t i = static_cast<int32_t>(word * 64 + bit);
      if (records[i].inside) WriteRecord(i, w[i]);
    }
    touched[word] = 0;
  }
}

bool VoxelGrid::InterpolationCell(const Vec3d& point, int cell[3], double fraction[3]) const {
  for (int a = 0; a < 3; ++a) {
    const double u = point[a] / voxelSize[a] - 0.5;
    const double lower = std::floor(u);
    // checked in floating point first: a huge or non-finite point is simply outside
    if (!(lower >= 0.0 && lower < double(resolution[a] - 1))) return false;
    cell[a] = static_cast<int>(lower);
    fraction[a] = u - lower;
  }
  return true;
}

bool VoxelGrid::Interpolate(const bool* mask, const Vec3d& point, double& distance, Vec3d& direction) const {
  int cell[3];
  double f[3];
  if (!InterpolationCell(point, cell, f)) return false;
  double d = 0.0;
  Vec3d dir;
  for (int corner = 0; corner < 8; ++corner) {
    const int dx = corner & 1, dy = (corner >> 1) & 1, dz = corner >> 2;
    const double weight = (dx ? f[0] : 1.0 - f[0]) * (dy ? f[1] : 1.0 - f[1]) * (dz ? f[2] : 1.0 - f[2]);
    const VoxelRecord& r = records[Index(cell[0] + dx, cell[1] + dy, cell[2] + dz)];
    // a masked-out corner inside the body belongs to another piece: seen from here it is outside
    const double sign = (mask && !mask[corner] && r.distance < 0.0f) ? -1.0 : 1.0;
    d += weight * sign * r.distance;
    dir += r.direction * (weight * sign);
  }
  distance = d;
  direction = Normalize(dir);
  return d <= 0.0;
}

bool VoxelGrid::Sample(const Vec3d& point, double& distance, Vec3d& direction) const {
  return Interpolate(nullptr, point, distance, direction);
}

bool VoxelGrid::SampleMasked(const bool mask[8], const Vec3d& point, double& distance, Vec3d& direction) const {
  return Interpolate(mask, point, distance, direction);
}

bool VoxelGrid::WriteText(const std::wstring& fileName) const {
  return WriteFileAtomically(NarrowPath(fileName), true, [this](std::ostream& out) {
    out.imbue(std::locale::classic());
    out << resolution.x << " " << resolution.y << " " << resolution.z << "\t" << voxelSize.x << " " << voxelSize.y
        << " " << voxelSize.z << "\t";
    for (const VoxelRecord& r : records) {
      out << r.distance << "\t" << r.direction.x << " " << r.direction.y << " " << r.direction.z << "\t"
          << (r.inside ? 1 : 0) << "\t";
    }
    return bool(out);
  });
}
