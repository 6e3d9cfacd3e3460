// The meshes in scenes/: closed, outward, of the intended size, and exactly
// what the generator in tools/ writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "geometry/file_util.h"
#include "geometry/surface_mesh.h"
#include "support/geometry_reference.h"
#include "support/octree_scene.h"
#include "support/temp_folder.h"

namespace {

const char* const kBundledMeshes[] = {"liver.obj", "beam.obj", "sphere.obj"};

std::vector<int32_t> Indices(const SurfaceMesh& mesh) {
  std::vector<int32_t> indices;
  for (const SurfaceMesh::Triangle& t : mesh.triangles) indices.insert(indices.end(), {t.i0, t.i1, t.i2});
  return indices;
}

}  // namespace

TEST(BundledMeshesTest, ClosedOutwardAndOfOnePiece) {
  for (const char* name : kBundledMeshes) {
    SurfaceMesh mesh;
    ASSERT_TRUE(mesh.ReadObj(WidenPath(BundledScenePath(name)), nullptr, false)) << name;
    const std::vector<int32_t> indices = Indices(mesh);
    EXPECT_EQ(ClosedOrientedSurfaceError(indices), "") << name;
    EXPECT_GT(EnclosedVolume(mesh), 0.0) << name << ": faces point outward";
    EXPECT_EQ(SurfaceComponentCount(indices, static_cast<int>(mesh.vertices.size())), 1) << name;
  }
  SurfaceMesh liver;
  ASSERT_TRUE(liver.ReadObj(WidenPath(BundledScenePath("liver.obj")), nullptr, false));
  EXPECT_GE(liver.triangles.size(), 5000u);
  EXPECT_LE(liver.triangles.size(), 20000u);
}

TEST(BundledMeshesTest, GeneratorReproducesTheCommittedFiles) {
  TempFolder folder;
  const std::string command = std::string(VARDEL_BINARY_DIR) + "/bin/mesh_generator \"" + folder.Path() + "\" > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const char* name : kBundledMeshes) {
    const std::string generated = TempFolder::Read(folder.File(name));
    ASSERT_FALSE(generated.empty()) << name;
    EXPECT_TRUE(generated == TempFolder::Read(BundledScenePath(name))) << name << " differs from scenes/" << name;
  }
}
