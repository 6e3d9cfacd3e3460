#pragma once
// Timeline of what happens to the body: camera poses, user forces and cut
// triangles, written as a binary recording file (".rec").
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "geometry/vec.h"

class Scene;

// What a camera record stores of the camera.
struct CameraPose {
  Vec3f position;
  float heading = 0, pitch = 0, turn = 0, roll = 0;  // degrees
};

#pragma pack(push, 1)
struct CameraRecord {
  double time;
  float position[3];
  float heading, pitch, turn, roll;
};
struct ForceRecord {
  double time;
  float point[3];
  float radius;
  float force[3];
};
struct CutRecord {
  double time;
  float corners[9];  // a, b, c, each x, y, z
  int32_t cutId;
};
#pragma pack(pop)
static_assert(sizeof(CameraRecord) == 36 && sizeof(ForceRecord) == 36 && sizeof(CutRecord) == 48,
              "records are packed exactly as in the file");

class Recorder {
 public:
  enum Mode : int32_t { kIdle = 0, kRecording = 1 };

  Recorder(const Scene* scene, std::function<CameraPose()> camera);

  void Start();
  void Advance(double dt);
  void RecordForce(const Vec3f& point, float radius, const Vec3f& force);
  void RecordCut(const Vec3f triangle[3], int32_t cutId);
  void RecordCutAt(double time, const Vec3f triangle[3], int32_t cutId);
  // Ends recording; writes the file only when confirmed.
  bool Save(bool confirmed, const std::wstring& fileName, std::wostream* log);

  int32_t mode() const { return mode_; }
  double time() const { return time_; }
  bool IsRecording() const { return mode_ == kRecording; }
  const std::vector<CameraRecord>& cameraRecords() const { return cameraRecords_; }
  const std::vector<ForceRecord>& forceRecords() const { return forceRecords_; }
  const std::vector<CutRecord>& cutRecords() const { return cutRecords_; }

 private:
  const Scene* scene_;
  std::function<CameraPose()> camera_;
  double time_ = 0;
  int32_t mode_ = kIdle;
  std::vector<CameraRecord> cameraRecords_;
  std::vector<ForceRecord> forceRecords_;
  std::vector<CutRecord> cutRecords_;
};
