#pragma once
// The window title with the frame rate: updated at most every half second in
// a window, never in full screen and never on the first frame.
#include <string>

class WindowTitle {
 public:
  // Returns true and the new title when the title is due at time t (seconds).
  bool Update(double t, bool windowed, float framesPerSecond, bool recording, double recordedSeconds,
              std::wstring& title);

  // "Vardel: @ 59.94 fps", with " RECORDING (12.30s)" while recording.
  static std::wstring Text(float framesPerSecond, bool recording, double recordedSeconds);

 private:
  bool started_ = false;
  double lastUpdate_ = 0;
};
