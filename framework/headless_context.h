#pragma once
// Offscreen OpenGL 3.3+ core context on EGL's surfaceless platform: used by
// headless runs and by tests that need a device without a window.
#include <string>

class HeadlessContext {
 public:
  HeadlessContext() = default;
  ~HeadlessContext();
  HeadlessContext(const HeadlessContext&) = delete;
  HeadlessContext& operator=(const HeadlessContext&) = delete;

  // Creates the context and makes it current; false with a reason on failure.
  bool Create(std::string* error);
  void Release();
  bool IsCreated() const { return context_ != nullptr; }

 private:
  void* display_ = nullptr;
  void* context_ = nullptr;
};
