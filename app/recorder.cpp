#include "app/recorder.h"

#include <ostream>

#include "geometry/file_util.h"

Recorder::Recorder(const Scene* scene, std::function<CameraPose()> camera)
    : scene_(scene), camera_(std::move(camera)) {}

void Recorder::Start() {
  mode_ = kIdle;
  cameraRecords_.clear();
  forceRecords_.clear();
  cutRecords_.clear();
  mode_ = kRecording;
  time_ = 0;
}

void Recorder::Advance(double dt) {
  time_ += dt;
  if (mode_ != kRecording) return;
  CameraPose pose = camera_ ? camera_() : CameraPose();
  cameraRecords_.push_back(CameraRecord{time_, {pose.position.x, pose.position.y, pose.position.z}, pose.heading,
                                        pose.pitch, pose.turn, pose.roll});
}

void Recorder::RecordForce(const Vec3f& point, float radius, const Vec3f& force) {
  if (mode_ != kRecording) return;
  forceRecords_.push_back(ForceRecord{time_, {point.x, point.y, point.z}, radius, {force.x, force.y, force.z}});
}

void Recorder::RecordCut(const Vec3f triangle[3], int32_t cutId) {
  if (mode_ != kRecording) return;
  RecordCutAt(time_, triangle, cutId);
}

void Recorder::RecordCutAt(double time, const Vec3f triangle[3], int32_t cutId) {
  CutRecord record{time, {}, cutId};
  for (int c = 0; c < 3; ++c) {
    for (int a = 0; a < 3; ++a) record.corners[3 * c + a] = triangle[c][a];
  }
  cutRecords_.push_back(record);
}

namespace {

template <typename Record>
void WriteSection(std::ostream& out, const std::vector<Record>& records) {
  int32_t count = static_cast<int32_t>(records.size());
  out.write(reinterpret_cast<const char*>(&count), sizeof(count));
  if (count > 0) out.write(reinterpret_cast<const char*>(records.data()), sizeof(Record) * records.size());
}

}  // namespace

bool Recorder::Save(bool confirmed, const std::wstring& fileName, std::wostream* log) {
  mode_ = kIdle;
  if (!confirmed) return true;
  bool openFailed = false;
  bool ok = WriteFileAtomically(
      NarrowPath(fileName), true,
      [this](std::ostream& out) {
        WriteSection(out, cameraRecords_);
        WriteSection(out, forceRecords_);
        WriteSection(out, cutRecords_);
        return bool(out);
      },
      &openFailed);
  if (!ok && log) {
    *log << (openFailed ? L"ERROR: Cannot open file \"" : L"ERROR: Cannot write to file \"") << fileName << L"\""
         << std::endl;
  }
  return ok;
}
