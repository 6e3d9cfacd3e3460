#pragma once
// Frame timing: absolute time in double seconds, the elapsed time of each
// frame as float, and frames per second averaged over the last half second.
// With a fixed step every frame lasts exactly that long, for repeatable runs.
#include <chrono>

class FrameTimer {
 public:
  // fixedDt > 0 makes every frame's elapsed time fixedDt.
  explicit FrameTimer(double fixedDt = 0);

  // Starts a new frame at the clock's current time.
  void Tick();
  // Starts a new frame at a given clock reading (seconds since Start); for tests.
  void TickAt(double clockSeconds);
  // Time stops while the window is minimised, so the first frame after it is not a jump.
  void Pause();
  void Resume();

  double Time() const { return time_; }
  float ElapsedTime() const { return elapsed_; }
  float FramesPerSecond() const { return fps_; }
  long long FrameCount() const { return frameCount_; }

 private:
  double Now() const;

  double fixedDt_;
  std::chrono::steady_clock::time_point start_;
  double pausedTotal_ = 0;   // seconds spent paused
  double pauseStart_ = -1;   // clock reading when paused, -1 when running
  double time_ = 0;
  float elapsed_ = 0;
  float fps_ = 0;
  long long frameCount_ = 0;
  double lastFpsTime_ = 0;   // time of the last fps update
  long long lastFpsFrame_ = 0;
};
