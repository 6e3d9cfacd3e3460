#include "framework/png_file.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <filesystem>
#include <sstream>

#include "support/temp_folder.h"

TEST(PngFileTest, FlipRowsReversesRowOrderOnly) {
  // 2 x 3 image, 2 channels: rows r0, r1, r2
  std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  FlipRows(pixels, 2, 3, 2);
  EXPECT_EQ(pixels, (std::vector<uint8_t>{9, 10, 11, 12, 5, 6, 7, 8, 1, 2, 3, 4}));
  FlipRows(pixels, 2, 2, 2);  // even height: the first two rows swap
  EXPECT_EQ(pixels, (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4}));
}

TEST(PngFileTest, WrittenImageReadsBackTopRowFirst) {
  TempFolder folder;
  const int width = 3, height = 2;
  std::vector<uint8_t> rgb(width * height * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 11);
  std::wostringstream log;
  ASSERT_TRUE(WritePng(folder.File("a.png"), rgb, width, height, &log));
  int w = 0, h = 0, channels = 0;
  unsigned char* read = stbi_load(folder.File("a.png").c_str(), &w, &h, &channels, 3);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
  EXPECT_EQ(std::vector<uint8_t>(read, read + rgb.size()), rgb);
  stbi_image_free(read);
  EXPECT_TRUE(log.str().empty());
}

TEST(PngFileTest, FailuresAreReportedAndLeaveNoFile) {
  TempFolder folder;
  std::wostringstream log;
  std::vector<uint8_t> rgb(12, 0);
  EXPECT_FALSE(WritePng(folder.File("missing/a.png"), rgb, 2, 2, &log));
  EXPECT_EQ(log.str(), L"ERROR: Cannot write image file \"" + folder.WideFile("missing/a.png") + L"\"\n");
  // a buffer that does not match the size is refused, not read past its end
  EXPECT_FALSE(WritePng(folder.File("b.png"), rgb, 3, 3, nullptr));
  EXPECT_FALSE(std::filesystem::exists(folder.File("b.png")));
}
