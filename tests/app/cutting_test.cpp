// Cuts on scenes loaded the way the program loads them: severing a clamped
// beam, slits that open without parting the body, positions carried across
// the incremental rebuild, the octree checker after every cut and cuts read
// from a cutting surface file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>

#include "app/editor.h"
#include "app/output_files.h"
#include "app/recorder.h"
#include "app/scene.h"
#include "geometry/octree_validation.h"
#include "support/cutsim_body.h"
#include "support/geometry_reference.h"
#include "support/temp_folder.h"

namespace {

class NoPicker : public ObjectPicker {
 public:
  uint32_t ReadObjectId(int, int) override { return 0; }
  void ReadObjectIds(int, int, int, int, std::set<uint32_t>&) override {}
};

struct Triangle {
  Vec3f a, b, c;
};

// Two triangles of the rectangle spanned by corner and the edges u and v.
std::vector<Triangle> Rectangle(const Vec3f& corner, const Vec3f& u, const Vec3f& v) {
  return {{corner, corner + u, corner + u + v}, {corner, corner + u + v, corner + v}};
}

// A bundled scene loaded through Scene::Load from a copy whose extra lines
// override the bundled values, with an editor that cuts it.
struct CutScene {
  TempFolder folder;
  Scene scene;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<Editor> editor;
  NoPicker picker;
  std::wostringstream log;

  bool Load(const std::string& sceneName, const std::string& overrides) {
    const std::string source = std::string(VARDEL_SOURCE_DIR) + "/scenes/";
    std::string text = TempFolder::Read(source + sceneName);
    std::string meshName;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("MESH:", 0) == 0) meshName = line.substr(line.find_first_not_of(' ', 5));
    }
    folder.Write("scene.txt", text + "\nMESH: " + source + meshName + "\n" + overrides);
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

  // Writes the triangles as a cutting surface file and cuts with it.
  bool CutFromFile(const std::vector<Triangle>& triangles, int32_t id) {
    std::ostringstream text;
    text.precision(9);
    for (const Triangle& t : triangles) {
      for (const Vec3f& p : {t.a, t.b, t.c}) text << p.x << " " << p.y << " " << p.z << "   ";
      text << id << "\n";
    }
    folder.Write("cut.txt", text.str());
    return editor->CutFromFile(folder.WideFile("cut.txt"));
  }

  // The cut of CutAlongToolPath with given triangles: stored corners,
  // insertion, extraction, incremental rebuild.
  void CutDirectly(const std::vector<Triangle>& triangles, int32_t id) {
    scene.cutSim->StoreCornerPositionsInOctree();
    for (const Triangle& t : triangles) scene.octree->InsertCutTriangle(t.a, t.b, t.c, id);
    scene.octree->ExtractSurface();
    ASSERT_TRUE(scene.cutSim->BuildHierarchy(true, &log)) << log.str();
    scene.UpdateDistanceFieldAfterCut();
  }
};

void Step(CutSim& sim) {
  sim.PrepareTimeStep();
  sim.SolveExtended();
  sim.CopyVertexPositionsIntoOctree();
}

// Level-0 cells of the current model: those of the octree's leaves (cells of
// refined leaves stay allocated for reuse).
std::set<int> UsedLevel0Cells(const CutSim& sim) {
  std::set<int> used;
  for (const auto& level : sim.octree.cells) {
    for (const OctreeCell& leaf : level) {
      if (leaf.leaf && leaf.wasLeaf) used.insert(leaf.element);
    }
  }
  return used;
}

// Level-0 cells joined through face neighbours: component per used cell
// (-1 for the others).
std::vector<int> Level0Components(const CutSim& sim, int* count) {
  const int n = sim.cellCount[0];
  const std::set<int> used = UsedLevel0Cells(sim);
  std::vector<int> parent(n);
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int c) {
    while (parent[c] != c) c = parent[c] = parent[parent[c]];
    return c;
  };
  for (int c : used) {
    for (int face = 0; face < 6; ++face) {
      for (int k = 0; k < sim.faceNeighbourCount[0][6 * c + face]; ++k) {
        const int other = sim.faceNeighbours[0][(6 * c + face) * sim.faceSlotCount[0] + k];
        if (other >= 0) parent[find(c)] = find(other);
      }
    }
  }
  std::map<int, int> numbers;
  std::vector<int> component(n, -1);
  for (int c : used) component[c] = numbers.emplace(find(c), int(numbers.size())).first->second;
  *count = static_cast<int>(numbers.size());
  return component;
}

// Level-0 vertices of each level-0 component.
std::vector<std::set<int>> VerticesByComponent(const CutSim& sim, const std::vector<int>& component, int count) {
  std::vector<std::set<int>> vertices(count);
  for (int c : UsedLevel0Cells(sim)) {
    for (int k = 0; k < 8; ++k) {
      if (!((sim.hangingCorners[0][c] >> k) & 1)) vertices[component[c]].insert(sim.cellVertices[0][c][k]);
    }
  }
  return vertices;
}

// Beam scenes at a quarter of the bundled resolution (30 x 5 x 5 voxels), for speed.
const char* kCoarseBeam = "VOXEL_SIZE: 0.01 0.01 0.01\n";

TEST(Cutting, PlanarCutAcrossTheClampedBeamLetsTheFreePartFall) {
  CutScene s;
  ASSERT_TRUE(s.Load("BeamScene.txt", kCoarseBeam)) << s.log.str();
  CutSim& sim = *s.scene.cutSim;
  Octree& octree = *s.scene.octree;
  int before = 0;
  Level0Components(sim, &before);
  ASSERT_EQ(before, 1);

  // the plane x = 0.1512 m, reaching well past the 0.05 m cross-section
  ASSERT_TRUE(s.CutFromFile(Rectangle(Vec3f(0.1512f, -0.05f, -0.05f), Vec3f(0, 0.15f, 0), Vec3f(0, 0, 0.15f)), 1))
      << s.log.str();
  EXPECT_EQ(ValidateOctree(octree), "");
  int count = 0;
  const std::vector<int> component = Level0Components(sim, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "");
  EXPECT_EQ(SurfaceComponentCount(octree.surfaceTriangles, octree.surfaceVertexCount), 2);
  // the plane is what parts them
  std::set<int> left, right;
  for (int c : UsedLevel0Cells(sim)) {
    const double x = (sim.cellPosition[0][c].x + 0.5 * (1 << sim.cellDepth[0][c])) * sim.voxelSize.x;
    (x < 0.1512 ? left : right).insert(component[c]);
  }
  ASSERT_EQ(left.size(), 1u);
  ASSERT_EQ(right.size(), 1u);
  EXPECT_NE(*left.begin(), *right.begin());

  const std::vector<std::set<int>> parts = VerticesByComponent(sim, component, count);
  int fixedPart = -1;
  for (int p = 0; p < 2; ++p) {
    for (int v : parts[p]) {
      if (sim.vertexFixed[0][v]) fixedPart = p;
    }
  }
  ASSERT_GE(fixedPart, 0);
  for (int step = 0; step < 100; ++step) Step(sim);
  // mean and largest displacement of each part's level-0 vertices
  double meanDrop[2] = {0, 0}, largest[2] = {0, 0};
  for (int p = 0; p < 2; ++p) {
    for (int v : parts[p]) {
      const Vec3d u = sim.levelVertices[0][v].x - sim.RestPosition(0, v);
      meanDrop[p] -= u.z / parts[p].size();
      largest[p] = std::max(largest[p], Length(u));
    }
  }
  const int freePart = 1 - fixedPart;
  // two seconds with a damping of 1/s: a free body falls about 10 m
  EXPECT_GT(meanDrop[freePart], 5.0);
  EXPECT_LT(largest[fixedPart], 0.1) << "the clamped half (0.15 m) sags but stays";
  for (int v : parts[fixedPart]) {
    if (sim.vertexFixed[0][v]) {
      EXPECT_EQ(sim.levelVertices[0][v].x, sim.RestPosition(0, v));
    }
  }
}

// Separation of the level-0 vertices that a cut duplicated: the largest
// distance between two vertices at one grid position.
double LargestGap(const CutSim& sim) {
  std::map<std::array<int, 3>, std::vector<int>> byPosition;
  std::set<int> used;
  for (int c : UsedLevel0Cells(sim)) {
    for (int k = 0; k < 8; ++k) {
      if (!((sim.hangingCorners[0][c] >> k) & 1)) used.insert(sim.cellVertices[0][c][k]);
    }
  }
  for (int v : used) {
    const Vec3i& p = sim.vertexPosition[0][v];
    byPosition[{p.x, p.y, p.z}].push_back(v);
  }
  double gap = 0;
  for (const auto& [position, vertices] : byPosition) {
    for (size_t i = 1; i < vertices.size(); ++i) {
      gap = std::max(gap, Length(sim.levelVertices[0][vertices[i]].x - sim.levelVertices[0][vertices[0]].x));
    }
  }
  return gap;
}

TEST(Cutting, SlitOpensUnderLoadAndKeepsTheBodyInOnePiece) {
  CutScene s;
  ASSERT_TRUE(s.Load("BeamScene.txt", kCoarseBeam)) << s.log.str();
  CutSim& sim = *s.scene.cutSim;
  Octree& octree = *s.scene.octree;
  // a slit from the top down to the middle, near the clamp where the sagging beam's top is stretched
  ASSERT_TRUE(s.CutFromFile(Rectangle(Vec3f(0.0512f, -0.05f, 0.0251f), Vec3f(0, 0.15f, 0), Vec3f(0, 0, 0.1f)), 1))
      << s.log.str();
  EXPECT_EQ(ValidateOctree(octree), "");
  int count = 0;
  Level0Components(sim, &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(SurfaceComponentCount(octree.surfaceTriangles, octree.surfaceVertexCount), 1);
  EXPECT_EQ(ClosedOrientedSurfaceError(octree.surfaceTriangles), "");
  EXPECT_EQ(LargestGap(sim), 0.0) << "a cut moves nothing";
  for (int step = 0; step < 15; ++step) Step(sim);
  // the slit's lips part by a visible fraction of a voxel
  EXPECT_GT(LargestGap(sim), 0.1 * sim.voxelSize.x);
  Level0Components(sim, &count);
  EXPECT_EQ(count, 1);
}

// Positions of the simulation elements before a cut, for evaluating the
// deformation anywhere in the body's elements.
struct ElementField {
  struct Corners {
    Vec3d x[8], previous[8];
  };
  std::map<std::array<int, 4>, Corners> elements;  // (depth, position) -> corner positions

  explicit ElementField(const CutSim& sim) {
    const int u = sim.numEmbeddedLevels;
    CornerStencil stencil;
    for (int e : UsedElements(sim)) {
      Corners corners;
      for (int k = 0; k < 8; ++k) {
        sim.CornerRepresentation(u, e, k, stencil);
        for (int n = 0; n < stencil.count; ++n) {
          corners.x[k] += sim.levelVertices[u][stencil.vertex[n]].x * stencil.coefficient[n];
          corners.previous[k] += sim.vertexHistory[u][stencil.vertex[n]].previousX * stencil.coefficient[n];
        }
      }
      const Vec3i& p = sim.cellPosition[u][e];
      elements[{sim.cellDepth[u][e], p.x, p.y, p.z}] = corners;
    }
  }

  // Elements that hold an octree leaf of the model.
  static std::set<int> UsedElements(const CutSim& sim) {
    std::set<int> used;
    for (const auto& level : sim.octree.cells) {
      for (const OctreeCell& leaf : level) {
        if (leaf.leaf && leaf.wasLeaf) used.insert(sim.SimulationElementOf(leaf.element));
      }
    }
    return used;
  }

  // Trilinear position at point (voxels) inside the box of depth `depth` at
  // `low`: taken in the element that held that box before the cut.
  bool At(const Vec3i& low, int depth, const Vec3d& point, Vec3d& x, Vec3d& previous) const {
    for (int d = depth; d < 31; ++d) {
      const int mask = ~((1 << d) - 1);
      auto found = elements.find({d, low.x & mask, low.y & mask, low.z & mask});
      if (found == elements.end()) continue;
      Vec3d f;
      for (int a = 0; a < 3; ++a) f[a] = (point[a] - (low[a] & mask)) / double(1 << d);
      x = previous = Vec3d();
      for (int c = 0; c < 8; ++c) {
        const double w = ((c & 1) ? f.x : 1 - f.x) * (((c >> 1) & 1) ? f.y : 1 - f.y) * ((c >> 2) ? f.z : 1 - f.z);
        x += found->second.x[c] * w;
        previous += found->second.previous[c] * w;
      }
      return true;
    }
    return false;
  }
};

TEST(Cutting, CutsMoveNothingOnADeformedBody) {
  CutScene s;
  // the liver at half resolution keeps two embedded levels, hanging corners and large interior leaves
  ASSERT_TRUE(s.Load("LiverScene.txt", "VOXEL_SIZE: 0.0044 0.0044 0.0044\n")) << s.log.str();
  CutSim& sim = *s.scene.cutSim;
  Octree& octree = *s.scene.octree;
  const int u = sim.numEmbeddedLevels;
  ASSERT_EQ(u, 2);
  // a smooth deformation of the simulation level, different for the previous positions
  const double scale = BodyDiagonal(sim);
  for (int v = 0; v < sim.vertexCount[u]; ++v) {
    const Vec3d X = sim.RestPosition(u, v);
    const Vec3d wave(std::sin(20 * X.y), std::cos(15 * X.z), std::sin(25 * X.x + 10 * X.y));
    sim.levelVertices[u][v].x = X + wave * (0.02 * scale);
    sim.vertexHistory[u][v].previousX = X + wave * (0.015 * scale);
  }
  sim.CopyVertexPositionsIntoOctree();

  const Vec3f extent = Vec3f(octree.meshBoxHalfExtent) * 2.0f;
  auto at = [&](float x, float y, float z) { return Vec3f(x * extent.x, y * extent.y, z * extent.z); };
  // a slanted slit from the top, then a cut right through one lobe
  const std::vector<Triangle> cuts[2] = {
      Rectangle(at(0.43f, -0.1f, 0.45f), at(0.07f, 1.2f, 0), at(0.02f, 0, 0.7f)),
      Rectangle(at(0.78f, -0.1f, -0.1f), at(0.03f, 1.2f, 0), at(0.05f, 0, 1.2f))};
  for (int cut = 0; cut < 2; ++cut) {
    const ElementField field(sim);
    const int verticesBefore = sim.vertexCount[u];
    ASSERT_TRUE(s.CutFromFile(cuts[cut], cut + 1)) << s.log.str();
    ASSERT_EQ(ValidateOctree(octree), "") << cut;
    EXPECT_GT(sim.vertexCount[u], verticesBefore) << "the cut duplicates vertices";

    int checked = 0;
    for (int e : ElementField::UsedElements(sim)) {
      for (int k = 0; k < 8; ++k) {
        if ((sim.hangingCorners[u][e] >> k) & 1) continue;
        const int v = sim.cellVertices[u][e][k];
        Vec3d x, previous;
        ASSERT_TRUE(field.At(sim.cellPosition[u][e], sim.cellDepth[u][e], Vec3d(sim.CornerPosition(u, e, k)), x,
                             previous));
        EXPECT_LE(Length(sim.levelVertices[u][v].x - x), 1e-9 * scale) << "cut " << cut << " vertex " << v;
        EXPECT_LE(Length(sim.vertexHistory[u][v].previousX - previous), 1e-9 * scale) << "cut " << cut;
        ++checked;
      }
    }
    EXPECT_GT(checked, 1000);
    // the leaves, refined ones included, carry the same deformation
    sim.CopyVertexPositionsIntoOctree();
    double worst = 0;
    for (const auto& level : octree.cells) {
      for (const OctreeCell& leaf : level) {
        if (!leaf.leaf || !leaf.wasLeaf) continue;
        const int width = octree.CellWidth(leaf.level);
        const Vec3i low(leaf.x * width, leaf.y * width, leaf.z * width);
        const int e = sim.SimulationElementOf(leaf.element);
        for (int k = 0; k < 8; ++k) {
          const Vec3d corner(low.x + (k & 1) * width, low.y + ((k >> 1) & 1) * width, low.z + (k >> 2) * width);
          Vec3d x, previous;
          ASSERT_TRUE(field.At(sim.cellPosition[u][e], sim.cellDepth[u][e], corner, x, previous));
          worst = std::max({worst, Length(leaf.corners[k] - x), Length(leaf.previousCorners[k] - previous)});
        }
      }
    }
    EXPECT_LE(worst, 1e-9 * scale) << "cut " << cut;
  }
  int parts = 0;
  Level0Components(sim, &parts);
  EXPECT_EQ(parts, 2);
}

TEST(Cutting, FileCutEqualsTheSameTrianglesInsertedDirectly) {
  const std::vector<Triangle> stroke[3] = {
      Rectangle(Vec3f(0.0812f, -0.05f, 0.0151f), Vec3f(0.03f, 0.15f, 0), Vec3f(0, 0, 0.1f)),
      Rectangle(Vec3f(0.0212f, 0.0123f, -0.05f), Vec3f(0.2f, 0, 0.01f), Vec3f(0, 0.001f, 0.15f)),
      Rectangle(Vec3f(0.2512f, -0.05f, -0.05f), Vec3f(0.01f, 0.15f, 0), Vec3f(0, 0, 0.15f))};
  CutScene fromFile, direct;
  ASSERT_TRUE(fromFile.Load("BeamScene.txt", kCoarseBeam)) << fromFile.log.str();
  ASSERT_TRUE(direct.Load("BeamScene.txt", kCoarseBeam)) << direct.log.str();
  for (int cut = 0; cut < 3; ++cut) {
    ASSERT_TRUE(fromFile.CutFromFile(stroke[cut], cut + 1)) << fromFile.log.str();
    direct.CutDirectly(stroke[cut], cut + 1);
    for (CutScene* s : {&fromFile, &direct}) {
      ASSERT_EQ(ValidateOctree(*s->scene.octree), "") << cut;
      EXPECT_EQ(ClosedOrientedSurfaceError(s->scene.octree->surfaceTriangles), "") << cut;
    }
    const CutSim& a = *fromFile.scene.cutSim;
    const CutSim& b = *direct.scene.cutSim;
    EXPECT_EQ(a.vertexCount, b.vertexCount) << cut;
    EXPECT_EQ(a.cellCount, b.cellCount) << cut;
    EXPECT_EQ(fromFile.scene.octree->surfaceTriangles, direct.scene.octree->surfaceTriangles) << cut;
  }
}

TEST(Cutting, NothingIsCutOrWrittenAfterAFailedReload) {
  CutScene s;
  ASSERT_TRUE(s.Load("BeamScene.txt", kCoarseBeam)) << s.log.str();
  // the old model stays in memory, but it is no longer the scene's
  s.folder.Write("broken.txt", "VOXEL_SIZE: 0.01 0.01 0.01\n");
  ASSERT_FALSE(s.scene.Load(s.folder.WideFile("broken.txt"), 0, nullptr));
  const size_t cutVertices = s.scene.octree->cutTriangleVertices.size();
  s.log.str(L"");
  EXPECT_FALSE(s.CutFromFile(Rectangle(Vec3f(0.1512f, -0.05f, -0.05f), Vec3f(0, 0.15f, 0), Vec3f(0, 0, 0.15f)), 1));
  EXPECT_EQ(s.log.str(), L"ERROR: No scene is loaded; \"" + s.folder.WideFile("cut.txt") + L"\" was not cut\n");
  // a blade stroke is not even started
  s.editor->SetMode(Editor::kModeCut);
  s.editor->SetScreenSize(800, 600);
  for (InputType type : {InputType::ButtonDown, InputType::MouseMove, InputType::MouseMove, InputType::ButtonUp}) {
    InputMessage m;
    m.type = type;
    m.button = kButtonRight;
    m.x = 400;
    m.y = type == InputType::ButtonDown ? 100 : 500;
    s.editor->HandleMouse(m);
  }
  s.editor->CutAlongToolPath();
  EXPECT_EQ(s.scene.octree->cutTriangleVertices.size(), cutVertices);
  EXPECT_FALSE(std::filesystem::exists(s.folder.File("cuttingsurface.txt")));
  s.log.str(L"");
  EXPECT_FALSE(SaveDeformedMesh(s.scene, s.folder.WideFile("mesh.obj"), &s.log));
  EXPECT_EQ(s.log.str(), L"ERROR: No scene is loaded; \"" + s.folder.WideFile("mesh.obj") + L"\" was not written\n");
  EXPECT_FALSE(std::filesystem::exists(s.folder.File("mesh.obj")));
}

}  // namespace
