#include "support/cutsim_body.h"

#include <algorithm>
#include <sstream>

#include "app/config_file.h"
#include "geometry/file_util.h"

namespace {

void AppendBox(const Vec3f& low, const Vec3f& high, std::vector<Vec3f>& positions, std::vector<int32_t>& indices) {
  int32_t base = static_cast<int32_t>(positions.size());
  for (int c = 0; c < 8; ++c) {
    positions.emplace_back((c & 1) ? high.x : low.x, (c & 2) ? high.y : low.y, (c & 4) ? high.z : low.z);
  }
  // two counter-clockwise triangles per face, seen from outside
  const int32_t faces[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
  for (const auto& f : faces) {
    indices.insert(indices.end(), {base + f[0], base + f[1], base + f[2], base + f[0], base + f[2], base + f[3]});
  }
}

}  // namespace

SurfaceMesh BoxMesh(const Vec3f& low, const Vec3f& high) { return BoxesMesh({{low, high}}); }

SurfaceMesh BoxesMesh(const std::vector<std::pair<Vec3f, Vec3f>>& boxes) {
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  for (const auto& [low, high] : boxes) AppendBox(low, high, positions, indices);
  SurfaceMesh mesh;
  mesh.SetFromArrays(positions, indices);
  return mesh;
}

std::unique_ptr<CutSim> MakeCutSim(Octree& octree, const BodyOptions& options) {
  auto sim = std::make_unique<CutSim>(octree, 0, 0);
  int u = options.numEmbeddedLevels;
  sim->numEmbeddedLevels = u;
  sim->occupancyWordCount = u < 3 ? 1 : 1 << (3 * u - 6);
  octree.embedded = true;
  octree.embeddedLevels = u;
  if (!sim->SetMaterial(options.voxelSize, options.E, options.nu, true, options.timeStep, options.dampingFactor,
                        options.density, true)) {
    return nullptr;
  }
  sim->gravity = options.gravity;
  sim->numLevels = options.numLevels;
  if (!sim->BuildHierarchy(false)) return nullptr;
  sim->PropagateConstraints(u);
  sim->CopyVertexPositionsIntoOctree();
  return sim;
}

std::unique_ptr<SimBody> BuildBody(const SurfaceMesh& mesh, const BodyOptions& options) {
  auto body = std::make_unique<SimBody>();
  body->mesh = mesh;
  body->octree = std::make_unique<Octree>();
  if (!body->octree->BuildFromMesh(body->mesh, options.voxelSize, options.maxInteriorCellWidth, nullptr)) return nullptr;
  body->sim = MakeCutSim(*body->octree, options);
  if (!body->sim) return nullptr;
  return body;
}

namespace {

// FIXED_VERTICES / FORCES as integer positions (and forces) applied to level 0.
void ApplyVertexList(CutSim& sim, const std::wstring& text, bool forces) {
  std::wistringstream in(text);
  int x, y, z;
  while (in >> x >> y >> z) {
    Vec3d force;
    if (forces && !(in >> force.x >> force.y >> force.z)) break;
    auto found = sim.vertexLookup.find({x, y, z});
    if (found == sim.vertexLookup.end()) continue;
    if (forces) {
      sim.vertexForce[0][found->second] = force;
    } else {
      sim.SetVertexFixed(0, found->second, true);
    }
  }
}

}  // namespace

std::unique_ptr<SimBody> LoadSceneBody(const std::string& sceneName,
                                       const std::vector<std::pair<std::wstring, std::wstring>>& overrides) {
  std::string folder = std::string(VARDEL_SOURCE_DIR) + "/scenes/";
  ConfigFile config;
  if (!config.Load(WidenPath(folder + sceneName), nullptr)) return nullptr;
  for (const auto& [key, value] : overrides) config.Set(key, value);
  BodyOptions options;
  std::wstring meshName;
  if (!config.Get(L"VOXEL_SIZE", options.voxelSize, nullptr) || !config.Get(L"ELASTIC_MODULUS", options.E, nullptr) ||
      !config.Get(L"POISSON_RATIO", options.nu, nullptr) || !config.Get(L"DENSITY", options.density, nullptr) ||
      !config.Get(L"DAMPING_FACTOR", options.dampingFactor, nullptr) ||
      !config.Get(L"TIME_STEP", options.timeStep, nullptr) || !config.Get(L"MESH", meshName, nullptr) ||
      !config.Get(L"NUM_LEVELS", options.numLevels, nullptr) ||
      !config.Get(L"NUM_EMBEDDED_LEVELS", options.numEmbeddedLevels, nullptr)) {
    return nullptr;
  }
  config.Get(L"GRAVITY", options.gravity, nullptr, true);
  auto body = std::make_unique<SimBody>();
  SurfaceMesh& mesh = body->mesh;
  if (!mesh.ReadObj(WidenPath(folder) + meshName, nullptr, false)) return nullptr;
  float scaleTo = 0;
  if (config.Get(L"MESH_SCALE_TO", scaleTo, nullptr, true)) {
    float extent = 2 * std::max({mesh.bboxHalfExtent.x, mesh.bboxHalfExtent.y, mesh.bboxHalfExtent.z});
    mesh.Scale(scaleTo / extent);
  }
  Mat4f transformation;
  if (config.Get(L"MESH_TRANSFORMATION", transformation, nullptr, true)) mesh.Transform(transformation);
  Vec3f low = mesh.bboxCenter - mesh.bboxHalfExtent;
  Mat4f translation = Mat4f::Identity();
  translation(0, 3) = -low.x;
  translation(1, 3) = -low.y;
  translation(2, 3) = -low.z;
  mesh.Transform(translation);
  body->octree = std::make_unique<Octree>();
  if (!body->octree->BuildFromMesh(mesh, options.voxelSize, 10, nullptr)) return nullptr;
  body->sim = MakeCutSim(*body->octree, options);
  if (!body->sim) return nullptr;
  std::wstring list;
  if (config.Get(L"FIXED_VERTICES", list, nullptr, true)) ApplyVertexList(*body->sim, list, false);
  if (config.Get(L"FORCES", list, nullptr, true)) ApplyVertexList(*body->sim, list, true);
  body->sim->PropagateConstraints(options.numEmbeddedLevels);
  body->sim->CopyVertexPositionsIntoOctree();
  return body;
}

double BodyDiagonal(const CutSim& sim) {
  const Octree& octree = sim.octree;
  return Length(Mul(Vec3d(octree.resolution), octree.voxelSize));
}
