// Contacts between parts of the body and with the ground: the inverse map
// into deformed elements, the element hash, the narrow phase and the ground
// pass, and how the contact terms reach the rows of the simulation level.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "geometry/octree.h"
#include "support/cutsim_body.h"
#include "support/geometry_meshes.h"

namespace {

using Corners = std::array<Vec3d, 8>;

Vec3d MapTrilinear(const Corners& corners, const Vec3d& t) {
  Vec3d p;
  for (int c = 0; c < 8; ++c) {
    double w = ((c & 1) ? t.x : 1 - t.x) * ((c & 2) ? t.y : 1 - t.y) * ((c & 4) ? t.z : 1 - t.z);
    p += corners[c] * w;
  }
  return p;
}

// Newton's method on the map over [0, 1]^3 from the centre, solved with
// Eigen; the same iterates as over [-1, 1]^3.
Vec3d ReferenceInverse(const Corners& corners, const Vec3d& x, int steps) {
  Eigen::Vector3d t(0.5, 0.5, 0.5);
  for (int s = 0; s < steps; ++s) {
    Eigen::Matrix3d J = Eigen::Matrix3d::Zero();
    for (int c = 0; c < 8; ++c) {
      double f[3], g[3];
      for (int a = 0; a < 3; ++a) {
        bool high = (c >> a) & 1;
        f[a] = high ? t[a] : 1 - t[a];
        g[a] = high ? 1 : -1;
      }
      Eigen::Vector3d p(corners[c].x, corners[c].y, corners[c].z);
      J.col(0) += p * (g[0] * f[1] * f[2]);
      J.col(1) += p * (f[0] * g[1] * f[2]);
      J.col(2) += p * (f[0] * f[1] * g[2]);
    }
    Vec3d value = MapTrilinear(corners, {t[0], t[1], t[2]});
    Eigen::Vector3d residual(value.x - x.x, value.y - x.y, value.z - x.z);
    t -= J.partialPivLu().solve(residual);
  }
  return {t[0], t[1], t[2]};
}

// A hexahedron with twisted, tapered and skewed faces: its map is far from
// affine, so Newton needs many steps to converge.
Corners DistortedHexahedron() {
  Corners c;
  for (int k = 0; k < 8; ++k) {
    Vec3d b((k & 1) ? 1 : 0, (k & 2) ? 1 : 0, (k & 4) ? 1 : 0);
    c[k] = {b.x * (1.0 + 0.6 * b.z) + 0.3 * b.y * b.z, b.y * (1.0 - 0.3 * b.x) + 0.25 * b.x * b.z,
            b.z * (1.0 + 0.5 * b.x * b.y) - 0.2 * b.x};
  }
  return c;
}

bool Inside(const Vec3d& t) {
  return t.x >= 0 && t.x <= 1 && t.y >= 0 && t.y <= 1 && t.z >= 0 && t.z <= 1;
}

// An unbuilt simulation: the inverse map uses no model state.
struct Unbuilt {
  Octree octree;
  CutSim sim{octree};
  bool Invert(const Corners& corners, const Vec3d& x, Vec3d& t) const {
    return sim.InverseTrilinear(corners.data(), x, t);
  }
};

}  // namespace

TEST(InverseTrilinear, TakesExactlyTwoNewtonSteps) {
  Unbuilt u;
  Corners corners = DistortedHexahedron();
  for (Vec3d t : {Vec3d(0.9, 0.8, 0.95), Vec3d(0.05, 0.9, 0.85), Vec3d(0.95, 0.1, 0.9)}) {
    Vec3d x = MapTrilinear(corners, t);
    Vec3d local;
    ASSERT_TRUE(u.Invert(corners, x, local));
    Vec3d two = ReferenceInverse(corners, x, 2);
    EXPECT_LT(Length(local - two), 1e-12) << t.x << " " << t.y << " " << t.z;
    // the distortion is strong enough to tell one, two and many steps apart
    EXPECT_GT(Length(two - ReferenceInverse(corners, x, 1)), 1e-3);
    EXPECT_GT(Length(two - ReferenceInverse(corners, x, 20)), 1e-6);
    EXPECT_LT(Length(ReferenceInverse(corners, x, 20) - t), 1e-12);
  }
}

TEST(InverseTrilinear, AffineElementIsInvertedExactlyInsideAndOutside) {
  Unbuilt u;
  Corners corners;
  // sheared, scaled and moved box: the trilinear map is affine
  for (int k = 0; k < 8; ++k) {
    Vec3d b((k & 1) ? 1 : 0, (k & 2) ? 1 : 0, (k & 4) ? 1 : 0);
    corners[k] = Vec3d(2.0 * b.x + 0.5 * b.y, 1.5 * b.y, 0.7 * b.z + 0.3 * b.x) + Vec3d(-3, 4, 10);
  }
  for (Vec3d t : {Vec3d(0.2, 0.7, 0.4), Vec3d(1.3, 0.5, 0.5), Vec3d(0.5, -0.2, 0.5), Vec3d(0.5, 0.5, 1.01)}) {
    Vec3d local;
    ASSERT_TRUE(u.Invert(corners, MapTrilinear(corners, t), local));
    EXPECT_LT(Length(local - t), 1e-12);
  }
}

TEST(InverseTrilinear, TellsPointsInsideAndOutsideADistortedHexahedron) {
  Unbuilt u;
  Corners corners = DistortedHexahedron();
  // points well inside and well outside: two steps get them on the right side
  for (Vec3d t : {Vec3d(0.5, 0.5, 0.5), Vec3d(0.2, 0.7, 0.3), Vec3d(0.85, 0.85, 0.85), Vec3d(0.1, 0.1, 0.9)}) {
    Vec3d local;
    ASSERT_TRUE(u.Invert(corners, MapTrilinear(corners, t), local));
    EXPECT_TRUE(Inside(local)) << t.x << " " << t.y << " " << t.z;
  }
  for (Vec3d t : {Vec3d(1.4, 0.5, 0.5), Vec3d(0.5, -0.4, 0.5), Vec3d(0.3, 0.6, 1.5), Vec3d(-0.3, 1.3, 0.5)}) {
    Vec3d local;
    ASSERT_TRUE(u.Invert(corners, MapTrilinear(corners, t), local));
    EXPECT_FALSE(Inside(local)) << t.x << " " << t.y << " " << t.z;
  }
}

TEST(InverseTrilinear, CollapsedOrNonFiniteElementIsNotInsideAndYieldsNoNaN) {
  Unbuilt u;
  Corners point, flat, line, tiny, nan = DistortedHexahedron();
  for (int k = 0; k < 8; ++k) {
    Vec3d b((k & 1) ? 1 : 0, (k & 2) ? 1 : 0, (k & 4) ? 1 : 0);
    point[k] = Vec3d(0.1, 0.2, 0.3);
    flat[k] = Vec3d(b.x * 0.3 + 0.1, b.y * 0.7, 0.4);       // all corners in z = 0.4
    line[k] = Vec3d(b.x * 0.3 + 0.1, 0.5, 0.25);            // all corners on a line
    tiny[k] = Vec3d(b.x, b.y, 0.4 + 1e-200 * b.z);          // thickness far below rounding
  }
  nan[5].y = std::numeric_limits<double>::quiet_NaN();
  const Vec3d sentinel(7, 8, 9);
  for (const Corners* corners : {&point, &flat, &line, &tiny, &nan}) {
    for (Vec3d x : {Vec3d(0.1, 0.2, 0.3), Vec3d(0.2, 0.3, 0.4), Vec3d(0.5, 0.5, 0.4 + 5e-201)}) {
      Vec3d local = sentinel;
      EXPECT_FALSE(u.Invert(*corners, x, local)) << (corners - &point);
      // a refused inversion leaves nothing that could be mistaken for a result
      EXPECT_EQ(local, sentinel);
    }
  }
}

namespace {

// A body set up in the scene's order: octree, surface, distance field, model.
std::unique_ptr<SimBody> ContactBody(const SurfaceMesh& mesh, const BodyOptions& options = {}) {
  auto body = std::make_unique<SimBody>();
  body->mesh = mesh;
  body->octree = std::make_unique<Octree>();
  if (!body->octree->BuildFromMesh(body->mesh, options.voxelSize, options.maxInteriorCellWidth, nullptr)) {
    return nullptr;
  }
  body->octree->ExtractSurface();
  body->octree->voxelGrid->ComputeBySweeping();
  body->sim = MakeCutSim(*body->octree, options);
  if (!body->sim) return nullptr;
  return body;
}

// Two slabs of 12 x 12 x 4 voxels, one on top of the other: separate
// surfaces, so no element of one is a face neighbour of an element of the
// other.
std::unique_ptr<SimBody> StackedBoxes() {
  return ContactBody(BoxesMesh({{{0, 0, 0}, {12, 12, 4}}, {{0, 0, 4}, {12, 12, 8}}}));
}

// A ball of radius 6 voxels: most of its surface lies inside the voxel grid
// rather than on its faces, where the distance field cannot be sampled.
std::unique_ptr<SimBody> Ball() { return ContactBody(MakeSphere({6.5f, 6.5f, 6.5f}, 6.2f, 3)); }

// Moves the vertices (all, or those of the elements chosen) rigidly, at rest.
template <typename Choose>
void Shift(CutSim& sim, const Vec3d& shift, Choose chosen) {
  int u = sim.numEmbeddedLevels;
  std::vector<uint8_t> moved(sim.vertexCount[u], 0);
  for (int e = 0; e < sim.cellCount[u]; ++e) {
    if (!chosen(e)) continue;
    for (int k = 0; k < 8; ++k) {
      if (!((sim.hangingCorners[u][e] >> k) & 1)) moved[sim.cellVertices[u][e][k]] = 1;
    }
  }
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    if (!moved[v]) continue;
    sim.levelVertices[u][v].x += shift;
    sim.vertexHistory[u][v].previousX += shift;
  }
  sim.CopyVertexPositionsIntoOctree();
  sim.ComputeElementCorners();
}

void ShiftAll(CutSim& sim, const Vec3d& shift) {
  Shift(sim, shift, [](int) { return true; });
}

bool InUpperBox(const CutSim& sim, int e) { return sim.cellPosition[sim.numEmbeddedLevels][e].z >= 4; }

void Detect(CutSim& sim) {
  sim.FillElementHash();
  sim.DetectContacts();
}

bool IsZero(const Mat3d& m) {
  for (double v : m.m) {
    if (v != 0) return false;
  }
  return true;
}


}  // namespace

TEST(ElementHash, LeavesOutNonFiniteStretchedAndBlownUpElements) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ASSERT_GE(sim.cellCount[u], 8);
  const double inf = std::numeric_limits<double>::infinity();
  const double cell = sim.collisionCellSize.x;
  const double beyond = std::ldexp(cell, 31);  // 2^31 cells from the origin
  const double edge = std::ldexp(cell, 30);    // exactly 2^30 cells
  auto setCorners = [&](int e, auto position) {
    for (int k = 0; k < 8; ++k) sim.elementCorners[e][k] = Vec3f(position(Vec3d(k & 1, (k >> 1) & 1, k >> 2)));
  };
  // 0: NaN corner, 1: infinite corner, 2: 6 cells long on x only,
  // 3: 5 cells long on every axis (kept), 4: beyond 2^30 cells,
  // 5: spans -2^30 .. 2^30 cells on x, 6: near 2^30 cells but inside (kept)
  setCorners(0, [&](Vec3d b) { return b.x ? Vec3d(std::nan(""), 0, 0) : b; });
  setCorners(1, [&](Vec3d b) { return b.y ? Vec3d(0, inf, 0) : b; });
  setCorners(2, [&](Vec3d b) { return Vec3d(b.x * 5.5 * cell + 0.25 * cell, b.y * 0.5 * cell, b.z * 0.5 * cell); });
  setCorners(3, [&](Vec3d b) { return (b * 4.5 + Vec3d(0.25, 0.25, 0.25)) * cell; });
  setCorners(4, [&](Vec3d b) { return Vec3d(beyond, 0, 0) + b * cell * 0.5; });
  setCorners(5, [&](Vec3d b) { return Vec3d(b.x ? edge : -edge, b.y * cell * 0.5, b.z * cell * 0.5); });
  setCorners(6, [&](Vec3d b) { return Vec3d(edge * 0.75, 0, -edge * 0.75) + b * cell * 0.5; });
  sim.FillElementHash();
  std::map<int, std::set<int32_t>> keysOf;
  for (const auto& entry : sim.elementHash.entries()) keysOf[entry[1]].insert(entry[0]);
  for (int e : {0, 1, 2, 4, 5}) EXPECT_EQ(keysOf.count(e), 0u) << "element " << e;
  EXPECT_EQ(keysOf[3].size(), 125u);
  EXPECT_GE(keysOf[6].size(), 1u);
  // every untouched element lists the cell of each corner of its content box
  for (int e = 7; e < sim.cellCount[u]; ++e) {
    ASSERT_EQ(keysOf.count(e), 1u) << "element " << e;
    Corners corners;
    for (int k = 0; k < 8; ++k) corners[k] = Vec3d(sim.elementCorners[e][k]);
    for (int k = 0; k < 8; ++k) {
      Vec3d t(sim.embeddedBounds[e][k & 1].x, sim.embeddedBounds[e][(k >> 1) & 1].y,
              sim.embeddedBounds[e][k >> 2].z);
      Vec3i c;
      ASSERT_TRUE(sim.HashCell(MapTrilinear(corners, t), c));
      EXPECT_EQ(keysOf[e].count(sim.HashKey(c.x, c.y, c.z)), 1u) << "element " << e << " corner " << k;
    }
  }
}

TEST(ElementHash, GivesTheCandidatesOfAnOrderedMultimapInItsOrder) {
  std::mt19937 random(7);
  ElementHash hash;
  // refills of shrinking and growing sizes reuse the arrays
  for (int fill : {3000, 40, 0, 5000}) {
    const int32_t keyCount = 97;
    std::multimap<int32_t, int32_t> reference;
    hash.Begin(keyCount);
    for (int n = 0; n < fill; ++n) {
      // keys clustered on few values, leaving many keys empty, both ends used
      int32_t key = static_cast<int32_t>(random() % 3 == 0 ? random() % keyCount : (random() % 9) * 12);
      if (n == 1) key = keyCount - 1;
      int32_t element = static_cast<int32_t>(random() % 500);
      hash.Add(key, element);
      reference.emplace(key, element);
    }
    hash.Finish();
    EXPECT_EQ(hash.size(), reference.size());
    for (int32_t key = -2; key < keyCount + 2; ++key) {
      std::vector<int32_t> expected, actual;
      auto [from, to] = reference.equal_range(key);
      for (auto it = from; it != to; ++it) expected.push_back(it->second);
      for (const int32_t* it = hash.First(key); it != hash.Last(key); ++it) actual.push_back(*it);
      EXPECT_EQ(actual, expected) << "fill " << fill << " key " << key;
    }
  }
}

TEST(ElementHash, BodyHashMatchesAnOrderedMultimapOfItsEntries) {
  auto body = LoadSceneBody("SphereScene.txt", {{L"GRAVITY", L"0 0 0"}});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  sim.FillElementHash();
  std::multimap<int32_t, int32_t> reference;
  for (const auto& entry : sim.elementHash.entries()) reference.emplace(entry[0], entry[1]);
  ASSERT_GT(reference.size(), static_cast<size_t>(sim.cellCount[sim.numEmbeddedLevels]));
  for (int32_t key = 0; key < sim.elementHash.keyCount(); ++key) {
    auto [from, to] = reference.equal_range(key);
    const int32_t* it = sim.elementHash.First(key);
    for (auto r = from; r != to; ++r, ++it) {
      ASSERT_NE(it, sim.elementHash.Last(key)) << key;
      ASSERT_EQ(*it, r->second) << key;
    }
    ASSERT_EQ(it, sim.elementHash.Last(key)) << key;
  }
}

TEST(ElementHash, KeysStayInRangeForNegativeAndLargeCells) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int32_t range = 64 * sim.cellCount[sim.numEmbeddedLevels];
  for (Vec3i c : {Vec3i(0, 0, 0), Vec3i(-1, -1, -1), Vec3i(-1073741824, 5, 1073741824), Vec3i(123456, -7, 99)}) {
    int32_t key = sim.HashKey(c.x, c.y, c.z);
    EXPECT_GE(key, 0);
    EXPECT_LT(key, range);
    // the hash of the cell in wrapping int32 arithmetic, reduced into the range
    auto wrap = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v & 0xffffffff)); };
    int32_t h = wrap(wrap(int64_t{c.x} * 73856093) ^ wrap(int64_t{c.y} * 19349663) ^ wrap(int64_t{c.z} * 83492791));
    EXPECT_EQ(key, ((h % range) + range) % range);
  }
}

TEST(Contacts, OwnAndNeighbouringElementsNeverGiveSelfContacts) {
  auto body = Ball();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ShiftAll(sim, {0, 0, 10});  // above the ground
  Detect(sim);
  const Octree& octree = *body->octree;
  // the surface points do lie inside their own and neighbouring elements
  int insideOwn = 0, insideNeighbour = 0, sampled = 0;
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    if (!sim.SurfacePointInUse(p) || !sim.SampledForSelfContact(p)) continue;
    ++sampled;
    int own = sim.ElementOfSurfacePoint(p);
    ASSERT_GE(own, 0);
    Vec3d x(octree.surfacePositions[p]), n;
    double d;
    if (sim.LocateInElement(own, x, d, n)) ++insideOwn;
    for (int e = 0; e < sim.cellCount[u]; ++e) {
      if (e != own && sim.AreFaceNeighbours(own, e) && sim.LocateInElement(e, x, d, n)) ++insideNeighbour;
    }
  }
  EXPECT_GT(sampled, 20);
  EXPECT_GT(insideOwn, 0);
  EXPECT_GT(insideNeighbour, 0);
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    EXPECT_EQ(sim.contactFlag[p], 0) << p;
    EXPECT_TRUE(IsZero(sim.contactStiffness[p]));
  }
}

TEST(Contacts, BodyAtRestInTheAirStaysAtRest) {
  auto body = Ball();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ShiftAll(sim, {0, 0, 10});
  sim.collisionEnabled = true;
  for (int step = 0; step < 10; ++step) {
    sim.PrepareTimeStep();
    sim.SolveExtended();
    sim.CopyVertexPositionsIntoOctree();
  }
  double worst = 0;
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    worst = std::max(worst, Length(sim.levelVertices[u][v].x - sim.RestPosition(u, v) - Vec3d(0, 0, 10)));
  }
  EXPECT_LT(worst, 1e-9);
}

TEST(Contacts, PenetratingPiecePushesBackAlongTheSurfaceNormal) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  ShiftAll(sim, {0, 0, 10});
  // the upper box sinks 1.5 voxels into the lower one
  Shift(sim, {0, 0, -1.5}, [&](int e) { return InUpperBox(sim, e); });
  Detect(sim);
  const Octree& octree = *body->octree;
  int upward = 0, downward = 0;
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    if (!sim.contactFlag[p]) continue;
    ASSERT_TRUE(sim.SampledForSelfContact(p)) << "only sampled points test the elements";
    Vec3d x(octree.surfacePositions[p]);
    // P n n^T with |n| = 1: the trace is P and n follows from the diagonal
    const Mat3d& K = sim.contactStiffness[p];
    EXPECT_NEAR(K(0, 0) + K(1, 1) + K(2, 2), sim.penaltyStiffness, 1e-9);
    if (K(2, 2) < 0.9 * sim.penaltyStiffness) continue;  // edges and corners of the overlap
    // n = +-z: the implicit target height is F_z / P, on the other piece's face
    double target = sim.contactForce[p].z / sim.penaltyStiffness;
    if (InUpperBox(sim, sim.ElementOfSurfacePoint(p))) {
      ++upward;
      EXPECT_NEAR(target, 14.0, 0.5) << "lower box top";
    } else {
      ++downward;
      EXPECT_NEAR(target, 12.5, 0.5) << "upper box bottom";
    }
    EXPECT_NEAR(std::fabs(target - x.z), 1.5, 0.5);
  }
  EXPECT_GT(upward, 5);
  EXPECT_GT(downward, 5);
}

TEST(Contacts, SmallestPenetrationWinsAmongCandidates) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ShiftAll(sim, {0, 0, 10});
  Shift(sim, {0, 0, -1.5}, [&](int e) { return InUpperBox(sim, e); });
  // an element of the lower box's bottom layer takes the deformed place of a
  // top-layer element: points there have two candidates whose rest depths
  // differ by the layers between them
  int deep = -1, shallow = -1;
  for (int e = 0; e < sim.cellCount[u]; ++e) {
    if (sim.cellPosition[u][e] == Vec3i(4, 2, 0)) deep = e;
    if (sim.cellPosition[u][e] == Vec3i(4, 2, 2)) shallow = e;
  }
  ASSERT_GE(deep, 0);
  ASSERT_GE(shallow, 0);
  sim.elementCorners[deep] = sim.elementCorners[shallow];
  Detect(sim);
  const Octree& octree = *body->octree;
  int compared = 0;
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    int own = sim.ElementOfSurfacePoint(p);
    if (!sim.SurfacePointInUse(p) || !sim.SampledForSelfContact(p) || own < 0) continue;
    Vec3d x(octree.surfacePositions[p]);
    // brute force over all elements, in index order (the first of equals wins)
    int best = -1;
    double bestDepth = 0, dDeep = 0, dShallow = 0;
    Vec3d bestNormal;
    bool inDeep = false, inShallow = false;
    for (int e = 0; e < sim.cellCount[u]; ++e) {
      Vec3d n;
      double d;
      if (e == own || sim.AreFaceNeighbours(own, e) || !sim.LocateInElement(e, x, d, n)) continue;
      if (InUpperBox(sim, e) == InUpperBox(sim, own)) continue;  // the same slab
      if (e == deep) inDeep = true, dDeep = d;
      if (e == shallow) inShallow = true, dShallow = d;
      if (best < 0 || std::fabs(d) < std::fabs(bestDepth)) best = e, bestDepth = d, bestNormal = n;
    }
    ASSERT_EQ(sim.contactFlag[p] != 0, best >= 0) << p;
    if (best < 0) continue;
    Vec3d expected = bestNormal * (sim.penaltyStiffness * (Dot(bestNormal, x) - bestDepth));
    EXPECT_LT(Length(sim.contactForce[p] - expected), 1e-9) << p;
    if (inDeep && inShallow) {
      EXPECT_GT(std::fabs(std::fabs(dDeep) - std::fabs(dShallow)), 0.5);
      ++compared;
    }
  }
  EXPECT_GT(compared, 0);
}

TEST(Contacts, GroundGivesStiffnessWithoutForceToPointsBelowIt) {
  auto body = Ball();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  ShiftAll(sim, {0, 0, -2.25});
  Detect(sim);
  const Octree& octree = *body->octree;
  int below = 0, above = 0;
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    if (!sim.SurfacePointInUse(p)) continue;
    const Mat3d& K = sim.contactStiffness[p];
    if (octree.surfacePositions[p].z < 0) {
      ++below;
      EXPECT_TRUE(sim.contactFlag[p]) << p;
      EXPECT_EQ(K(2, 2), sim.penaltyStiffness) << p;
      EXPECT_EQ(sim.contactForce[p], Vec3d()) << p;
      Mat3d rest = K;
      rest(2, 2) = 0;
      EXPECT_TRUE(IsZero(rest)) << p;
    } else {
      ++above;
      EXPECT_FALSE(sim.contactFlag[p]) << p;
    }
  }
  // every point, sampled for self-contact or not, meets the ground
  EXPECT_GT(below, 8);
  EXPECT_GT(above, 0);
}

TEST(Contacts, BothSheetsOfACutAreSampled) {
  auto body = ContactBody(BoxMesh({0, 0, 0}, {12, 12, 4}));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  Octree& octree = *body->octree;
  sim.StoreCornerPositionsInOctree();
  octree.InsertCutTriangle({-1, -1, 2.3f}, {30, -1, 2.3f}, {-1, 30, 2.3f}, 1);
  octree.ExtractSurface();
  ASSERT_TRUE(sim.BuildHierarchy(true));
  // the vertices of the cut's triangles, by the side of the cut they host on
  std::set<int> sheet[2];
  for (size_t t = 0; t < octree.surfaceTriangleTag.size(); ++t) {
    if (octree.surfaceTriangleTag[t] != 1) continue;
    for (int c = 0; c < 3; ++c) {
      int p = octree.surfaceTriangles[3 * t + c];
      const OctreeCell& host = octree.cells[octree.surfaceVertexLevel[p]][octree.surfaceVertexCell[p]];
      sheet[host.z * octree.CellWidth(host.level) >= 2].insert(p);
    }
  }
  int sampled[2] = {0, 0};
  for (int side = 0; side < 2; ++side) {
    ASSERT_GT(sheet[side].size(), 50u);
    for (int p : sheet[side]) sampled[side] += sim.SampledForSelfContact(p);
    // about one in 2^u of each sheet
    EXPECT_NEAR(double(sampled[side]) / sheet[side].size(), 1.0 / (1 << sim.numEmbeddedLevels), 0.15) << side;
  }
}

TEST(Contacts, OnlyPointsOfCurrentTrianglesTakePart) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  Octree& octree = *body->octree;
  // a cut through the lower box replaces the surface vertices around it
  sim.StoreCornerPositionsInOctree();
  octree.InsertCutTriangle({3.3f, -1, -1}, {3.3f, 9, -1}, {3.3f, -1, 9}, 1);
  octree.ExtractSurface();
  ASSERT_TRUE(sim.BuildHierarchy(true));
  sim.CopyVertexPositionsIntoOctree();
  // the whole body under the ground, the upper box sunk into the lower one
  ShiftAll(sim, {0, 0, -20});
  Shift(sim, {0, 0, -1.5}, [&](int e) { return InUpperBox(sim, e); });
  sim.ComputeElementCorners();
  Detect(sim);
  int unused = 0, used = 0;
  for (int p = 0; p < octree.surfaceVertexCount; ++p) {
    if (sim.SurfacePointInUse(p)) {
      ++used;
      EXPECT_TRUE(sim.contactFlag[p]);
    } else {
      ++unused;
      EXPECT_FALSE(sim.contactFlag[p]) << p;
      EXPECT_EQ(sim.pointHashKey[p], -1) << p;
    }
  }
  EXPECT_GT(unused, 0);
  EXPECT_GT(used, unused);
}

namespace {

struct SystemSnapshot {
  std::vector<Vec3d> b;
  std::vector<Mat3d> diagonal;
};

SystemSnapshot Snapshot(const CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  SystemSnapshot s;
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    const LevelVertex& row = sim.levelVertices[u][v];
    s.b.push_back(row.b);
    for (int k = 0; k < row.count; ++k) {
      if (row.columns[k] == v) s.diagonal.push_back(row.blocks[k]);
    }
  }
  return s;
}

}  // namespace

TEST(Contacts, SwitchedOffAddsNoContactTerms) {
  auto body = StackedBoxes();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  // ground and self penetration: contacts would be plentiful
  ShiftAll(sim, {0, 0, -1.25});
  Shift(sim, {0, 0, -1.5}, [&](int e) { return InUpperBox(sim, e); });
  for (int warm = 0; warm < 3; ++warm) sim.PrepareTimeStep();
  SystemSnapshot off = Snapshot(sim);
  sim.PrepareTimeStep();
  SystemSnapshot again = Snapshot(sim);
  EXPECT_EQ(again.b, off.b);
  EXPECT_TRUE(sim.contactFlag.empty());
  EXPECT_TRUE(sim.elementHash.empty());
  sim.collisionEnabled = true;
  sim.PrepareTimeStep();
  SystemSnapshot on = Snapshot(sim);
  ASSERT_EQ(on.b.size(), off.b.size());
  int changed = 0;
  for (size_t v = 0; v < on.b.size(); ++v) changed += on.b[v] != off.b[v];
  EXPECT_GT(changed, 10);
  int stiffened = 0;
  for (size_t v = 0; v < on.diagonal.size(); ++v) stiffened += on.diagonal[v](2, 2) > off.diagonal[v](2, 2);
  EXPECT_GT(stiffened, 10);
  // and off again: the terms are gone from the next step
  sim.collisionEnabled = false;
  sim.PrepareTimeStep();
  EXPECT_EQ(Snapshot(sim).b, off.b);
}

TEST(Contacts, ShareOfAHangingCornerIsDropped) {
  // the sphere's simulation level mixes element sizes
  auto body = LoadSceneBody("SphereScene.txt", {{L"GRAVITY", L"0 0 0"}});
  ASSERT_TRUE(body);
  body->octree->ExtractSurface();
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  sim.PrepareTimeStep();
  sim.collisionEnabled = true;
  sim.FillElementHash();
  sim.DetectContacts();
  // the surface band is refined evenly, so the contact point is moved into
  // a level-0 cell of an interior element with hanging corners
  Octree& tree = *body->octree;
  const int point = 0;
  Vec3d local;
  bool placed = false;
  for (int c = 0; c < sim.cellCount[0] && !placed; ++c) {
    int e = sim.ElementOfLevel0Cell(c);
    if (sim.hangingCorners[u][e] == 0) continue;
    auto [depth, index] = sim.elementOctreeCell[c];
    const OctreeCell& host = tree.cells[depth][index];
    double width = tree.CellWidth(host.level);
    for (Vec3f inCell : {Vec3f(0.5f, 0.5f, 0.5f), Vec3f(0.1f, 0.1f, 0.1f), Vec3f(0.9f, 0.9f, 0.9f)}) {
      Vec3d rest = (Vec3d(host.x, host.y, host.z) + Vec3d(inCell)) * width;
      Vec3d t = (rest - Vec3d(sim.cellPosition[u][e])) / std::ldexp(1.0, sim.cellDepth[u][e]);
      double hangingWeight = 0;
      for (int k = 0; k < 8; ++k) {
        if ((sim.hangingCorners[u][e] >> k) & 1) {
          hangingWeight += ((k & 1) ? t.x : 1 - t.x) * ((k & 2) ? t.y : 1 - t.y) * ((k & 4) ? t.z : 1 - t.z);
        }
      }
      if (hangingWeight > 0.05) {
        tree.surfaceVertexLevel[point] = depth;
        tree.surfaceVertexCell[point] = index;
        tree.surfaceVertexLocal[point] = inCell;
        local = t;
        placed = true;
        break;
      }
    }
  }
  ASSERT_TRUE(placed);
  ASSERT_EQ(sim.hangingCorners[u][sim.ElementOfSurfacePoint(point)] != 0, true);
  SystemSnapshot before = Snapshot(sim);
  std::fill(sim.contactFlag.begin(), sim.contactFlag.end(), 0);
  sim.contactFlag[point] = 1;
  const Vec3d force(1, -2, 3);
  sim.contactForce[point] = force;
  sim.contactStiffness[point] = Mat3d::Identity();
  sim.DistributeContacts();
  SystemSnapshot after = Snapshot(sim);
  int e = sim.ElementOfSurfacePoint(point);
  std::map<int, double> expected;
  for (int k = 0; k < 8; ++k) {
    if ((sim.hangingCorners[u][e] >> k) & 1) continue;
    expected[sim.cellVertices[u][e][k]] +=
        ((k & 1) ? local.x : 1 - local.x) * ((k & 2) ? local.y : 1 - local.y) * ((k & 4) ? local.z : 1 - local.z);
  }
  double total = 0;
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    Vec3d added = after.b[v] - before.b[v];
    double w = expected.count(v) ? expected[v] : 0.0;
    total += w;
    EXPECT_LT(Length(added - force * w), 1e-9) << "vertex " << v;
  }
  EXPECT_LT(total, 0.95);
}

namespace {

// Largest |A(i, j) - A(j, i)^T| of a level's rows, and the largest entry.
double LargestAsymmetry(const CutSim& sim, int level, double* scale) {
  std::map<std::pair<int, int>, Mat3d> blocks;
  for (int i = 0; i < sim.vertexCount[level]; ++i) {
    const LevelVertex& row = sim.levelVertices[level][i];
    for (int p = 0; p < row.count; ++p) blocks[{i, row.columns[p]}] = row.blocks[p];
  }
  double worst = 0;
  *scale = 0;
  for (const auto& [index, block] : blocks) {
    auto mirror = blocks.find({index.second, index.first});
    Mat3d other = mirror == blocks.end() ? Mat3d() : mirror->second;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::fabs(block(r, c) - other(c, r)));
        *scale = std::max(*scale, std::fabs(block(r, c)));
      }
    }
  }
  return worst;
}

}  // namespace

// Fixed vertices of elements that touch the ground: the contact terms must
// leave their rows at E * I and the system symmetric on every level, or
// the fixed vertices move and the V-cycle diverges on the unsymmetric
// coarse operators.
TEST(Contacts, FixedVerticesOnTheGroundKeepTheSystemSymmetricAndStayPut) {
  auto body = Ball();
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ShiftAll(sim, {0, 0, -2.25});
  // fix the vertices of every element in the lower half: below the ground
  int fixedCount = 0;
  for (int e = 0; e < sim.cellCount[u]; ++e) {
    if (sim.cellPosition[u][e].z > 4) continue;
    for (int k = 0; k < 8; ++k) {
      if ((sim.hangingCorners[u][e] >> k) & 1) continue;
      int v = sim.cellVertices[u][e][k];
      if (!sim.vertexFixed[u][v]) fixedCount += sim.SetVertexFixed(u, v, true);
    }
  }
  ASSERT_GT(fixedCount, 8);
  std::vector<Vec3d> fixedAt(sim.vertexCount[u]);
  for (int v = 0; v < sim.vertexCount[u]; ++v) fixedAt[v] = sim.levelVertices[u][v].x;
  sim.collisionEnabled = true;
  sim.PrepareTimeStep();
  int contacts = 0;
  for (uint8_t flag : sim.contactFlag) contacts += flag;
  ASSERT_GT(contacts, 8);
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    if (!sim.vertexFixed[u][v]) continue;
    const LevelVertex& row = sim.levelVertices[u][v];
    for (int p = 0; p < row.count; ++p) {
      Mat3d expected;
      if (row.columns[p] == v) expected(0, 0) = expected(1, 1) = expected(2, 2) = sim.E;
      for (int e = 0; e < 9; ++e) ASSERT_EQ(row.blocks[p].m[e], expected.m[e]) << "fixed vertex " << v;
    }
  }
  for (int level = u; level < sim.numLevels; ++level) {
    double scale;
    double asymmetry = LargestAsymmetry(sim, level, &scale);
    EXPECT_LE(asymmetry, 1e-12 * scale) << "level " << level;
  }
  sim.SolveExtended();
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    if (!sim.vertexFixed[u][v]) continue;
    EXPECT_EQ(sim.levelVertices[u][v].x, fixedAt[v]) << v;
  }
}
