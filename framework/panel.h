#pragma once
// On-screen panels of push buttons, check boxes, sliders and static text.
// Each control has a numeric ID, a place relative to its panel and an
// optional hot key; every control reports to the panel's GUI-event handler.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/input.h"

class GuiLayer;

enum class GuiEvent { ButtonClicked, CheckBoxChanged, SliderValueChanged };
using GuiEventHandler = std::function<void(GuiEvent event, int controlId)>;

enum class ControlKind { Button, CheckBox, Slider, Static };

struct PanelControl {
  int id = -1;
  ControlKind kind = ControlKind::Button;
  std::wstring label;
  int x = 0, y = 0, width = 0, height = 0;  // pixels, relative to the panel's client area
  int32_t hotKey = kKeyNone;
  bool enabled = true;
  bool checked = false;              // check box
  int value = 0, minimum = 0, maximum = 100;  // slider
};

class Panel {
 public:
  Panel() = default;
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // Joins the widget layer: the panel draws in its frames and scripts can reach it.
  void Init(GuiLayer* gui);
  void Detach() { gui_ = nullptr; }
  void SetCallback(GuiEventHandler handler) { handler_ = std::move(handler); }

  void SetCaptionText(const std::wstring& caption) { caption_ = caption; }
  void EnableCaption(bool enable) { captionEnabled_ = enable; }
  bool HasCaption() const { return captionEnabled_; }
  // The same colour in all four corners, 0xAARRGGBB; without it the panel is clear.
  void SetBackgroundColors(uint32_t argb);
  void SetLocation(int x, int y) { x_ = x; y_ = y; }
  void SetSize(int width, int height) { width_ = width; height_ = height; }
  int X() const { return x_; }
  int Y() const { return y_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Only a panel with a caption can be minimised to its caption bar.
  bool IsMinimized() const { return captionEnabled_ && minimized_; }
  void SetMinimized(bool minimized);

  bool AddButton(int id, const std::wstring& label, int x, int y, int width, int height, int32_t hotKey = kKeyNone);
  bool AddCheckBox(int id, const std::wstring& label, int x, int y, int width, int height, bool checked,
                   int32_t hotKey = kKeyNone);
  bool AddSlider(int id, int x, int y, int width, int height, int minimum, int maximum, int value);
  bool AddStatic(int id, const std::wstring& text, int x, int y, int width, int height);

  // Programmatic access; setting a state raises no event.
  PanelControl* GetControl(int id);
  const PanelControl* GetControl(int id) const;
  PanelControl* FindControlByLabel(const std::wstring& label);
  bool GetChecked(int id) const;
  void SetChecked(int id, bool checked);
  int GetValue(int id) const;
  void SetValue(int id, int value);
  void SetRange(int id, int minimum, int maximum);
  void SetEnabled(int id, bool enabled);
  const std::vector<PanelControl>& Controls() const { return controls_; }

  // Hot keys of enabled controls act as a click; mouse messages over the
  // panel stay with it. True when the message was consumed. Does nothing
  // unless the panel was drawn in the last application frame.
  bool HandleMessage(const InputMessage& message);
  // A click on a control as the user would make it; false for an unknown or disabled control.
  bool Click(int id);
  // Moves a slider as the user would; values outside the range are clamped.
  bool SetValueAsUser(int id, int value);

  // Draws the panel in the current widget frame.
  void Render(float elapsedTime);
  bool IsVisible() const;

 private:
  bool AddControl(const PanelControl& control);
  bool Contains(int x, int y) const;
  void Raise(GuiEvent event, int id, bool deferred);
  void Press(PanelControl& control, bool deferred);
  void RenderControl(PanelControl& control, float captionHeight);

  GuiLayer* gui_ = nullptr;
  GuiEventHandler handler_;
  std::wstring caption_;
  bool captionEnabled_ = false;
  bool hasBackground_ = false;
  uint32_t background_ = 0;
  int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  bool minimized_ = false;
  bool minimizedChanged_ = false;
  enum class Drag { None, OnPanel, Elsewhere };
  Drag drag_ = Drag::None;  // where the held mouse buttons were pressed
  long long renderedFrame_ = -1;
  float captionBarHeight_ = 19;  // measured when drawn
  std::vector<PanelControl> controls_;
};
