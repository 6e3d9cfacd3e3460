#include "support/octree_scene.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "app/config_file.h"
#include "geometry/file_util.h"

std::string BundledScenePath(const std::string& name) { return std::string(VARDEL_SOURCE_DIR) + "/scenes/" + name; }

bool LoadOctreeScene(const std::string& sceneFile, OctreeScene& scene, std::wostream* log, double voxelScale) {
  ConfigFile config;
  if (!config.Load(WidenPath(sceneFile), log)) return false;
  if (!config.Get(L"VOXEL_SIZE", scene.voxelSize, log)) return false;
  scene.voxelSize = scene.voxelSize * voxelScale;
  std::wstring meshName;
  if (!config.Get(L"MESH", meshName, log)) return false;
  std::filesystem::path meshPath(NarrowPath(meshName));
  if (meshPath.is_relative()) meshPath = std::filesystem::path(sceneFile).parent_path() / meshPath;
  if (!scene.mesh.ReadObj(WidenPath(meshPath.string()), log, false)) return false;

  float scaleTo = 0.0f;
  if (config.Get(L"MESH_SCALE_TO", scaleTo, log, true)) {
    scene.mesh.Scale(scaleTo / (2.0f * std::max({scene.mesh.bboxHalfExtent.x, scene.mesh.bboxHalfExtent.y,
                                                   scene.mesh.bboxHalfExtent.z})));
  }
  Mat4f transformation = Mat4f::Identity();
  if (config.Get(L"MESH_TRANSFORMATION", transformation, log, true)) scene.mesh.Transform(transformation);
  const Vec3f minimum = scene.mesh.bboxCenter - scene.mesh.bboxHalfExtent;
  Mat4f translation = Mat4f::Identity();
  for (int a = 0; a < 3; ++a) translation(a, 3) = -minimum[a];
  scene.mesh.Transform(translation);

  scene.octree = std::make_unique<Octree>();
  if (!scene.octree->BuildFromMesh(scene.mesh, scene.voxelSize, 10, log)) return false;
  scene.octree->ExtractSurface();
  scene.octree->voxelGrid->ComputeBySweeping();
  return true;
}
