#include "framework/settings_dialog.h"

#include <imgui.h>

#include <algorithm>

namespace {
const char* DriverName(DriverType driver) {
  switch (driver) {
    case DriverType::Reference: return "Reference (softpipe)";
    case DriverType::Warp: return "Software (llvmpipe)";
    default: return "Hardware";
  }
}
}  // namespace

void SettingsDialog::SetActive(bool active) {
  if (active && !active_) Refresh();
  active_ = active;
}

void SettingsDialog::Refresh() {
  if (readCurrent) readCurrent(device_, edited_);
}

bool SettingsDialog::HandleMessage(const InputMessage& message) {
  if (!active_) return false;
  if (message.type == InputType::KeyDown && message.key == kKeyEscape) active_ = false;
  if (message.type == InputType::KeyDown && message.key == kKeyEnter) Confirm();
  return true;
}

void SettingsDialog::Confirm() {
  active_ = false;
  if (apply) apply(edited_);
}

void SettingsDialog::Render(float /*elapsedTime*/) {
  if (!active_) return;
  const ImGuiIO& io = ImGui::GetIO();
  ImGui::SetNextWindowPos(ImVec2(io.DisplaySize.x / 2, io.DisplaySize.y / 2), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSizeConstraints(ImVec2(std::min(460.0f, io.DisplaySize.x), 0), io.DisplaySize);
  ImGuiWindowFlags flags = ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                           ImGuiWindowFlags_NoSavedSettings;
  if (ImGui::Begin("Device Settings###settings", nullptr, flags)) {
    ImGui::Text("Renderer: %s", device_.renderer.c_str());
    ImGui::Text("Version: %s", device_.version.c_str());
    ImGui::Text("Driver: %s", DriverName(edited_.driver));
    ImGui::Separator();
    bool fullScreen = !edited_.windowed;
    if (ImGui::Checkbox("Full screen", &fullScreen)) edited_.windowed = !fullScreen;
    ImGui::BeginDisabled(fullScreen);
    ImGui::SetNextItemWidth(120);
    ImGui::InputInt("Width", &edited_.width, 0, 0);
    ImGui::SetNextItemWidth(120);
    ImGui::InputInt("Height", &edited_.height, 0, 0);
    ImGui::EndDisabled();
    edited_.width = std::clamp(edited_.width, 1, 16384);
    edited_.height = std::clamp(edited_.height, 1, 16384);
    bool vsync = edited_.presentInterval != 0;
    if (ImGui::Checkbox("Wait for vertical sync (present interval 1)", &vsync)) edited_.presentInterval = vsync ? 1 : 0;
    ImGui::Separator();
    if (ImGui::Button("OK", ImVec2(90, 0))) Confirm();
    ImGui::SameLine();
    if (ImGui::Button("Cancel", ImVec2(90, 0))) active_ = false;
  }
  ImGui::End();
}
