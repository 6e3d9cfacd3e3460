#pragma once
// Shared pieces of the end-to-end tests: a run folder holding a scene,
// scripted runs of the real program in it, and readers for the files and
// images the program writes.
#include <stb_image.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/scene.h"
#include "support/program_run.h"
#include "support/temp_folder.h"

namespace vardel_test {

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Wide text of the scene files as bytes (they hold ASCII only).
inline std::string ToNarrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline std::vector<double> Numbers(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }

  // Pixels of the rectangle [x0, x1) x [y0, y1) whose colour passes the test.
  template <typename Test>
  int Count(int x0, int y0, int x1, int y1, Test test) const {
    int hits = 0;
    for (int y = std::max(0, y0); y < std::min(height, y1); ++y) {
      for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
        const uint8_t* p = At(x, y);
        if (test(p[0], p[1], p[2])) ++hits;
      }
    }
    return hits;
  }
  template <typename Test>
  double Share(int x0, int y0, int x1, int y1, Test test) const {
    int total = (std::min(width, x1) - std::max(0, x0)) * (std::min(height, y1) - std::max(0, y0));
    return total > 0 ? static_cast<double>(Count(x0, y0, x1, y1, test)) / total : 0.0;
  }
};

inline Image LoadPng(const std::string& file) {
  Image image;
  int channels = 0;
  unsigned char* data = stbi_load(file.c_str(), &image.width, &image.height, &channels, 3);
  if (data) image.rgb.assign(data, data + static_cast<size_t>(image.width) * image.height * 3);
  stbi_image_free(data);
  return image;
}

// The finest level's positions from an equation system dump: its last block
// is n = 3N doubles, preceded by n itself.
inline std::vector<double> DumpedPositions(const std::string& bytes) {
  int32_t n = 0;
  if (bytes.size() < 13) return {};
  std::memcpy(&n, bytes.data() + 1, sizeof(n));
  size_t size = static_cast<size_t>(n) * sizeof(double);
  if (n <= 0 || bytes.size() < 13 + size) return {};
  std::vector<double> x(static_cast<size_t>(n));
  std::memcpy(x.data(), bytes.data() + bytes.size() - size, size);
  return x;
}

// Vertex count of the finest level in an equation system dump.
inline int DumpedVertexCount(const std::string& bytes) {
  int32_t n = 0;
  if (bytes.size() >= 5) std::memcpy(&n, bytes.data() + 1, sizeof(n));
  return n / 3;
}

// Where the camera is at the first frame: in orbit around the mesh box's
// centre, at the default view's distance, looking along heading and pitch.
struct ViewFrame {
  Vec3d eye, forward, right, up;
};

inline ViewFrame DefaultViewFrame(const Scene& scene) {
  const double degrees = 3.14159265358979323846 / 180.0;
  double h = scene.defaultHeadingPitchRoll.x * degrees, p = scene.defaultHeadingPitchRoll.y * degrees;
  Vec3d centre(scene.mesh.bboxCenter);
  double radius = Length(Vec3d(scene.defaultViewPosition) - centre);
  ViewFrame frame;
  frame.forward = Vec3d(std::cos(h) * std::cos(p), std::sin(h) * std::cos(p), -std::sin(p));
  frame.right = Normalize(Cross(frame.forward, Vec3d(0, 0, 1)));
  frame.up = Cross(frame.right, frame.forward);
  frame.eye = centre - frame.forward * radius;
  return frame;
}

struct Pixel {
  int x = 0, y = 0;
};

// Pixel of a point for a 45-degree vertical field of view.
inline Pixel Project(const ViewFrame& frame, const Vec3d& point, int width, int height) {
  Vec3d d = point - frame.eye;
  double focal = height / 2.0 / std::tan(22.5 * 3.14159265358979323846 / 180.0);
  double depth = Dot(d, frame.forward);
  double x = width / 2.0 + focal * Dot(d, frame.right) / depth - 0.5;
  double y = height / 2.0 - focal * Dot(d, frame.up) / depth - 0.5;
  return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
}

// World position of a finest-level vertex.
inline Vec3d VertexPosition(const Scene& scene, int vertex) {
  const Vec3i& p = scene.cutSim->vertexPosition[0][vertex];
  const Vec3d& h = scene.cutSim->voxelSize;
  return Vec3d(p.x * h.x, p.y * h.y, p.z * h.z);
}

// A run folder with a scene named "LiverScene.txt", the program's default.
class SceneRun {
 public:
  // Copies a bundled scene and its mesh; extra lines are appended to the scene.
  void UseBundledScene(const std::string& sceneFile, const std::string& meshFile, const std::string& extra = "") {
    std::string text = TempFolder::Read(std::string(VARDEL_SOURCE_DIR) + "/scenes/" + sceneFile);
    if (!text.empty() && text.back() != '\n') text += "\n";
    folder.Write("LiverScene.txt", text + extra);
    CopyMesh(meshFile);
  }
  void UseScene(const std::string& text, const std::string& meshFile) {
    folder.Write("LiverScene.txt", text);
    CopyMesh(meshFile);
  }
  void CopyMesh(const std::string& meshFile) {
    std::filesystem::copy_file(std::string(VARDEL_SOURCE_DIR) + "/scenes/" + meshFile, folder.File(meshFile),
                               std::filesystem::copy_options::overwrite_existing);
  }

  // The scene as the program will load it, read in this process.
  bool LoadHere(Scene& scene) const { return scene.Load(folder.WideFile("LiverScene.txt"), 0, nullptr); }

  ProgramResult Run(const std::string& script, const std::vector<std::string>& extra = {}) {
    folder.Write("script.txt", script);
    std::vector<std::string> args = {"--script", "script.txt", "--fixed-dt", "0.05"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunVardel(folder.Path(), args);
  }

  std::string Bytes(const std::string& name) const { return TempFolder::Read(folder.File(name)); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(folder.File(name)); }
  std::string StateFile(const std::string& name) const { return folder.File("state/" + name); }

  TempFolder folder;
};

}  // namespace vardel_test
