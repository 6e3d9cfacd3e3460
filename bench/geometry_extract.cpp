// Times a full surface extraction of the liver octree (every block
// contoured, as right after the scene load): median and minimum of 15 runs.
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
  return 0;
}
