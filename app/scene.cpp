#include "app/scene.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <locale>
#include <ostream>
#include <sstream>

#include "geometry/file_util.h"
#include "geometry/matrix4.h"

namespace {

// Largest interior leaf of the octree, in voxels, as scene set-up builds it.
constexpr int kMaxInteriorCellWidth = 10;

bool PositiveFinite(double v) { return std::isfinite(v) && v > 0.0; }

void Error(std::wostream* log, const std::wstring& text) {
  if (log) *log << L"ERROR: " << text << std::endl;
}

std::wostringstream ClassicStream() {
  std::wostringstream s;
  s.imbue(std::locale::classic());
  return s;
}

// Determinant of the upper-left 3x3 part relative to the product of its row
// lengths (the largest it can be): near zero for a transformation that
// flattens the mesh, whatever its scale.
double RelativeLinearDeterminant(const Mat4f& m) {
  double a = m(0, 0), b = m(0, 1), c = m(0, 2), d = m(1, 0), e = m(1, 1), f = m(1, 2), g = m(2, 0), h = m(2, 1),
         i = m(2, 2);
  double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  double rows = std::sqrt(a * a + b * b + c * c) * std::sqrt(d * d + e * e + f * f) * std::sqrt(g * g + h * h + i * i);
  return rows > 0.0 ? det / rows : 0.0;
}

// Below this relative determinant the single-precision mesh is flat.
constexpr double kSingularTransformation = 1e-6;

bool AffineBottomRow(const Mat4f& m) { return m(3, 0) == 0.0f && m(3, 1) == 0.0f && m(3, 2) == 0.0f && m(3, 3) == 1.0f; }

// The simulation elements keep one occupancy bit per voxel of their box, so
// this memory grows with 8^NUM_EMBEDDED_LEVELS per element. The elements tile
// the voxel grid rounded up to their edge, which bounds the bits; more than
// this many bytes is not affordable.
constexpr double kMaxOccupancyBytes = 1024.0 * 1024.0 * 1024.0;
// occupancyWordCount = 8^(E - 2) must stay an int32.
constexpr int kMaxEmbeddedLevelsForWordCount = 12;

double OccupancyBytes(const Vec3i& resolution, int embeddedLevels) {
  double voxels = 1.0;
  const double edge = std::ldexp(1.0, embeddedLevels);
  for (int a = 0; a < 3; ++a) voxels *= std::ceil(resolution[a] / edge) * edge;
  return voxels / 8.0;
}

// Largest NUM_EMBEDDED_LEVELS whose occupancy words fit, for this grid.
int AffordableEmbeddedLevels(const Vec3i& resolution) {
  int e = 0;
  while (e < kMaxEmbeddedLevelsForWordCount && OccupancyBytes(resolution, e + 1) <= kMaxOccupancyBytes) ++e;
  return e;
}

bool AllFinite(const Mat4f& m) {
  for (float v : m.m) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// An OBJ path is used as written; a relative path that does not exist from the
// working folder is also tried beside the scene file.
std::wstring ResolveMeshPath(const std::wstring& meshPath, const std::wstring& sceneFile) {
  std::filesystem::path path(NarrowPath(meshPath));
  std::error_code error;
  if (path.is_absolute() || std::filesystem::exists(path, error)) return meshPath;
  std::filesystem::path beside = std::filesystem::path(NarrowPath(sceneFile)).parent_path() / path;
  if (!beside.parent_path().empty() && std::filesystem::exists(beside, error)) return WidenPath(beside.string());
  return meshPath;
}

}  // namespace

bool LightViewMatrix(const Vec3f& position, const Vec3f& direction, const Vec3f& up, Mat4f& view) {
  if (!IsFinite(position) || !IsFinite(direction) || !IsFinite(up)) return false;
  float length = Length(direction);
  if (!(length > 0.0f)) return false;
  Vec3f z = -direction / length;
  Vec3f side = Cross(up, z);
  if (!(Length(side) > 1e-6f * Length(up))) return false;
  Vec3f x = Normalize(side);
  Vec3f y = Cross(z, x);
  const Vec3f rows[3] = {x, y, z};
  view = Mat4f::Identity();
  for (int r = 0; r < 3; ++r) {
    view(r, 0) = rows[r].x;
    view(r, 1) = rows[r].y;
    view(r, 2) = rows[r].z;
    view(r, 3) = -Dot(rows[r], position);
  }
  return true;
}

Scene::Scene() { ResetDefaults(); }

// The CutSim refers to the octree, so it goes first.
Scene::~Scene() {
  cutSim.reset();
  octree.reset();
}

void Scene::ResetDefaults() {
  voxelSize = Vec3d(0.01, 0.01, 0.01);
  elasticModulus = 10000000;
  poissonRatio = 0.3;
  density = 1000;
  dampingFactor = 0.5;
  timeStep = 0.05;
  gravity = Vec3d(0, 0, -9.81);
  defaultViewPosition = Vec3f(-20, 0, 0);
  defaultHeadingPitchRoll = Vec3f(0, 0, 0);
  defaultViewStored = false;
  lightPosition = Vec3f(0, 0, 1);
  lightDirection = Vec3f(0, 0, -1);
  lightUp = Vec3f(0, 1, 0);
  LightViewMatrix(lightPosition, lightDirection, lightUp, lightViewMatrix);
  meanVoxelSize = static_cast<float>((voxelSize.x + voxelSize.y + voxelSize.z) / 3.0);
  vertexHandleRadius = meanVoxelSize / 6.0f;
  forceSphereRadius = 0.1;
  forcePerPixel = 0.1;
  forceArrowScale = 5e-7f / (meanVoxelSize * meanVoxelSize);
  meshToSimulation = Mat4f::Identity();
  distanceFieldCurrent = true;
  loaded = false;
}

bool Scene::Load(const std::wstring& fileName, int solverKind, std::wostream* log) {
  ResetDefaults();
  if (!configuration.Load(fileName, log)) return false;
  if (!ReadMaterial(log)) return false;
  if (!ReadMesh(fileName, log)) return false;
  if (!BuildOctree(log)) return false;

  int numLevels = 0, numEmbeddedLevels = 0;
  if (!configuration.Get(L"NUM_LEVELS", numLevels, log)) return false;
  if (!configuration.Get(L"NUM_EMBEDDED_LEVELS", numEmbeddedLevels, log)) return false;
  if (numLevels < 1 || numLevels > octree->levelCount) {
    Error(log, L"NUM_LEVELS must lie between 1 and " + std::to_wstring(octree->levelCount) +
                   L", the number of octree levels of this mesh and voxel size");
    return false;
  }
  if (numEmbeddedLevels < 0 || numEmbeddedLevels >= numLevels) {
    Error(log, L"NUM_EMBEDDED_LEVELS must lie between 0 and NUM_LEVELS - 1");
    return false;
  }
  const int affordable = AffordableEmbeddedLevels(octree->resolution);
  if (numEmbeddedLevels > affordable) {
    std::wostringstream text = ClassicStream();
    text << L"NUM_EMBEDDED_LEVELS " << numEmbeddedLevels << L" needs "
         << std::ceil(OccupancyBytes(octree->resolution, numEmbeddedLevels) / (1024.0 * 1024.0))
         << L" MB of element occupancy words for this mesh and voxel size; at most " << affordable
         << L" fits in " << kMaxOccupancyBytes / (1024.0 * 1024.0) << L" MB";
    Error(log, text.str());
    return false;
  }

  cutSim.reset();
  cutSim = std::make_unique<CutSim>(*octree, solverKind, 0);
  cutSim->numEmbeddedLevels = numEmbeddedLevels;
  cutSim->occupancyWordCount = numEmbeddedLevels < 3 ? 1 : int32_t(1) << (3 * numEmbeddedLevels - 6);
  octree->embedded = true;
  octree->embeddedLevels = numEmbeddedLevels;
  if (!cutSim->SetMaterial(voxelSize, elasticModulus, poissonRatio, true, timeStep, dampingFactor, density, true,
                           log)) {
    return false;
  }
  cutSim->gravity = gravity;
  cutSim->numLevels = numLevels;
  if (!cutSim->BuildHierarchy(false, log)) return false;

  ApplyFixedVertices(log);
  ApplyForces(log);
  cutSim->PropagateConstraints(cutSim->numEmbeddedLevels);
  cutSim->CopyVertexPositionsIntoOctree();

  ReadDefaultView(log);
  ReadLight(log);
  ReadEditorParameters(log);
  loaded = true;
  return true;
}

bool Scene::ReadMaterial(std::wostream* log) {
  if (!configuration.Get(L"VOXEL_SIZE", voxelSize, log)) return false;
  if (!configuration.Get(L"ELASTIC_MODULUS", elasticModulus, log)) return false;
  if (!configuration.Get(L"POISSON_RATIO", poissonRatio, log)) return false;
  if (!configuration.Get(L"DENSITY", density, log)) return false;
  if (!configuration.Get(L"DAMPING_FACTOR", dampingFactor, log)) return false;
  if (!configuration.Get(L"TIME_STEP", timeStep, log)) return false;
  gravity = Vec3d(0, 0, 0);
  configuration.Get(L"GRAVITY", gravity, log, true);

  // values that would make the model meaningless, NaN or unaffordable
  if (!PositiveFinite(voxelSize.x) || !PositiveFinite(voxelSize.y) || !PositiveFinite(voxelSize.z)) {
    Error(log, L"VOXEL_SIZE must be three positive, finite numbers");
    return false;
  }
  if (!PositiveFinite(elasticModulus)) {
    Error(log, L"ELASTIC_MODULUS must be a positive, finite number");
    return false;
  }
  if (!(poissonRatio > -1.0 && poissonRatio < 0.5)) {
    Error(log, L"POISSON_RATIO must lie strictly between -1 and 0.5");
    return false;
  }
  if (!PositiveFinite(density)) {
    Error(log, L"DENSITY must be a positive, finite number");
    return false;
  }
  if (!std::isfinite(dampingFactor) || dampingFactor < 0.0) {
    Error(log, L"DAMPING_FACTOR must be a finite number of at least 0");
    return false;
  }
  if (!PositiveFinite(timeStep)) {
    Error(log, L"TIME_STEP must be a positive, finite number");
    return false;
  }
  if (!IsFinite(gravity)) {
    Error(log, L"GRAVITY must be three finite numbers");
    return false;
  }
  return true;
}

bool Scene::ReadMesh(const std::wstring& sceneFile, std::wostream* log) {
  std::wstring meshPath;
  if (!configuration.Get(L"MESH", meshPath, log)) return false;
  if (!mesh.ReadObj(ResolveMeshPath(meshPath, sceneFile), log, false)) return false;
  if (mesh.triangles.empty()) {
    Error(log, L"MESH \"" + meshPath + L"\" has no triangles");
    return false;
  }
  initialMesh = mesh;

  float scaleTo = 0;
  float s = 1.0f;
  if (configuration.Get(L"MESH_SCALE_TO", scaleTo, log, true)) {
    if (!PositiveFinite(scaleTo)) {
      Error(log, L"MESH_SCALE_TO must be a positive, finite number");
      return false;
    }
    const Vec3f& h = mesh.bboxHalfExtent;
    float extent = 2.0f * std::fmax(h.x, std::fmax(h.y, h.z));
    if (!(extent > 0.0f)) {
      Error(log, L"MESH_SCALE_TO cannot scale a mesh without extent");
      return false;
    }
    s = scaleTo / extent;
    mesh.Scale(s);
    initialMesh.Scale(s);
  }

  Mat4f transformation = Mat4f::Identity();
  if (configuration.Get(L"MESH_TRANSFORMATION", transformation, log, true)) {
    double det = RelativeLinearDeterminant(transformation);
    if (!AllFinite(transformation) || !std::isfinite(det) || std::fabs(det) < kSingularTransformation) {
      Error(log, L"MESH_TRANSFORMATION must be finite and not singular");
      return false;
    }
    // the mesh is transformed as an affine map; a projective bottom row would
    // otherwise reach only the matrix that carries saved meshes back
    if (!AffineBottomRow(transformation)) {
      Error(log, L"MESH_TRANSFORMATION must be affine: its last row must be 0 0 0 1");
      return false;
    }
    mesh.Transform(transformation);
    initialMesh.Transform(transformation);
  }

  Vec3f minimum = mesh.bboxCenter - mesh.bboxHalfExtent;
  meshToSimulation = TranslationMatrix(-minimum) * transformation * ScalingMatrix(Vec3f(s, s, s));
  Mat4f shift = TranslationMatrix(-minimum);
  mesh.Transform(shift);
  initialMesh.Transform(shift);
  return true;
}

bool Scene::BuildOctree(std::wostream* log) {
  cutSim.reset();
  octree = std::make_unique<Octree>();
  if (!octree->BuildFromMesh(mesh, voxelSize, kMaxInteriorCellWidth, log)) return false;
  octree->ExtractSurface();
  octree->voxelGrid->ComputeBySweeping();
  return true;
}

void Scene::UpdateDistanceFieldAfterCut() {
  if (!octree || !octree->voxelGrid) return;
  VoxelGrid& grid = *octree->voxelGrid;
  if (cutSim && cutSim->collisionEnabled) {
    grid.UpdateByWavefront();
    return;
  }
  // nothing samples the field while collision detection is off; the touched
  // bits keep every voxel a later update must start from, so the queues,
  // which would grow with every cut, can go
  grid.indexQueue.clear();
  grid.coordinateQueue.clear();
  distanceFieldCurrent = false;
}

void Scene::SetCollisionDetection(bool on) {
  if (!cutSim) return;
  if (on && !distanceFieldCurrent && octree && octree->voxelGrid) {
    // the cuts made while it was off start the wavefront together
    VoxelGrid& grid = *octree->voxelGrid;
    grid.indexQueue.clear();
    grid.coordinateQueue.clear();
    for (int z = 0; z < grid.resolution.z; ++z) {
      for (int y = 0; y < grid.resolution.y; ++y) {
        for (int x = 0; x < grid.resolution.x; ++x) {
          const int32_t i = grid.Index(x, y, z);
          if ((grid.touched[i >> 6] >> (i & 63)) & 1) {
            grid.indexQueue.push_back(i);
            grid.coordinateQueue.push_back(Vec3i(x, y, z));
          }
        }
      }
    }
    grid.UpdateByWavefront();
    distanceFieldCurrent = true;
  }
  cutSim->collisionEnabled = on;
}

int Scene::FindFinestVertex(const Vec3i& position) const {
  auto found = cutSim->vertexLookup.find({position.x, position.y, position.z});
  return found == cutSim->vertexLookup.end() ? -1 : found->second;
}

void Scene::ApplyFixedVertices(std::wostream* log) {
  std::wstring text;
  if (!configuration.Get(L"FIXED_VERTICES", text, log, true)) return;
  std::wistringstream in(text);
  in.imbue(std::locale::classic());
  Vec3i p;
  while (in >> p.x >> p.y >> p.z) {
    int vertex = FindFinestVertex(p);
    if (vertex >= 0) {
      cutSim->SetVertexFixed(0, vertex, true);
    } else if (log) {
      *log << L"WARNING: Vertex fixation: No vertex found at position " << p.x << L" " << p.y << L" " << p.z
           << std::endl;
    }
  }
  if (!in.eof() && log) *log << L"WARNING: Error while parsing vertex fixation" << std::endl;
}

void Scene::ApplyForces(std::wostream* log) {
  std::wstring text;
  if (!configuration.Get(L"FORCES", text, log, true)) return;
  std::wistringstream in(text);
  in.imbue(std::locale::classic());
  Vec3i p;
  Vec3d f;
  while (in >> p.x >> p.y >> p.z >> f.x >> f.y >> f.z) {
    int vertex = FindFinestVertex(p);
    if (vertex >= 0 && IsFinite(f)) {
      cutSim->vertexForce[0][vertex] = f;
    } else if (vertex < 0 && log) {
      *log << L"WARNING: Vertex fixation: No vertex found at position " << p.x << L" " << p.y << L" " << p.z
           << std::endl;
    }
  }
  if (!in.eof() && log) *log << L"WARNING: Error while parsing forces" << std::endl;
}

void Scene::ReadDefaultView(std::wostream* log) {
  Vec3f position, angles;
  bool read = configuration.Get(L"RENDERER_DEFAULT_VIEW_POS", position, log, true) &&
              configuration.Get(L"RENDERER_DEFAULT_HEADING_PITCH_ROLL", angles, log, true);
  if (read) {
    defaultViewPosition = position;
    defaultHeadingPitchRoll = angles;
    return;
  }
  const Vec3f& c = mesh.bboxCenter;
  const Vec3f& h = mesh.bboxHalfExtent;
  defaultViewPosition = Vec3f(c.x - 5.0f * h.x, c.y, c.z);
  defaultHeadingPitchRoll = Vec3f(0, 0, 0);
}

void Scene::ReadLight(std::wostream* log) {
  Vec3f position = lightPosition, direction = lightDirection, up = lightUp;
  configuration.Get(L"RENDERER_LIGHT_POS", position, log, true);
  configuration.Get(L"RENDERER_LIGHT_DIR", direction, log, true);
  configuration.Get(L"RENDERER_LIGHT_UP", up, log, true);
  Mat4f view;
  if (LightViewMatrix(position, direction, up, view)) {
    lightPosition = position;
    lightDirection = direction;
    lightUp = up;
    lightViewMatrix = view;
  } else if (log) {
    *log << L"WARNING: RENDERER_LIGHT_DIR must be a non-zero direction not parallel to RENDERER_LIGHT_UP; "
            L"the default light is used"
         << std::endl;
  }
}

void Scene::ReadEditorParameters(std::wostream* log) {
  double v = voxelSize.x + voxelSize.y + voxelSize.z;
  vertexHandleRadius = static_cast<float>(v / 3.0 / 6.0);
  configuration.Get(L"EDITOR_VERTEX_HANDLE_RADIUS", vertexHandleRadius, log, true);
  configuration.Get(L"EDITOR_FORCE_SPHERE_RADIUS", forceSphereRadius, log, true);
  configuration.Get(L"EDITOR_FORCE_PER_PIXEL", forcePerPixel, log, true);
  float arrowScaling = 1.0f;
  configuration.Get(L"EDITOR_FORCE_ARROW_SCALING", arrowScaling, log, true);
  forceArrowScale = static_cast<float>(5e-7 / ((v / 3.0) * (v / 3.0))) * arrowScaling;
  meanVoxelSize = static_cast<float>(v / 3.0);
}

std::wstring Scene::Describe() const {
  std::wostringstream text = ClassicStream();
  std::wstring meshName;
  configuration.Get(L"MESH", meshName, nullptr, true);
  Mat4f transformation = Mat4f::Identity();
  configuration.Get(L"MESH_TRANSFORMATION", transformation, nullptr, true);
  int numLevels = 1;
  configuration.Get(L"NUM_LEVELS", numLevels, nullptr, true);

  text << L"# Mesh: \"" << meshName << L"\"\n";
  text << L"# Mesh Transformation:";
  for (float v : transformation.m) text << L" " << v;
  text << L"\n";
  int elements = cutSim ? cutSim->cellCount[0] : 0;
  int vertices = cutSim ? cutSim->vertexCount[0] : 0;
  text << L"# Initial #Elements: " << elements << L", #Vertices: " << vertices << L", #DOFs: " << 3 * vertices
       << L"\n";
  text << L"# Solver: ";
  if (cutSim && cutSim->solverKind == 0) {
    int coarsest = numLevels >= 1 && numLevels <= static_cast<int>(cutSim->vertexCount.size())
                       ? cutSim->vertexCount[numLevels - 1]
                       : 0;
    text << L"Multigrid (#Levels: " << numLevels << L", #Pre-Smooth GS: " << CutSim::kPreSmoothingSweeps
         << L" , #Post-Smooth GS: " << CutSim::kPostSmoothingSweeps << L" , Initial #DOFs Coarsest Level: "
         << coarsest << L")";
  }
  text << L"\n";
  text << L"# Voxel Size: " << voxelSize.x << L" " << voxelSize.y << L" " << voxelSize.z << L"\n";
  text << L"# Elastic Modulus: " << elasticModulus << L"Pa, Poisson Ratio: " << poissonRatio << L", Density: "
       << density << L"kg/m^3\n";
  text << L"# Damping Factor: " << dampingFactor << L", Time Step: " << timeStep << L"s\n";
  return text.str();
}

bool Scene::Save(const std::wstring& fileName, std::wostream* log) {
  if (!loaded) return true;
  const int n = cutSim->vertexCount[0];
  std::wostringstream fixed = ClassicStream();
  std::wostringstream forces = ClassicStream();
  bool anyFixed = false, anyForce = false;
  for (int v = 0; v < n; ++v) {
    const Vec3i& p = cutSim->vertexPosition[0][v];
    if (cutSim->vertexFixed[0][v]) {
      if (anyFixed) fixed << L"  ";
      fixed << p.x << L" " << p.y << L" " << p.z;
      anyFixed = true;
    }
    const Vec3d& f = cutSim->vertexForce[0][v];
    if (f.x != 0.0 || f.y != 0.0 || f.z != 0.0) {
      if (anyForce) forces << L"  ";
      forces << p.x << L" " << p.y << L" " << p.z << L" " << f.x << L" " << f.y << L" " << f.z;
      anyForce = true;
    }
  }
  if (anyFixed) {
    configuration.Set(L"FIXED_VERTICES", fixed.str());
  } else {
    configuration.Remove(L"FIXED_VERTICES");
  }
  if (anyForce) {
    configuration.Set(L"FORCES", forces.str());
  } else {
    configuration.Remove(L"FORCES");
  }
  if (defaultViewStored) {
    std::wostringstream position = ClassicStream(), angles = ClassicStream();
    position << defaultViewPosition.x << L" " << defaultViewPosition.y << L" " << defaultViewPosition.z;
    angles << defaultHeadingPitchRoll.x << L" " << defaultHeadingPitchRoll.y << L" " << defaultHeadingPitchRoll.z;
    configuration.Set(L"RENDERER_DEFAULT_VIEW_POS", position.str());
    configuration.Set(L"RENDERER_DEFAULT_HEADING_PITCH_ROLL", angles.str());
  }
  return configuration.Save(fileName, log);
}
