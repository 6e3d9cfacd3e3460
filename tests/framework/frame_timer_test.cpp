#include "framework/frame_timer.h"

#include <gtest/gtest.h>

TEST(FrameTimerTest, FixedStepGivesTheSameTimesWhateverTheClock) {
  FrameTimer timer(0.04);
  const double clock[] = {0.0, 5.0, 5.001, 9.0, 9.5};
  for (int frame = 0; frame < 5; ++frame) {
    timer.TickAt(clock[frame]);
    EXPECT_FLOAT_EQ(timer.ElapsedTime(), 0.04f);
    EXPECT_NEAR(timer.Time(), 0.04 * frame, 1e-12);
  }
  EXPECT_EQ(timer.FrameCount(), 5);
}

TEST(FrameTimerTest, FramesPerSecondIsAveragedOverHalfSeconds) {
  FrameTimer timer;
  timer.TickAt(1.0);
  EXPECT_FLOAT_EQ(timer.ElapsedTime(), 0.0f);  // the first frame has no predecessor
  EXPECT_EQ(timer.FramesPerSecond(), 0.0f);
  // frames 1/32 s apart: the rate appears once half a second has passed
  for (int i = 1; i <= 15; ++i) timer.TickAt(1.0 + i / 32.0);
  EXPECT_EQ(timer.FramesPerSecond(), 0.0f);
  timer.TickAt(1.5);
  EXPECT_FLOAT_EQ(timer.FramesPerSecond(), 32.0f);
  EXPECT_FLOAT_EQ(timer.ElapsedTime(), 1.0f / 32.0f);
  // slower frames change it only at the next half second
  for (int i = 1; i <= 3; ++i) timer.TickAt(1.5 + i / 8.0);
  EXPECT_FLOAT_EQ(timer.FramesPerSecond(), 32.0f);
  timer.TickAt(2.0);
  EXPECT_FLOAT_EQ(timer.FramesPerSecond(), 8.0f);
}
