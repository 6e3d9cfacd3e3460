// The editor's cuts: triangles swept by the blade along the tool path, or read
// from a cutting surface file, inserted into the octree; then the surface is
// extracted again and the finite element model rebuilt incrementally.
#include <cmath>
#include <fstream>
#include <locale>
#include <ostream>
#include <sstream>

#include "app/cutting_surface.h"
#include "app/editor.h"
#include "app/recorder.h"
#include "app/scene.h"
#include "geometry/file_util.h"

namespace {

void WriteTriangleLine(std::ostream& out, const Vec3f corners[3], int32_t id) {
  for (int c = 0; c < 3; ++c) {
    out << corners[c].x << " " << corners[c].y << " " << corners[c].z << "   ";
  }
  out << id << "\n";
}

}  // namespace

// Reads and checks a whole cutting surface file before anything is cut.
bool ReadCuttingSurface(const std::wstring& fileName, std::vector<CutTriangle>& triangles, std::wostream* log) {
  std::ifstream in(NarrowPath(fileName), std::ios::binary);
  if (!in) {
    if (log) *log << L"ERROR: Cannot open cutting surface file \"" << fileName << L"\"" << std::endl;
    return false;
  }
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
    std::istringstream fields(line);
    fields.imbue(std::locale::classic());
    CutTriangle t;
    bool ok = true;
    for (int c = 0; c < 3 && ok; ++c) {
      ok = static_cast<bool>(fields >> t.corners[c].x >> t.corners[c].y >> t.corners[c].z) && IsFinite(t.corners[c]);
    }
    if (!ok) {
      if (log) {
        *log << L"ERROR: Error parsing line " << lineNumber << L" of cutting surface file \"" << fileName << L"\""
             << std::endl;
      }
      return false;
    }
    if (!(fields >> t.id)) t.id = 1;  // a missing id counts as 1
    triangles.push_back(t);
  }
  if (in.bad()) {
    if (log) {
      *log << L"ERROR: Cannot read line " << lineNumber + 1 << L" of cutting surface file \"" << fileName << L"\""
           << std::endl;
    }
    return false;
  }
  return true;
}

void Editor::CutAlongToolPath() {
  if (pathPoints_.size() < 2 || firstUncut_ >= pathPoints_.size()) return;
  // a failed load leaves no model to cut
  if (!scene_.loaded || !scene_.cutSim || !scene_.octree) return;
  CutSim& sim = *scene_.cutSim;
  Octree& octree = *scene_.octree;
  sim.StoreCornerPositionsInOctree();

  std::ofstream file(services_.cuttingSurfacePath, std::ios::app | std::ios::binary);
  if (file) file.imbue(std::locale::classic());
  for (size_t b = firstUncut_; b < pathPoints_.size(); ++b) {
    Vec3f triangles[2][3];
    SegmentTriangles(static_cast<int>(b), triangles[0], triangles[1]);
    int32_t id = cutIds_[b - 1];
    for (const auto& t : triangles) {
      if (file) WriteTriangleLine(file, t, id);
      octree.InsertCutTriangle(t[0], t[1], t[2], id);
    }
  }
  firstUncut_ = pathPoints_.size();
  file.close();
  if ((!file || file.fail()) && !cutFileWarned_ && log_) {
    *log_ << L"WARNING: Cannot append to the cutting surface file \"" << services_.cuttingSurfacePath.c_str()
          << L"\"; tool cuts are not recorded there" << std::endl;
    cutFileWarned_ = true;
  }
  FinishCut();
}

bool Editor::CutFromFile(const std::wstring& fileName) {
  if (!scene_.loaded || !scene_.cutSim || !scene_.octree) {
    if (log_) *log_ << L"ERROR: No scene is loaded; \"" << fileName << L"\" was not cut" << std::endl;
    return false;
  }
  std::vector<CutTriangle> triangles;
  if (!ReadCuttingSurface(fileName, triangles, log_)) return false;

  CutSim& sim = *scene_.cutSim;
  sim.StoreCornerPositionsInOctree();
  sim.CopyVertexPositionsIntoOctree();
  recorder_.Start();
  recorder_.Advance(0.1);
  double t = 0.1;
  int32_t previousId = 0;
  for (const CutTriangle& triangle : triangles) {
    scene_.octree->InsertCutTriangle(triangle.corners[0], triangle.corners[1], triangle.corners[2], triangle.id);
    if (triangle.id != previousId) t += 0.4;
    t += 0.1;
    recorder_.RecordCutAt(t, triangle.corners, triangle.id);
    previousId = triangle.id;
  }
  std::wstring recording;
  bool chosen = services_.chooseFile && services_.chooseFile(L"Save recording", L"*.rec", L"rec", true, recording);
  recorder_.Save(chosen, recording, log_);
  FinishCut();
  return true;
}

void Editor::FinishCut() {
  scene_.octree->ExtractSurface();
  scene_.cutSim->BuildHierarchy(true, log_);
  scene_.UpdateDistanceFieldAfterCut();
}
