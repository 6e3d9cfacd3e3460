#pragma once
// A scene: the body named by a scene file with its material, discretisation,
// simulation, view and editing parameters. Loading builds the octree and the
// finite element model and applies fixed vertices and forces.
#include <iosfwd>
#include <memory>
#include <string>

#include "app/config_file.h"
#include "cutsim/cut_sim.h"
#include "geometry/octree.h"
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

class Scene {
 public:
  Scene();
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  bool Load(const std::wstring& fileName, int solverKind, std::wostream* log);
  std::wstring Describe() const;
  bool Save(const std::wstring& fileName, std::wostream* log);

  // After a cut: the wavefront update of the distance field while collision
  // detection is on; otherwise the field is left stale until it is switched on.
  void UpdateDistanceFieldAfterCut();
  // The "Enable Collision Detection" switch: switching on first brings a
  // stale distance field up to date, so contacts never sample an old one.
  void SetCollisionDetection(bool on);

  std::unique_ptr<Octree> octree;
  std::unique_ptr<CutSim> cutSim;
  SurfaceMesh mesh;          // simulation coordinates
  SurfaceMesh initialMesh;   // copy of the mesh as read, normalised the same way
  ConfigFile configuration;

  Vec3d voxelSize;
  double elasticModulus = 0;
  double poissonRatio = 0;
  double density = 0;
  double dampingFactor = 0;
  double timeStep = 0;
  Vec3d gravity;
  Vec3f defaultViewPosition;
  Vec3f defaultHeadingPitchRoll;  // degrees
  bool defaultViewStored = false;
  Vec3f lightPosition, lightDirection, lightUp;
  Mat4f lightViewMatrix;
  float vertexHandleRadius = 0;
  double forceSphereRadius = 0;
  double forcePerPixel = 0;
  float forceArrowScale = 0;
  float meanVoxelSize = 0;
  Mat4f meshToSimulation;  // a point of the mesh file -> simulation coordinates
  bool distanceFieldCurrent = true;  // false after cuts made while collision detection was off
  bool loaded = false;

 private:
  void ResetDefaults();
  bool ReadMaterial(std::wostream* log);
  bool ReadMesh(const std::wstring& sceneFile, std::wostream* log);
  bool BuildOctree(std::wostream* log);
  bool BuildModel(std::wostream* log);
  void ApplyFixedVertices(std::wostream* log);
  void ApplyForces(std::wostream* log);
  int FindFinestVertex(const Vec3i& position) const;
  void ReadDefaultView(std::wostream* log);
  void ReadLight(std::wostream* log);
  void ReadEditorParameters(std::wostream* log);
};

// View matrix of a light at pos looking along dir with the given up vector;
// false when dir is zero or up is parallel to it.
bool LightViewMatrix(const Vec3f& position, const Vec3f& direction, const Vec3f& up, Mat4f& view);
