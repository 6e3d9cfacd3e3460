#include "framework/overlay_text.h"

#include <algorithm>
#include <cmath>

#include "framework/gui_layer.h"

namespace {
uint32_t Channel(float value, int shift) {
  float clamped = std::clamp(value, 0.0f, 1.0f);
  return static_cast<uint32_t>(std::lround(clamped * 255.0f)) << shift;
}
}  // namespace

void OverlayText::SetForegroundColor(float red, float green, float blue, float alpha) {
  argb_ = Channel(alpha, 24) | Channel(red, 16) | Channel(green, 8) | Channel(blue, 0);
}

void OverlayText::DrawTextLine(const std::wstring& text) {
  if (gui_) gui_->DrawTextLine(x_, y_, text, argb_);
  y_ += lineHeight_;
}
