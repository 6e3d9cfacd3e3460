// End-to-end runs of the files the user writes on demand: the deformed mesh,
// the scene with its default view, the recording of a cutting surface import,
// the equation system and the distance field.
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

#include <array>
#include <cstring>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

struct Box {
  std::array<double, 3> low{1e30, 1e30, 1e30}, high{-1e30, -1e30, -1e30};
};

// Vertex and triangle counts and the box of an OBJ file, read by tinyobjloader.
bool ReadObjIndependently(const std::string& file, size_t& vertices, size_t& triangles, Box& box) {
  tinyobj::ObjReader reader;
  tinyobj::ObjReaderConfig config;
  config.triangulate = false;
  if (!reader.ParseFromFile(file, config)) return false;
  const std::vector<tinyobj::real_t>& v = reader.GetAttrib().vertices;
  vertices = v.size() / 3;
  triangles = 0;
  for (const tinyobj::shape_t& shape : reader.GetShapes()) {
    for (unsigned char corners : shape.mesh.num_face_vertices) triangles += corners == 3 ? 1 : 0;
  }
  for (size_t i = 0; i < v.size(); ++i) {
    box.low[i % 3] = std::min(box.low[i % 3], static_cast<double>(v[i]));
    box.high[i % 3] = std::max(box.high[i % 3], static_cast<double>(v[i]));
  }
  return true;
}

std::vector<std::wstring> Keys(const ConfigFile& file) {
  std::vector<std::wstring> keys;
  for (const auto& [key, value] : file.Entries()) keys.push_back(ConfigFile::ToUpper(key));
  return keys;
}

std::wstring Value(const ConfigFile& file, const std::wstring& key) {
  std::wstring value;
  file.Get(key, value, nullptr, true);
  return value;
}

class VardelAppFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { run.UseBundledScene("SphereScene.txt", "sphere.obj"); }

  SceneRun run;
};

}  // namespace

TEST_F(VardelAppFilesTest, SaveMeshWritesTheSurfaceInTheMeshFilesFrame) {
  ProgramResult result = run.Run("frames 1\ndialog mesh\nclick \"Save Mesh\"\ndialog cancel\nclick 10\n");
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "Dialog \"Save deformed mesh to file\": \"" + run.folder.File("mesh.obj") + "\"\n"))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "Dialog \"Save deformed mesh to file\": cancelled\n")) << result.out;

  size_t vertices = 0, triangles = 0, inputVertices = 0, inputTriangles = 0;
  Box saved, input;
  ASSERT_TRUE(ReadObjIndependently(run.folder.File("mesh.obj"), vertices, triangles, saved));
  ASSERT_TRUE(ReadObjIndependently(run.folder.File("sphere.obj"), inputVertices, inputTriangles, input));
  EXPECT_GT(vertices, 500u);
  EXPECT_GT(triangles, 1000u);
  // the reconstructed surface lies where the input mesh does, within a voxel or two (0.004)
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(saved.low[a], input.low[a], 0.008) << a;
    EXPECT_NEAR(saved.high[a], input.high[a], 0.008) << a;
  }
  // the cancelled second save wrote nothing beside the first
  int objFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(run.folder.Path())) {
    objFiles += entry.path().extension() == ".obj" ? 1 : 0;
  }
  EXPECT_EQ(objFiles, 2);
}

TEST_F(VardelAppFilesTest, DefaultViewIsStoredAndSavedWithTheOtherEntriesInOrder) {
  Scene scene;
  ASSERT_TRUE(run.LoadHere(scene));
  const Vec3d centre(scene.mesh.bboxCenter);
  const Vec3d start(scene.defaultViewPosition);
  const double radius = Length(start - centre);
  const std::string original = run.Bytes("LiverScene.txt");
  ConfigFile before;
  ASSERT_TRUE(before.Load(run.folder.WideFile("LiverScene.txt"), nullptr));

  struct Case {
    const char* name;
    std::string keys;
    bool stored;
    Vec3d position;
    double heading;
  };
  const std::vector<Case> cases = {
      // orbiting the body's centre, heading 90 looks along +y from the -y side
      {"2 then Alt+X", "key 2\nkey alt+X\n", true, centre - Vec3d(0, radius, 0), 90},
      {"X brings the default back", "key 2\nframes 1\nkey X\nkey alt+X\n", true, start, 0},
      // in free flight the angles turn the camera where it stands
      {"Space leaves the orbit", "key Space\nkey 2\nkey alt+X\n", true, start, 90},
      {"without Alt+X nothing is stored", "key 2\n", false, {}, 0},
  };
  for (const Case& c : cases) {
    run.folder.Write("LiverScene.txt", original);
    ProgramResult result = run.Run("frames 1\n" + c.keys + "frames 1\nkey alt+S\n");
    ASSERT_EQ(result.exitCode, 0) << c.name << "\n" << result.out << result.err;
    ConfigFile after;
    ASSERT_TRUE(after.Load(run.folder.WideFile("LiverScene.txt"), nullptr)) << c.name;
    std::vector<std::wstring> keys = Keys(after);
    std::vector<std::wstring> expectedKeys = Keys(before);
    if (c.stored) {
      expectedKeys.push_back(L"RENDERER_DEFAULT_VIEW_POS");
      expectedKeys.push_back(L"RENDERER_DEFAULT_HEADING_PITCH_ROLL");
    }
    EXPECT_EQ(keys, expectedKeys) << c.name;
    for (const auto& [key, value] : before.Entries()) EXPECT_EQ(Value(after, key), value) << c.name;
    if (!c.stored) continue;
    Vec3d position, angles;
    ASSERT_TRUE(after.Get(L"RENDERER_DEFAULT_VIEW_POS", position, nullptr)) << c.name;
    ASSERT_TRUE(after.Get(L"RENDERER_DEFAULT_HEADING_PITCH_ROLL", angles, nullptr)) << c.name;
    EXPECT_LT(Length(position - c.position), 1e-4) << c.name;
    EXPECT_NEAR(angles.x, c.heading, 1e-4) << c.name;
    EXPECT_NEAR(angles.y, 0, 1e-4) << c.name;
    EXPECT_NEAR(angles.z, 0, 1e-4) << c.name;
  }

  // a scene that has its view keeps it when saved without Alt+X
  const std::string withView =
      original + "RENDERER_DEFAULT_VIEW_POS: 0.1 -0.3 0.08\nRENDERER_DEFAULT_HEADING_PITCH_ROLL: 80 10 0\n";
  run.folder.Write("LiverScene.txt", withView);
  ASSERT_EQ(run.Run("frames 1\nkey 2\nkey alt+S\n").exitCode, 0);
  ConfigFile kept;
  ASSERT_TRUE(kept.Load(run.folder.WideFile("LiverScene.txt"), nullptr));
  EXPECT_EQ(Value(kept, L"RENDERER_DEFAULT_VIEW_POS"), L"0.1 -0.3 0.08");
  EXPECT_EQ(Value(kept, L"RENDERER_DEFAULT_HEADING_PITCH_ROLL"), L"80 10 0");
}

TEST_F(VardelAppFilesTest, CuttingSurfaceImportCutsAndSavesItsRecording) {
  Scene scene;
  ASSERT_TRUE(run.LoadHere(scene));
  const Vec3f c = scene.mesh.bboxCenter;
  // three triangles of cut 1 and two of cut 2, all through the ball's middle
  std::ostringstream cuts;
  cuts.imbue(std::locale::classic());
  for (int t = 0; t < 5; ++t) {
    float x = c.x - 0.02f + 0.01f * t;
    cuts << x << " " << c.y - 0.03f << " " << c.z - 0.03f << "   " << x << " " << c.y + 0.03f << " " << c.z - 0.03f
         << "   " << x << " " << c.y << " " << c.z + 0.04f << "   " << (t < 3 ? 1 : 2) << "\n";
  }
  run.folder.Write("cuts.txt", cuts.str());

  struct Case {
    const char* name;
    std::string answers;
    bool cut, saved;
  };
  const std::vector<Case> cases = {
      {"saved", "dialog cuts.txt\ndialog import\n", true, true},
      {"recording cancelled", "dialog cuts.txt\ndialog cancel\n", true, false},
      {"import cancelled", "dialog cancel\n", false, false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(run.folder.File("import.rec"));
    ProgramResult result =
        run.Run("frames 1\ndialog before.bin\nkey F8\n" + c.answers + "key F11\nframes 1\ndialog after.bin\nkey F8\n");
    ASSERT_EQ(result.exitCode, 0) << c.name << "\n" << result.out << result.err;
    EXPECT_EQ(CountOf(result.out, "Dialog \"Save recording\": "), c.cut ? 1 : 0) << c.name << "\n" << result.out;
    int before = DumpedVertexCount(run.Bytes("before.bin")), after = DumpedVertexCount(run.Bytes("after.bin"));
    ASSERT_GT(before, 0) << c.name;
    // a cut duplicates the vertices along it
    if (c.cut) {
      EXPECT_GT(after, before) << c.name;
    } else {
      EXPECT_EQ(after, before) << c.name;
    }
    EXPECT_EQ(run.Exists("import.rec"), c.saved) << c.name;
    if (!c.saved) continue;
    // 12 bytes of counts, one camera record, no force record, five cut records
    std::string bytes = run.Bytes("import.rec");
    ASSERT_EQ(bytes.size(), 288u) << c.name;
    int32_t cameraCount = 0, forceCount = 0, cutCount = 0;
    std::memcpy(&cameraCount, bytes.data(), 4);
    std::memcpy(&forceCount, bytes.data() + 4 + 36, 4);
    std::memcpy(&cutCount, bytes.data() + 8 + 36, 4);
    EXPECT_EQ(cameraCount, 1);
    EXPECT_EQ(forceCount, 0);
    EXPECT_EQ(cutCount, 5);
    double cameraTime = 0;
    std::memcpy(&cameraTime, bytes.data() + 4, 8);
    EXPECT_NEAR(cameraTime, 0.1, 1e-12);
    const double times[5] = {0.6, 0.7, 0.8, 1.3, 1.4};
    const int32_t ids[5] = {1, 1, 1, 2, 2};
    for (int k = 0; k < 5; ++k) {
      double time = 0;
      int32_t id = 0;
      std::memcpy(&time, bytes.data() + 48 + 48 * k, 8);
      std::memcpy(&id, bytes.data() + 48 + 48 * k + 44, 4);
      EXPECT_NEAR(time, times[k], 1e-9) << k;
      EXPECT_EQ(id, ids[k]) << k;
    }
  }
}

TEST_F(VardelAppFilesTest, DumpsReportFailedWritesAndCancelsWriteNothing) {
  ProgramResult result = run.Run(
      "frames 1\n"
      "dialog equations\nkey F8\n"
      "dialog missing/equations\nkey F8\n"
      "dialog cancel\nkey F8\n"
      "dialog distances\nkey F6\n"
      "dialog missing/distances\nkey F6\n"
      "dialog cancel\nkey F6\n");
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "Dialog \"Save equation system to file\": cancelled\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, "Dialog \"Save distance fields to file\": cancelled\n")) << result.out;
  // both failures say which file was not written
  for (const char* name : {"equations.bin", "distances.bin"}) {
    EXPECT_TRUE(Contains(result.out, "ERROR: Cannot write file \"" + run.folder.File(std::string("missing/") + name)))
        << name << "\n" << result.out;
  }
  // the equation system holds 3N rows of the loaded model
  Scene scene;
  ASSERT_TRUE(run.LoadHere(scene));
  std::string equations = run.Bytes("equations.bin");
  EXPECT_EQ(DumpedVertexCount(equations), scene.cutSim->vertexCount[0]);
  EXPECT_EQ(DumpedPositions(equations).size(), 3u * scene.cutSim->vertexCount[0]);
  EXPECT_FALSE(run.Bytes("distances.bin").empty());
  int binFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(run.folder.Path())) {
    binFiles += entry.path().extension() == ".bin" ? 1 : 0;
  }
  EXPECT_EQ(binFiles, 2);
}
