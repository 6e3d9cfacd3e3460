#pragma once
// Mouse editing of the simulated body with the right button: picking,
// fixing and releasing vertices, force drags, vertex drags and cut strokes,
// plus the cuts themselves (along the tool path or from a cutting surface file).
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/edit_tool.h"
#include "app/input.h"
#include "geometry/vec.h"

class Scene;
class Recorder;

// Reads the object-ID image of the last rendered frame: (kind << 28) | index,
// 0 where nothing pickable was drawn.
class ObjectPicker {
 public:
  virtual ~ObjectPicker() = default;
  virtual uint32_t ReadObjectId(int x, int y) = 0;
  // Inserts the IDs of all pixels of the rectangle (corners in any order).
  virtual void ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& ids) = 0;
};

enum ObjectKind : uint32_t { kKindNone = 0, kKindHandle = 1, kKindArrow = 2, kKindSurfaceVertex = 3 };
inline uint32_t ObjectKindOf(uint32_t id) { return id >> 28; }
inline uint32_t ObjectIndexOf(uint32_t id) { return id & 0x0FFFFFFFu; }

// What the editor needs from the application around it.
struct EditorServices {
  // Shows a file dialog; true with the chosen path, false when cancelled.
  std::function<bool(const std::wstring& title, const std::wstring& pattern, const std::wstring& extension,
                     bool save, std::wstring& result)>
      chooseFile;
  std::string forceLogPath;       // every force drag appends a line
  std::string cuttingSurfacePath; // every tool cut appends its triangles
};

class Editor {
 public:
  enum Mode : int32_t {
    kModePick = 0,
    kModeFixations = 1,
    kModeForce = 2,
    kModeVertexDrag = 3,
    kModeCut = 4,
    kModeSketch = 5,
    kModeErase = 6
  };

  Editor(ObjectPicker& picker, Scene& scene, Recorder& recorder, EditorServices services, std::wostream* log,
         int logLevel = 0);

  void SetMode(int mode) { mode_ = mode; }
  int mode() const { return mode_; }
  // Right-button presses, double clicks, releases and mouse moves; true when consumed.
  bool HandleMouse(const InputMessage& message);

  void SetViewMatrix(const Mat4f& view);
  void SetScreenSize(int width, int height);
  void SetProjection(float aspectRatio, float fieldOfViewDegrees);
  void SetHeadingRotation(const Mat3d& rotation) { headingRotation_ = rotation; }
  void SetCuttingDepth(float depth) { cuttingDepth_ = depth; }
  float cuttingDepth() const { return cuttingDepth_; }
  float cutterValue() const { return cutterValue_; }
  bool dragging() const { return dragging_; }

  // Ray through the centre of a pixel, in simulation coordinates.
  void PickRay(int x, int y, Vec3f& origin, Vec3f& direction) const;

  // Cuts the tool path from the first uncut segment on.
  void CutAlongToolPath();
  // Cuts with every triangle of a cutting surface file and offers to save
  // the import as a recording; false (nothing cut) for an unreadable file.
  bool CutFromFile(const std::wstring& fileName);

  const std::vector<Vec3f>& pathPoints() const { return pathPoints_; }
  const std::vector<std::vector<Vec3f>>& sketches() const { return sketches_; }
  const std::vector<std::pair<int32_t, double>>& affectedVertices() const { return affected_; }
  const Vec3f& currentForce() const { return currentForce_; }
  ToolPose toolPose() const { return EditTool::StartPose(); }

 private:
  bool Press(int x, int y);
  bool Move(int x, int y);
  void Release(int x, int y);

  // Finest-level vertex of a picked handle or arrow ID, -1 when stale or not one.
  int VertexOfHandle(uint32_t id) const;
  void ToggleFixations(int x, int y);
  bool StartForceDrag(int x, int y);
  void UpdateForce(int x, int y);
  void EndForceDrag();
  bool StartVertexDrag(int x, int y);
  void DragVertex(int x, int y);
  void StartCutStroke(int x, int y);
  void ExtendCutStroke(int x, int y);
  void EndCutStroke();
  void AddScreenPoint(int x, int y);
  void AppendPathPoint(const Vec3f& point);
  void RecordLastSegment();
  void SegmentTriangles(int b, Vec3f first[3], Vec3f second[3]) const;
  void FinishCut();
  void PropagateConstraints();
  void ClearDrag();
  Vec3f ScreenOffset(int x, int y) const;

  ObjectPicker& picker_;
  Scene& scene_;
  Recorder& recorder_;
  EditorServices services_;
  std::wostream* log_;
  int logLevel_;

  int mode_ = kModePick;
  bool dragging_ = false;
  int dragMode_ = -1;  // mode at the press that started the drag
  int pressX_ = 0, pressY_ = 0;
  // pick-ray frame
  int screenWidth_ = 1, screenHeight_ = 1;
  float viewWidth_ = 1, viewHeight_ = 1;
  Vec3f cameraPosition_, cameraForward_, cameraRight_, cameraUp_;
  Vec3f grabbedPoint_;
  Vec3f currentForce_;
  std::vector<std::pair<int32_t, double>> affected_;  // (finest vertex, weight)
  float cuttingDepth_ = 0.2f;
  float cutterValue_ = 0;
  int32_t strokeCounter_ = 0;
  std::vector<std::pair<int, int>> screenPoints_;
  std::vector<Vec3f> pathPoints_;
  std::vector<Vec3f> rayDirections_;
  std::vector<float> depths_;
  std::vector<int32_t> cutIds_;
  size_t placedCount_ = 0;
  size_t firstUncut_ = 1;
  std::vector<std::vector<Vec3f>> sketches_;
  Mat4f viewMatrix_ = Mat4f::Identity();
  Mat3d headingRotation_ = Mat3d::Identity();
  bool forceLogWarned_ = false;
  bool cutFileWarned_ = false;
};
