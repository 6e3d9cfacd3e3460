// Times a tool cut on the liver from the mouse release to the rebuilt model:
// corner positions stored in the octree, the stroke's triangles appended to
// the cutting surface file and inserted, the surface extracted locally, the
// finite element model rebuilt incrementally and the distance field updated
// by the wavefront (collision detection on). Each of several 10-segment
// strokes across the liver is timed by phase; medians and the slowest stroke
// are printed. A few time steps run between strokes, as in use.
//
//   cut_latency_bench [strokes]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/scene.h"
#include "geometry/file_util.h"

namespace {

using Clock = std::chrono::steady_clock;
double Milliseconds(Clock::time_point a, Clock::time_point b) {
  return 1e3 * std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct PhaseTimes {
  std::vector<double> store, insert, extract, rebuild, wavefront, total;
};

// The blade path of one stroke across the liver from above: 11 points on a
// line in x at height z, the view ray straight down, the blade reaching
// `depth` below each point and 50 voxels behind it, as the edit tool forms
// its triangles.
void StrokeTriangles(const Scene& scene, float y, float depth, std::vector<Vec3f>& corners) {
  const Vec3f extent = scene.mesh.bboxHalfExtent * 2.0f;
  const Vec3f low = scene.mesh.bboxCenter - scene.mesh.bboxHalfExtent;
  const Vec3f down(0, 0, -1);
  const float behind = 50.0f * scene.meanVoxelSize;
  corners.clear();
  for (int b = 1; b <= 10; ++b) {
    const Vec3f p0 = low + Vec3f(extent.x * (0.1f + 0.08f * (b - 1)), y * extent.y, 0.8f * extent.z);
    const Vec3f p1 = low + Vec3f(extent.x * (0.1f + 0.08f * b), (y + 0.01f) * extent.y, 0.8f * extent.z);
    const Vec3f a = p0 - down * behind, bb = p1 - down * behind, c = p0 + down * depth, e = p1 + down * depth;
    corners.insert(corners.end(), {a, bb, c, c, bb, e});
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int strokes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  Scene scene;
  const std::string sceneFile = std::string(VARDEL_SOURCE_DIR) + "/scenes/LiverScene.txt";
  if (!scene.Load(WidenPath(sceneFile), 0, &std::wcout)) return 1;
  scene.SetCollisionDetection(true);
  CutSim& sim = *scene.cutSim;
  Octree& octree = *scene.octree;
  const std::string cutFile = (std::filesystem::temp_directory_path() / "cut_latency_bench_surface.txt").string();
  std::remove(cutFile.c_str());

  PhaseTimes t;
  std::vector<Vec3f> corners;
  const float depth = 0.5f * scene.mesh.bboxHalfExtent.z * 2.0f;
  for (int stroke = 0; stroke < strokes; ++stroke) {
    for (int step = 0; step < 3; ++step) {
      sim.PrepareTimeStep();
      sim.SolveExtended();
      sim.CopyVertexPositionsIntoOctree();
    }
    StrokeTriangles(scene, 0.15f + 0.7f * stroke / std::max(1, strokes - 1), depth, corners);
    const auto t0 = Clock::now();
    sim.StoreCornerPositionsInOctree();
    const auto t1 = Clock::now();
    {
      std::ofstream file(cutFile, std::ios::app | std::ios::binary);
      for (size_t k = 0; k < corners.size(); k += 3) {
        for (int c = 0; c < 3; ++c) file << corners[k + c].x << " " << corners[k + c].y << " " << corners[k + c].z << "   ";
        file << stroke + 1 << "\n";
        octree.InsertCutTriangle(corners[k], corners[k + 1], corners[k + 2], stroke + 1);
      }
    }
    const auto t2 = Clock::now();
    octree.ExtractSurface();
    const auto t3 = Clock::now();
    if (!sim.BuildHierarchy(true, &std::wcout)) return 1;
    const auto t4 = Clock::now();
    scene.UpdateDistanceFieldAfterCut();
    const auto t5 = Clock::now();
    t.store.push_back(Milliseconds(t0, t1));
    t.insert.push_back(Milliseconds(t1, t2));
    t.extract.push_back(Milliseconds(t2, t3));
    t.rebuild.push_back(Milliseconds(t3, t4));
    t.wavefront.push_back(Milliseconds(t4, t5));
    t.total.push_back(Milliseconds(t0, t5));
  }
  std::remove(cutFile.c_str());
  std::printf("liver: %d level-0 vertices, %d simulation vertices after %d strokes\n", sim.vertexCount[0],
              sim.vertexCount[sim.numEmbeddedLevels], strokes);
  std::printf("10-segment stroke, median ms: store corners %.2f, append + insert %.2f, local ExtractSurface %.2f, "
              "incremental BuildHierarchy %.2f, UpdateByWavefront %.2f\n",
              Median(t.store), Median(t.insert), Median(t.extract), Median(t.rebuild), Median(t.wavefront));
  std::printf("cut latency (release to rebuilt model): median %.1f ms, max %.1f ms (target <= 30 ms median)\n",
              Median(t.total), *std::max_element(t.total.begin(), t.total.end()));
  return 0;
}
