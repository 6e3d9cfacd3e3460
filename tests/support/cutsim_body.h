#pragma once
// Bodies for the finite element tests: a mesh, its octree and a CutSim set up
// in the scene set-up's calling order (material, levels, build, fixations,
// forces, propagation, corner copy).
#include <memory>
#include <string>
#include <vector>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"
#include "geometry/surface_mesh.h"

struct BodyOptions {
  Vec3d voxelSize{1.0, 1.0, 1.0};
  double E = 1e5;
  double nu = 0.3;
  double density = 1000;
  double dampingFactor = 1.0;
  double timeStep = 0.02;
  Vec3d gravity;
  int numLevels = 3;
  int numEmbeddedLevels = 1;
  int maxInteriorCellWidth = 10;
};

struct SimBody {
  SurfaceMesh mesh;
  std::unique_ptr<Octree> octree;
  std::unique_ptr<CutSim> sim;
};

// Closed, outward-wound surface of the box [low, high].
SurfaceMesh BoxMesh(const Vec3f& low, const Vec3f& high);
// Union of axis-aligned boxes given in voxel units (each as low, high);
// touching boxes are separate closed surfaces, voxelized together.
SurfaceMesh BoxesMesh(const std::vector<std::pair<Vec3f, Vec3f>>& boxes);

// Octree and CutSim for a mesh already in simulation coordinates (its box
// starting at the origin). Null when the octree or the hierarchy fails.
std::unique_ptr<SimBody> BuildBody(const SurfaceMesh& mesh, const BodyOptions& options);
// Builds a second CutSim on an existing body's octree (which must be fresh).
std::unique_ptr<CutSim> MakeCutSim(Octree& octree, const BodyOptions& options);

// A bundled scene file (folder scenes/ of the source tree), loaded the way the
// scene set-up does: mesh normalisation, octree, CutSim, fixations, forces.
// Overrides replace keys before the set-up runs (for example "VOXEL_SIZE").
std::unique_ptr<SimBody> LoadSceneBody(const std::string& sceneName,
                                       const std::vector<std::pair<std::wstring, std::wstring>>& overrides = {});

// Length of the diagonal of the voxel grid (mesh units): the body's size.
double BodyDiagonal(const CutSim& sim);
