#pragma once
// The widget layer over Dear ImGui: owns the ImGui context and its GL objects,
// takes every input message first, runs the widget frames, keeps the panels
// that scripts can reach, and holds widget events until the frame is drawn
// (a handler may open a dialog, which runs widget frames of its own).
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/input.h"

struct ImFont;
class Panel;

// Wide text as UTF-8 for the widgets.
std::string ToUtf8(const std::wstring& text);

class GuiLayer {
 public:
  GuiLayer();
  ~GuiLayer();
  GuiLayer(const GuiLayer&) = delete;
  GuiLayer& operator=(const GuiLayer&) = delete;

  // GL objects of the widgets for the current context; the font warning is logged once.
  bool CreateDeviceObjects(std::wostream* log);
  void DestroyDeviceObjects();
  bool HasDeviceObjects() const { return deviceObjects_; }

  // Input: every message passes here before anyone else sees it.
  void FeedMessage(const InputMessage& message);
  void FeedCharacter(unsigned codepoint);
  void ReleaseAllInput();
  // Whether the widgets keep this message from the application.
  bool Consumes(const InputMessage& message) const;

  // A widget frame of the given client size. Application frames count for
  // panel visibility; frames of modal dialogs do not.
  void BeginFrame(int width, int height, float elapsedTime, bool applicationFrame);
  // Draws the frame's widgets into the bound framebuffer.
  void EndFrame();
  void DiscardFrame();
  bool InFrame() const { return inFrame_; }
  long long ApplicationFrame() const { return applicationFrame_; }
  bool InApplicationFrame() const { return inFrame_ && frameIsApplication_; }

  // Lines of text on top of everything, lineHeight apart, colour 0xAARRGGBB.
  void DrawTextLine(float x, float y, const std::wstring& text, uint32_t argb);
  float LineHeight() const { return 15.0f; }

  void AddPanel(Panel* panel);
  void RemovePanel(Panel* panel);
  const std::vector<Panel*>& Panels() const { return panels_; }

  // Widget events raised while a frame is drawn run after it.
  void Defer(std::function<void()> event);
  void DispatchDeferred();

 private:
  bool deviceObjects_ = false;
  bool fontWarningGiven_ = false;
  bool inFrame_ = false;
  bool frameIsApplication_ = false;
  long long applicationFrame_ = 0;
  bool buttonHeld_[3] = {false, false, false};
  bool buttonPressed_[3] = {false, false, false};  // pressed since the last frame
  static constexpr int kKeySlots = 512;             // the widgets' key table
  std::array<bool, kKeySlots> keyHeld_{};
  std::array<bool, kKeySlots> keyPressed_{};       // pressed since the last frame
  ImFont* font_ = nullptr;        // overlay text
  ImFont* widgetFont_ = nullptr;  // panels and dialogs
  std::vector<Panel*> panels_;
  std::vector<std::function<void()>> deferred_;
};
