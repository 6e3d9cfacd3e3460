#include "app/scene.h"

#include <gtest/gtest.h>

#include <sstream>

#include "geometry/matrix4.h"
#include "support/temp_folder.h"

namespace {

// A closed box mesh [0,sx] x [0,sy] x [0,sz], shifted by offset, as OBJ text.
std::string BoxObj(float sx, float sy, float sz, Vec3f offset = Vec3f()) {
  std::ostringstream obj;
  for (int c = 0; c < 8; ++c) {
    obj << "v " << offset.x + ((c & 1) ? sx : 0) << " " << offset.y + ((c & 2) ? sy : 0) << " "
        << offset.z + ((c & 4) ? sz : 0) << "\n";
  }
  // outward faces of the corner-numbered box (corner c = x + 2y + 4z), 1-based
  const int faces[12][3] = {{1, 5, 7}, {1, 7, 3}, {2, 4, 8}, {2, 8, 6}, {1, 2, 6}, {1, 6, 5},
                            {3, 7, 8}, {3, 8, 4}, {1, 3, 4}, {1, 4, 2}, {5, 6, 8}, {5, 8, 7}};
  for (const auto& f : faces) obj << "f " << f[0] << " " << f[1] << " " << f[2] << "\n";
  return obj.str();
}

const std::string kMaterial =
    "VOXEL_SIZE: 0.1 0.1 0.1\nELASTIC_MODULUS: 10000\nPOISSON_RATIO: 0.3\nDENSITY: 1000\n"
    "DAMPING_FACTOR: 1\nTIME_STEP: 0.02\nMESH: box.obj\n";

struct LoadedScene {
  Scene scene;
  bool ok = false;
  std::wstring log;
};

void Load(const TempFolder& folder, const std::string& sceneText, LoadedScene& out,
          const std::string& obj = BoxObj(0.8f, 0.4f, 0.4f)) {
  folder.Write("box.obj", obj);
  folder.Write("scene.txt", sceneText);
  std::wostringstream log;
  out.ok = out.scene.Load(folder.WideFile("scene.txt"), 0, &log);
  out.log = log.str();
}

}  // namespace

TEST(SceneTest, LoadsWithoutGravityAndComputesTheDefaultView) {
  TempFolder folder;
  LoadedScene s;
  Load(folder, kMaterial + "NUM_LEVELS: 3\nNUM_EMBEDDED_LEVELS: 1\nRENDERER_DEFAULT_VIEW_POS: 1 2 3\n", s);
  ASSERT_TRUE(s.ok) << s.log;
  EXPECT_TRUE(s.scene.loaded);
  EXPECT_EQ(s.scene.cutSim->gravity, Vec3d(0, 0, 0));
  // the view position alone is not enough: the computed view replaces it
  EXPECT_NEAR(s.scene.defaultViewPosition.x, 0.4f - 5 * 0.4f, 1e-5f);
  EXPECT_NEAR(s.scene.defaultViewPosition.y, 0.2f, 1e-5f);
  EXPECT_EQ(s.scene.defaultHeadingPitchRoll, Vec3f(0, 0, 0));
  EXPECT_EQ(s.scene.cutSim->occupancyWordCount, 1);
  EXPECT_TRUE(s.scene.octree->embedded);
  EXPECT_FLOAT_EQ(s.scene.meanVoxelSize, 0.1f);
  EXPECT_FLOAT_EQ(s.scene.vertexHandleRadius, 0.1f / 6);
  EXPECT_FLOAT_EQ(s.scene.forceArrowScale, 5e-7f / 0.01f);
}

TEST(SceneTest, ScaleToAndTransformationNormaliseTheMesh) {
  TempFolder folder;
  LoadedScene s;
  Mat4f t = Mat4f::Identity();
  Load(folder,
       kMaterial + "MESH_SCALE_TO: 1\nMESH_TRANSFORMATION: 1 0 0 5  0 1 0 0  0 0 1 0  0 0 0 1\n"
                   "VOXEL_SIZE: 0.05 0.05 0.05\nNUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 0\nGRAVITY: 0 0 -9.81\n",
       s, BoxObj(2, 4, 1, Vec3f(-1, 3, 2)));
  ASSERT_TRUE(s.ok) << s.log;
  EXPECT_EQ(s.scene.cutSim->gravity, Vec3d(0, 0, -9.81));
  const SurfaceMesh& m = s.scene.mesh;
  EXPECT_NEAR(2 * m.bboxHalfExtent.x, 0.5f, 1e-6f);
  EXPECT_NEAR(2 * m.bboxHalfExtent.y, 1.0f, 1e-6f);
  EXPECT_NEAR(2 * m.bboxHalfExtent.z, 0.25f, 1e-6f);
  EXPECT_NEAR(m.bboxCenter.x - m.bboxHalfExtent.x, 0.0f, 1e-6f);
  EXPECT_NEAR(m.bboxCenter.z - m.bboxHalfExtent.z, 0.0f, 1e-6f);
  // the mesh-to-simulation matrix carries a point of the file to the scene's frame
  Vec3f corner = TransformPoint(s.scene.meshToSimulation, Vec3f(1, 7, 3));
  EXPECT_NEAR(corner.x, 0.5f, 1e-5f);
  EXPECT_NEAR(corner.y, 1.0f, 1e-5f);
  EXPECT_NEAR(corner.z, 0.25f, 1e-5f);
  EXPECT_EQ(s.scene.initialMesh.vertices.size(), m.vertices.size());
  EXPECT_NEAR(s.scene.initialMesh.bboxCenter.y, m.bboxCenter.y, 1e-6f);
  (void)t;
}

TEST(SceneTest, OccupancyWordsFollowTheEmbeddedLevels) {
  TempFolder folder;
  for (auto [embedded, words] : {std::pair{2, 1}, std::pair{3, 8}}) {
    LoadedScene s;
    Load(folder,
         kMaterial + "VOXEL_SIZE: 0.025 0.025 0.025\nNUM_LEVELS: 5\nNUM_EMBEDDED_LEVELS: " + std::to_string(embedded) +
             "\n",
         s, BoxObj(0.8f, 0.8f, 0.4f));
    ASSERT_TRUE(s.ok) << s.log;
    EXPECT_EQ(s.scene.cutSim->occupancyWordCount, words);
  }
}

TEST(SceneTest, FixationAndForceListsWarnButLoad) {
  TempFolder folder;
  LoadedScene s;
  Load(folder,
       kMaterial + "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\nFIXED_VERTICES: 0 0 0  8 4 4  1 1\n"
                   "FORCES: 8 0 0 0 0 -1  20 20 20 1 1 1\n",
       s);
  ASSERT_TRUE(s.ok) << s.log;
  // the incomplete triple is dropped silently; 20 20 20 lies outside the body
  EXPECT_EQ(s.log, L"WARNING: Vertex fixation: No vertex found at position 20 20 20\n");
  const CutSim& sim = *s.scene.cutSim;
  int fixed = 0;
  for (int v = 0; v < sim.vertexCount[0]; ++v) fixed += sim.vertexFixed[0][v] ? 1 : 0;
  EXPECT_EQ(fixed, 2);
  int v = sim.vertexLookup.at({8, 0, 0});
  EXPECT_EQ(sim.vertexForce[0][v], Vec3d(0, 0, -1));
  // constraints reach the simulation level
  int coarseFixed = 0;
  for (int c = 0; c < sim.vertexCount[1]; ++c) coarseFixed += sim.vertexFixed[1][c] ? 1 : 0;
  EXPECT_GE(coarseFixed, 2);

  LoadedScene w;
  Load(folder, kMaterial + "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\nFIXED_VERTICES: 0 0 0 corner 1 2\nFORCES: 0 0 0 x\n",
       w);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.log, L"WARNING: Error while parsing vertex fixation\nWARNING: Error while parsing forces\n");
}

TEST(SceneTest, MeaninglessValuesFailNamingTheKey) {
  TempFolder folder;
  const std::string levels = "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\n";
  struct Case {
    std::string extra;
    std::wstring key;
  } cases[] = {
      {"VOXEL_SIZE: 0.1 0 0.1\n", L"VOXEL_SIZE"},
      {"VOXEL_SIZE: 0.1 -1 0.1\n", L"VOXEL_SIZE"},
      {"ELASTIC_MODULUS: 0\n", L"ELASTIC_MODULUS"},
      {"POISSON_RATIO: 0.5\n", L"POISSON_RATIO"},
      {"POISSON_RATIO: -1\n", L"POISSON_RATIO"},
      {"DENSITY: -3\n", L"DENSITY"},
      {"TIME_STEP: 0\n", L"TIME_STEP"},
      {"MESH_SCALE_TO: 0\n", L"MESH_SCALE_TO"},
      {"MESH_TRANSFORMATION: 1 0 0 0  0 1 0 0  0 0 0 0  0 0 0 1\n", L"MESH_TRANSFORMATION"},
      // a projective last row could not be carried back when the mesh is saved
      {"MESH_TRANSFORMATION: 1 0 0 0  0 1 0 0  0 0 1 0  0 0 1 1\n", L"MESH_TRANSFORMATION"},
      {"NUM_LEVELS: 0\n", L"NUM_LEVELS"},
      {"NUM_LEVELS: 40\n", L"NUM_LEVELS"},
      {"NUM_EMBEDDED_LEVELS: 2\n", L"NUM_EMBEDDED_LEVELS"},
      {"NUM_EMBEDDED_LEVELS: -1\n", L"NUM_EMBEDDED_LEVELS"},
  };
  for (const Case& c : cases) {
    LoadedScene s;
    // later lines override the defaults above them (with a warning)
    Load(folder, kMaterial + levels + c.extra, s);
    EXPECT_FALSE(s.ok) << c.extra;
    EXPECT_FALSE(s.scene.loaded);
    EXPECT_NE(s.log.find(L"ERROR: " + c.key), std::wstring::npos) << s.log;
  }
  LoadedScene empty;
  Load(folder, kMaterial + levels, empty, "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  EXPECT_FALSE(empty.ok);
  EXPECT_NE(empty.log.find(L"ERROR: MESH \"box.obj\" has no triangles"), std::wstring::npos) << empty.log;

  LoadedScene missing;
  Load(folder, "VOXEL_SIZE: 0.1 0.1 0.1\n", missing);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.log, L"ERROR: Entry \"ELASTIC_MODULUS\" not found\n");
}

TEST(SceneTest, DegenerateLightKeepsTheDefaultsWithAWarning) {
  TempFolder folder;
  LoadedScene s;
  Load(folder, kMaterial + "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 0\nRENDERER_LIGHT_DIR: 0 1 0\n", s);
  ASSERT_TRUE(s.ok);
  EXPECT_NE(s.log.find(L"WARNING: RENDERER_LIGHT_DIR"), std::wstring::npos);
  EXPECT_EQ(s.scene.lightDirection, Vec3f(0, 0, -1));
  // the default light at (0, 0, 1) looking down: its view maps the light to the origin
  Vec3f origin = TransformPoint(s.scene.lightViewMatrix, s.scene.lightPosition);
  EXPECT_NEAR(Length(origin), 0.0f, 1e-6f);
  Vec3f below = TransformPoint(s.scene.lightViewMatrix, Vec3f(0, 0, 0));
  EXPECT_NEAR(below.z, -1.0f, 1e-6f);  // in front of the light along its -z
}

TEST(SceneTest, DescriptionText) {
  TempFolder folder;
  LoadedScene s;
  Load(folder, kMaterial + "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\n", s);
  ASSERT_TRUE(s.ok);
  const CutSim& sim = *s.scene.cutSim;
  std::wstring expected =
      L"# Mesh: \"box.obj\"\n# Mesh Transformation: 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n# Initial #Elements: " +
      std::to_wstring(sim.cellCount[0]) + L", #Vertices: " + std::to_wstring(sim.vertexCount[0]) + L", #DOFs: " +
      std::to_wstring(3 * sim.vertexCount[0]) +
      L"\n# Solver: Multigrid (#Levels: 2, #Pre-Smooth GS: 2 , #Post-Smooth GS: 1 , Initial #DOFs Coarsest Level: " +
      std::to_wstring(sim.vertexCount[1]) +
      L")\n# Voxel Size: 0.1 0.1 0.1\n# Elastic Modulus: 10000Pa, Poisson Ratio: 0.3, Density: 1000kg/m^3\n"
      L"# Damping Factor: 1, Time Step: 0.02s\n";
  EXPECT_EQ(s.scene.Describe(), expected);
}

TEST(SceneTest, SavingWritesConstraintsAndViewKeepingOtherEntries) {
  TempFolder folder;
  LoadedScene s;
  Load(folder, kMaterial + "NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\nFIXED_VERTICES: 0 0 0  8 0 0\nCUSTOM: kept\n", s);
  ASSERT_TRUE(s.ok) << s.log;
  CutSim& sim = *s.scene.cutSim;
  int v = sim.vertexLookup.at({0, 4, 4});
  sim.vertexForce[0][v] = Vec3d(0.5, 0, -2);
  ASSERT_TRUE(s.scene.Save(folder.WideFile("scene.txt"), nullptr));
  std::string saved = TempFolder::Read(folder.File("scene.txt"));
  EXPECT_NE(saved.find("FIXED_VERTICES: 0 0 0  8 0 0\nCUSTOM: kept\nFORCES: 0 4 4 0.5 0 -2\n"), std::string::npos)
      << saved;
  EXPECT_EQ(saved.find("RENDERER_DEFAULT_VIEW_POS"), std::string::npos);

  // clearing every fixation removes the key; a stored view adds both view keys
  for (int i = 0; i < sim.vertexCount[0]; ++i) sim.SetVertexFixed(0, i, false);
  s.scene.defaultViewStored = true;
  s.scene.defaultViewPosition = Vec3f(1, 2.5f, -3);
  s.scene.defaultHeadingPitchRoll = Vec3f(90, 10, 0);
  ASSERT_TRUE(s.scene.Save(folder.WideFile("scene.txt"), nullptr));
  saved = TempFolder::Read(folder.File("scene.txt"));
  EXPECT_EQ(saved.find("FIXED_VERTICES"), std::string::npos);
  EXPECT_NE(saved.find("RENDERER_DEFAULT_VIEW_POS: 1 2.5 -3\nRENDERER_DEFAULT_HEADING_PITCH_ROLL: 90 10 0\n"),
            std::string::npos);
  Scene reloaded;
  ASSERT_TRUE(reloaded.Load(folder.WideFile("scene.txt"), 0, nullptr));
  EXPECT_EQ(reloaded.defaultViewPosition, Vec3f(1, 2.5f, -3));
  EXPECT_EQ(reloaded.cutSim->vertexForce[0][reloaded.cutSim->vertexLookup.at({0, 4, 4})], Vec3d(0.5, 0, -2));
}
