#pragma once
// The window, device and frame loop: owns the window with its OpenGL 3.3 core
// context, or the offscreen context of headless runs, the back buffer, the
// frame timing, the widget layer and the script driver, and calls the
// application's callbacks.
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/input.h"
#include "framework/back_buffer.h"
#include "framework/command_line.h"
#include "framework/frame_timer.h"
#include "framework/gui_layer.h"
#include "framework/headless_context.h"
#include "framework/instance_lock.h"
#include "framework/script.h"
#include "framework/settings_dialog.h"

struct GLFWwindow;

class Framework {
 public:
  Framework();
  ~Framework();
  Framework(const Framework&) = delete;
  Framework& operator=(const Framework&) = delete;

  // The process's framework while one exists (dialogs and the fatal-error box reach it so).
  static Framework* Current();

  // Callbacks, registered by the application before Init.
  std::function<bool(const DeviceInfo& device)> isDeviceAcceptable;
  std::function<bool(const DeviceInfo& device)> onDeviceCreated;  // false: creation failed
  std::function<bool(int width, int height)> onSwapChainResized;  // false: creation failed
  std::function<void()> onSwapChainReleasing;
  std::function<void()> onDeviceDestroyed;
  std::function<void(double time, float elapsedTime)> onFrameMove;
  std::function<void(double time, float elapsedTime)> onFrameRender;
  std::function<bool(const InputMessage& message)> onMessage;  // true: consumed
  std::function<void(int32_t key, bool keyDown, bool altDown)> onKeyboard;
  std::function<bool(DeviceSettings& settings)> onDeviceSettingsChanging;  // false: rejected

  // Parses the command line, reads the script and prepares the state folder.
  // Returns -1 to go on, else the exit code to end with at once.
  int Init(int argc, char** argv);
  // Cursor in full screen: shown, and kept inside the window.
  void SetCursorSettings(bool showCursorWhenFullScreen, bool clipCursorWhenFullScreen);
  // True when another instance holds the instance lock (the lock is taken otherwise).
  bool IsAnotherInstanceRunning();
  bool CreateWindow(const std::wstring& title);
  // Creates the device with the client size (the --size option wins).
  bool CreateDevice(bool windowed, int width, int height);
  // Runs frames until the window closes, the script quits or the frame limit is reached.
  int MainLoop();
  void Shutdown(int exitCode);
  int ExitCode() const { return exitCode_; }
  // Ends the main loop after the current frame.
  void Quit(int exitCode = 0);

  const FrameworkOptions& Options() const { return options_; }
  bool IsHeadless() const { return headless_; }
  bool IsScripted() const { return !options_.scriptFile.empty(); }
  // Dialogs take their answers from the script queues instead of the user.
  bool AnswersFromScript() const { return headless_ || IsScripted(); }
  const std::string& StateFolder() const { return stateFolder_; }
  std::wostream* Log() const { return log_; }

  // Per frame.
  double Time() const { return timer_.Time(); }
  float ElapsedTime() const { return timer_.ElapsedTime(); }
  float FramesPerSecond() const { return timer_.FramesPerSecond(); }
  long long FrameCount() const { return framesRendered_; }
  bool IsWindowed() const { return !fullScreen_; }
  const std::wstring& FrameStats() const { return frameStats_; }
  const std::wstring& DeviceStats() const { return deviceStats_; }
  const DeviceInfo& Device() const { return device_; }
  const DeviceSettings& Settings() const { return settings_; }
  unsigned BackBufferFramebuffer() const { return backBuffer_.Framebuffer(); }
  int BackBufferWidth() const { return backBuffer_.Width(); }
  int BackBufferHeight() const { return backBuffer_.Height(); }
  // Binds the back buffer with the viewport (0, 0, width, height), depth range 0..1.
  void BindBackBuffer() const;
  void SetWindowTitle(const std::wstring& title);
  const std::wstring& WindowTitle() const { return title_; }
  GuiLayer& Gui() { return gui_; }
  SettingsDialog& SettingsDialogBox() { return settingsDialog_; }
  bool IsSettingsDialogActive() const { return settingsDialog_.IsActive(); }

  // Device changes, each through releasing -> destroyed -> created -> resized.
  void ToggleFullScreen();
  void ToggleReference();
  void ToggleWarp();
  bool ApplySettings(const DeviceSettings& requested);

  // One input message through the routing: widgets, the message callback,
  // then key-down events to the keyboard callback and the framework's keys.
  void DispatchInput(const InputMessage& message);

  // Script answer queues of the dialogs.
  bool TakeDialogAnswer(ScriptCommand& answer);
  bool TakeMessageAnswer(ScriptAnswer& answer);
  // Whether a modal dialog can be shown to a person (a window system, no script).
  bool CanShowModal() const;
  // Runs a modal widget loop until frame() returns true; in the main window
  // when it exists, else in a window of its own titled title. False when the
  // window was closed instead.
  bool RunModal(const std::wstring& title, int width, int height, const std::function<bool()>& frame);

  // Window-system events (called from the window callbacks).
  void OnWindowMessage(const InputMessage& message);
  void OnWindowCharacter(unsigned codepoint);
  void OnWindowFocus(bool focused);
  void OnCursorMoved(GLFWwindow* window, double x, double y);
  void OnMouseButton(GLFWwindow* window, int button, int action, int mods);

 private:
  bool StartWindowSystem();
  GLFWwindow* OpenWindow(const std::wstring& title, int width, int height, bool visible);
  void InstallWindowCallbacks(GLFWwindow* window);
  bool CreateContext();
  void DestroyContext();
  bool InitDevice();
  void ReleaseDevice();
  bool CreateSwapChain(int width, int height);
  void ReleaseSwapChain();
  void ClientSize(int& width, int& height) const;
  void HandlePendingResize();
  void RenderFrame();
  void Present();
  void UpdateFrameStats();
  void ConfineCursor();
  void ToggleDriver(DriverType target);
  void SetDriverEnvironment(DriverType driver);
  void ReportDeviceFailure(const std::string& reason);
  void HandleFrameworkKeys(const InputMessage& message);
  void DispatchWindowInput();
  void FillModifiers(InputMessage& message, GLFWwindow* window) const;

  // script driver
  void StepScript();
  void ExecuteScriptCommand(const ScriptCommand& command);
  void SendScriptKey(int32_t key, bool down, bool alt, bool shift);
  void SendScriptMouse(InputType type, int button, int x, int y, int wheelDelta);
  void ScriptClick(const ScriptCommand& command);
  void ScriptSlider(const ScriptCommand& command);
  void ScriptFailure(const ScriptCommand& command, const std::string& reason);
  bool WriteScreenshot(const std::string& fileName);

  std::wostream* log_;
  FrameworkOptions options_;
  int exitCode_ = 0;
  bool quit_ = false;
  bool headless_ = false;
  bool windowSystem_ = false;  // GLFW initialised
  std::string stateFolder_;
  InstanceLock instanceLock_;

  GLFWwindow* window_ = nullptr;
  HeadlessContext headlessContext_;
  std::wstring title_ = L"Vardel";
  bool fullScreen_ = false;
  int windowedX_ = 0, windowedY_ = 0, windowedWidth_ = 800, windowedHeight_ = 600;
  bool showCursorWhenFullScreen_ = true;
  bool clipCursorWhenFullScreen_ = true;

  DeviceSettings settings_;
  DeviceInfo device_;
  bool deviceCreated_ = false;
  bool swapChainCreated_ = false;
  bool settingsChangingCalled_ = false;
  BackBuffer backBuffer_;
  int modalDepth_ = 0;
  std::deque<InputMessage> windowInput_;  // window events not yet dispatched
  std::vector<std::pair<std::string, std::string>> savedEnvironment_;  // driver variables at start

  FrameTimer timer_;
  long long framesRendered_ = 0;
  std::wstring frameStats_;
  std::wstring deviceStats_;
  GuiLayer gui_;
  SettingsDialog settingsDialog_;

  // mouse state for double clicks and modifier flags
  double lastPressTime_[3] = {-1, -1, -1};
  int lastPressX_[3] = {0, 0, 0}, lastPressY_[3] = {0, 0, 0};
  int mouseX_ = 0, mouseY_ = 0;

  // script
  std::vector<ScriptCommand> script_;
  size_t scriptNext_ = 0;
  long long scriptFramesPending_ = 0;
  bool scriptKeysHeld_[512] = {};
  int scriptMouseX_ = 0, scriptMouseY_ = 0;
  std::deque<ScriptCommand> dialogAnswers_;
  std::deque<ScriptAnswer> messageAnswers_;
};
