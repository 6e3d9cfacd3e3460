// Self-contact and ground contact by implicit penalties: a spatial hash over
// the deformed simulation elements, an inside test with penetration depth
// from the distance grid, and the distribution of the contact terms to the
// vertices of the element that holds the surface point.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

namespace {

// Trilinear map of eight corners (bits x, y, z) at local coordinates in [0, 1]^3.
Vec3d Trilinear(const Vec3d corners[8], const Vec3d& t) {
  Vec3d p;
  for (int c = 0; c < 8; ++c) {
    double w = ((c & 1) ? t.x : 1 - t.x) * ((c & 2) ? t.y : 1 - t.y) * ((c & 4) ? t.z : 1 - t.z);
    p += corners[c] * w;
  }
  return p;
}

void LoadCorners(const std::array<Vec3f, 8>& source, Vec3d corners[8]) {
  for (int c = 0; c < 8; ++c) corners[c] = Vec3d(source[c]);
}

}  // namespace

namespace {

// Hash cells beyond this many cells from the origin belong to a body that
// has blown up; they are left out so that no cell index or range overflows.
constexpr float kLargestHashCell = 1073741824.0f;  // 2^30

// Determinant of the Jacobian, relative to the cube of its largest entry,
// below which an element counts as collapsed.
constexpr double kSingularDeterminant = 1e-12;

// Keys are int32: beyond that range (over 33 million elements) the key range
// stops growing.
int32_t HashKeyCount(int32_t elementCount) {
  return static_cast<int32_t>(std::min<int64_t>(64 * int64_t(elementCount), INT32_MAX));
}

}  // namespace

int32_t CutSim::HashKey(int i, int j, int k) const {
  // int32 arithmetic with wrap-around, done in unsigned to stay defined
  uint32_t h = (static_cast<uint32_t>(i) * 73856093u) ^ (static_cast<uint32_t>(j) * 19349663u) ^
               (static_cast<uint32_t>(k) * 83492791u);
  int32_t key = static_cast<int32_t>(h);
  int32_t range = HashKeyCount(cellCount[numEmbeddedLevels]);
  // a model without elements has no keys (and no key would be found)
  if (range <= 0) return -1;
  int32_t result = key % range;
  return result < 0 ? result + range : result;
}

bool CutSim::HashCell(const Vec3d& p, Vec3i& cell) const {
  Vec3f q(p);
  Vec3f size(collisionCellSize);
  for (int a = 0; a < 3; ++a) {
    // the comparison also fails for NaN
    float f = std::floor(q[a] / size[a]);
    if (!(std::fabs(f) <= kLargestHashCell)) return false;
    cell[a] = static_cast<int32_t>(f);
  }
  return true;
}

void CutSim::FillElementHash() {
  int u = numEmbeddedLevels;
  elementHash.Begin(HashKeyCount(cellCount[u]));
  for (int e = 0; e < cellCount[u]; ++e) {
    Vec3d corners[8];
    LoadCorners(elementCorners[e], corners);
    Vec3d low(HUGE_VAL, HUGE_VAL, HUGE_VAL), high(-HUGE_VAL, -HUGE_VAL, -HUGE_VAL);
    bool finite = true;
    for (int c = 0; c < 8; ++c) {
      Vec3d t = {embeddedBounds[e][c & 1].x, embeddedBounds[e][(c >> 1) & 1].y, embeddedBounds[e][(c >> 2) & 1].z};
      Vec3d p = Trilinear(corners, t);
      finite = finite && IsFinite(p);
      for (int a = 0; a < 3; ++a) {
        low[a] = std::min(low[a], p[a]);
        high[a] = std::max(high[a], p[a]);
      }
    }
    Vec3i from, to;
    if (!finite || !HashCell(low, from) || !HashCell(high, to)) continue;
    // an element spanning more than five cells along an axis is left out:
    // one stretched element could otherwise insert millions of entries
    // (the cells lie within +-2^30, so their differences need 64 bits)
    bool stretched = false;
    for (int a = 0; a < 3; ++a) stretched = stretched || int64_t{to[a]} - int64_t{from[a]} > 4;
    if (stretched) continue;
    for (int i = from.x; i <= to.x; ++i) {
      for (int j = from.y; j <= to.y; ++j) {
        for (int k = from.z; k <= to.z; ++k) elementHash.Add(HashKey(i, j, k), e);
      }
    }
  }
  elementHash.Finish();
}

bool CutSim::InverseTrilinear(const Vec3d corners[8], const Vec3d& x, Vec3d& local) const {
  double xi[3] = {0, 0, 0};
  for (int iteration = 0; iteration < 2; ++iteration) {
    Vec3d value;
    Mat3d J;
    for (int c = 0; c < 8; ++c) {
      double s[3], f[3];
      for (int a = 0; a < 3; ++a) {
        s[a] = ((c >> a) & 1) ? 1.0 : -1.0;
        f[a] = 0.5 * (1 + s[a] * xi[a]);
      }
      value += corners[c] * (f[0] * f[1] * f[2]);
      double derivative[3] = {0.5 * s[0] * f[1] * f[2], 0.5 * s[1] * f[0] * f[2], 0.5 * s[2] * f[0] * f[1]};
      for (int r = 0; r < 3; ++r) {
        for (int a = 0; a < 3; ++a) J(r, a) += corners[c][r] * derivative[a];
      }
    }
    Vec3d residual = value - x;
    double det = J(0, 0) * (J(1, 1) * J(2, 2) - J(1, 2) * J(2, 1)) - J(0, 1) * (J(1, 0) * J(2, 2) - J(1, 2) * J(2, 0)) +
                 J(0, 2) * (J(1, 0) * J(2, 1) - J(1, 1) * J(2, 0));
    // a collapsed element has no inverse map: the point is not inside it;
    // "collapsed" is relative to the element's size, since a thickness
    // below rounding leaves a tiny but nonzero determinant
    double scale = 0;
    for (double v : J.m) scale = std::max(scale, std::fabs(v));
    if (!std::isfinite(det) || !(std::fabs(det) > kSingularDeterminant * scale * scale * scale)) return false;
    Mat3d inverse;
    inverse(0, 0) = (J(1, 1) * J(2, 2) - J(1, 2) * J(2, 1)) / det;
    inverse(0, 1) = (J(0, 2) * J(2, 1) - J(0, 1) * J(2, 2)) / det;
    inverse(0, 2) = (J(0, 1) * J(1, 2) - J(0, 2) * J(1, 1)) / det;
    inverse(1, 0) = (J(1, 2) * J(2, 0) - J(1, 0) * J(2, 2)) / det;
    inverse(1, 1) = (J(0, 0) * J(2, 2) - J(0, 2) * J(2, 0)) / det;
    inverse(1, 2) = (J(0, 2) * J(1, 0) - J(0, 0) * J(1, 2)) / det;
    inverse(2, 0) = (J(1, 0) * J(2, 1) - J(1, 1) * J(2, 0)) / det;
    inverse(2, 1) = (J(0, 1) * J(2, 0) - J(0, 0) * J(2, 1)) / det;
    inverse(2, 2) = (J(0, 0) * J(1, 1) - J(0, 1) * J(1, 0)) / det;
    Vec3d step = MulVec(inverse, residual);
    for (int a = 0; a < 3; ++a) xi[a] -= step[a];
  }
  Vec3d result = {(xi[0] + 1) / 2, (xi[1] + 1) / 2, (xi[2] + 1) / 2};
  if (!IsFinite(result)) return false;
  local = result;
  return true;
}

int CutSim::ElementOfVoxel(const Vec3i& voxel, int* leafLevel, int* leafIndex) const {
  int level = -1;
  int index = octree.FindLeaf(voxel, &level);
  if (index < 0) return -1;
  const OctreeCell& leaf = octree.cells[level][index];
  if (!leaf.wasLeaf) return -1;
  if (leafLevel) *leafLevel = level;
  if (leafIndex) *leafIndex = index;
  return ElementOfLevel0Cell(leaf.element);
}

bool CutSim::LocateInElement(int element, const Vec3d& x, double& d, Vec3d& normal) const {
  int u = numEmbeddedLevels;
  Vec3d corners[8];
  LoadCorners(elementCorners[element], corners);
  Vec3d local;
  if (!InverseTrilinear(corners, x, local)) return false;
  for (int a = 0; a < 3; ++a) {
    if (local[a] > 1 || local[a] < 0) return false;
  }
  if (cellDepth[u][element] > u) return false;
  double size = std::ldexp(1.0, u);
  Vec3d q = Vec3d(cellPosition[u][element]) + local * size;
  Vec3i base = {static_cast<int32_t>(std::floor(q.x - 0.5)), static_cast<int32_t>(std::floor(q.y - 0.5)),
                static_cast<int32_t>(std::floor(q.z - 0.5))};
  // block voxels of this element, and the one nearest to q to start from
  bool counted[8];
  int leafLevel[8], leafIndex[8];
  int start = -1;
  double best = HUGE_VAL;
  for (int b = 0; b < 8; ++b) {
    Vec3i voxel = base + Vec3i(b & 1, (b >> 1) & 1, (b >> 2) & 1);
    counted[b] = ElementOfVoxel(voxel, &leafLevel[b], &leafIndex[b]) == element;
    if (!counted[b]) continue;
    Vec3d delta = Vec3d(voxel) - q;
    double distance = Dot(delta, delta);
    if (distance < best) {
      best = distance;
      start = b;
    }
  }
  if (start < 0) return false;
  // voxels reachable from the start across linked faces, one axis at a time
  bool mask[8] = {false, false, false, false, false, false, false, false};
  int stack[8], top = 0;
  mask[start] = true;
  stack[top++] = start;
  while (top > 0) {
    int b = stack[--top];
    const OctreeCell& leaf = octree.cells[leafLevel[b]][leafIndex[b]];
    for (int a = 0; a < 3; ++a) {
      int bit = (b >> a) & 1;
      int side = 2 * a + (bit ? 0 : 1);
      int other = b ^ (1 << a);
      if (mask[other] || !leaf.links[side]) continue;
      Vec3i voxel = base + Vec3i(other & 1, (other >> 1) & 1, (other >> 2) & 1);
      if (ElementOfVoxel(voxel, &leafLevel[other], &leafIndex[other]) < 0) continue;
      mask[other] = true;
      stack[top++] = other;
    }
  }
  Vec3d direction;
  if (!octree.voxelGrid || !octree.voxelGrid->SampleMasked(mask, Mul(q, voxelSize), d, direction)) return false;
  normal = Normalize(Trilinear(corners, local + direction) - x);
  return true;
}

bool CutSim::SurfacePointInUse(int point) const {
  const std::vector<int32_t>& counts = octree.vertexTriangleCount;
  return point < static_cast<int>(counts.size()) && counts[point] > 0;
}

int CutSim::ElementOfSurfacePoint(int point) const {
  int level = octree.surfaceVertexLevel[point];
  int cell = octree.surfaceVertexCell[point];
  if (level < 0 || cell < 0) return -1;
  const OctreeCell& host = octree.cells[level][cell];
  if (!host.leaf || !host.wasLeaf) return -1;
  return ElementOfLevel0Cell(host.element);
}

bool CutSim::AreFaceNeighbours(int element, int other) const {
  int u = numEmbeddedLevels;
  int slots = faceSlotCount[u];
  for (int face = 0; face < 6; ++face) {
    int count = faceNeighbourCount[u][6 * element + face];
    const int32_t* list = &faceNeighbours[u][(6 * static_cast<size_t>(element) + face) * slots];
    if (std::find(list, list + count, other) != list + count) return true;
  }
  return false;
}

int CutSim::ElementVertexSet(int element, int32_t* vertices, int capacity) const {
  int u = numEmbeddedLevels;
  int count = 0;
  CornerStencil stencil;
  for (int k = 0; k < 8; ++k) {
    CornerRepresentation(u, element, k, stencil);
    for (int n = 0; n < stencil.count; ++n) {
      int32_t v = stencil.vertex[n];
      if (std::find(vertices, vertices + count, v) == vertices + count && count < capacity) vertices[count++] = v;
    }
  }
  return count;
}

bool CutSim::TouchesVertices(int element, const int32_t* vertices, int count) const {
  int u = numEmbeddedLevels;
  uint8_t hanging = hangingCorners[u][element];
  for (int k = 0; k < 8; ++k) {
    if ((hanging >> k) & 1) continue;
    if (std::find(vertices, vertices + count, cellVertices[u][element][k]) != vertices + count) return true;
  }
  if (hanging == 0) return false;
  CornerStencil stencil;
  for (int k = 0; k < 8; ++k) {
    if (!((hanging >> k) & 1)) continue;
    CornerRepresentation(u, element, k, stencil);
    for (int n = 0; n < stencil.count; ++n) {
      if (std::find(vertices, vertices + count, stencil.vertex[n]) != vertices + count) return true;
    }
  }
  return false;
}

bool CutSim::SampledForSelfContact(int point) const {
  int level = octree.surfaceVertexLevel[point];
  int cell = octree.surfaceVertexCell[point];
  if (level < 0 || cell < 0) return false;
  const OctreeCell& host = octree.cells[level][cell];
  int width = octree.CellWidth(level);
  // by index, the two sheets of a cut would alternate and one of them would
  // never be tested; by position, both are sampled evenly
  uint32_t sum = static_cast<uint32_t>(host.x) * width + static_cast<uint32_t>(host.y) * width +
                 static_cast<uint32_t>(host.z) * width;
  return (sum & ((1u << numEmbeddedLevels) - 1)) == 0;
}

void CutSim::FindSelfContact(int point) {
  const int32_t* first = elementHash.First(pointHashKey[point]);
  const int32_t* last = elementHash.Last(pointHashKey[point]);
  if (first == last) return;
  int own = ElementOfSurfacePoint(point);
  if (own < 0) return;
  // elements joined to the own one through a vertex are the same piece of
  // the body there: a surface point lies on or just inside them at rest, and
  // such a contact would also win over a true one by its smaller depth
  int32_t ownVertices[CornerStencil::kCapacity];
  int ownCount = ElementVertexSet(own, ownVertices, CornerStencil::kCapacity);
  Vec3d x(octree.surfacePositions[point]);
  bool found = false;
  double bestDepth = 0;
  Vec3d bestNormal;
  for (const int32_t* it = first; it != last; ++it) {
    int e = *it;
    if (e == own || AreFaceNeighbours(own, e) || TouchesVertices(e, ownVertices, ownCount)) continue;
    double d;
    Vec3d n;
    if (!LocateInElement(e, x, d, n)) continue;
    if (!found || std::fabs(d) < std::fabs(bestDepth)) {
      found = true;
      bestDepth = d;
      bestNormal = n;
    }
  }
  if (!found) return;
  contactFlag[point] = 1;
  const Vec3d& n = bestNormal;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) contactStiffness[point](r, c) += penaltyStiffness * n[r] * n[c];
  }
  contactForce[point] += n * (penaltyStiffness * (Dot(n, x) - bestDepth));
}

void CutSim::DetectContacts() {
  int count = octree.surfaceVertexCount;
  contactStiffness.assign(count, Mat3d());
  contactForce.assign(count, Vec3d());
  contactFlag.assign(count, 0);
  pointHashKey.assign(count, -1);
  octree.UpdateSurfacePositions();
  octree.UpdatePreviousSurfacePositions();
  // vertices of superseded cells keep stale hosts: only used ones take part
#pragma omp parallel for schedule(static)
  for (int point = 0; point < count; ++point) {
    if (!SurfacePointInUse(point) || !SampledForSelfContact(point)) continue;
    Vec3i cell;
    if (HashCell(Vec3d(octree.surfacePositions[point]), cell)) pointHashKey[point] = HashKey(cell.x, cell.y, cell.z);
  }
#pragma omp parallel for schedule(static)
  for (int point = 0; point < count; ++point) {
    if (pointHashKey[point] >= 0) FindSelfContact(point);
  }
#pragma omp parallel for schedule(static)
  for (int point = 0; point < count; ++point) {
    if (!SurfacePointInUse(point) || !(octree.surfacePositions[point].z < 0)) continue;
    contactStiffness[point](2, 2) += penaltyStiffness;
    contactFlag[point] = 1;
  }
}

void CutSim::DistributeContacts() {
  int u = numEmbeddedLevels;
  int depthCount = static_cast<int>(octree.cells.size());
  for (int point = 0; point < static_cast<int>(contactFlag.size()); ++point) {
    if (!contactFlag[point]) continue;
    int element = ElementOfSurfacePoint(point);
    if (element < 0) continue;
    const OctreeCell& host = octree.cells[octree.surfaceVertexLevel[point]][octree.surfaceVertexCell[point]];
    int hostDepth = depthCount - 1 - host.level;
    Vec3d hostPosition = {static_cast<double>(host.x << hostDepth), static_cast<double>(host.y << hostDepth),
                          static_cast<double>(host.z << hostDepth)};
    Vec3d local = (Vec3d(octree.surfaceVertexLocal[point]) * std::ldexp(1.0, hostDepth) + hostPosition -
                   Vec3d(cellPosition[u][element])) /
                  std::ldexp(1.0, cellDepth[u][element]);
    double weight[8];
    for (int c = 0; c < 8; ++c) {
      weight[c] = ((c & 1) ? local.x : 1 - local.x) * ((c & 2) ? local.y : 1 - local.y) *
                  ((c & 4) ? local.z : 1 - local.z);
    }
    // the share of a hanging corner is dropped
    uint8_t hanging = hangingCorners[u][element];
    const auto& vertices = cellVertices[u][element];
    const std::vector<uint8_t>& fixed = vertexFixed[u];
    // The fixations are already in the rows: a fixed vertex's row stays
    // E * I, and a free row takes a fixed column's term into its right-hand
    // side, as the fixations do. A contact block in a fixed row would move
    // the fixed vertex, and one in a fixed column would make the system
    // unsymmetric; its Galerkin coarse operators then make the V-cycle diverge.
    for (int l = 0; l < 8; ++l) {
      if (((hanging >> l) & 1) || fixed[vertices[l]]) continue;
      LevelVertex& row = levelVertices[u][vertices[l]];
      row.b += contactForce[point] * weight[l];
      for (int m = 0; m < 8; ++m) {
        if ((hanging >> m) & 1) continue;
        double scale = weight[l] * weight[m];
        if (fixed[vertices[m]]) {
          row.b -= MulVec(contactStiffness[point], levelVertices[u][vertices[m]].x) * scale;
        } else {
          AddScaledBlock(u, vertices[m], vertices[l], contactStiffness[point], scale);
        }
      }
    }
  }
}
