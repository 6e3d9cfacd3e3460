#include "framework/gui_layer.h"

#include <epoxy/gl.h>
#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "framework/panel.h"

namespace {

// bold 15-pixel sans serif for the overlay text; a narrower face for the
// widgets, whose labels must fit buttons 125 pixels wide
const char* const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char* const kWidgetFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
constexpr float kFontPixels = 15.0f;
constexpr float kWidgetFontPixels = 14.0f;

ImFont* LoadFont(ImGuiIO& io, const char* file, float pixels) {
  std::error_code ignored;
  ImFont* font = std::filesystem::exists(file, ignored) ? io.Fonts->AddFontFromFileTTF(file, pixels) : nullptr;
  if (font == nullptr) {
    ImFontConfig config;
    config.SizePixels = pixels;
    font = io.Fonts->AddFontDefault(&config);
  }
  return font;
}

void MapKeys(ImGuiIO& io) {
  io.KeyMap[ImGuiKey_Tab] = kKeyTab;
  io.KeyMap[ImGuiKey_LeftArrow] = kKeyLeft;
  io.KeyMap[ImGuiKey_RightArrow] = kKeyRight;
  io.KeyMap[ImGuiKey_UpArrow] = kKeyUp;
  io.KeyMap[ImGuiKey_DownArrow] = kKeyDown;
  io.KeyMap[ImGuiKey_PageUp] = kKeyPageUp;
  io.KeyMap[ImGuiKey_PageDown] = kKeyPageDown;
  io.KeyMap[ImGuiKey_Home] = kKeyHome;
  io.KeyMap[ImGuiKey_End] = kKeyEnd;
  io.KeyMap[ImGuiKey_Insert] = kKeyInsert;
  io.KeyMap[ImGuiKey_Delete] = kKeyDelete;
  io.KeyMap[ImGuiKey_Backspace] = kKeyBackspace;
  io.KeyMap[ImGuiKey_Space] = kKeySpace;
  io.KeyMap[ImGuiKey_Enter] = kKeyEnter;
  io.KeyMap[ImGuiKey_Escape] = kKeyEscape;
  io.KeyMap[ImGuiKey_KeyPadEnter] = kKeyEnter;
  io.KeyMap[ImGuiKey_A] = 'A';
  io.KeyMap[ImGuiKey_C] = 'C';
  io.KeyMap[ImGuiKey_V] = 'V';
  io.KeyMap[ImGuiKey_X] = 'X';
  io.KeyMap[ImGuiKey_Y] = 'Y';
  io.KeyMap[ImGuiKey_Z] = 'Z';
}

bool IsMouseMessage(InputType type) {
  return type == InputType::ButtonDown || type == InputType::ButtonUp || type == InputType::ButtonDoubleClick ||
         type == InputType::MouseMove || type == InputType::Wheel;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

GuiLayer::GuiLayer() {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  // nothing of the widgets' layout is written into the user's working folder
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.BackendPlatformName = "vardel";
  MapKeys(io);
  ImGui::StyleColorsDark();
  font_ = LoadFont(io, kFontFile, kFontPixels);
  widgetFont_ = LoadFont(io, kWidgetFontFile, kWidgetFontPixels);
}

GuiLayer::~GuiLayer() {
  if (inFrame_) DiscardFrame();
  // panels may outlive the layer during shutdown; they must not call back
  for (Panel* panel : std::vector<Panel*>(panels_)) panel->Detach();
  ImGui::DestroyContext();
}

bool GuiLayer::CreateDeviceObjects(std::wostream* log) {
  if (deviceObjects_) return true;
  if (!fontWarningGiven_) {
    std::error_code ignored;
    for (const char* file : {kFontFile, kWidgetFontFile}) {
      if (!std::filesystem::exists(file, ignored) && log) {
        *log << L"WARNING: Font file \"" << file << L"\" not found, using the built-in font" << std::endl;
      }
    }
    fontWarningGiven_ = true;
  }
  deviceObjects_ = ImGui_ImplOpenGL3_Init("#version 330 core");
  return deviceObjects_;
}

void GuiLayer::DestroyDeviceObjects() {
  if (!deviceObjects_) return;
  if (inFrame_) DiscardFrame();
  ImGui_ImplOpenGL3_Shutdown();
  deviceObjects_ = false;
}

void GuiLayer::FeedMessage(const InputMessage& message) {
  ImGuiIO& io = ImGui::GetIO();
  io.KeyAlt = message.alt;
  io.KeyShift = message.shift;
  io.KeyCtrl = message.control;
  if (IsMouseMessage(message.type)) io.MousePos = ImVec2(static_cast<float>(message.x), static_cast<float>(message.y));
  bool validButton = message.button >= 0 && message.button < 3;
  switch (message.type) {
    case InputType::KeyDown:
    case InputType::KeyUp:
      if (message.key >= 0 && message.key < kKeySlots) {
        keyHeld_[message.key] = message.type == InputType::KeyDown;
        if (message.type == InputType::KeyDown) keyPressed_[message.key] = true;
      }
      break;
    case InputType::ButtonDown:
    case InputType::ButtonDoubleClick:
      if (validButton) buttonHeld_[message.button] = buttonPressed_[message.button] = true;
      break;
    case InputType::ButtonUp:
      if (validButton) buttonHeld_[message.button] = false;
      break;
    case InputType::Wheel:
      io.MouseWheel += static_cast<float>(message.wheelDelta) / 120.0f;
      break;
    case InputType::FocusLost:
    case InputType::CaptureLost:
      ReleaseAllInput();
      break;
    default:
      break;
  }
}

void GuiLayer::FeedCharacter(unsigned codepoint) { ImGui::GetIO().AddInputCharacter(codepoint); }

void GuiLayer::ReleaseAllInput() {
  ImGuiIO& io = ImGui::GetIO();
  std::fill(std::begin(io.KeysDown), std::end(io.KeysDown), false);
  keyHeld_.fill(false);
  keyPressed_.fill(false);
  io.KeyAlt = io.KeyShift = io.KeyCtrl = io.KeySuper = false;
  for (int b = 0; b < 3; ++b) buttonHeld_[b] = buttonPressed_[b] = false;
}

bool GuiLayer::Consumes(const InputMessage& message) const {
  const ImGuiIO& io = ImGui::GetIO();
  if (IsMouseMessage(message.type)) return io.WantCaptureMouse;
  if (message.type == InputType::KeyDown || message.type == InputType::KeyUp) return io.WantCaptureKeyboard;
  return false;
}

void GuiLayer::BeginFrame(int width, int height, float elapsedTime, bool applicationFrame) {
  if (inFrame_) DiscardFrame();
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
  io.DisplayFramebufferScale = ImVec2(1, 1);
  io.DeltaTime = elapsedTime > 0 ? elapsedTime : 1.0f / 60.0f;
  // a press and release between two frames still reaches the widgets as a click
  for (int b = 0; b < 3; ++b) {
    io.MouseDown[b] = buttonHeld_[b] || buttonPressed_[b];
    buttonPressed_[b] = false;
  }
  for (int k = 0; k < kKeySlots; ++k) io.KeysDown[k] = keyHeld_[k] || keyPressed_[k];
  keyPressed_.fill(false);
  if (deviceObjects_) {
    ImGui_ImplOpenGL3_NewFrame();
  } else if (!io.Fonts->IsBuilt()) {
    // without GL objects (tests, dialogs before a device) the font atlas is built on the CPU
    unsigned char* pixels = nullptr;
    int atlasWidth = 0, atlasHeight = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &atlasWidth, &atlasHeight);
  }
  ImGui::NewFrame();
  ImGui::PushFont(widgetFont_);
  inFrame_ = true;
  frameIsApplication_ = applicationFrame;
  if (applicationFrame) ++applicationFrame_;
}

void GuiLayer::EndFrame() {
  if (!inFrame_) return;
  ImGui::PopFont();
  ImGui::Render();
  inFrame_ = false;
  if (deviceObjects_) ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

void GuiLayer::DiscardFrame() {
  if (!inFrame_) return;
  ImGui::PopFont();
  ImGui::EndFrame();
  inFrame_ = false;
}

void GuiLayer::DrawTextLine(float x, float y, const std::wstring& text, uint32_t argb) {
  if (!inFrame_) return;
  // 0xAARRGGBB to the widgets' 0xAABBGGRR
  uint32_t abgr = (argb & 0xFF00FF00u) | ((argb >> 16) & 0xFFu) | ((argb & 0xFFu) << 16);
  std::string utf8 = ToUtf8(text);
  ImGui::GetForegroundDrawList()->AddText(font_, kFontPixels, ImVec2(x, y), abgr, utf8.c_str());
}

void GuiLayer::AddPanel(Panel* panel) {
  if (std::find(panels_.begin(), panels_.end(), panel) == panels_.end()) panels_.push_back(panel);
}

void GuiLayer::RemovePanel(Panel* panel) { panels_.erase(std::remove(panels_.begin(), panels_.end(), panel), panels_.end()); }

void GuiLayer::Defer(std::function<void()> event) { deferred_.push_back(std::move(event)); }

void GuiLayer::DispatchDeferred() {
  // a handler may defer again (it may run a dialog); take the list first
  std::vector<std::function<void()>> events;
  events.swap(deferred_);
  for (auto& event : events) event();
}
