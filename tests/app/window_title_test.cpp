#include "app/window_title.h"

#include <gtest/gtest.h>

TEST(WindowTitleTest, FirstFrameNeverAndThenAtMostEveryHalfSecond) {
  WindowTitle title;
  std::wstring text = L"Vardel";
  EXPECT_FALSE(title.Update(10.0, true, 60, false, 0, text));  // first frame: remembered only
  EXPECT_FALSE(title.Update(10.3, true, 60, false, 0, text));
  EXPECT_FALSE(title.Update(10.5, true, 60, false, 0, text));  // exactly half a second is not enough
  EXPECT_EQ(text, L"Vardel");
  EXPECT_TRUE(title.Update(10.51, true, 59.944f, false, 0, text));
  EXPECT_EQ(text, L"Vardel: @ 59.94 fps");
  // the half second counts from the last change
  EXPECT_FALSE(title.Update(10.9, true, 30, false, 0, text));
  EXPECT_TRUE(title.Update(11.2, true, 30, true, 12.345, text));
  EXPECT_EQ(text, L"Vardel: @ 30.00 fps RECORDING (12.35s)");
}

TEST(WindowTitleTest, FullScreenNeverChangesTheTitle) {
  WindowTitle title;
  std::wstring text = L"Vardel";
  title.Update(0.0, false, 60, false, 0, text);
  for (double t = 1; t < 5; t += 1) EXPECT_FALSE(title.Update(t, false, 60, false, 0, text));
  EXPECT_EQ(text, L"Vardel");
  // back in a window the next update is due at once, the wait having passed
  EXPECT_TRUE(title.Update(5.0, true, 60, false, 0, text));
}
