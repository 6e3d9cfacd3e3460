#include "app/output_files.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/temp_folder.h"

namespace {

template <typename T>
T ReadAt(const std::string& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

}  // namespace

TEST(OutputFilesTest, EquationSystemOfTwoSelfCoupledVertices) {
  std::vector<LevelVertex> vertices(2);
  std::vector<VertexHistory> history(2);
  for (int v = 0; v < 2; ++v) {
    // vertex 0 is pooled (wired), vertex 1 still in its builder
    history[v].builderColumns = {v};
    Mat3d block;
    for (int k = 0; k < 9; ++k) block.m[k] = 10 * v + k;
    history[v].builderBlocks = {block};
    vertices[v].b = Vec3d(v + 0.5, v + 1.5, v + 2.5);
    vertices[v].x = Vec3d(-v, -2.0 * v, 7);
  }
  vertices[0].count = 1;
  vertices[0].columns = history[0].builderColumns.data();
  vertices[0].blocks = history[0].builderBlocks.data();

  TempFolder folder;
  ASSERT_TRUE(WriteEquationSystem(vertices, history, folder.WideFile("eq.bin")));
  std::string bytes = TempFolder::Read(folder.File("eq.bin"));
  ASSERT_EQ(bytes.size(), 409u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 1), 6);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 5), 6);
  EXPECT_EQ(ReadAt<int32_t>(bytes, 9), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ReadAt<int32_t>(bytes, 13 + 4 * i), 3);
  // rows as (column, value) pairs: vertex 1, row 2 holds its block's last row
  size_t rows = 37;
  size_t vertex1Row2 = rows + (3 + 2) * 3 * 12;
  EXPECT_EQ(ReadAt<int32_t>(bytes, vertex1Row2), 3);
  EXPECT_EQ(ReadAt<double>(bytes, vertex1Row2 + 4), 16.0);
  EXPECT_EQ(ReadAt<int32_t>(bytes, vertex1Row2 + 24), 5);
  EXPECT_EQ(ReadAt<double>(bytes, vertex1Row2 + 28), 18.0);
  size_t zeros = rows + 6 * 36;
  EXPECT_EQ(ReadAt<int32_t>(bytes, zeros), 6);
  EXPECT_EQ(ReadAt<double>(bytes, zeros + 4 + 5 * 8), 0.0);
  size_t rhs = zeros + 52;
  EXPECT_EQ(ReadAt<double>(bytes, rhs + 4 + 3 * 8), 1.5);
  size_t positions = rhs + 52;
  EXPECT_EQ(ReadAt<double>(bytes, positions + 4 + 4 * 8), -2.0);
  EXPECT_EQ(ReadAt<double>(bytes, positions + 4 + 5 * 8), 7.0);
}

TEST(OutputFilesTest, EquationSystemIntoMissingFolderFails) {
  TempFolder folder;
  std::vector<LevelVertex> vertices(1);
  std::vector<VertexHistory> history(1);
  EXPECT_FALSE(WriteEquationSystem(vertices, history, folder.WideFile("missing/eq.bin")));
}
