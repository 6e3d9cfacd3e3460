#include "framework/frame_timer.h"

namespace {
constexpr double kFpsInterval = 0.5;
}

FrameTimer::FrameTimer(double fixedDt) : fixedDt_(fixedDt), start_(std::chrono::steady_clock::now()) {}

double FrameTimer::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void FrameTimer::Tick() { TickAt(Now()); }

void FrameTimer::TickAt(double clockSeconds) {
  double previous = time_;
  if (fixedDt_ > 0) {
    // the first frame starts at time 0; each frame lasts fixedDt
    time_ = frameCount_ == 0 ? 0.0 : previous + fixedDt_;
    elapsed_ = static_cast<float>(fixedDt_);
  } else {
    time_ = clockSeconds - pausedTotal_;
    elapsed_ = frameCount_ == 0 ? 0.0f : static_cast<float>(time_ - previous);
  }
  ++frameCount_;
  if (frameCount_ == 1) {
    lastFpsTime_ = time_;
    lastFpsFrame_ = 1;
    return;
  }
  double span = time_ - lastFpsTime_;
  if (span >= kFpsInterval) {
    fps_ = static_cast<float>(static_cast<double>(frameCount_ - lastFpsFrame_) / span);
    lastFpsTime_ = time_;
    lastFpsFrame_ = frameCount_;
  }
}

void FrameTimer::Pause() {
  if (pauseStart_ < 0) pauseStart_ = Now();
}

void FrameTimer::Resume() {
  if (pauseStart_ >= 0) {
    pausedTotal_ += Now() - pauseStart_;
    pauseStart_ = -1;
  }
}
