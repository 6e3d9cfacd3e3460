#include "app/editor.h"

#include <cmath>
#include <fstream>
#include <locale>
#include <ostream>

#include "app/recorder.h"
#include "app/scene.h"
#include "geometry/matrix4.h"

Editor::Editor(ObjectPicker& picker, Scene& scene, Recorder& recorder, EditorServices services, std::wostream* log,
               int logLevel)
    : picker_(picker), scene_(scene), recorder_(recorder), services_(std::move(services)), log_(log),
      logLevel_(logLevel) {}

void Editor::SetViewMatrix(const Mat4f& view) {
  viewMatrix_ = view;
  CameraFrame frame = CameraFrameFromView(view);
  cameraPosition_ = frame.position;
  cameraForward_ = frame.forward;
  cameraRight_ = frame.right;
  cameraUp_ = frame.up;
}

void Editor::SetScreenSize(int width, int height) {
  screenWidth_ = width > 0 ? width : 1;
  screenHeight_ = height > 0 ? height : 1;
}

void Editor::SetProjection(float aspectRatio, float fieldOfViewDegrees) {
  viewHeight_ = 2.0f * std::tan(fieldOfViewDegrees * 3.14159265358979f / 180.0f / 2.0f);
  viewWidth_ = aspectRatio * viewHeight_;
}

void Editor::PickRay(int x, int y, Vec3f& origin, Vec3f& direction) const {
  float u = ((x + 0.5f) / screenWidth_ - 0.5f) * viewWidth_;
  float v = ((y + 0.5f) / screenHeight_ - 0.5f) * viewHeight_;
  origin = cameraPosition_;
  direction = Normalize(cameraForward_ + cameraRight_ * u - cameraUp_ * v);
}

bool Editor::HandleMouse(const InputMessage& message) {
  // after a failed load there is no model to edit
  if (!scene_.loaded || !scene_.cutSim || !scene_.octree) {
    ClearDrag();
    return false;
  }
  switch (message.type) {
    case InputType::ButtonDown:
    case InputType::ButtonDoubleClick:
      if (message.button != kButtonRight) return false;
      return Press(message.x, message.y);
    case InputType::MouseMove:
      return Move(message.x, message.y);
    case InputType::ButtonUp:
      if (message.button != kButtonRight || !dragging_) return false;
      Release(message.x, message.y);
      dragging_ = false;
      return true;
    default:
      return false;
  }
}

void Editor::ClearDrag() {
  dragging_ = false;
  affected_.clear();
  currentForce_ = Vec3f();
  grabbedPoint_ = Vec3f();
}

bool Editor::Press(int x, int y) {
  // a press always starts from a clean drag state, so a release under
  // another mode never acts on what an earlier drag left behind
  ClearDrag();
  dragMode_ = mode_;
  pressX_ = x;
  pressY_ = y;
  switch (mode_) {
    case kModePick: {
      uint32_t id = picker_.ReadObjectId(x, y);
      if (ObjectKindOf(id) == kKindSurfaceVertex && log_) {
        *log_ << L"Clicked surface vertex " << ObjectIndexOf(id) << std::endl;
      }
      return id != 0;
    }
    case kModeFixations:
      dragging_ = true;
      return true;
    case kModeForce:
      return StartForceDrag(x, y);
    case kModeVertexDrag:
      return StartVertexDrag(x, y);
    case kModeCut:
      StartCutStroke(x, y);
      return true;
    default:
      return false;
  }
}

bool Editor::Move(int x, int y) {
  if (!dragging_ || mode_ != dragMode_) return false;
  switch (mode_) {
    case kModeForce:
      UpdateForce(x, y);
      return true;
    case kModeVertexDrag:
      DragVertex(x, y);
      return true;
    case kModeCut:
      ExtendCutStroke(x, y);
      return true;
    default:
      return false;
  }
}

void Editor::Release(int x, int y) {
  switch (mode_) {
    case kModeFixations:
      ToggleFixations(x, y);
      break;
    case kModeForce:
      if (dragMode_ == kModeForce) EndForceDrag();
      break;
    case kModeVertexDrag:
      if (dragMode_ == kModeVertexDrag) PropagateConstraints();
      break;
    case kModeCut:
      if (dragMode_ == kModeCut) EndCutStroke();
      break;
    default:
      break;
  }
}

int Editor::VertexOfHandle(uint32_t id) const {
  uint32_t kind = ObjectKindOf(id);
  if (kind != kKindHandle && kind != kKindArrow) return -1;
  const CutSim* sim = scene_.cutSim.get();
  if (!sim) return -1;
  // the model may have been rebuilt since the image was drawn
  uint32_t index = ObjectIndexOf(id);
  if (index >= sim->renderVertices.size()) return -1;
  int vertex = sim->renderVertices[index];
  return vertex >= 0 && vertex < sim->vertexCount[0] ? vertex : -1;
}

void Editor::PropagateConstraints() { scene_.cutSim->PropagateConstraints(scene_.cutSim->numEmbeddedLevels); }

void Editor::ToggleFixations(int x, int y) {
  CutSim& sim = *scene_.cutSim;
  if (x == pressX_ && y == pressY_) {
    uint32_t id = picker_.ReadObjectId(x, y);
    if (ObjectKindOf(id) == kKindHandle) {
      int vertex = VertexOfHandle(id);
      if (vertex >= 0) {
        if (log_) *log_ << L"Toggled fixation of vertex " << vertex << std::endl;
        sim.SetVertexFixed(0, vertex, !sim.vertexFixed[0][vertex]);
      }
    } else if (ObjectKindOf(id) == kKindSurfaceVertex && log_) {
      *log_ << L"Clicked surface vertex " << ObjectIndexOf(id) << std::endl;
    }
  } else {
    std::set<uint32_t> ids;
    picker_.ReadObjectIds(pressX_, pressY_, x, y, ids);
    std::vector<int> vertices;
    int fixed = 0, free = 0;
    for (uint32_t id : ids) {
      if (ObjectKindOf(id) != kKindHandle) continue;
      int vertex = VertexOfHandle(id);
      if (vertex < 0) continue;
      vertices.push_back(vertex);
      (sim.vertexFixed[0][vertex] ? fixed : free) += 1;
    }
    bool fix = free > fixed;
    for (int vertex : vertices) sim.SetVertexFixed(0, vertex, fix);
  }
  PropagateConstraints();
}

Vec3f Editor::ScreenOffset(int x, int y) const {
  float dx = static_cast<float>(x - pressX_), dy = static_cast<float>(y - pressY_);
  return cameraRight_ * dx - cameraUp_ * dy;
}

bool Editor::StartForceDrag(int x, int y) {
  int picked = VertexOfHandle(picker_.ReadObjectId(x, y));
  if (picked < 0) return false;
  CutSim& sim = *scene_.cutSim;
  const Vec3d h = sim.voxelSize;
  const Vec3i& p = sim.vertexPosition[0][picked];
  Vec3d grabbed(p.x * h.x, p.y * h.y, p.z * h.z);
  grabbedPoint_ = Vec3f(grabbed);
  const double r = scene_.forceSphereRadius;
  double sum = 0;
  for (int v = 0; v < sim.vertexCount[0]; ++v) {
    const Vec3i& q = sim.vertexPosition[0][v];
    double d = Length(Vec3d(q.x * h.x, q.y * h.y, q.z * h.z) - grabbed);
    if (d < r) {
      double w = std::exp(-1.6 * d * d / (r * r));
      affected_.emplace_back(v, w);
      sum += w;
    }
  }
  for (auto& [v, w] : affected_) {
    w /= sum;
    sim.vertexForce[0][v] = Vec3d();
  }
  recorder_.RecordForce(grabbedPoint_, static_cast<float>(r), Vec3f());
  dragging_ = true;
  return true;
}

void Editor::UpdateForce(int x, int y) {
  CutSim& sim = *scene_.cutSim;
  currentForce_ = ScreenOffset(x, y) * static_cast<float>(scene_.forcePerPixel * 0.1);
  for (const auto& [v, w] : affected_) {
    if (v < sim.vertexCount[0]) sim.vertexForce[0][v] = Vec3d(currentForce_) * w;
  }
  recorder_.RecordForce(grabbedPoint_, static_cast<float>(scene_.forceSphereRadius), currentForce_);
  // the force acts on the simulation level while the drag goes on
  PropagateConstraints();
}

void Editor::EndForceDrag() {
  std::ofstream out(services_.forceLogPath, std::ios::app);
  if (out) {
    out.imbue(std::locale::classic());
    out << grabbedPoint_.x << " " << grabbedPoint_.y << " " << grabbedPoint_.z << "   " << currentForce_.x << " "
        << currentForce_.y << " " << currentForce_.z << "\n";
  }
  if ((!out || !out.good()) && !forceLogWarned_ && log_) {
    *log_ << L"WARNING: Cannot append to the force log \"" << services_.forceLogPath.c_str()
          << L"\"; force drags are not logged" << std::endl;
    forceLogWarned_ = true;
  }
  PropagateConstraints();
}

bool Editor::StartVertexDrag(int x, int y) {
  int picked = VertexOfHandle(picker_.ReadObjectId(x, y));
  if (picked < 0) return false;
  CutSim& sim = *scene_.cutSim;
  const Vec3i& p = sim.vertexPosition[0][picked];
  grabbedPoint_ = Vec3f(Vec3d(p.x * sim.voxelSize.x, p.y * sim.voxelSize.y, p.z * sim.voxelSize.z));
  affected_.emplace_back(picked, 1.0);
  dragging_ = true;
  return true;
}

void Editor::DragVertex(int x, int y) {
  CutSim& sim = *scene_.cutSim;
  Vec3d delta(ScreenOffset(x, y) * static_cast<float>(0.001 * scene_.forcePerPixel));
  const int top = sim.numEmbeddedLevels;
  for (const auto& [vertex, weight] : affected_) {
    if (vertex >= sim.vertexCount[0]) continue;
    // The simulation runs on level `top`; a finest vertex follows it through
    // the prolongation stencils. Moving the coarse vertices of its stencil by
    // c_J * delta / sum(c^2) moves the finest vertex by exactly delta.
    std::vector<std::pair<int32_t, double>> stencil = {{vertex, 1.0}};
    for (int level = 0; level < top; ++level) {
      std::vector<std::pair<int32_t, double>> coarse;
      for (const auto& [i, c] : stencil) {
        for (int k = 0; k < 8; ++k) {
          int32_t w = sim.prolongationWeights[level][i][k];
          if (w == 0) continue;
          int32_t j = sim.prolongationVertices[level][i][k];
          bool merged = false;
          for (auto& entry : coarse) {
            if (entry.first == j) {
              entry.second += c * w / 8.0;
              merged = true;
            }
          }
          if (!merged) coarse.emplace_back(j, c * w / 8.0);
        }
      }
      stencil.swap(coarse);
    }
    double norm = 0;
    for (const auto& entry : stencil) norm += entry.second * entry.second;
    if (!(norm > 0.0)) continue;
    for (const auto& [j, c] : stencil) {
      Vec3d move = delta * (weight * c / norm);
      sim.levelVertices[top][j].x += move;
      sim.vertexHistory[top][j].previousX += move;
    }
    if (top > 0) {
      sim.levelVertices[0][vertex].x += delta * weight;
      sim.vertexHistory[0][vertex].previousX += delta * weight;
    }
  }
  sim.CopyVertexPositionsIntoOctree();
}

void Editor::AddScreenPoint(int x, int y) {
  Vec3f origin, direction;
  PickRay(x, y, origin, direction);
  screenPoints_.emplace_back(x, y);
  rayDirections_.push_back(direction);
  depths_.push_back(cuttingDepth_);
  cutIds_.push_back(strokeCounter_);
}

void Editor::StartCutStroke(int x, int y) {
  ++strokeCounter_;
  screenPoints_.clear();
  pathPoints_.clear();
  rayDirections_.clear();
  depths_.clear();
  cutIds_.clear();
  placedCount_ = 0;
  firstUncut_ = 1;
  dragging_ = true;
  AddScreenPoint(x, y);
  Vec3f origin, direction, hit;
  PickRay(x, y, origin, direction);
  if (scene_.mesh.IntersectRay(origin, direction, hit)) {
    pathPoints_.push_back(hit);
    placedCount_ = 1;
  }
}

void Editor::AppendPathPoint(const Vec3f& point) {
  pathPoints_.push_back(point);
  if (pathPoints_.size() >= 2) RecordLastSegment();
}

void Editor::ExtendCutStroke(int x, int y) {
  AddScreenPoint(x, y);
  Vec3f origin, direction, hit;
  PickRay(x, y, origin, direction);
  if (!scene_.mesh.IntersectRay(origin, direction, hit)) return;  // the point waits
  float s = Length(hit - origin);
  // earlier points without a path point get one at the hit's distance along their own rays
  while (pathPoints_.size() + 1 < screenPoints_.size()) {
    AppendPathPoint(cameraPosition_ + rayDirections_[pathPoints_.size()] * s);
  }
  AppendPathPoint(hit);
  placedCount_ = screenPoints_.size();
}

void Editor::EndCutStroke() {
  if (!pathPoints_.empty()) {
    float t = Length(cameraPosition_ - pathPoints_.back());
    while (pathPoints_.size() < screenPoints_.size()) {
      AppendPathPoint(cameraPosition_ + rayDirections_[pathPoints_.size()] * t);
    }
    placedCount_ = screenPoints_.size();
  }
  CutAlongToolPath();
}

void Editor::SegmentTriangles(int b, Vec3f first[3], Vec3f second[3]) const {
  const float w = 50.0f * scene_.meanVoxelSize;
  const Vec3f& p0 = pathPoints_[b - 1];
  const Vec3f& p1 = pathPoints_[b];
  const Vec3f& d0 = rayDirections_[b - 1];
  const Vec3f& d1 = rayDirections_[b];
  Vec3f a = p0 - d0 * w, bb = p1 - d1 * w, c = p0 + d0 * depths_[b - 1], e = p1 + d1 * depths_[b];
  first[0] = a;
  first[1] = bb;
  first[2] = c;
  second[0] = c;
  second[1] = bb;
  second[2] = e;
}

void Editor::RecordLastSegment() {
  int b = static_cast<int>(pathPoints_.size()) - 1;
  Vec3f first[3], second[3];
  SegmentTriangles(b, first, second);
  recorder_.RecordCut(first, strokeCounter_);
  recorder_.RecordCut(second, strokeCounter_);
}
