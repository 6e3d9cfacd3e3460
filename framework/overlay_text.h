#pragma once
// Lines of text drawn over the frame, one under the other, line height 15.
#include <cstdint>
#include <string>

class GuiLayer;

class OverlayText {
 public:
  explicit OverlayText(GuiLayer* gui, float lineHeight = 15.0f) : gui_(gui), lineHeight_(lineHeight) {}

  void SetInsertionPos(float x, float y) {
    x_ = x;
    y_ = y;
  }
  // Colour components in 0..1.
  void SetForegroundColor(float red, float green, float blue, float alpha);
  // Draws one line at the insertion point and moves it one line down.
  void DrawTextLine(const std::wstring& text);

 private:
  GuiLayer* gui_;
  float lineHeight_;
  float x_ = 0, y_ = 0;
  uint32_t argb_ = 0xFFFFFFFFu;
};
