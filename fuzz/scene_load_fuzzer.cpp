// Fuzz target of a whole scene load: Scene::Load of a fuzzed scene file whose
// MESH names the small fixed body "body.obj" beside it. Checked on success:
// the octree satisfies its invariants and every vertex position is finite.
//
// The fuzzer works in its own folder, so a mesh name reaches only the files
// there; names with a '/' (device files, other folders) are not tried. Scenes
// whose grid would exceed a few thousand voxels are skipped unless the build
// rejects them at once: a large but valid grid only measures the machine.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/config_file.h"
#include "app/scene.h"
#include "fuzz_support.h"
#include "geometry/file_util.h"
#include "geometry/octree_validation.h"

namespace {

// A box of 1 x 0.5 x 0.5 with outward faces.
const char kBodyObj[] =
    "v 0 0 0\nv 1 0 0\nv 0 0.5 0\nv 1 0.5 0\nv 0 0 0.5\nv 1 0 0.5\nv 0 0.5 0.5\nv 1 0.5 0.5\n"
    "f 1 3 2\nf 2 3 4\nf 5 6 7\nf 6 8 7\nf 1 2 5\nf 2 6 5\nf 3 7 4\nf 4 7 8\n"
    "f 1 5 3\nf 3 5 7\nf 2 4 6\nf 4 8 6\n";
const double kBodyExtent[3] = {1.0, 0.5, 0.5};
constexpr double kMaxBuiltVoxels = 4096;
constexpr double kSurelyRejectedVoxels = 1e12;

// Upper bound of the voxel count the scene asks for, from the box extent,
// the scaling, the transformation and the voxel size; -1 when the scene
// fails before the build anyway.
double VoxelCountBound(const ConfigFile& config) {
  Vec3d voxelSize;
  if (!config.Get(L"VOXEL_SIZE", voxelSize, nullptr, true)) return -1;
  double extent[3] = {kBodyExtent[0], kBodyExtent[1], kBodyExtent[2]};
  float scaleTo = 0;
  if (config.Get(L"MESH_SCALE_TO", scaleTo, nullptr, true)) {
    for (double& e : extent) e *= std::fabs(double(scaleTo)) / kBodyExtent[0];
  }
  Mat4f m;
  if (config.Get(L"MESH_TRANSFORMATION", m, nullptr, true)) {
    double transformed[3];
    for (int r = 0; r < 3; ++r) {
      transformed[r] = 0;
      for (int c = 0; c < 3; ++c) transformed[r] += std::fabs(double(m(r, c))) * extent[c];
    }
    for (int a = 0; a < 3; ++a) extent[a] = transformed[a];
  }
  double voxels = 1;
  for (int a = 0; a < 3; ++a) {
    if (!(voxelSize[a] > 0) || !std::isfinite(voxelSize[a]) || !std::isfinite(extent[a])) return -1;
    voxels *= extent[a] / voxelSize[a] + 2;
  }
  return voxels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  WriteFuzzFile("body.obj", kBodyObj);
  if (chdir(FuzzFolder().c_str()) != 0) PropertyViolated("cannot enter the fuzz folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sceneFile =
      WriteFuzzFile("scene.txt", std::string(reinterpret_cast<const char*>(data), size));
  ConfigFile config;
  if (config.Load(WidenPath(sceneFile), nullptr)) {
    std::wstring mesh;
    if (config.Get(L"MESH", mesh, nullptr, true) && mesh.find(L'/') != std::wstring::npos) return 0;
    const double voxels = VoxelCountBound(config);
    if (voxels > kMaxBuiltVoxels && voxels < kSurelyRejectedVoxels) return 0;
  }

  Scene scene;
  std::wostringstream log;
  if (!scene.Load(WidenPath(sceneFile), 0, &log)) {
    if (log.str().find(L"ERROR: ") == std::wstring::npos) PropertyViolated("failed load without an ERROR line");
    return 0;
  }
  if (!scene.octree || !scene.cutSim) PropertyViolated("loaded scene without octree or model");
  const std::string problem = ValidateOctree(*scene.octree);
  if (!problem.empty()) PropertyViolated(problem.c_str());
  for (const SurfaceMesh::Vertex& v : scene.mesh.vertices) {
    if (!IsFinite(v.position)) PropertyViolated("non-finite mesh position after loading");
  }
  return 0;
}
