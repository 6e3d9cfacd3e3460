#pragma once
// Builds an octree from a scene file in the order of scene set-up: voxel size
// and mesh from the file, optional scaling and transformation, the mesh moved
// so that its box starts at the origin, then the octree, its surface and the
// distance field. Header-only so that the benchmarks can use it too.
#include <algorithm>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>

#include "app/config_file.h"
#include "geometry/file_util.h"
#include "geometry/octree.h"
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

struct OctreeScene {
  SurfaceMesh mesh;  // in the octree frame; the octree refers to it
  Vec3d voxelSize;
  std::unique_ptr<Octree> octree;
};

// Path of a bundled scene or mesh file.
inline std::string BundledScenePath(const std::string& name) {
  return std::string(VARDEL_SOURCE_DIR) + "/scenes/" + name;
}

// Reads the voxel size and the mesh and moves the mesh into the octree frame.
// A relative MESH path is taken relative to the scene file's folder;
// voxelScale multiplies the scene's voxel size (0.5 halves it).
inline bool ReadSceneMesh(const std::string& sceneFile, OctreeScene& scene, std::wostream* log, double voxelScale = 1.0) {
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
    const Vec3f& h = scene.mesh.bboxHalfExtent;
    scene.mesh.Scale(scaleTo / (2.0f * std::max({h.x, h.y, h.z})));
  }
  Mat4f transformation = Mat4f::Identity();
  if (config.Get(L"MESH_TRANSFORMATION", transformation, log, true)) scene.mesh.Transform(transformation);
  const Vec3f minimum = scene.mesh.bboxCenter - scene.mesh.bboxHalfExtent;
  Mat4f translation = Mat4f::Identity();
  for (int a = 0; a < 3; ++a) translation(a, 3) = -minimum[a];
  scene.mesh.Transform(translation);
  return true;
}

// ReadSceneMesh, then the octree build with interior cells up to 10 voxels,
// the surface extraction and the distance sweep.
inline bool LoadOctreeScene(const std::string& sceneFile, OctreeScene& scene, std::wostream* log, double voxelScale = 1.0) {
  if (!ReadSceneMesh(sceneFile, scene, log, voxelScale)) return false;
  scene.octree = std::make_unique<Octree>();
  if (!scene.octree->BuildFromMesh(scene.mesh, scene.voxelSize, 10, log)) return false;
  scene.octree->ExtractSurface();
  scene.octree->voxelGrid->ComputeBySweeping();
  return true;
}
