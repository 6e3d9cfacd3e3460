#include "app/output_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/scene.h"
#include "geometry/file_util.h"
#include "support/geometry_reference.h"
#include "support/temp_folder.h"

namespace {

template <typename T>
T ReadAt(const std::string& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

}  // namespace

TEST(OutputFilesTest, EquationSystemOfTwoSelfCoupledVertices) {
  std::vector<LevelVertex> vertices(2);
  std::vector<VertexHistory> history(2);
  for (int v = 0; v < 2; ++v) {
    // vertex 0 is pooled (wired), vertex 1 still in its builder
    history[v].builderColumns = {v};
    Mat3d block;
    for (int k = 0; k < 9; ++k) block.m[k] = 10 * v + k;
    history[v].builderBlocks = {block};
    vertices[v].b = Vec3d(v + 0.5, v + 1.5, v + 2.5);
    vertices[v].x = Vec3d(-v, -2.0 * v, 7);
  }
  vertices[0].count = 1;
  vertices[0].columns = history[0].builderColumns.data();
  vertices[0].blocks = history[0].builderBlocks.data();

  TempFolder folder;
  ASSERT_TRUE(WriteEquationSystem(vertices, history, folder.WideFile("eq.bin")));
  std::string bytes = TempFolder::Read(folder.File("eq.bin"));
  ASSERT_EQ(bytes.size(), 409u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 1), 6);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 5), 6);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 9), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ReadAt<int32_t>(bytes, 13 + 4 * i), 3);
  // rows as (column, value) pairs: vertex 1, row 2 holds its block's last row
  size_t rows = 37;
  size_t vertex1Row2 = rows + (3 + 2) * 3 * 12;
  EXPECT_EQ(ReadAt<int32_t>(bytes, vertex1Row2), 3);
  EXPECT_EQ(ReadAt<double>(bytes, vertex1Row2 + 4), 16.0);
  EXPECT_EQ(ReadAt<int32_t>(bytes, vertex1Row2 + 24), 5);
  EXPECT_EQ(ReadAt<double>(bytes, vertex1Row2 + 28), 18.0);
  size_t zeros = rows + 6 * 36;
  EXPECT_EQ(ReadAt<int32_t>(bytes, zeros), 6);
  EXPECT_EQ(ReadAt<double>(bytes, zeros + 4 + 5 * 8), 0.0);
  size_t rhs = zeros + 52;
  EXPECT_EQ(ReadAt<double>(bytes, rhs + 4 + 3 * 8), 1.5);
  size_t positions = rhs + 52;
  EXPECT_EQ(ReadAt<double>(bytes, positions + 4 + 4 * 8), -2.0);
  EXPECT_EQ(ReadAt<double>(bytes, positions + 4 + 5 * 8), 7.0);
}

TEST(OutputFilesTest, EquationSystemIntoMissingFolderFails) {
  TempFolder folder;
  std::vector<LevelVertex> vertices(1);
  std::vector<VertexHistory> history(1);
  EXPECT_FALSE(WriteEquationSystem(vertices, history, folder.WideFile("missing/eq.bin")));
}

// ---- the deformed mesh file ("Save Mesh") and failed saves

namespace {

// The bundled sphere (radius 0.08 around the origin) scaled, rotated and
// moved by the scene, so that the saved mesh must be carried back.
struct SphereScene {
  TempFolder folder;
  Scene scene;
  std::wostringstream log;
  std::string meshFile = std::string(VARDEL_SOURCE_DIR) + "/scenes/sphere.obj";

  bool Load() {
    folder.Write("scene.txt",
                 "MESH: " + meshFile +
                     "\nMESH_SCALE_TO: 0.5\n"
                     "MESH_TRANSFORMATION: 0 -1 0 0.3  0.6 0 0.8 -0.1  -0.8 0 0.6 2  0 0 0 1\n"
                     "VOXEL_SIZE: 0.012 0.012 0.012\nELASTIC_MODULUS: 20000\nPOISSON_RATIO: 0.35\nDENSITY: 1000\n"
                     "DAMPING_FACTOR: 1\nTIME_STEP: 0.02\nNUM_LEVELS: 3\nNUM_EMBEDDED_LEVELS: 1\n");
    return scene.Load(folder.WideFile("scene.txt"), 0, &log);
  }
};

}  // namespace

TEST(SaveDeformedMeshTest, MeshSavedAfterLoadLiesOnTheMeshFileSurface) {
  SphereScene s;
  ASSERT_TRUE(s.Load()) << s.log.str();
  ASSERT_TRUE(SaveDeformedMesh(s.scene, s.folder.WideFile("saved.obj"), &s.log)) << s.log.str();
  SurfaceMesh input, saved;
  ASSERT_TRUE(input.ReadObj(WidenPath(s.meshFile), nullptr, false));
  ASSERT_TRUE(saved.ReadObj(s.folder.WideFile("saved.obj"), nullptr, false));
  ASSERT_GT(saved.triangles.size(), 1000u);

  // one voxel of the scene is 0.012 / (0.5 / 0.16) in the file's units
  const double voxel = 0.012 / (0.5 / 0.16);
  const MeshDistance distance(input, 2 * voxel);
  double worst = 0;
  for (const SurfaceMesh::Triangle& t : saved.triangles) {
    for (uint32_t i : {t.i0, t.i1, t.i2}) {
      worst = std::max(worst, distance.DistanceWithin(Vec3d(saved.vertices[i].position), voxel));
    }
  }
  EXPECT_LE(worst, voxel);
  // the whole surface came back, with its outward winding
  EXPECT_NEAR(EnclosedVolume(saved) / EnclosedVolume(input), 1.0, 0.03);
}

TEST(SaveDeformedMeshTest, FailedSavesLeaveTheOldFileAndNoTemporaryFile) {
  SphereScene s;
  ASSERT_TRUE(s.Load()) << s.log.str();
  const std::string old = s.folder.Write("old.obj", "v 0 0 0\n");

  // a write that fails halfway, as on a full disk: the file size limit holds for root too
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  rlimit small = limit;
  small.rlim_cur = 4096;
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveDeformedMesh(s.scene, WidenPath(old), &s.log);
  setrlimit(RLIMIT_FSIZE, &limit);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_FALSE(saved);
  EXPECT_EQ(s.log.str(), L"ERROR: Error writing output file \"" + WidenPath(old) + L"\"\n");
  EXPECT_EQ(TempFolder::Read(old), "v 0 0 0\n");

  // a folder that cannot hold files: its name is a regular file
  s.log.str(L"");
  EXPECT_FALSE(SaveDeformedMesh(s.scene, s.folder.WideFile("old.obj/saved.obj"), &s.log));
  EXPECT_EQ(s.log.str(), L"ERROR: Cannot create output file \"" + s.folder.WideFile("old.obj/saved.obj") + L"\"\n");

  // a read-only old file is kept even where the permissions would let this user write
  ASSERT_EQ(chmod(old.c_str(), 0444), 0);
  EXPECT_FALSE(SaveDeformedMesh(s.scene, WidenPath(old), nullptr));
  EXPECT_EQ(TempFolder::Read(old), "v 0 0 0\n");

  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(s.folder.Path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u) << "scene.txt and old.obj only";
}

TEST(SaveDeformedMeshTest, NothingIsWrittenWithoutALoadedScene) {
  SphereScene s;
  // the octree is built, then the level count is rejected
  s.folder.Write("scene.txt", "MESH: " + s.meshFile +
                                  "\nVOXEL_SIZE: 0.004 0.004 0.004\nELASTIC_MODULUS: 20000\nPOISSON_RATIO: 0.35\n"
                                  "DENSITY: 1000\nDAMPING_FACTOR: 1\nTIME_STEP: 0.02\nNUM_LEVELS: 40\n"
                                  "NUM_EMBEDDED_LEVELS: 1\n");
  ASSERT_FALSE(s.scene.Load(s.folder.WideFile("scene.txt"), 0, nullptr));
  for (const char* name : {"mesh.obj", "equations.bin", "distances.bin"}) {
    std::wostringstream log;
    const std::wstring file = s.folder.WideFile(name);
    bool ok = name[0] == 'm' ? SaveDeformedMesh(s.scene, file, &log)
              : name[0] == 'e' ? WriteEquationSystem(s.scene, file, &log)
                               : WriteDistanceField(s.scene, file, &log);
    EXPECT_FALSE(ok) << name;
    EXPECT_EQ(log.str().rfind(L"ERROR: ", 0), 0u) << log.str();
    EXPECT_FALSE(std::filesystem::exists(s.folder.File(name))) << name;
  }
}
