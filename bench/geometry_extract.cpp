// Times a full surface extraction of the liver octree (every block
// contoured, as right after the scene load): median and minimum of 15 runs;
// then the geometry part of a cut: a 10-segment blade stroke across the
// liver inserted, the surface updated locally and the distance field updated.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <vector>

#include "support/octree_scene.h"

namespace {

// Forgets every extracted vertex and block so that the next extraction is a full one.
void ResetSurface(Octree& octree) {
  for (OctreeCell& cell : octree.cells[octree.FinestLevel()]) {
    for (bool& done : cell.cornerDone) done = false;
  }
  octree.surfaceVertexLevel.clear();
  octree.surfaceVertexCell.clear();
  octree.surfaceVertexLocal.clear();
}

}  // namespace

int main() {
  OctreeScene scene;
  if (!LoadOctreeScene(BundledScenePath("LiverScene.txt"), scene, &std::wcout)) return 1;
  Octree& octree = *scene.octree;
  std::vector<double> times;
  for (int run = 0; run < 15; ++run) {
    ResetSurface(octree);
    const auto start = std::chrono::steady_clock::now();
    octree.ExtractSurface();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("full ExtractSurface of the liver (%zu finest cells, %d vertices, %zu triangles): median %.1f ms, min %.1f ms\n",
              octree.cells[octree.FinestLevel()].size(), octree.surfaceVertexCount, octree.surfaceTriangles.size() / 3,
              1e3 * times[times.size() / 2], 1e3 * times.front());

  // blade stroke: two triangles per segment reaching through the body in z
  const Vec3f extent = Vec3f(octree.meshBoxHalfExtent) * 2.0f;
  auto start = std::chrono::steady_clock::now();
  for (int segment = 0; segment < 10; ++segment) {
    const float x0 = extent.x * (0.1f + 0.08f * segment), x1 = x0 + 0.08f * extent.x;
    const Vec3f a(x0, 0.45f * extent.y, -0.1f * extent.z), b(x1, 0.5f * extent.y, -0.1f * extent.z);
    const Vec3f c(x0, 0.5f * extent.y, 1.1f * extent.z), e(x1, 0.55f * extent.y, 1.1f * extent.z);
    octree.InsertCutTriangle(a, b, c, 1);
    octree.InsertCutTriangle(c, b, e, 1);
  }
  const double insert = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  start = std::chrono::steady_clock::now();
  octree.ExtractSurface();
  const double extract = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  start = std::chrono::steady_clock::now();
  octree.voxelGrid->UpdateByWavefront();
  const double wavefront = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("10-segment stroke: insert %.1f ms, local ExtractSurface %.1f ms, UpdateByWavefront %.1f ms\n", 1e3 * insert,
              1e3 * extract, 1e3 * wavefront);
  return 0;
}
