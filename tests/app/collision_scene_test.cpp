// Contacts on scenes loaded the way the program loads them: a ball dropped on
// the ground, a cut-off piece falling onto the fixed rest of its body, and
// the distance field that cuts keep up to date for the contact queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "app/editor.h"
#include "app/recorder.h"
#include "app/scene.h"
#include "support/temp_folder.h"

namespace {

class NoPicker : public ObjectPicker {
 public:
  uint32_t ReadObjectId(int, int) override { return 0; }
  void ReadObjectIds(int, int, int, int, std::set<uint32_t>&) override {}
};

// A closed box mesh [0,sx] x [0,sy] x [0,sz] as OBJ text, faces outward.
std::string BoxObj(float sx, float sy, float sz) {
  std::ostringstream obj;
  for (int c = 0; c < 8; ++c) obj << "v " << ((c & 1) ? sx : 0) << " " << ((c & 2) ? sy : 0) << " " << ((c & 4) ? sz : 0) << "\n";
  const int faces[12][3] = {{1, 5, 7}, {1, 7, 3}, {2, 4, 8}, {2, 8, 6}, {1, 2, 6}, {1, 6, 5},
                            {3, 7, 8}, {3, 8, 4}, {1, 3, 4}, {1, 4, 2}, {5, 6, 8}, {5, 8, 7}};
  for (const auto& f : faces) obj << "f " << f[0] << " " << f[1] << " " << f[2] << "\n";
  return obj.str();
}

// A scene in a temporary folder with an editor that cuts it.
struct ContactScene {
  TempFolder folder;
  Scene scene;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<Editor> editor;
  NoPicker picker;
  std::wostringstream log;

  // A bundled scene, its mesh referred to in the source tree, with overrides.
  bool LoadBundled(const std::string& sceneName, const std::string& overrides) {
    const std::string source = std::string(VARDEL_SOURCE_DIR) + "/scenes/";
    std::string text = TempFolder::Read(source + sceneName);
    std::string meshName;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("MESH:", 0) == 0) meshName = line.substr(line.find_first_not_of(' ', 5));
    }
    return LoadText(text + "\nMESH: " + source + meshName + "\n" + overrides);
  }

  bool LoadText(const std::string& sceneText) {
    folder.Write("scene.txt", sceneText);
    if (!scene.Load(folder.WideFile("scene.txt"), 0, &log)) return false;
    recorder = std::make_unique<Recorder>(&scene, [] { return CameraPose(); });
    EditorServices services;
    services.forceLogPath = folder.File("forces.txt");
    services.cuttingSurfacePath = folder.File("cuttingsurface.txt");
    services.chooseFile = [](const std::wstring&, const std::wstring&, const std::wstring&, bool, std::wstring&) {
      return false;  // the recording is not kept
    };
    editor = std::make_unique<Editor>(picker, scene, *recorder, services, &log);
    return true;
  }

  // Cuts with the rectangle spanned by corner, u and v (octree frame, mesh
  // units) through a cutting surface file, as the "cut from file" action does.
  bool CutRectangle(const Vec3f& corner, const Vec3f& u, const Vec3f& v) {
    Vec3f p[4] = {corner, corner + u, corner + u + v, corner + v};
    std::ostringstream text;
    text.precision(9);
    const int triangles[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const int* t : triangles) {
      for (int c = 0; c < 3; ++c) text << p[t[c]].x << " " << p[t[c]].y << " " << p[t[c]].z << "   ";
      text << 1 << "\n";
    }
    folder.Write("cut.txt", text.str());
    return editor->CutFromFile(folder.WideFile("cut.txt"));
  }

  // One simulated frame: time-step preparation, two V-cycles, positions
  // back into the octree.
  void Step() {
    CutSim& sim = *scene.cutSim;
    sim.PrepareTimeStep();
    sim.SolveExtended();
    sim.CopyVertexPositionsIntoOctree();
  }

  // Lowest surface point that the current triangles use.
  float LowestSurfacePoint() {
    Octree& octree = *scene.octree;
    octree.UpdateSurfacePositions();
    float lowest = HUGE_VALF;
    for (int p = 0; p < octree.surfaceVertexCount; ++p) {
      if (octree.vertexTriangleCount[p] > 0) lowest = std::min(lowest, octree.surfacePositions[p].z);
    }
    return lowest;
  }
};

}  // namespace

TEST(CollisionScene, BallSettlesOnTheGroundWithCollisionAndFallsThroughWithout) {
  for (bool collision : {true, false}) {
    ContactScene s;
    // a coarser grid than the bundled one keeps the run short
    ASSERT_TRUE(s.LoadBundled("SphereScene.txt", "VOXEL_SIZE: 0.008 0.008 0.008\n")) << s.log.str();
    const float voxel = static_cast<float>(s.scene.voxelSize.z);
    ASSERT_NEAR(s.LowestSurfacePoint(), 0.0f, 0.5f * voxel) << "the ball starts on the ground";
    s.scene.SetCollisionDetection(collision);
    float lowest = 0;
    for (int step = 0; step < 200; ++step) {
      s.Step();
      lowest = s.LowestSurfacePoint();
      if (!collision && lowest < -10 * voxel) break;  // through the ground: enough
    }
    if (collision) {
      // the penalty of 2 N/m per contact point carries the ball's 2 kg only
      // some voxels deep: bounded sinking, not the fall through the ground
      EXPECT_GT(lowest, -6 * voxel) << "lowest point " << lowest / voxel << " voxels";
    } else {
      EXPECT_LT(lowest, -10 * voxel) << "lowest point " << lowest / voxel << " voxels";
    }
  }
}

namespace {

// A block of 15 x 15 x 10 voxels of 4 mm under gravity.
const std::string kBlockScene =
    "MESH: block.obj\nVOXEL_SIZE: 0.004 0.004 0.004\nELASTIC_MODULUS: 20000\nPOISSON_RATIO: 0.3\n"
    "DENSITY: 1000\nDAMPING_FACTOR: 1.0\nTIME_STEP: 0.02\nGRAVITY: 0 0 -9.81\nNUM_LEVELS: 3\n"
    "NUM_EMBEDDED_LEVELS: 1\n";

bool LoadBlock(ContactScene& s) {
  s.folder.Write("block.obj", BoxObj(0.06f, 0.06f, 0.04f));
  return s.LoadText(kBlockScene);
}

// Fixes every vertex of the level-0 cells below the height (voxels).
void FixBelow(CutSim& sim, int height) {
  for (int c = 0; c < sim.cellCount[0]; ++c) {
    if (sim.cellPosition[0][c].z + (1 << sim.cellDepth[0][c]) > height) continue;
    for (int k = 0; k < 8; ++k) {
      if (!((sim.hangingCorners[0][c] >> k) & 1)) sim.SetVertexFixed(0, sim.cellVertices[0][c][k], true);
    }
  }
  sim.PropagateConstraints(sim.numEmbeddedLevels);
}

// Lifts every free vertex of the simulation level, at rest.
void LiftFreeVertices(CutSim& sim, double height) {
  int u = sim.numEmbeddedLevels;
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    if (sim.vertexFixed[u][v]) continue;
    sim.levelVertices[u][v].x.z += height;
    sim.vertexHistory[u][v].previousX.z += height;
  }
  sim.CopyVertexPositionsIntoOctree();
}

}  // namespace

// The penalty of 2.0 per sampled point lets a resting piece sink a few voxels
// into the one below (as the ball sinks into the ground); without contacts it
// falls straight through.
TEST(CollisionScene, CutOffPieceFallsOntoTheFixedRestAndStaysOnIt) {
  for (bool collision : {true, false}) {
    ContactScene s;
    ASSERT_TRUE(LoadBlock(s)) << s.log.str();
    const double voxel = s.scene.voxelSize.z;
    const float cutHeight = static_cast<float>(5.025 * voxel);
    s.scene.SetCollisionDetection(collision);
    // a horizontal cut through the whole block parts it at 5 voxels' height
    ASSERT_TRUE(s.CutRectangle({-0.01f, -0.01f, cutHeight}, {0.08f, 0, 0}, {0, 0.08f, 0})) << s.log.str();
    CutSim& sim = *s.scene.cutSim;
    FixBelow(sim, 5);
    LiftFreeVertices(sim, 2 * voxel);
    Octree& octree = *s.scene.octree;
    // the upper piece's sheet of the cut: its bottom face
    std::vector<int> bottom;
    for (size_t t = 0; t < octree.surfaceTriangleTag.size(); ++t) {
      if (octree.surfaceTriangleTag[t] != 1) continue;
      for (int c = 0; c < 3; ++c) {
        int p = octree.surfaceTriangles[3 * t + c];
        const OctreeCell& host = octree.cells[octree.surfaceVertexLevel[p]][octree.surfaceVertexCell[p]];
        if (host.z * octree.CellWidth(host.level) >= 5 && sim.SampledForSelfContact(p)) bottom.push_back(p);
      }
    }
    ASSERT_GT(bottom.size(), 40u);
    double deepest = 0, highest = 0;
    for (int step = 0; step < 100; ++step) {
      s.Step();
      if (step < 70) continue;  // after it has landed and settled
      octree.UpdateSurfacePositions();
      highest = -HUGE_VAL;
      for (int p : bottom) {
        double below = cutHeight - octree.surfacePositions[p].z;
        deepest = std::max(deepest, below);
        highest = std::max(highest, -below);
      }
    }
    if (collision) {
      EXPECT_LT(deepest, 6 * voxel) << "penetration " << deepest / voxel << " voxels";
      // resting on it, not held above it
      EXPECT_LT(highest, 1.0 * voxel) << "gap " << highest / voxel << " voxels";
    } else {
      EXPECT_GT(deepest, 20 * voxel) << "penetration " << deepest / voxel << " voxels";
    }
  }
}

namespace {

std::vector<float> Distances(const VoxelGrid& grid) {
  std::vector<float> d;
  for (const VoxelRecord& r : grid.records) d.push_back(r.inside ? r.distance : 0.0f);
  return d;
}

// Largest difference between the grid's field and a full sweep of the same
// grid; the grid keeps the sweep's field.
double DifferenceToSweep(VoxelGrid& grid) {
  std::vector<float> kept = Distances(grid);
  grid.ComputeBySweeping();
  std::vector<float> swept = Distances(grid);
  double worst = 0;
  for (size_t i = 0; i < kept.size(); ++i) worst = std::max(worst, std::fabs(double(kept[i]) - swept[i]));
  return worst;
}

double LargestChange(const std::vector<float>& a, const std::vector<float>& b) {
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(double(a[i]) - b[i]));
  return worst;
}

}  // namespace

TEST(CollisionScene, DistanceFieldAfterCutsMatchesAFullSweep) {
  ContactScene s;
  ASSERT_TRUE(LoadBlock(s)) << s.log.str();
  VoxelGrid& grid = *s.scene.octree->voxelGrid;
  const double voxel = s.scene.voxelSize.x;
  std::vector<float> before = Distances(grid);
  // a slanted cut with collision detection off leaves the field stale ...
  ASSERT_TRUE(s.CutRectangle({-0.01f, -0.01f, 0.012f}, {0.08f, 0, 0.012f}, {0, 0.05f, 0.004f})) << s.log.str();
  EXPECT_EQ(Distances(grid), before);
  // ... until it is switched on
  s.scene.SetCollisionDetection(true);
  std::vector<float> afterFirst = Distances(grid);
  EXPECT_GT(LargestChange(before, afterFirst), 2 * voxel) << "the cut changed the field";
  EXPECT_LT(DifferenceToSweep(grid), voxel);
  // a second cut with collision detection on: the wavefront at once
  std::vector<float> beforeSecond = Distances(grid);
  ASSERT_TRUE(s.CutRectangle({0.031f, -0.01f, -0.01f}, {0, 0.08f, 0}, {0.004f, 0, 0.08f})) << s.log.str();
  EXPECT_GT(LargestChange(beforeSecond, Distances(grid)), 2 * voxel) << "the cut changed the field";
  EXPECT_LT(DifferenceToSweep(grid), voxel);
}
