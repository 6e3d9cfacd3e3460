#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "cutsim/hierarchy_validation.h"
#include "support/cutsim_body.h"

namespace {

BodyOptions Levels(int numLevels, int numEmbeddedLevels) {
  BodyOptions options;
  options.numLevels = numLevels;
  options.numEmbeddedLevels = numEmbeddedLevels;
  return options;
}

// Severs the link between the leaves covering a voxel and its neighbour
// across a face, as a cut does, and clears the rebuild flags of both.
void CutBetween(Octree& octree, const Vec3i& voxel, int face) {
  Vec3i other = voxel;
  other[face / 2] += (face & 1) ? 1 : -1;
  int level = 0, otherLevel = 0;
  int leaf = octree.FindLeaf(voxel, &level), otherLeaf = octree.FindLeaf(other, &otherLevel);
  ASSERT_GE(leaf, 0);
  ASSERT_GE(otherLeaf, 0);
  OctreeCell& a = octree.cells[level][leaf];
  OctreeCell& b = octree.cells[otherLevel][otherLeaf];
  a.links[face] = false;
  b.links[face ^ 1] = false;
  for (OctreeCell* c : {&a, &b}) {
    c->adjacencyCurrent = false;
    c->cornerVerticesCurrent = false;
  }
}

// The calling order of a cut around the octree edits.
void RebuildAfterCut(CutSim& sim) { ASSERT_TRUE(sim.BuildHierarchy(true)); }

std::set<int> VerticesOf(const CutSim& sim, int level, int cell) {
  std::set<int> vertices;
  for (int k = 0; k < 8; ++k) {
    if (!((sim.hangingCorners[level][cell] >> k) & 1)) vertices.insert(sim.cellVertices[level][cell][k]);
  }
  return vertices;
}

bool SharesVertex(const CutSim& sim, int level, int a, int b) {
  std::set<int> va = VerticesOf(sim, level, a), vb = VerticesOf(sim, level, b);
  for (int v : va) {
    if (vb.count(v)) return true;
  }
  return false;
}

int FaceNeighbourTotal(const CutSim& sim, int level, int cell) {
  int total = 0;
  for (int face = 0; face < 6; ++face) total += sim.faceNeighbourCount[level][6 * cell + face];
  return total;
}

// Two voxels sharing one face: 12 vertices; once the face is cut, each voxel
// has its own four vertices there (16), on every level layout including the
// ones where level 0 or 1 is the coarsest.
TEST(BuildHierarchy, CuttingTheSharedFaceOfTwoVoxelsGivesSixteenVertices) {
  const int layouts[][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 1}, {4, 2}};
  for (const auto& layout : layouts) {
    auto body = BuildBody(BoxMesh({0, 0, 0}, {2, 1, 1}), Levels(layout[0], layout[1]));
    ASSERT_TRUE(body);
    CutSim& sim = *body->sim;
    ASSERT_EQ(sim.cellCount[0], 2);
    ASSERT_EQ(sim.vertexCount[0], 12) << layout[0];
    ASSERT_EQ(ValidateHierarchy(sim), "");
    sim.StoreCornerPositionsInOctree();
    CutBetween(*body->octree, {0, 0, 0}, 1);
    RebuildAfterCut(sim);
    EXPECT_EQ(sim.cellCount[0], 2);
    EXPECT_EQ(sim.vertexCount[0], 16) << layout[0];
    EXPECT_FALSE(SharesVertex(sim, 0, 0, 1));
    EXPECT_EQ(FaceNeighbourTotal(sim, 0, 0) + FaceNeighbourTotal(sim, 0, 1), 0);
    EXPECT_EQ(ValidateHierarchy(sim), "") << layout[0] << " " << layout[1];
    // the pieces are now apart on every level
    for (int level = 1; level < sim.numLevels; ++level) {
      EXPECT_EQ(sim.vertexCount[level], 16) << level;
      EXPECT_EQ(sim.cellCount[level], 2) << level;
    }
    // the restored positions are the rest positions of the fresh vertices
    int u = sim.numEmbeddedLevels;
    for (int v = 0; v < sim.vertexCount[u]; ++v) EXPECT_EQ(sim.levelVertices[u][v].x, sim.RestPosition(u, v));
  }
}

// A 2x2x2 block cut through its centre parallel to a face: level 1 gets two
// cells at the same position with depth 1, no shared vertex, no adjacency.
TEST(BuildHierarchy, BlockCutThroughItsCentreGivesTwoSeparateCoarseCells) {
  for (int axis = 0; axis < 3; ++axis) {
    auto body = BuildBody(BoxMesh({0, 0, 0}, {2, 2, 2}), Levels(3, 1));
    ASSERT_TRUE(body);
    CutSim& sim = *body->sim;
    ASSERT_EQ(sim.cellCount[0], 8);
    ASSERT_EQ(sim.cellCount[1], 1);
    ASSERT_EQ(sim.vertexCount[0], 27);
    sim.StoreCornerPositionsInOctree();
    for (int c = 0; c < 8; ++c) {
      Vec3i voxel = {c & 1, (c >> 1) & 1, (c >> 2) & 1};
      if (voxel[axis] == 0) CutBetween(*body->octree, voxel, 2 * axis + 1);
    }
    RebuildAfterCut(sim);
    EXPECT_EQ(ValidateHierarchy(sim), "") << axis;
    EXPECT_EQ(sim.vertexCount[0], 36);
    ASSERT_EQ(sim.cellCount[1], 2) << axis;
    for (int c = 0; c < 2; ++c) {
      EXPECT_EQ(sim.cellPosition[1][c], Vec3i(0, 0, 0));
      EXPECT_EQ(sim.cellDepth[1][c], 1);
      EXPECT_EQ(FaceNeighbourTotal(sim, 1, c), 0);
    }
    EXPECT_FALSE(SharesVertex(sim, 1, 0, 1));
    EXPECT_EQ(sim.vertexCount[1], 16);
    // each half is its own box, so each coarse cell carries four octants
    EXPECT_EQ(__builtin_popcount(sim.childOctantMask[0]), 4);
    EXPECT_EQ(sim.childOctantMask[0] | sim.childOctantMask[1], 255);
  }
}

struct Level0Snapshot {
  int cells = 0, vertices = 0;
  std::vector<std::array<int32_t, 8>> cellVertices;
  std::vector<uint8_t> hanging;
  std::vector<Vec3i> vertexPosition;
  std::vector<ElementMatrix> simulationMatrices;
  std::vector<std::array<int32_t, 8>> stencilVertices, stencilWeights;
  std::vector<double> masses;
  std::vector<Vec3d> positions, previous;

  explicit Level0Snapshot(const CutSim& sim) {
    int u = sim.numEmbeddedLevels;
    cells = sim.cellCount[0];
    vertices = sim.vertexCount[0];
    cellVertices = sim.cellVertices[0];
    hanging = sim.hangingCorners[0];
    vertexPosition = sim.vertexPosition[0];
    simulationMatrices = sim.elementMatrices[u];
    stencilVertices = sim.prolongationVertices[0];
    stencilWeights = sim.prolongationWeights[0];
    masses = sim.vertexMass[u];
    for (int v = 0; v < sim.vertexCount[u]; ++v) {
      positions.push_back(sim.levelVertices[u][v].x);
      previous.push_back(sim.vertexHistory[u][v].previousX);
    }
  }
};

// With no leaf flagged by a cut an incremental build changes nothing: cell
// and vertex indices, element matrices, stencils, masses and the restored
// positions all stay bit for bit.
TEST(BuildHierarchy, IncrementalBuildWithoutFlaggedLeavesKeepsEverything) {
  auto body = LoadSceneBody("SphereScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  for (int step = 0; step < 3; ++step) {
    sim.PrepareTimeStep();
    sim.SolveExtended();
    sim.CopyVertexPositionsIntoOctree();
  }
  Level0Snapshot before(sim);
  sim.StoreCornerPositionsInOctree();
  ASSERT_TRUE(sim.BuildHierarchy(true));
  Level0Snapshot after(sim);
  EXPECT_EQ(ValidateHierarchy(sim), "");
  EXPECT_EQ(after.cells, before.cells);
  EXPECT_EQ(after.vertices, before.vertices);
  EXPECT_EQ(after.cellVertices, before.cellVertices);
  EXPECT_EQ(after.hanging, before.hanging);
  EXPECT_EQ(after.vertexPosition, before.vertexPosition);
  ASSERT_EQ(after.simulationMatrices.size(), before.simulationMatrices.size());
  for (size_t e = 0; e < before.simulationMatrices.size(); ++e) {
    ASSERT_TRUE(after.simulationMatrices[e] == before.simulationMatrices[e]) << e;
  }
  EXPECT_EQ(after.stencilVertices, before.stencilVertices);
  EXPECT_EQ(after.stencilWeights, before.stencilWeights);
  EXPECT_EQ(after.masses, before.masses);
  EXPECT_EQ(after.positions, before.positions);
  EXPECT_EQ(after.previous, before.previous);
}

// Refining a leaf the way a cut does (its index goes to the first child,
// neighbours are flagged) keeps the body whole: same mass, valid levels,
// linear fields still reproduced, untouched level-0 vertices keep their index.
TEST(BuildHierarchy, RefiningALeafRebuildsOnlyItsNeighbourhood) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(3, 1));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  Octree& octree = *body->octree;
  int finest = octree.FinestLevel();
  int coarseLeaf = -1;
  for (int i = 0; i < static_cast<int>(octree.cells[finest - 1].size()); ++i) {
    if (octree.cells[finest - 1][i].leaf) coarseLeaf = i;
  }
  ASSERT_GE(coarseLeaf, 0) << "the box has no depth-1 leaf";
  double mass = 0;
  for (double m : sim.vertexMass[0]) mass += m;
  std::vector<Vec3i> positions = sim.vertexPosition[0];
  int cells = sim.cellCount[0];
  int element = octree.cells[finest - 1][coarseLeaf].element;
  sim.StoreCornerPositionsInOctree();
  octree.RefineLeaf(finest - 1, coarseLeaf);
  RebuildAfterCut(sim);
  EXPECT_EQ(ValidateHierarchy(sim), "");
  EXPECT_EQ(sim.cellCount[0], cells + 7);
  EXPECT_EQ(sim.cellDepth[0][element], 0);
  double massAfter = 0;
  for (double m : sim.vertexMass[0]) massAfter += m;
  EXPECT_NEAR(massAfter, mass, 1e-12 * mass);
  // vertices away from the refined leaf keep index and position
  Vec3i low = sim.cellPosition[0][element] - Vec3i(2, 2, 2), high = sim.cellPosition[0][element] + Vec3i(4, 4, 4);
  int kept = 0;
  for (size_t v = 0; v < positions.size(); ++v) {
    const Vec3i& p = positions[v];
    bool near = p.x >= low.x && p.x <= high.x && p.y >= low.y && p.y <= high.y && p.z >= low.z && p.z <= high.z;
    if (near) continue;
    EXPECT_EQ(sim.vertexPosition[0][v], p) << v;
    ++kept;
  }
  EXPECT_GT(kept, 0);
}

// Voxels that touch only along an edge or at a corner have no face path
// between them, so the shared points carry one vertex per voxel; the lookup
// keeps the lower index.
TEST(BuildHierarchy, EdgeOrCornerContactGivesSeparateVertices) {
  struct Case {
    const char* name;
    Vec3f secondLow;
    int sharedPoints;
  } cases[] = {{"edge", {1, 1, 0}, 2}, {"corner", {1, 1, 1}, 1}};
  for (const Case& c : cases) {
    Vec3f secondHigh = c.secondLow + Vec3f(1, 1, 1);
    auto body = BuildBody(BoxesMesh({{{0, 0, 0}, {1, 1, 1}}, {c.secondLow, secondHigh}}), Levels(1, 0));
    ASSERT_TRUE(body) << c.name;
    const CutSim& sim = *body->sim;
    ASSERT_EQ(sim.cellCount[0], 2) << c.name;
    EXPECT_EQ(sim.vertexCount[0], 16) << c.name;
    EXPECT_FALSE(SharesVertex(sim, 0, 0, 1)) << c.name;
    EXPECT_EQ(ValidateHierarchy(sim), "") << c.name;
    EXPECT_EQ(sim.vertexLookup.size(), 16u - c.sharedPoints) << c.name;
    for (const auto& [position, vertex] : sim.vertexLookup) {
      for (int v = 0; v < vertex; ++v) {
        const Vec3i& p = sim.vertexPosition[0][v];
        EXPECT_FALSE(p.x == position[0] && p.y == position[1] && p.z == position[2]) << c.name << " " << vertex;
      }
    }
  }
}

// Next to a depth-1 leaf, the corners of the voxels at the centre of the
// shared face and in the middle of its edges hang: no vertex there.
TEST(BuildHierarchy, CornersOnTheFaceOfALargerLeafHang) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), Levels(1, 0));
  ASSERT_TRUE(body);
  const CutSim& sim = *body->sim;
  ASSERT_EQ(ValidateHierarchy(sim), "");
  int checked = 0;
  for (int c = 0; c < sim.cellCount[0]; ++c) {
    if (sim.cellDepth[0][c] != 1) continue;
    const Vec3i& p = sim.cellPosition[0][c];
    for (int face = 0; face < 6; ++face) {
      int count = sim.faceNeighbourCount[0][6 * c + face];
      if (count != 4) continue;
      // the centre of the face and the middle of each of its edges
      int axis = face / 2;
      Vec3i centre = p + Vec3i(1, 1, 1);
      centre[axis] = p[axis] + ((face & 1) ? 2 : 0);
      for (int du = -1; du <= 1; ++du) {
        for (int dv = -1; dv <= 1; ++dv) {
          if (du != 0 && dv != 0) continue;
          Vec3i q = centre;
          q[(axis + 1) % 3] += du;
          q[(axis + 2) % 3] += dv;
          EXPECT_EQ(sim.vertexLookup.count({q.x, q.y, q.z}), 0u) << q.x << " " << q.y << " " << q.z;
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 0);
}

TEST(BuildHierarchy, SingleVoxelRendersItsCornersInFaceTableOrder) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {1, 1, 1}), Levels(1, 0));
  ASSERT_TRUE(body);
  const CutSim& sim = *body->sim;
  ASSERT_EQ(sim.vertexCount[0], 8);
  for (int k = 0; k < 8; ++k) ASSERT_EQ(sim.cellVertices[0][0][k], k);
  EXPECT_EQ(sim.renderVertices, (std::vector<int32_t>{6, 2, 4, 0, 5, 1, 7, 3}));
  for (int v = 0; v < 8; ++v) EXPECT_EQ(sim.renderVertices[sim.renderVertexIndex[v]], v);
}

// Occupancy bits and embedded bounds against the level-0 cells they come
// from; element corners against the positions they interpolate.
TEST(BuildHierarchy, ElementDataDescribesTheEmbeddedCells) {
  BodyOptions options = Levels(4, 3);
  auto body = BuildBody(BoxMesh({0, 0, 0}, {11, 9, 6}), options);
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  ASSERT_EQ(sim.occupancyWordCount, 8);
  std::vector<int> voxels(sim.cellCount[u], 0);
  std::vector<Vec3i> low(sim.cellCount[u], Vec3i(1 << 20, 1 << 20, 1 << 20)), high(sim.cellCount[u], Vec3i());
  for (int c = 0; c < sim.cellCount[0]; ++c) {
    int e = sim.embeddingMap[0][c];
    int size = 1 << sim.cellDepth[0][c];
    voxels[e] += size * size * size;
    for (int a = 0; a < 3; ++a) {
      low[e][a] = std::min(low[e][a], sim.cellPosition[0][c][a]);
      high[e][a] = std::max(high[e][a], sim.cellPosition[0][c][a] + size);
    }
  }
  for (int e = 0; e < sim.cellCount[u]; ++e) {
    int bits = 0;
    for (int w = 0; w < sim.occupancyWordCount; ++w) bits += __builtin_popcountll(sim.occupancyWords[e * sim.occupancyWordCount + w]);
    EXPECT_EQ(bits, sim.cellDepth[u][e] == u ? voxels[e] : 0) << e;
    double edge = 1 << sim.cellDepth[u][e];
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(sim.embeddedBounds[e][0][a], (low[e][a] - sim.cellPosition[u][e][a]) / edge);
      EXPECT_EQ(sim.embeddedBounds[e][1][a], (high[e][a] - sim.cellPosition[u][e][a]) / edge);
    }
  }
  // the voxel at (10, 8, 5), offset (2, 0, 5) in its element: word 0 + 2 (0 + 2 * 1), bit 2 + 4 * 0 + 16 * 1
  int leafLevel = 0;
  int leaf = body->octree->FindLeaf({10, 8, 5}, &leafLevel);
  int e = sim.embeddingMap[0][body->octree->cells[leafLevel][leaf].element];
  ASSERT_EQ(sim.cellPosition[u][e], Vec3i(8, 8, 0));
  EXPECT_TRUE((sim.occupancyWords[e * 8 + 4] >> 18) & 1);
  // shift everything: every corner, hanging or not, moves with it
  Vec3d shift(0.25, -0.5, 1.0);
  for (int v = 0; v < sim.vertexCount[u]; ++v) sim.levelVertices[u][v].x = sim.RestPosition(u, v) + shift;
  sim.ComputeElementCorners();
  for (int k = 0; k < sim.cellCount[u]; ++k) {
    for (int corner = 0; corner < 8; ++corner) {
      Vec3i p = sim.CornerPosition(u, k, corner);
      Vec3f expected(Vec3d(p.x, p.y, p.z) + shift);
      EXPECT_EQ(sim.elementCorners[k][corner], expected);
    }
  }
}

TEST(BuildHierarchy, InvalidLevelCountsAreRejected) {
  const int layouts[][2] = {{0, 0}, {2, 2}, {3, -1}};
  for (const auto& layout : layouts) {
    Octree octree;
    octree.voxelSize = {1, 1, 1};
    CutSim sim(octree);
    sim.numLevels = layout[0];
    sim.numEmbeddedLevels = layout[1];
    std::wostringstream log;
    EXPECT_FALSE(sim.BuildHierarchy(false, &log));
    EXPECT_EQ(log.str().rfind(L"ERROR: NUM_EMBEDDED_LEVELS", 0), 0u) << layout[0] << " " << layout[1];
    EXPECT_FALSE(sim.Built());
  }
}

TEST(BuildHierarchyDeathTest, OctreeWithoutVoxelsIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Octree octree;
  octree.voxelSize = {1, 1, 1};
  CutSim sim(octree);
  ASSERT_TRUE(sim.SetMaterial({}, 1e4, 0.3, true, 0.02, 1, 1000, true));
  EXPECT_DEATH(sim.BuildHierarchy(false),
               "FATAL ERROR: FE model does not have any voxels\nSource file \"cutsim\", line 553");
}

TEST(AddFaceNeighbour, FacesGrowBeyondTheirSlotsWithoutLosingNeighbours) {
  auto body = BuildBody(BoxMesh({0, 0, 0}, {4, 4, 4}), Levels(2, 1));
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  int slots = sim.faceSlotCount[1];
  int cell = 0, face = 3;
  std::vector<int32_t> others;
  for (int f = 0; f < 6; ++f) {
    for (int k = 0; k < sim.faceNeighbourCount[1][6 * 1 + f]; ++k) others.push_back(sim.faceNeighbours[1][(6 + f) * slots + k]);
  }
  int start = sim.faceNeighbourCount[1][6 * cell + face];
  for (int n = 0; n < slots + 5; ++n) sim.AddFaceNeighbour(1, cell, face, 100 + n);
  sim.AddFaceNeighbour(1, cell, face, 100);  // already there: nothing
  int grown = sim.faceSlotCount[1];
  EXPECT_GT(grown, slots);
  ASSERT_EQ(sim.faceNeighbourCount[1][6 * cell + face], start + slots + 5);
  for (int n = 0; n < slots + 5; ++n) EXPECT_EQ(sim.faceNeighbours[1][(6 * cell + face) * grown + start + n], 100 + n);
  std::vector<int32_t> othersAfter;
  for (int f = 0; f < 6; ++f) {
    for (int k = 0; k < sim.faceNeighbourCount[1][6 * 1 + f]; ++k) othersAfter.push_back(sim.faceNeighbours[1][(6 + f) * grown + k]);
  }
  EXPECT_EQ(othersAfter, others);
}

// The checker is only useful if it notices corruption: each broken link of
// the hierarchy gives a message naming it.
TEST(ValidateHierarchy, ReportsCorruptedStructures) {
  struct Case {
    const char* expected;
    void (*corrupt)(CutSim&);
  } cases[] = {
      {"has parent", [](CutSim& s) { s.cellParent[0][3] = s.cellCount[1] + 5; }},
      {"does not touch it",
       [](CutSim& s) {
         for (int c = 0; c < s.cellCount[0]; ++c) {
           if (s.faceNeighbourCount[0][6 * c] > 0) {
             s.faceNeighbours[0][6 * c * s.faceSlotCount[0]] = c;
             return;
           }
         }
       }},
      {"is not at corner", [](CutSim& s) { s.vertexPosition[0][5].x += 1; }},
      {"stencil weights sum to",
       [](CutSim& s) {
         auto& weights = s.prolongationWeights[0][0];
         for (int k = 0; k < 8; ++k) {
           if (weights[k] == 0) {
             weights[k] = 1;
             return;
           }
         }
       }},
      {"embed", [](CutSim& s) { s.embeddingMap[0][1] = s.cellCount[1]; }},
      {"vertex arrays differ", [](CutSim& s) { s.vertexForce[0].pop_back(); }},
      {"hangs on",
       [](CutSim& s) {
         s.hangingCorners[0][0] |= 1;
         s.cellVertices[0][0][0] = -1;
       }},
  };
  for (const Case& c : cases) {
    auto body = BuildBody(BoxMesh({0, 0, 0}, {4, 4, 2}), Levels(3, 1));
    ASSERT_TRUE(body);
    ASSERT_EQ(ValidateHierarchy(*body->sim), "");
    c.corrupt(*body->sim);
    std::string problem = ValidateHierarchy(*body->sim);
    EXPECT_NE(problem.find(c.expected), std::string::npos) << c.expected << ": got \"" << problem << "\"";
  }
}

}  // namespace
