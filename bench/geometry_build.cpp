// Times the geometry part of a scene load for the liver at its own voxel size
// and at half of it: voxelization and octree build (by phase), the first
// surface extraction and the distance sweep, with the memory peak. Each case
// runs in its own process so that the peaks do not mix.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "support/octree_scene.h"

namespace {

long PeakResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int RunCase(const char* name, double voxelScale) {
  OctreeScene scene;
  if (!ReadSceneMesh(BundledScenePath("LiverScene.txt"), scene, &std::wcout, voxelScale)) return 1;
  scene.octree = std::make_unique<Octree>();
  Octree& octree = *scene.octree;

  auto start = std::chrono::steady_clock::now();
  if (!octree.BuildFromMesh(scene.mesh, scene.voxelSize, 10, &std::wcout)) return 1;
  const double build = Seconds(start);
  start = std::chrono::steady_clock::now();
  octree.ExtractSurface();
  const double extract = Seconds(start);
  start = std::chrono::steady_clock::now();
  octree.voxelGrid->ComputeBySweeping();
  const double sweep = Seconds(start);

  size_t cellCount = 0, finestCount = octree.cells[octree.FinestLevel()].size();
  for (const auto& level : octree.cells) cellCount += level.size();
  const OctreeBuildTimings& t = octree.buildTimings;
  std::printf("%s: grid %d x %d x %d, %d levels, %zu cells (%zu finest), %d surface vertices, %zu triangles\n", name,
              octree.resolution.x, octree.resolution.y, octree.resolution.z, octree.levelCount, cellCount, finestCount,
              octree.surfaceVertexCount, octree.surfaceTriangles.size() / 3);
  std::printf("  total %.3f s = build %.3f s + extraction %.3f s + distance sweep %.3f s\n", build + extract + sweep,
              build, extract, sweep);
  std::printf("  build: voxelize %.3f, refine %.3f, copy crossings %.3f, neighbours %.3f, renumber %.3f, corners %.3f s\n",
              t.voxelize, t.refine, t.copyCrossings, t.neighbours, t.renumber, t.corners);
  std::printf("  memory peak (VmHWM) %.1f MB\n", PeakResidentKilobytes() / 1024.0);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  const struct {
    const char* name;
    double voxelScale;
  } cases[] = {{"liver", 1.0}, {"liver, half voxel size", 0.5}};
  int status = 0;
  for (const auto& c : cases) {
    const pid_t child = fork();
    if (child == 0) _exit(RunCase(c.name, c.voxelScale));
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    if (!WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0) status = 1;
  }
  return status;
}
