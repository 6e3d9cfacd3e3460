#include "geometry/voxelizer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <ostream>
#include <string>

#include "geometry/octree_cell.h"
#include "geometry/surface_mesh.h"
#include "geometry/triangle_rasterizer.h"
#include "geometry/voxel_grid.h"

namespace {

constexpr int kColumnCapacity = 64;
constexpr float kNoCrossing = std::numeric_limits<float>::infinity();
const wchar_t kAxisLetters[] = L"xyz";

// One crossing of a line of voxel centres: depth along the line (voxel units
// from the origin) and the triangle that made it (for its normal).
struct Fragment {
  double depth;
  int32_t triangle;
};

// Fixed-capacity fragment columns of one axis, column (j, i) at i * n_c + j.
struct FragmentBuffer {
  RasterAxes axes{0, 1, 2};
  int columnCount = 0;  // n_c
  int rowCount = 0;     // n_r
  std::vector<int32_t> counts;
  std::vector<Fragment> fragments;  // kColumnCapacity per column
};

// Triangles in voxel coordinates with their unit normals.
struct PeelingTriangles {
  std::vector<std::array<Vec3d, 3>> vertices;
  std::vector<Vec3f> normals;
};

// Octree cells per surface crossing, measured on the bundled bodies (1.5 to
// 2.4); the refinement checks the exact count of every level again.
constexpr double kCellsPerCrossing = 3.0;

// Expected number of surface crossings of the three peeling passes: the area
// of the surface projected along each axis, in voxel faces.
double ExpectedCrossings(const SurfaceMesh& mesh, const Vec3d& s) {
  double crossings = 0.0;
  for (const SurfaceMesh::Triangle& t : mesh.triangles) {
    const Vec3d p0(mesh.vertices[t.i0].position);
    const Vec3d n = Cross(Vec3d(mesh.vertices[t.i1].position) - p0, Vec3d(mesh.vertices[t.i2].position) - p0);
    crossings += 0.5 * (std::fabs(n.x) / (s.y * s.z) + std::fabs(n.y) / (s.z * s.x) + std::fabs(n.z) / (s.x * s.y));
  }
  return crossings;
}

// Bytes the build needs: per voxel the grid's records, seeds and working
// vectors and the voxel model; per fragment column its fixed capacity; per
// crossed voxel its crossing record; and the octree cells, which grow with
// the surface. Checked against the memory before anything large is allocated.
double EstimatedBuildBytes(const double n[3], double crossings) {
  const double voxels = n[0] * n[1] * n[2];
  const double columns = n[1] * n[2] + n[2] * n[0] + n[0] * n[1];
  const double perVoxel = 2.0 * sizeof(VoxelRecord) + sizeof(Vec3d) + sizeof(Vec3d) + sizeof(uint8_t) + sizeof(int32_t);
  const double perColumn = kColumnCapacity * sizeof(Fragment) + sizeof(int32_t);
  const double crossedVoxels = std::min(crossings, voxels);
  const double cells = std::min(kCellsPerCrossing * crossings, 2.0 * voxels);
  return voxels * perVoxel + columns * perColumn + crossedVoxels * sizeof(VoxelCrossings) + cells * sizeof(OctreeCell);
}

// Resolutions are whole numbers, and are printed as such however large.
void WriteResolution(std::wostream& log, const double n[3]) {
  for (int a = 0; a < 3; ++a) {
    if (a > 0) log << L" x ";
    if (n[a] < 9.2e18) {
      log << static_cast<int64_t>(n[a]);
    } else {
      wchar_t digits[400];
      std::swprintf(digits, 400, L"%.0f", n[a]);
      log << digits;
    }
  }
}

bool CheckMesh(const SurfaceMesh& mesh, std::wostream* log) {
  if (mesh.triangles.empty()) {
    if (log) *log << L"ERROR: Surface mesh has no triangles" << std::endl;
    return false;
  }
  const int64_t vertexCount = static_cast<int64_t>(mesh.vertices.size());
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const SurfaceMesh::Triangle& tri = mesh.triangles[t];
    for (int32_t index : {tri.i0, tri.i1, tri.i2}) {
      if (index < 0 || index >= vertexCount) {
        if (log) *log << L"ERROR: Surface mesh triangle " << t << L" refers to the missing vertex " << index << std::endl;
        return false;
      }
    }
  }
  for (const SurfaceMesh::Vertex& v : mesh.vertices) {
    if (!IsFinite(v.position)) {
      if (log) *log << L"ERROR: Surface mesh has a vertex with a non-finite coordinate" << std::endl;
      return false;
    }
  }
  if (!IsFinite(mesh.bboxCenter) || !IsFinite(mesh.bboxHalfExtent)) {
    if (log) *log << L"ERROR: Surface mesh bounding box is not finite" << std::endl;
    return false;
  }
  return true;
}

PeelingTriangles SetUpTriangles(const SurfaceMesh& mesh, const Vec3d& origin, const Vec3d& voxelSize) {
  const Vec3d inverseSize(1.0 / voxelSize.x, 1.0 / voxelSize.y, 1.0 / voxelSize.z);
  PeelingTriangles result;
  result.vertices.resize(mesh.triangles.size());
  result.normals.resize(mesh.triangles.size());
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const SurfaceMesh::Triangle& tri = mesh.triangles[t];
    Vec3d p[3] = {Vec3d(mesh.vertices[tri.i0].position) - origin, Vec3d(mesh.vertices[tri.i1].position) - origin,
                  Vec3d(mesh.vertices[tri.i2].position) - origin};
    result.normals[t] = Vec3f(Normalize(Cross(p[1] - p[0], p[2] - p[0])));
    for (int k = 0; k < 3; ++k) result.vertices[t][k] = Mul(p[k], inverseSize);
  }
  return result;
}

FragmentBuffer AllocateFragmentBuffer(int axis, const Vec3i& resolution) {
  FragmentBuffer buffer;
  buffer.axes = RasterAxesAlong(axis);
  buffer.columnCount = resolution[buffer.axes.column];
  buffer.rowCount = resolution[buffer.axes.row];
  const size_t columns = static_cast<size_t>(buffer.columnCount) * static_cast<size_t>(buffer.rowCount);
  buffer.counts.assign(columns, 0);
  buffer.fragments.assign(columns * kColumnCapacity, Fragment{0.0, 0});
  return buffer;
}

void WriteColumnName(std::wostream& log, const RasterAxes& axes, int j, int i) {
  log << L"(" << kAxisLetters[axes.column] << L"=" << j << L", " << kAxisLetters[axes.row] << L"=" << i << L")";
}

void RasterizeAlongAxis(int axis, const PeelingTriangles& triangles, const Vec3i& resolution, FragmentBuffer& buffer,
                        std::wostream* log) {
  for (size_t t = 0; t < triangles.vertices.size(); ++t) {
    // a triangle without area covers no line; rounding could still let it emit
    // a stray fragment, a crossing without a normal
    if (triangles.normals[t] == Vec3f()) continue;
    const int32_t triangle = static_cast<int32_t>(t);
    RasterizeTriangle(triangles.vertices[t].data(), axis, resolution, [&](int j, int i, double depth) {
      const size_t column = static_cast<size_t>(i) * buffer.columnCount + j;
      int32_t& count = buffer.counts[column];
      if (count == kColumnCapacity) {
        if (log) {
          *log << L"WARNING: Depth layer buffer overflow while peeling along axis " << kAxisLetters[axis]
               << L" for voxel column ";
          WriteColumnName(*log, buffer.axes, j, i);
          *log << std::endl;
        }
        return;
      }
      buffer.fragments[column * kColumnCapacity + count] = Fragment{depth, triangle};
      ++count;
    });
  }
}

// Index bound of a stretch, clamped to [low, high] before the conversion.
int ClampedBound(double bound, int low, int high) {
  if (!(bound > low)) return low;
  if (bound > high) return high;
  return static_cast<int>(bound);
}

VoxelCrossings& CrossingsOf(VoxelModel& model, int32_t voxel) {
  int32_t& slot = model.crossingSlot[voxel];
  if (slot < 0) {
    slot = static_cast<int32_t>(model.crossings.size());
    VoxelCrossings none;
    for (int s = 0; s < 6; ++s) none.offsets[s] = kNoCrossing;
    model.crossings.push_back(none);
  }
  return model.crossings[slot];
}

// Walks the voxels of one column as alternating outside and inside stretches.
class ColumnWalker {
 public:
  ColumnWalker(int axis, const RasterAxes& axes, int j, int i, VoxelModel& model, const PeelingTriangles& triangles,
               std::wostream* log)
      : axis_(axis), axes_(axes), j_(j), i_(i), model_(model), triangles_(triangles), log_(log),
        depthCount_(model.resolution[axis]) {}

  void Walk(const Fragment* fragments, int count) {
    for (int f = 0; f < count; ++f) {
      const double d = fragments[f].depth;
      const double bound = inside_ ? std::floor(d + 0.5) : std::ceil(d - 0.5);
      Stretch(ClampedBound(bound, next_, depthCount_), &fragments[f]);
      entering_ = &fragments[f];
      inside_ = !inside_;
    }
    Stretch(depthCount_, nullptr);
  }

 private:
  int32_t VoxelAt(int k) const {
    int c[3];
    c[axes_.depth] = k;
    c[axes_.column] = j_;
    c[axes_.row] = i_;
    return model_.Index(c[0], c[1], c[2]);
  }

  // Voxels [next_, end) share the current state; leaving is the fragment that
  // ends the stretch, or null when it runs to the end of the column.
  void Stretch(int end, const Fragment* leaving) {
    for (int k = next_; k < end; ++k) {
      const int32_t voxel = VoxelAt(k);
      MarkInside(voxel);
      if (!inside_) continue;
      if (k == next_ && entering_) {
        VoxelCrossings& c = CrossingsOf(model_, voxel);
        c.offsets[2 * axis_] = static_cast<float>((k + 0.5) - entering_->depth);
        c.normals[2 * axis_] = triangles_.normals[entering_->triangle];
      }
      if (k == end - 1 && leaving) {
        VoxelCrossings& c = CrossingsOf(model_, voxel);
        c.offsets[2 * axis_ + 1] = static_cast<float>(leaving->depth - (k + 0.5));
        c.normals[2 * axis_ + 1] = triangles_.normals[leaving->triangle];
      }
    }
    next_ = std::max(next_, end);
  }

  void MarkInside(int32_t voxel) {
    uint8_t& flags = model_.flags[voxel];
    if (axis_ == 0) {
      flags = inside_ ? VoxelModel::kInside : 0;
      return;
    }
    if (static_cast<bool>(flags & VoxelModel::kInside) == inside_ || !log_) return;
    *log_ << L"WARNING: Building voxelization model along axis " << kAxisLetters[axis_]
          << L": Inconsistency found in voxel column ";
    WriteColumnName(*log_, axes_, j_, i_);
    *log_ << std::endl;
  }

  const int axis_;
  const RasterAxes axes_;
  const int j_, i_;
  VoxelModel& model_;
  const PeelingTriangles& triangles_;
  std::wostream* log_;
  const int depthCount_;
  int next_ = 0;
  bool inside_ = false;
  const Fragment* entering_ = nullptr;  // fragment that began the current stretch
};

void BuildAlongAxis(int axis, FragmentBuffer& buffer, const PeelingTriangles& triangles, VoxelModel& model,
                    std::wostream* log) {
  for (int i = 0; i < buffer.rowCount; ++i) {
    for (int j = 0; j < buffer.columnCount; ++j) {
      const size_t column = static_cast<size_t>(i) * buffer.columnCount + j;
      const int count = buffer.counts[column];
      Fragment* fragments = &buffer.fragments[column * kColumnCapacity];
      if ((count & 1) && log) {
        *log << L"WARNING: Building voxelization model along axis " << kAxisLetters[axis]
             << L": Odd number of fragments in voxel column ";
        WriteColumnName(*log, buffer.axes, j, i);
        *log << std::endl;
      }
      std::sort(fragments, fragments + count, [](const Fragment& a, const Fragment& b) { return a.depth < b.depth; });
      ColumnWalker(axis, buffer.axes, j, i, model, triangles, log).Walk(fragments, count);
    }
  }
}

// Counts the inside voxels, marks the interior ones and seeds the grid.
void CollectInsideVoxels(VoxelModel& model, VoxelGrid& grid) {
  const int32_t voxelCount = static_cast<int32_t>(model.flags.size());
  std::vector<uint64_t> insideBits((static_cast<size_t>(voxelCount) + 63) / 64, 0);
  model.insideCount = 0;
  for (int32_t v = 0; v < voxelCount; ++v) {
    if (!model.IsInside(v)) continue;
    ++model.insideCount;
    insideBits[v >> 6] |= uint64_t(1) << (v & 63);
    const int32_t slot = model.crossingSlot[v];
    if (slot < 0) {
      model.flags[v] |= VoxelModel::kInterior;
      continue;
    }
    const VoxelCrossings& c = model.crossings[slot];
    bool crossed = false;
    for (int side = 0; side < 6; ++side) {
      if (!std::isfinite(c.offsets[side])) continue;
      crossed = true;
      const double sign = (side & 1) ? 1.0 : -1.0;
      grid.AddSurfaceSample(v, side / 2, sign * c.offsets[side], Vec3d(c.normals[side]));
    }
    if (!crossed) model.flags[v] |= VoxelModel::kInterior;
  }
  grid.SetInside(insideBits);
}

}  // namespace

int64_t AvailableMemoryBytes() {
  // what the kernel can give without swapping, other processes included
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    long long kilobytes = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %lld kB", &kilobytes) == 1 && kilobytes > 0) return kilobytes * 1024;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(pages) * pageSize;
}

float VoxelModel::Offset(int32_t voxel, int side) const {
  const int32_t slot = crossingSlot[voxel];
  return slot < 0 ? kNoCrossing : crossings[slot].offsets[side];
}

Vec3f VoxelModel::Normal(int32_t voxel, int side) const {
  const int32_t slot = crossingSlot[voxel];
  return slot < 0 ? Vec3f() : crossings[slot].normals[side];
}

void VoxelModel::Release() {
  std::vector<uint8_t>().swap(flags);
  std::vector<int32_t>().swap(crossingSlot);
  std::vector<VoxelCrossings>().swap(crossings);
}

double EstimatedBuildBytes(const SurfaceMesh& mesh, const Vec3d& voxelSize, const Vec3i& resolution) {
  const double n[3] = {double(resolution.x), double(resolution.y), double(resolution.z)};
  return EstimatedBuildBytes(n, ExpectedCrossings(mesh, voxelSize));
}

bool ComputeVoxelResolution(const SurfaceMesh& mesh, const Vec3d& voxelSize, Vec3i& resolution, std::wostream* log) {
  for (int a = 0; a < 3; ++a) {
    if (!(std::isfinite(voxelSize[a]) && voxelSize[a] > 0.0)) {
      if (log) {
        *log << L"ERROR: Voxel size (" << voxelSize.x << L", " << voxelSize.y << L", " << voxelSize.z
             << L") must be positive and finite" << std::endl;
      }
      return false;
    }
  }
  if (!CheckMesh(mesh, log)) return false;

  double n[3];
  for (int a = 0; a < 3; ++a) n[a] = std::max(0.0, std::ceil(2.0 * double(mesh.bboxHalfExtent[a]) * (1.0 / voxelSize[a])));
  const double voxels = n[0] * n[1] * n[2];
  // each axis also needs 2^(levels - 1) >= n in 32 bits
  const double axisLimit = double(1 << 30);
  if (!(n[0] <= axisLimit && n[1] <= axisLimit && n[2] <= axisLimit &&
        voxels <= double(std::numeric_limits<int32_t>::max()))) {
    if (log) {
      *log << L"ERROR: Voxel grid resolution ";
      WriteResolution(*log, n);
      *log << L" is too large: voxel indices must fit in 32 bits" << std::endl;
    }
    return false;
  }
  const double bytes = EstimatedBuildBytes(n, ExpectedCrossings(mesh, voxelSize));
  const int64_t available = AvailableMemoryBytes();
  if (bytes > double(available)) {
    if (log) {
      *log << L"ERROR: Voxel grid resolution ";
      WriteResolution(*log, n);
      *log << L" needs about " << std::llround(bytes / 1048576.0) << L" MB, more than the "
           << available / 1048576 << L" MB of memory available" << std::endl;
    }
    return false;
  }
  resolution = Vec3i(int32_t(n[0]), int32_t(n[1]), int32_t(n[2]));
  return true;
}

bool Voxelize(const SurfaceMesh& mesh, const Vec3d& voxelSize, VoxelGrid& grid, VoxelModel& model,
              std::wostream* log) {
  model = VoxelModel();
  model.origin = Vec3d(mesh.bboxCenter) - Vec3d(mesh.bboxHalfExtent);
  model.resolution = grid.resolution;
  const size_t voxelCount = static_cast<size_t>(grid.VoxelCount());
  model.flags.assign(voxelCount, 0);
  model.crossingSlot.assign(voxelCount, -1);

  const PeelingTriangles triangles = SetUpTriangles(mesh, model.origin, voxelSize);
  FragmentBuffer buffers[3];
  for (int a = 0; a < 3; ++a) buffers[a] = AllocateFragmentBuffer(a, model.resolution);
  for (int a = 0; a < 3; ++a) RasterizeAlongAxis(a, triangles, model.resolution, buffers[a], log);
  for (int a = 0; a < 3; ++a) BuildAlongAxis(a, buffers[a], triangles, model, log);
  for (FragmentBuffer& b : buffers) b = FragmentBuffer();

  CollectInsideVoxels(model, grid);
  if (model.insideCount == 0) {
    if (log) *log << L"ERROR: Voxelization of surface mesh does not contain any voxels" << std::endl;
    return false;
  }
  return true;
}
