#pragma once
// The device-settings dialog: shows the renderer, the GL version, the
// resolution, full screen and the present interval, and applies the edited
// settings with OK. While it is open it takes all input.
#include <functional>
#include <string>

#include "app/input.h"

enum class DriverType { Hardware, Reference, Warp };

struct DeviceSettings {
  DriverType driver = DriverType::Hardware;
  bool windowed = true;
  int width = 800, height = 600;  // client area
  int presentInterval = 0;        // 0: frames are not synchronised with the display
};

struct DeviceInfo {
  std::string renderer;  // GL_RENDERER
  std::string version;   // GL_VERSION
  int majorVersion = 0, minorVersion = 0;
};

class SettingsDialog {
 public:
  // Where the dialog reads the current state and sends the edited settings.
  std::function<void(DeviceInfo& device, DeviceSettings& settings)> readCurrent;
  std::function<void(const DeviceSettings& settings)> apply;

  bool IsActive() const { return active_; }
  // Opening the dialog refreshes its contents.
  void SetActive(bool active);
  void Refresh();
  // Every message goes to the open dialog; Escape closes it, Enter confirms.
  bool HandleMessage(const InputMessage& message);
  void Render(float elapsedTime);

 private:
  void Confirm();

  bool active_ = false;
  DeviceInfo device_;
  DeviceSettings edited_;
};
