#include "app/recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "support/temp_folder.h"

namespace {

Recorder MakeRecorder(CameraPose* pose) {
  return Recorder(nullptr, [pose] { return *pose; });
}

template <typename T>
T ReadAt(const std::string& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

}  // namespace

TEST(RecorderTest, IdleRecorderAdvancesTimeButRecordsNothing) {
  CameraPose pose;
  Recorder recorder = MakeRecorder(&pose);
  Vec3f tri[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  recorder.Advance(0.25);
  recorder.RecordForce({1, 2, 3}, 0.1f, {0, 0, 1});
  recorder.RecordCut(tri, 4);
  EXPECT_DOUBLE_EQ(recorder.time(), 0.25);
  EXPECT_TRUE(recorder.cameraRecords().empty());
  EXPECT_TRUE(recorder.forceRecords().empty());
  EXPECT_TRUE(recorder.cutRecords().empty());
  // RecordCutAt records in every mode
  recorder.RecordCutAt(2.0, tri, 4);
  EXPECT_EQ(recorder.cutRecords().size(), 1u);
}

TEST(RecorderTest, RecordingCapturesCameraForcesAndCutsWithTheirTimes) {
  CameraPose pose{{1, 2, 3}, 10, 20, 30, 40};
  Recorder recorder = MakeRecorder(&pose);
  recorder.Advance(5.0);
  recorder.Start();
  EXPECT_TRUE(recorder.IsRecording());
  EXPECT_DOUBLE_EQ(recorder.time(), 0.0);
  recorder.Advance(0.5);
  recorder.RecordForce({1, 2, 3}, 0.1f, {0, 0, 1});
  Vec3f tri[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  recorder.RecordCut(tri, 7);
  ASSERT_EQ(recorder.cameraRecords().size(), 1u);
  const CameraRecord& c = recorder.cameraRecords()[0];
  EXPECT_DOUBLE_EQ(c.time, 0.5);
  EXPECT_EQ(c.position[2], 3.0f);
  EXPECT_EQ(c.heading, 10.0f);
  EXPECT_EQ(c.pitch, 20.0f);
  EXPECT_EQ(c.turn, 30.0f);
  EXPECT_EQ(c.roll, 40.0f);
  EXPECT_DOUBLE_EQ(recorder.forceRecords()[0].time, 0.5);
  EXPECT_EQ(recorder.cutRecords()[0].cutId, 7);
  // starting again discards what was recorded
  recorder.Start();
  EXPECT_TRUE(recorder.cameraRecords().empty());
  EXPECT_TRUE(recorder.cutRecords().empty());
}

TEST(RecorderTest, FileLayoutOfAnImportWithTwoCuts) {
  CameraPose pose{{4, 5, 6}, 1, 2, 3, 4};
  Recorder recorder = MakeRecorder(&pose);
  recorder.Start();
  recorder.Advance(0.1);
  const double times[] = {0.6, 0.7, 0.8, 1.3, 1.4};
  const int ids[] = {1, 1, 1, 2, 2};
  for (int i = 0; i < 5; ++i) {
    Vec3f tri[3] = {{float(i), 0, 0}, {0, 1, 0}, {0, 0, 1}};
    recorder.RecordCutAt(times[i], tri, ids[i]);
  }
  TempFolder folder;
  ASSERT_TRUE(recorder.Save(true, folder.WideFile("cut.rec"), nullptr));
  EXPECT_FALSE(recorder.IsRecording());
  std::string bytes = TempFolder::Read(folder.File("cut.rec"));
  ASSERT_EQ(bytes.size(), 288u);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 0), 1);
  EXPECT_DOUBLE_EQ(ReadAt<double>(bytes, 4), 0.1);
  EXPECT_EQ(ReadAt<float>(bytes, 4 + 8), 4.0f);
  EXPECT_EQ(ReadAt<float>(bytes, 4 + 24), 2.0f);  // pitch
  EXPECT_EQ(ReadAt<float>(bytes, 4 + 28), 3.0f);  // turn before roll
  EXPECT_EQ(ReadAt<int32_t>(bytes, 40), 0);       // no force records
  EXPECT_EQ(ReadAt<int32_t>(bytes, 44), 5);
  for (int i = 0; i < 5; ++i) {
    size_t record = 48 + 48 * i;
    EXPECT_DOUBLE_EQ(ReadAt<double>(bytes, record), times[i]);
    EXPECT_EQ(ReadAt<float>(bytes, record + 8), float(i));
    EXPECT_EQ(ReadAt<int32_t>(bytes, record + 44), ids[i]);
  }
}

TEST(RecorderTest, CancelledSaveEndsRecordingWithoutWriting) {
  CameraPose pose;
  Recorder recorder = MakeRecorder(&pose);
  recorder.Start();
  TempFolder folder;
  EXPECT_TRUE(recorder.Save(false, folder.WideFile("x.rec"), nullptr));
  EXPECT_FALSE(recorder.IsRecording());
  EXPECT_TRUE(TempFolder::Read(folder.File("x.rec")).empty());
}

TEST(RecorderTest, UncreatableFileReportsAndKeepsRecords) {
  CameraPose pose;
  Recorder recorder = MakeRecorder(&pose);
  recorder.Start();
  recorder.Advance(1.0);
  TempFolder folder;
  std::wostringstream log;
  std::wstring name = folder.WideFile("no/such/folder.rec");
  EXPECT_FALSE(recorder.Save(true, name, &log));
  EXPECT_EQ(log.str(), L"ERROR: Cannot open file \"" + name + L"\"\n");
  EXPECT_FALSE(recorder.IsRecording());
  EXPECT_EQ(recorder.cameraRecords().size(), 1u);
}
