// Times the whole scene load of the liver (Scene::Load: scene file, mesh,
// octree, surface, distance field, finite element model and hierarchy,
// fixations and forces), median and minimum of several loads, then the same
// stages run one by one for a breakdown.
//
//   scene_load_bench [loads]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/scene.h"
#include "geometry/file_util.h"
#include "support/octree_scene.h"

namespace {

using Clock = std::chrono::steady_clock;
double Milliseconds(Clock::time_point a, Clock::time_point b) {
  return 1e3 * std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int loads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string sceneFile = BundledScenePath("LiverScene.txt");
  std::vector<double> times;
  int vertices = 0;
  for (int run = 0; run < loads; ++run) {
    Scene scene;
    const auto start = Clock::now();
    if (!scene.Load(WidenPath(sceneFile), 0, &std::wcout)) return 1;
    times.push_back(Milliseconds(start, Clock::now()));
    vertices = scene.cutSim->vertexCount[0];
  }
  std::sort(times.begin(), times.end());
  std::printf("Scene::Load of the liver (%d level-0 vertices): median %.0f ms, min %.0f ms over %d loads (target <= 1500 ms)\n",
              vertices, times[times.size() / 2], times.front(), loads);

  // the stages one by one, as the load runs them, with the loaded scene's parameters
  Scene reference;
  if (!reference.Load(WidenPath(sceneFile), 0, nullptr)) return 1;
  OctreeScene parts;
  auto t0 = Clock::now();
  if (!ReadSceneMesh(sceneFile, parts, nullptr)) return 1;
  auto t1 = Clock::now();
  parts.octree = std::make_unique<Octree>();
  if (!parts.octree->BuildFromMesh(parts.mesh, parts.voxelSize, 10, nullptr)) return 1;
  auto t2 = Clock::now();
  parts.octree->ExtractSurface();
  auto t3 = Clock::now();
  parts.octree->voxelGrid->ComputeBySweeping();
  auto t4 = Clock::now();
  CutSim sim(*parts.octree, 0, 0);
  sim.numEmbeddedLevels = reference.cutSim->numEmbeddedLevels;
  sim.occupancyWordCount = reference.cutSim->occupancyWordCount;
  parts.octree->embedded = true;
  parts.octree->embeddedLevels = sim.numEmbeddedLevels;
  sim.SetMaterial(reference.voxelSize, reference.elasticModulus, reference.poissonRatio, true, reference.timeStep,
                  reference.dampingFactor, reference.density, true);
  sim.numLevels = reference.cutSim->numLevels;
  auto t5 = Clock::now();
  if (!sim.BuildHierarchy(false, nullptr)) return 1;
  auto t6 = Clock::now();
  sim.PropagateConstraints(sim.numEmbeddedLevels);
  sim.CopyVertexPositionsIntoOctree();
  auto t7 = Clock::now();
  const OctreeBuildTimings& b = parts.octree->buildTimings;
  std::printf("stages ms: read + normalise mesh %.0f, octree %.0f (voxelize %.0f, refine %.0f, crossings %.0f, "
              "neighbours %.0f, renumber %.0f, corners %.0f), ExtractSurface %.0f, distance sweep %.0f, material %.0f, "
              "BuildHierarchy %.0f, propagate + copy %.0f\n",
              Milliseconds(t0, t1), Milliseconds(t1, t2), 1e3 * b.voxelize, 1e3 * b.refine, 1e3 * b.copyCrossings,
              1e3 * b.neighbours, 1e3 * b.renumber, 1e3 * b.corners, Milliseconds(t2, t3), Milliseconds(t3, t4),
              Milliseconds(t4, t5), Milliseconds(t5, t6), Milliseconds(t6, t7));
  return 0;
}
