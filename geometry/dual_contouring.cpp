// Surface extraction by dual contouring: one vertex per piece of material in
// each 2 x 2 x 2 block of finest cells around a cell corner, placed where a
// quadratic error function of the block's crossings is least, and one quad per
// severed cell side. Vertices live in cell-local coordinates of their host
// cell so that the surface follows the simulated corners.
#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/octree.h"
#include "geometry/surface_mesh.h"
#include "geometry/symmetric_eigen.h"

namespace {

constexpr int kMissingMember = -2;
constexpr int kCoarserMember = -1;

// Eigenvalues below this share of the largest are dropped from the inverse.
constexpr double kPseudoInverseThreshold = 0.1;

// Per side, four (corner, block member) pairs whose vertices form the quad;
// the quad faces out of the cell.
constexpr int kSideQuads[6][4][2] = {
    {{0, 7}, {4, 3}, {6, 1}, {2, 5}}, {{1, 6}, {3, 4}, {7, 0}, {5, 2}}, {{0, 7}, {1, 6}, {5, 2}, {4, 3}},
    {{2, 5}, {6, 1}, {7, 0}, {3, 4}}, {{0, 7}, {2, 5}, {3, 4}, {1, 6}}, {{4, 3}, {5, 2}, {7, 0}, {6, 1}}};

// The quad of a severed side as surface vertex indices (-1 where a corner has
// no vertex), in the order of kSideQuads.
void SideQuad(const OctreeCell& cell, int side, int quad[4]) {
  for (int k = 0; k < 4; ++k) quad[k] = cell.cornerSurface[kSideQuads[side][k][0]][kSideQuads[side][k][1]];
}

Vec3d MemberPosition(int member) { return Vec3d(member & 1, (member >> 1) & 1, member >> 2); }

// Offset of block member m from the cell whose corner c the block surrounds.
Vec3i MemberOffset(int corner, int member) {
  return Vec3i((corner & 1) + (member & 1) - 1, ((corner >> 1) & 1) + ((member >> 1) & 1) - 1,
               (corner >> 2) + (member >> 2) - 1);
}

// Accumulated crossings of one block: mass point and the normal equations.
struct QuadraticError {
  Vec3d massSum;
  int count = 0;
  Mat3d normalMatrix;  // sum of n n^T
  Vec3d rightSide;     // sum of n (n . p)

  void Add(const Vec3d& point, const Vec3d& normal) {
    massSum += point;
    ++count;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) normalMatrix(r, c) += normal[r] * normal[c];
    }
    rightSide += normal * Dot(normal, point);
  }

  // Mass point moved by the pseudo-inverse solution of the normal equations;
  // directions with a small eigenvalue keep the mass point's coordinate.
  Vec3d Minimizer() const {
    const Vec3d mass = count > 0 ? massSum / double(count) : Vec3d();
    double eigenvalues[3];
    Mat3d vectors;
    DecomposeSymmetric3(normalMatrix, eigenvalues, vectors);
    const double largest = std::max({eigenvalues[0], eigenvalues[1], eigenvalues[2], -1.0});
    double inverse[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < 3; ++k) {
      if (largest > 0.0 && eigenvalues[k] / largest > kPseudoInverseThreshold) inverse[k] = 1.0 / eigenvalues[k];
    }
    Vec3d residual = rightSide;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) residual[r] -= normalMatrix(r, c) * mass[c];
    }
    Vec3d step;
    for (int k = 0; k < 3; ++k) {
      if (inverse[k] == 0.0) continue;
      const Vec3d axis(vectors(0, k), vectors(1, k), vectors(2, k));
      step += axis * (inverse[k] * Dot(axis, residual));
    }
    return mass + step;
  }
};

}  // namespace

void Octree::ExtractSurface() {
  if (cells.empty()) return;
  const int finest = FinestLevel();
  const int32_t count = static_cast<int32_t>(cells[finest].size());
  const int32_t firstNewVertex = static_cast<int32_t>(surfaceVertexCell.size());
  for (int32_t cell = 0; cell < count; ++cell) {
    for (int corner = 0; corner < 8; ++corner) {
      if (!cells[finest][cell].cornerDone[corner]) ContourBlock(cell, corner);
    }
  }
  BuildSurfaceTriangles();
  BuildVertexTriangleAdjacency();
  surfaceVertexCount = static_cast<int32_t>(surfaceVertexCell.size());
  // only the new vertices get positions: whoever reads positions (drawing,
  // contacts, saving) updates them all first, and after a cut that pass over
  // every vertex would be most of the extraction's time
  UpdateNewSurfacePositions(firstNewVertex);
}

void Octree::ContourBlock(int cell, int corner) {
  const int finest = FinestLevel();
  int members[8];
  for (int m = 0; m < 8; ++m) {
    const Vec3i d = MemberOffset(corner, m);
    members[m] = cells[finest][cell].neighbours[NeighbourSlot(d.x, d.y, d.z)];
    if (members[m] >= 0) cells[finest][members[m]].cornerDone[7 - m] = true;
  }

  // edge e is intact when its lower member links across it; a coarser leaf is solid
  int mask = 0;
  for (int e = 0; e < 12; ++e) {
    const int lower = members[kBlockEdgeMembers[e][0]];
    const bool intact =
        lower == kCoarserMember || (lower >= 0 && cells[finest][lower].links[2 * BlockEdgeAxis(e) + 1]);
    if (intact) mask |= 1 << e;
  }
  if (mask == kBlockMaskAllIntact) return;

  QuadraticError error;
  for (int e = 0; e < 12; ++e) {
    if (mask & (1 << e)) continue;
    const int axis = BlockEdgeAxis(e);
    const int a = kBlockEdgeMembers[e][0], b = kBlockEdgeMembers[e][1];
    Vec3d point, normal;
    // a side without a finite offset carries no position; it then counts as the block origin
    if (members[a] >= 0 && std::isfinite(cells[finest][members[a]].offsets[2 * axis + 1])) {
      const OctreeCell& c = cells[finest][members[a]];
      point = MemberPosition(a);
      point[axis] += c.offsets[2 * axis + 1];
      normal = Vec3d(c.normals[2 * axis + 1]);
    } else if (members[b] >= 0 && std::isfinite(cells[finest][members[b]].offsets[2 * axis])) {
      const OctreeCell& c = cells[finest][members[b]];
      point = MemberPosition(b);
      point[axis] -= c.offsets[2 * axis];
      normal = Vec3d(c.normals[2 * axis]);
    }
    error.Add(point, normal);
  }
  const Vec3d vertex = error.Minimizer() + Vec3d(0.5, 0.5, 0.5);

  int componentVertex[8];
  const int componentCount = cutTable.ComponentCount(mask);
  for (int k = 0; k < componentCount; ++k) {
    componentVertex[k] = -1;
    const CutConfigurationTable::Component& component = cutTable.GetComponent(mask, k);
    if (members[component.lead] < 0) continue;
    // host: the member (a cell or a coarser leaf) whose centre is nearest to the vertex
    int host = -1;
    double hostDistance = 0.0;
    for (int n = 0; n < component.memberCount; ++n) {
      const int m = component.members[n];
      if (members[m] == kMissingMember) continue;
      const double distance = LengthSquared(vertex - (MemberPosition(m) + Vec3d(0.5, 0.5, 0.5)));
      if (host < 0 || distance < hostDistance) {
        host = m;
        hostDistance = distance;
      }
    }
    const Vec3d local = vertex - MemberPosition(host);
    if (members[host] >= 0) {
      surfaceVertexLevel.push_back(finest);
      surfaceVertexCell.push_back(members[host]);
      surfaceVertexLocal.push_back(Vec3f(local));
      cells[finest][members[host]].surfaceMark = true;
    } else {
      // the leaf one level up that covers the member's place hosts the vertex
      const OctreeCell& p = cells[finest][cell];
      const OctreeCell& parent = cells[finest - 1][p.parent];
      const Vec3i d = MemberOffset(corner, host);
      const int tx = p.x + d.x, ty = p.y + d.y, tz = p.z + d.z;
      const int coarse =
          parent.neighbours[NeighbourSlot((tx >> 1) - parent.x, (ty >> 1) - parent.y, (tz >> 1) - parent.z)];
      if (coarse < 0) continue;
      const Vec3d inCoarse = (local + Vec3d(tx & 1, ty & 1, tz & 1)) * 0.5;
      surfaceVertexLevel.push_back(finest - 1);
      surfaceVertexCell.push_back(coarse);
      surfaceVertexLocal.push_back(Vec3f(inCoarse));
      cells[finest - 1][coarse].surfaceMark = true;
    }
    componentVertex[k] = static_cast<int>(surfaceVertexCell.size()) - 1;
  }

  for (int m = 0; m < 8; ++m) {
    if (members[m] < 0) continue;
    OctreeCell& c = cells[finest][members[m]];
    for (int k = 0; k < 8; ++k) c.cornerSurface[7 - m][k] = componentVertex[cutTable.ComponentIndexOf(mask, k)];
  }
}

// Both cells next to a severed face emit a quad over the same four corner
// points, the second in reversed order: its corner k is the first's corner
// (4 - k) % 4. Where a block around a corner is one piece of material on both
// sides of the face (a thin slit or a crack that does not part the body there)
// the two quads share that block's vertex. Triangles shared in full would form
// a double sheet of zero thickness whose edges carry four triangles; they are
// left out on both sides. A quad whose shared corners are only the two ends of
// its diagonal is split along the other diagonal, for the same reason.
void Octree::BuildSurfaceTriangles() {
  surfaceTriangles.clear();
  surfaceTriangleTag.clear();
  const int finest = FinestLevel();
  for (const OctreeCell& cell : cells[finest]) {
    for (int side = 0; side < 6; ++side) {
      if (cell.links[side]) continue;
      int quad[4];
      SideQuad(cell, side, quad);
      bool shared[4] = {false, false, false, false};
      const int across = cell.neighbours[kSideSlots[side]];
      if (across >= 0 && !cells[finest][across].links[side ^ 1]) {
        int opposite[4];
        SideQuad(cells[finest][across], side ^ 1, opposite);
        for (int k = 0; k < 4; ++k) shared[k] = quad[k] >= 0 && quad[k] == opposite[(4 - k) % 4];
      }
      const bool otherDiagonal = shared[0] && shared[2] && !shared[1] && !shared[3];
      const int first = otherDiagonal ? 1 : 0;
      const int triangles[2][3] = {{quad[first], quad[first + 1], quad[first + 2]},
                                   {quad[first + 2], quad[(first + 3) % 4], quad[first]}};
      const bool doubled[2] = {!otherDiagonal && shared[0] && shared[1] && shared[2],
                               !otherDiagonal && shared[2] && shared[3] && shared[0]};
      for (int t = 0; t < 2; ++t) {
        // a corner without a vertex (inconsistent cut data) drops its triangle instead of naming vertex -1
        const int* v = triangles[t];
        if (doubled[t] || v[0] < 0 || v[1] < 0 || v[2] < 0) continue;
        surfaceTriangles.insert(surfaceTriangles.end(), {v[0], v[1], v[2]});
        surfaceTriangleTag.push_back(cell.cutTag[side]);
      }
    }
  }
}

void Octree::BuildVertexTriangleAdjacency() {
  const size_t vertexCount = surfaceVertexCell.size();
  vertexTriangleCount.assign(vertexCount, 0);
  for (int32_t v : surfaceTriangles) ++vertexTriangleCount[v];
  vertexTriangleStart.assign(vertexCount + 1, 0);
  for (size_t v = 0; v < vertexCount; ++v) vertexTriangleStart[v + 1] = vertexTriangleStart[v] + vertexTriangleCount[v];
  vertexTriangles.assign(surfaceTriangles.size(), 0);
  std::vector<int32_t> next(vertexTriangleStart.begin(), vertexTriangleStart.end() - 1);
  for (size_t i = 0; i < surfaceTriangles.size(); ++i) {
    vertexTriangles[next[surfaceTriangles[i]]++] = static_cast<int32_t>(i / 3);
  }
}

namespace {

Vec3f EmbeddedPosition(const Vec3d corners[8], const Vec3f& local) {
  const double u = local.x, v = local.y, w = local.z;
  Vec3d p;
  for (int c = 0; c < 8; ++c) {
    const double weight = ((c & 1) ? u : 1.0 - u) * (((c >> 1) & 1) ? v : 1.0 - v) * ((c >> 2) ? w : 1.0 - w);
    p += corners[c] * weight;
  }
  return Vec3f(p);
}

// Hosts are cells far apart in memory, so placing a vertex waits on its
// host's corners unless they are fetched this many vertices ahead.
constexpr int32_t kPositionPrefetchDistance = 16;

void PrefetchCorners(const Vec3d corners[8]) {
  const char* first = reinterpret_cast<const char*>(corners);
  for (size_t offset = 0; offset < 8 * sizeof(Vec3d); offset += 64) __builtin_prefetch(first + offset);
  __builtin_prefetch(first + 8 * sizeof(Vec3d) - 1);
}

}  // namespace

void Octree::UpdateNewSurfacePositions(int32_t first) {
  const int32_t count = static_cast<int32_t>(surfaceVertexCell.size());
  surfacePositions.resize(count);
  surfacePreviousPositions.resize(count);
#pragma omp parallel for schedule(static)
  for (int32_t v = first; v < count; ++v) {
    const OctreeCell& host = cells[surfaceVertexLevel[v]][surfaceVertexCell[v]];
    surfacePositions[v] = EmbeddedPosition(host.corners, surfaceVertexLocal[v]);
    surfacePreviousPositions[v] = EmbeddedPosition(host.previousCorners, surfaceVertexLocal[v]);
  }
}

void Octree::UpdateSurfacePositions(bool parallel) {
  const int32_t count = static_cast<int32_t>(surfaceVertexCell.size());
  surfacePositions.resize(count);
#pragma omp parallel for schedule(static) if (parallel)
  for (int32_t v = 0; v < count; ++v) {
    if (v + kPositionPrefetchDistance < count) {
      const int32_t ahead = v + kPositionPrefetchDistance;
      PrefetchCorners(cells[surfaceVertexLevel[ahead]][surfaceVertexCell[ahead]].corners);
    }
    const OctreeCell& host = cells[surfaceVertexLevel[v]][surfaceVertexCell[v]];
    surfacePositions[v] = EmbeddedPosition(host.corners, surfaceVertexLocal[v]);
  }
}

void Octree::UpdatePreviousSurfacePositions() {
  const int32_t count = static_cast<int32_t>(surfaceVertexCell.size());
  surfacePreviousPositions.resize(count);
#pragma omp parallel for schedule(static)
  for (int32_t v = 0; v < count; ++v) {
    const OctreeCell& host = cells[surfaceVertexLevel[v]][surfaceVertexCell[v]];
    surfacePreviousPositions[v] = EmbeddedPosition(host.previousCorners, surfaceVertexLocal[v]);
  }
}

void Octree::ExportSurface(SurfaceMesh& target) const { target.SetFromArrays(surfacePositions, surfaceTriangles); }
