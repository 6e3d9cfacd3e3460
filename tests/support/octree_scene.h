#pragma once
// Builds an octree from a scene file in the order of scene set-up: voxel size
// and mesh from the file, optional scaling and transformation, the mesh moved
// so that its box starts at the origin, then the octree, its surface and the
// distance field.
#include <iosfwd>
#include <memory>
#include <string>

#include "geometry/octree.h"
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

struct OctreeScene {
  SurfaceMesh mesh;  // in the octree frame; the octree refers to it
  Vec3d voxelSize;
  std::unique_ptr<Octree> octree;
};

// Path of a bundled scene or mesh file.
std::string BundledScenePath(const std::string& name);

// A relative MESH path is taken relative to the scene file's folder.
// voxelScale multiplies the scene's voxel size (0.5 halves it).
bool LoadOctreeScene(const std::string& sceneFile, OctreeScene& scene, std::wostream* log, double voxelScale = 1.0);
