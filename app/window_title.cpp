#include "app/window_title.h"

#include <cwchar>

bool WindowTitle::Update(double t, bool windowed, float framesPerSecond, bool recording, double recordedSeconds,
                         std::wstring& title) {
  if (!started_) {
    started_ = true;
    lastUpdate_ = t;
    return false;
  }
  if (!windowed || t - lastUpdate_ <= 0.5) return false;
  title = Text(framesPerSecond, recording, recordedSeconds);
  lastUpdate_ = t;
  return true;
}

std::wstring WindowTitle::Text(float framesPerSecond, bool recording, double recordedSeconds) {
  wchar_t text[96];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"Vardel: @ %.2f fps", static_cast<double>(framesPerSecond));
  std::wstring title = text;
  if (recording) {
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L" RECORDING (%.2fs)", recordedSeconds);
    title += text;
  }
  return title;
}
