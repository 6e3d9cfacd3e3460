#include "framework/panel.h"

#include <imgui.h>

#include <algorithm>

#include "framework/gui_layer.h"

namespace {

uint32_t ArgbToWidgetColour(uint32_t argb) {
  return (argb & 0xFF00FF00u) | ((argb >> 16) & 0xFFu) | ((argb & 0xFFu) << 16);
}

bool IsMouseMessage(InputType type) {
  return type == InputType::ButtonDown || type == InputType::ButtonUp || type == InputType::ButtonDoubleClick ||
         type == InputType::MouseMove || type == InputType::Wheel;
}

}  // namespace

Panel::~Panel() {
  if (gui_) gui_->RemovePanel(this);
}

void Panel::Init(GuiLayer* gui) {
  if (gui_) gui_->RemovePanel(this);
  gui_ = gui;
  if (gui_) gui_->AddPanel(this);
}

void Panel::SetBackgroundColors(uint32_t argb) {
  hasBackground_ = true;
  background_ = argb;
}

void Panel::SetMinimized(bool minimized) {
  if (minimized_ != minimized) minimizedChanged_ = true;
  minimized_ = minimized;
}

bool Panel::AddControl(const PanelControl& control) {
  if (GetControl(control.id) != nullptr) return false;
  controls_.push_back(control);
  return true;
}

bool Panel::AddButton(int id, const std::wstring& label, int x, int y, int width, int height, int32_t hotKey) {
  return AddControl({id, ControlKind::Button, label, x, y, width, height, hotKey});
}

bool Panel::AddCheckBox(int id, const std::wstring& label, int x, int y, int width, int height, bool checked,
                        int32_t hotKey) {
  PanelControl control{id, ControlKind::CheckBox, label, x, y, width, height, hotKey};
  control.checked = checked;
  return AddControl(control);
}

bool Panel::AddSlider(int id, int x, int y, int width, int height, int minimum, int maximum, int value) {
  PanelControl control{id, ControlKind::Slider, L"", x, y, width, height};
  control.minimum = minimum;
  control.maximum = std::max(minimum, maximum);
  control.value = std::clamp(value, control.minimum, control.maximum);
  return AddControl(control);
}

bool Panel::AddStatic(int id, const std::wstring& text, int x, int y, int width, int height) {
  return AddControl({id, ControlKind::Static, text, x, y, width, height});
}

PanelControl* Panel::GetControl(int id) {
  for (PanelControl& control : controls_) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

const PanelControl* Panel::GetControl(int id) const { return const_cast<Panel*>(this)->GetControl(id); }

PanelControl* Panel::FindControlByLabel(const std::wstring& label) {
  for (PanelControl& control : controls_) {
    if (control.kind != ControlKind::Static && control.label == label) return &control;
  }
  return nullptr;
}

bool Panel::GetChecked(int id) const {
  const PanelControl* control = GetControl(id);
  return control != nullptr && control->checked;
}

void Panel::SetChecked(int id, bool checked) {
  if (PanelControl* control = GetControl(id)) control->checked = checked;
}

int Panel::GetValue(int id) const {
  const PanelControl* control = GetControl(id);
  return control != nullptr ? control->value : 0;
}

void Panel::SetValue(int id, int value) {
  if (PanelControl* control = GetControl(id)) control->value = std::clamp(value, control->minimum, control->maximum);
}

void Panel::SetRange(int id, int minimum, int maximum) {
  if (PanelControl* control = GetControl(id)) {
    control->minimum = minimum;
    control->maximum = std::max(minimum, maximum);
    control->value = std::clamp(control->value, control->minimum, control->maximum);
  }
}

void Panel::SetEnabled(int id, bool enabled) {
  if (PanelControl* control = GetControl(id)) control->enabled = enabled;
}

bool Panel::IsVisible() const { return gui_ != nullptr && renderedFrame_ >= 0 && renderedFrame_ == gui_->ApplicationFrame(); }

bool Panel::Contains(int x, int y) const {
  int height = IsMinimized() ? static_cast<int>(captionBarHeight_) : height_;
  return x >= x_ && x < x_ + width_ && y >= y_ && y < y_ + height;
}

void Panel::Raise(GuiEvent event, int id, bool deferred) {
  if (!handler_) return;
  if (deferred && gui_) {
    GuiEventHandler handler = handler_;
    gui_->Defer([handler, event, id] { handler(event, id); });
  } else {
    handler_(event, id);
  }
}

void Panel::Press(PanelControl& control, bool deferred) {
  if (control.kind == ControlKind::Button) {
    Raise(GuiEvent::ButtonClicked, control.id, deferred);
  } else if (control.kind == ControlKind::CheckBox) {
    control.checked = !control.checked;
    Raise(GuiEvent::CheckBoxChanged, control.id, deferred);
  }
}

bool Panel::HandleMessage(const InputMessage& message) {
  if (!IsVisible()) {
    drag_ = Drag::None;
    return false;
  }
  if (message.type == InputType::KeyDown) {
    for (PanelControl& control : controls_) {
      if (control.hotKey != kKeyNone && control.hotKey == message.key && control.enabled) {
        Press(control, false);
        return true;
      }
    }
    return false;
  }
  if (message.type == InputType::CaptureLost || message.type == InputType::FocusLost) drag_ = Drag::None;
  if (!IsMouseMessage(message.type)) return false;
  bool inside = Contains(message.x, message.y);
  if (message.type == InputType::ButtonDown || message.type == InputType::ButtonDoubleClick) {
    if (drag_ == Drag::None) drag_ = inside ? Drag::OnPanel : Drag::Elsewhere;
    return drag_ == Drag::OnPanel;
  }
  // a drag stays with whoever it began on: the slider keeps its drag when the
  // mouse leaves the panel, a camera drag passes over the panel freely
  bool consumed = drag_ == Drag::None ? inside : drag_ == Drag::OnPanel;
  if (message.type == InputType::ButtonUp) drag_ = Drag::None;
  return consumed;
}

bool Panel::Click(int id) {
  PanelControl* control = GetControl(id);
  if (control == nullptr || !control->enabled) return false;
  if (control->kind != ControlKind::Button && control->kind != ControlKind::CheckBox) return false;
  Press(*control, false);
  return true;
}

bool Panel::SetValueAsUser(int id, int value) {
  PanelControl* control = GetControl(id);
  if (control == nullptr || control->kind != ControlKind::Slider || !control->enabled) return false;
  int clamped = std::clamp(value, control->minimum, control->maximum);
  if (clamped != control->value) {
    control->value = clamped;
    Raise(GuiEvent::SliderValueChanged, id, false);
  }
  return true;
}

void Panel::RenderControl(PanelControl& control, float captionHeight) {
  ImGui::SetCursorPos(ImVec2(static_cast<float>(control.x), static_cast<float>(control.y) + captionHeight));
  ImGui::PushID(control.id);
  ImGui::BeginDisabled(!control.enabled);
  std::string label = ToUtf8(control.label);
  ImVec2 size(static_cast<float>(control.width), static_cast<float>(control.height));
  switch (control.kind) {
    case ControlKind::Button:
      if (ImGui::Button(label.c_str(), size)) Raise(GuiEvent::ButtonClicked, control.id, true);
      break;
    case ControlKind::CheckBox:
      if (ImGui::Checkbox(label.c_str(), &control.checked)) Raise(GuiEvent::CheckBoxChanged, control.id, true);
      break;
    case ControlKind::Slider:
      ImGui::SetNextItemWidth(size.x);
      if (ImGui::SliderInt("##slider", &control.value, control.minimum, control.maximum, "%d",
                           ImGuiSliderFlags_AlwaysClamp)) {
        Raise(GuiEvent::SliderValueChanged, control.id, true);
      }
      break;
    case ControlKind::Static:
      ImGui::TextUnformatted(label.c_str());
      break;
  }
  ImGui::EndDisabled();
  ImGui::PopID();
}

void Panel::Render(float /*elapsedTime*/) {
  if (gui_ == nullptr || !gui_->InFrame()) return;
  if (gui_->InApplicationFrame()) renderedFrame_ = gui_->ApplicationFrame();
  ImGuiWindowFlags flags = ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                           ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                           ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoFocusOnAppearing;
  if (!captionEnabled_) flags |= ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoCollapse;
  ImGui::SetNextWindowPos(ImVec2(static_cast<float>(x_), static_cast<float>(y_)), ImGuiCond_Always);
  ImGui::SetNextWindowSize(ImVec2(static_cast<float>(width_), static_cast<float>(height_)), ImGuiCond_Always);
  if (captionEnabled_ && minimizedChanged_) ImGui::SetNextWindowCollapsed(minimized_, ImGuiCond_Always);
  minimizedChanged_ = false;
  ImGui::PushStyleColor(ImGuiCol_WindowBg, hasBackground_ ? ArgbToWidgetColour(background_) : 0u);
  ImGui::PushStyleColor(ImGuiCol_Border, hasBackground_ ? ImGui::GetColorU32(ImGuiCol_Border) : 0u);
  std::string name = ToUtf8(caption_) + "###panel" + std::to_string(reinterpret_cast<uintptr_t>(this));
  bool open = ImGui::Begin(name.c_str(), nullptr, flags);
  if (captionEnabled_) minimized_ = ImGui::IsWindowCollapsed();
  captionBarHeight_ = ImGui::GetFrameHeight();
  if (open) {
    float captionHeight = captionEnabled_ ? ImGui::GetFrameHeight() : 0.0f;
    // labels may reach beyond the panel's edge, as they would on a bare window
    ImGui::PushClipRect(ImVec2(0, 0), ImGui::GetIO().DisplaySize, false);
    for (PanelControl& control : controls_) RenderControl(control, captionHeight);
    ImGui::PopClipRect();
  }
  ImGui::End();
  ImGui::PopStyleColor(2);
}
