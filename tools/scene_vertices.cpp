// Loads a scene and lists the integer grid positions of its finest-level
// vertices, so that FIXED_VERTICES and FORCES lists can be written.
//
//   scene_vertices SCENE [--select AXIS MIN MAX]... [--surface] [--count]
//
// --select keeps vertices whose rest coordinate along AXIS (x, y or z, in the
// scene's simulation units) lies in [MIN, MAX]; --surface keeps only vertices
// of the model's boundary faces; --count prints the number instead of the list.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/scene.h"
#include "geometry/file_util.h"

namespace {

struct Selection {
  int axis;
  double minimum, maximum;
};

int Usage() {
  std::fprintf(stderr, "usage: scene_vertices SCENE [--select x|y|z MIN MAX]... [--surface] [--count]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::vector<Selection> selections;
  bool surfaceOnly = false, countOnly = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--select") == 0 && i + 3 < argc) {
      int axis = argv[i + 1][0] - 'x';
      if (axis < 0 || axis > 2) return Usage();
      selections.push_back({axis, std::atof(argv[i + 2]), std::atof(argv[i + 3])});
      i += 3;
    } else if (std::strcmp(argv[i], "--surface") == 0) {
      surfaceOnly = true;
    } else if (std::strcmp(argv[i], "--count") == 0) {
      countOnly = true;
    } else {
      return Usage();
    }
  }
  Scene scene;
  auto start = std::chrono::steady_clock::now();
  if (!scene.Load(WidenPath(argv[1]), 0, &std::wcerr)) return 1;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::wcerr << scene.Describe() << L"# Load time: " << seconds << L"s" << std::endl;

  const CutSim& sim = *scene.cutSim;
  int count = 0;
  std::string list;
  for (int v = 0; v < sim.vertexCount[0]; ++v) {
    if (surfaceOnly && (v >= static_cast<int>(sim.renderVertexIndex.size()) || sim.renderVertexIndex[v] < 0)) continue;
    Vec3d rest = sim.RestPosition(0, v);
    bool keep = true;
    for (const Selection& s : selections) keep = keep && rest[s.axis] >= s.minimum && rest[s.axis] <= s.maximum;
    if (!keep) continue;
    const Vec3i& p = sim.vertexPosition[0][v];
    if (count > 0) list += "  ";
    list += std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z);
    ++count;
  }
  if (countOnly) {
    std::printf("%d\n", count);
  } else {
    std::printf("%s\n", list.c_str());
  }
  return 0;
}
