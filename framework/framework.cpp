#include "framework/framework.h"

#include <dlfcn.h>
#include <epoxy/gl.h>
#include <link.h>
// GLFW after the GL loader, which brings the GL declarations
#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cutsim/fatal_error.h"
#include "framework/glfw_keys.h"
#include "framework/key_names.h"
#include "framework/message_box.h"
#include "framework/panel.h"
#include "framework/png_file.h"
#include "framework/state_folder.h"
#include "geometry/file_util.h"

namespace {

Framework* currentFramework = nullptr;

// environment variables through which Mesa picks its rasterizer
const char* const kDriverVariables[] = {"LIBGL_ALWAYS_SOFTWARE", "GALLIUM_DRIVER"};

// a second press within this time and distance is a double click, as on the desktop
constexpr double kDoubleClickSeconds = 0.5;
constexpr int kDoubleClickPixels = 4;

std::wstring Widen(const std::string& text) { return WidenPath(text); }

Framework* FrameworkOf(GLFWwindow* window) { return static_cast<Framework*>(glfwGetWindowUserPointer(window)); }

void PrintError(std::wostream* log, const std::string& line) {
  if (log) *log << Widen(line) << std::endl;
}

// Keeps every loaded GL driver module loaded for the rest of the process. A
// driver switch terminates the display, which would otherwise unload the
// driver while allocations it made are still alive; the leak checker could
// then no longer tell whose they are.
void PinDriverModules() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        std::string name = info->dlpi_name ? info->dlpi_name : "";
        bool driver = name.size() > 7 && (name.compare(name.size() - 7, 7, "_dri.so") == 0 ||
                                          name.find("libgallium") != std::string::npos);
        if (driver) dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

void FatalErrorBoxHandler(const std::wstring& title, const std::wstring& text) { ShowFatalErrorBox(title, text); }

}  // namespace

Framework::Framework() : log_(&std::wcout) {
  currentFramework = this;
  for (const char* name : kDriverVariables) {
    const char* value = std::getenv(name);
    if (value) savedEnvironment_.emplace_back(name, value);
  }
  settingsDialog_.readCurrent = [this](DeviceInfo& device, DeviceSettings& settings) {
    device = device_;
    settings = settings_;
  };
  settingsDialog_.apply = [this](const DeviceSettings& settings) { ApplySettings(settings); };
}

Framework::~Framework() {
  // the application is gone by now: nothing may call back into it
  isDeviceAcceptable = nullptr;
  onDeviceCreated = nullptr;
  onSwapChainResized = nullptr;
  onSwapChainReleasing = nullptr;
  onDeviceDestroyed = nullptr;
  onFrameMove = nullptr;
  onFrameRender = nullptr;
  onMessage = nullptr;
  onKeyboard = nullptr;
  onDeviceSettingsChanging = nullptr;
  Shutdown(exitCode_);
  if (currentFramework == this) currentFramework = nullptr;
}

Framework* Framework::Current() { return currentFramework; }

// ---------------------------------------------------------------- start-up

int Framework::Init(int argc, char** argv) {
  const std::vector<std::string> args = ArgumentsAfterProgramName(argc, argv);
  std::string error;
  if (!ParseCommandLine(args, options_, error)) {
    PrintError(log_, "ERROR: " + error);
    *log_ << UsageText() << std::flush;
    return 2;
  }
  if (options_.help) {
    *log_ << UsageText() << std::flush;
    return 0;
  }
  if (options_.version) {
    *log_ << VersionText() << std::endl;
    return 0;
  }
  if (IsScripted() && !LoadScript(options_.scriptFile, script_, error)) {
    PrintError(log_, error);
    return 2;
  }
  timer_ = FrameTimer(options_.fixedDt);
  settings_.width = options_.width;
  settings_.height = options_.height;
  stateFolder_ = ResolveStateFolder(options_.stateDir, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
  EnsureFolder(stateFolder_, log_);
  SetFatalErrorHandler(&FatalErrorBoxHandler);

  headless_ = options_.headless || NoDisplayAvailable(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!headless_ && !StartWindowSystem()) {
    *log_ << L"WARNING: Cannot open a window on this display; running headless" << std::endl;
    headless_ = true;
  }
  // answers at the top of the script are there for the start-up questions
  while (scriptNext_ < script_.size() && (script_[scriptNext_].type == ScriptCommandType::Dialog ||
                                          script_[scriptNext_].type == ScriptCommandType::Answer)) {
    ExecuteScriptCommand(script_[scriptNext_++]);
  }
  return -1;
}

bool Framework::StartWindowSystem() {
  glfwSetErrorCallback([](int code, const char* description) {
    std::fprintf(stderr, "window system error %d: %s\n", code, description);
  });
  windowSystem_ = glfwInit() == GLFW_TRUE;
  return windowSystem_;
}

void Framework::SetCursorSettings(bool showCursorWhenFullScreen, bool clipCursorWhenFullScreen) {
  showCursorWhenFullScreen_ = showCursorWhenFullScreen;
  clipCursorWhenFullScreen_ = clipCursorWhenFullScreen;
}

bool Framework::IsAnotherInstanceRunning() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  InstanceLock::Result result = InstanceLock::Result::Unavailable;
  if (runtime != nullptr && runtime[0] == '/') result = instanceLock_.Acquire(runtime);
  if (result == InstanceLock::Result::Unavailable) result = instanceLock_.Acquire(stateFolder_);
  if (result == InstanceLock::Result::Unavailable) {
    *log_ << L"WARNING: Cannot create the instance lock \"vardel.lock\"; other instances are not detected"
          << std::endl;
  }
  return result == InstanceLock::Result::HeldElsewhere;
}

GLFWwindow* Framework::OpenWindow(const std::wstring& title, int width, int height, bool visible) {
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
  glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
  glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
  glfwWindowHint(GLFW_SRGB_CAPABLE, GLFW_FALSE);
  // frames are drawn into the back buffer object; the window needs no depth
  glfwWindowHint(GLFW_DEPTH_BITS, 0);
  glfwWindowHint(GLFW_STENCIL_BITS, 0);
  glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
  glfwWindowHint(GLFW_VISIBLE, visible ? GLFW_TRUE : GLFW_FALSE);
  GLFWwindow* window = glfwCreateWindow(width, height, ToUtf8(title).c_str(), nullptr, nullptr);
  if (window) InstallWindowCallbacks(window);
  return window;
}

bool Framework::CreateWindow(const std::wstring& title) {
  title_ = title;
  if (headless_) return true;
  window_ = OpenWindow(title_, settings_.width, settings_.height, false);
  if (!window_) {
    ReportDeviceFailure("the window cannot be created");
    return false;
  }
  return true;
}

bool Framework::CreateDevice(bool windowed, int width, int height) {
  settings_.windowed = windowed;
  settings_.width = options_.sizeGiven ? options_.width : width;
  settings_.height = options_.sizeGiven ? options_.height : height;
  if (!settingsChangingCalled_ && onDeviceSettingsChanging) {
    settingsChangingCalled_ = true;
    if (!onDeviceSettingsChanging(settings_)) {
      ReportDeviceFailure("the device settings were rejected");
      return false;
    }
  }
  if (window_) {
    glfwSetWindowSize(window_, settings_.width, settings_.height);
    glfwShowWindow(window_);
  } else if (!headless_) {
    ReportDeviceFailure("there is no window");
    return false;
  }
  if (!CreateContext()) return false;
  if (!InitDevice()) return false;
  if (!settings_.windowed) ToggleFullScreen();
  return true;
}

bool Framework::CreateContext() {
  if (headless_) {
    std::string error;
    if (!headlessContext_.Create(&error)) {
      ReportDeviceFailure(error);
      return false;
    }
    PinDriverModules();
    return true;
  }
  glfwMakeContextCurrent(window_);
  glfwSwapInterval(settings_.presentInterval);
  PinDriverModules();
  return true;
}

void Framework::DestroyContext() {
  if (headless_) {
    headlessContext_.Release();
  } else if (window_) {
    glfwMakeContextCurrent(nullptr);
  }
}

bool Framework::InitDevice() {
  device_ = DeviceInfo{};
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  device_.renderer = renderer ? renderer : "";
  device_.version = version ? version : "";
  glGetIntegerv(GL_MAJOR_VERSION, &device_.majorVersion);
  glGetIntegerv(GL_MINOR_VERSION, &device_.minorVersion);
  deviceStats_ = Widen(device_.renderer + ", OpenGL " + device_.version);
  bool core33 = device_.majorVersion > 3 || (device_.majorVersion == 3 && device_.minorVersion >= 3);
  if (!core33 || (isDeviceAcceptable && !isDeviceAcceptable(device_))) {
    ReportDeviceFailure("no acceptable OpenGL 3.3 core device (" + device_.renderer + ", " + device_.version + ")");
    return false;
  }
  // depth in [0, 1] and clockwise front faces, as the drawing code expects
  if (epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control")) {
    glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  }
  glFrontFace(GL_CW);
  glDepthRange(0.0, 1.0);
  if (!gui_.CreateDeviceObjects(log_)) {
    ReportDeviceFailure("the widgets' device objects cannot be created");
    return false;
  }
  deviceCreated_ = true;
  if (onDeviceCreated && !onDeviceCreated(device_)) {
    ReportDeviceFailure("the application could not create its device objects");
    return false;
  }
  int width = 0, height = 0;
  ClientSize(width, height);
  // a minimised window gets its swap chain once it has a size again
  if (width > 0 && height > 0) return CreateSwapChain(width, height);
  return true;
}

bool Framework::CreateSwapChain(int width, int height) {
  if (!backBuffer_.Create(width, height)) {
    ReportDeviceFailure("the back buffer cannot be created");
    return false;
  }
  swapChainCreated_ = true;
  if (onSwapChainResized && !onSwapChainResized(width, height)) {
    ReportDeviceFailure("the application could not create its size-dependent objects");
    return false;
  }
  return true;
}

void Framework::ReleaseSwapChain() {
  if (!swapChainCreated_) return;
  if (onSwapChainReleasing) onSwapChainReleasing();
  backBuffer_.Release();
  swapChainCreated_ = false;
}

void Framework::ReleaseDevice() {
  ReleaseSwapChain();
  if (!deviceCreated_) return;
  if (onDeviceDestroyed) onDeviceDestroyed();
  gui_.DestroyDeviceObjects();
  deviceCreated_ = false;
}

void Framework::ReportDeviceFailure(const std::string& reason) {
  PrintError(log_, "ERROR: Device creation failed: " + reason);
  quit_ = true;
  exitCode_ = 1;
}

void Framework::Shutdown(int exitCode) {
  if (deviceCreated_ || swapChainCreated_) {
    // device objects are released while their context is still current
    if (window_) glfwMakeContextCurrent(window_);
    ReleaseDevice();
  }
  DestroyContext();
  if (window_) {
    glfwDestroyWindow(window_);
    window_ = nullptr;
  }
  if (windowSystem_) {
    glfwTerminate();
    windowSystem_ = false;
  }
  instanceLock_.Release();
  exitCode_ = exitCode;
}

void Framework::Quit(int exitCode) {
  quit_ = true;
  exitCode_ = exitCode;
}

// ---------------------------------------------------------------- frames

void Framework::ClientSize(int& width, int& height) const {
  if (window_) {
    glfwGetFramebufferSize(window_, &width, &height);
  } else {
    width = settings_.width;
    height = settings_.height;
  }
}

void Framework::BindBackBuffer() const {
  backBuffer_.Bind();
  glDepthRange(0.0, 1.0);
}

void Framework::SetWindowTitle(const std::wstring& title) {
  title_ = title;
  if (window_) glfwSetWindowTitle(window_, ToUtf8(title).c_str());
}

void Framework::HandlePendingResize() {
  int width = 0, height = 0;
  ClientSize(width, height);
  if (width <= 0 || height <= 0) return;
  if (swapChainCreated_ && width == backBuffer_.Width() && height == backBuffer_.Height()) return;
  ReleaseSwapChain();
  if (!fullScreen_) {
    settings_.width = width;
    settings_.height = height;
  }
  CreateSwapChain(width, height);
}

void Framework::UpdateFrameStats() {
  int width = backBuffer_.Width(), height = backBuffer_.Height();
  wchar_t text[160];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"%.2f fps (vsync %ls), %dx%d, RGBA8", FramesPerSecond(),
                settings_.presentInterval == 0 ? L"off" : L"on", width, height);
  frameStats_ = text;
}

void Framework::RenderFrame() {
  timer_.Tick();
  UpdateFrameStats();
  if (onFrameMove) onFrameMove(timer_.Time(), timer_.ElapsedTime());
  if (quit_) return;
  gui_.BeginFrame(backBuffer_.Width(), backBuffer_.Height(), timer_.ElapsedTime(), true);
  BindBackBuffer();
  if (onFrameRender) onFrameRender(timer_.Time(), timer_.ElapsedTime());
  // the application may have left another framebuffer bound
  BindBackBuffer();
  gui_.EndFrame();
  Present();
  ++framesRendered_;
  gui_.DispatchDeferred();
}

void Framework::Present() {
  if (!window_) {
    glFlush();
    return;
  }
  int width = 0, height = 0;
  glfwGetFramebufferSize(window_, &width, &height);
  backBuffer_.PresentTo(width, height);
  glfwSwapBuffers(window_);
}

void Framework::ConfineCursor() {
  if (!window_ || !fullScreen_ || !clipCursorWhenFullScreen_ || !glfwGetWindowAttrib(window_, GLFW_FOCUSED)) return;
  int width = 0, height = 0;
  glfwGetWindowSize(window_, &width, &height);
  double x = 0, y = 0;
  glfwGetCursorPos(window_, &x, &y);
  double clampedX = std::clamp(x, 0.0, std::max(0.0, width - 1.0));
  double clampedY = std::clamp(y, 0.0, std::max(0.0, height - 1.0));
  if (clampedX != x || clampedY != y) glfwSetCursorPos(window_, clampedX, clampedY);
}

int Framework::MainLoop() {
  bool emptyClientAreaPaused = false;
  while (!quit_) {
    if (window_) {
      glfwPollEvents();
      DispatchWindowInput();
      if (!window_ || glfwWindowShouldClose(window_)) break;
      ConfineCursor();
    }
    StepScript();
    if (quit_) break;
    bool scriptFinished = scriptNext_ >= script_.size() && scriptFramesPending_ == 0;
    // without a window a run ends with its script, or after one frame without one
    if (headless_ && options_.frames < 0 && framesRendered_ > 0 && scriptFinished) break;
    int width = 0, height = 0;
    ClientSize(width, height);
    bool emptyClientArea = width <= 0 || height <= 0;
    if (!emptyClientArea) HandlePendingResize();
    if (emptyClientArea || !swapChainCreated_) {
      // a minimised window renders nothing and its time stands still
      if (!emptyClientAreaPaused) timer_.Pause();
      emptyClientAreaPaused = true;
      if (window_) glfwWaitEventsTimeout(0.1);
      else break;
      continue;
    }
    if (emptyClientAreaPaused) timer_.Resume();
    emptyClientAreaPaused = false;
    RenderFrame();
    if (scriptFramesPending_ > 0) --scriptFramesPending_;
    if (options_.frames > 0 && framesRendered_ >= options_.frames) break;
  }
  if (!options_.screenshotFile.empty() && exitCode_ != 2) {
    if (framesRendered_ > 0 && swapChainCreated_) {
      WriteScreenshot(options_.screenshotFile);
    } else {
      *log_ << L"WARNING: No frame was rendered; \"" << Widen(options_.screenshotFile) << L"\" is not written"
            << std::endl;
    }
  }
  return exitCode_;
}

bool Framework::WriteScreenshot(const std::string& fileName) {
  if (window_) glfwMakeContextCurrent(window_);
  return WritePng(fileName, backBuffer_.ReadRgb(), backBuffer_.Width(), backBuffer_.Height(), log_);
}

// ---------------------------------------------------------------- device changes

void Framework::ToggleFullScreen() {
  if (gui_.InFrame()) {
    gui_.Defer([this] { ToggleFullScreen(); });
    return;
  }
  if (!window_) {
    *log_ << L"WARNING: Full screen needs a window; a headless run keeps its offscreen size" << std::endl;
    return;
  }
  GLFWmonitor* monitor = glfwGetPrimaryMonitor();
  const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
  if (!fullScreen_ && mode == nullptr) {
    *log_ << L"WARNING: No monitor found; the window stays as it is" << std::endl;
    return;
  }
  ReleaseDevice();
  if (!fullScreen_) {
    glfwGetWindowPos(window_, &windowedX_, &windowedY_);
    glfwGetWindowSize(window_, &windowedWidth_, &windowedHeight_);
    glfwSetWindowMonitor(window_, monitor, 0, 0, mode->width, mode->height, mode->refreshRate);
    fullScreen_ = true;
  } else {
    glfwSetWindowMonitor(window_, nullptr, windowedX_, windowedY_, windowedWidth_, windowedHeight_, 0);
    fullScreen_ = false;
  }
  settings_.windowed = !fullScreen_;
  glfwSetInputMode(window_, GLFW_CURSOR,
                   fullScreen_ && !showCursorWhenFullScreen_ ? GLFW_CURSOR_HIDDEN : GLFW_CURSOR_NORMAL);
  InitDevice();
}

void Framework::ToggleReference() { ToggleDriver(DriverType::Reference); }
void Framework::ToggleWarp() { ToggleDriver(DriverType::Warp); }

void Framework::SetDriverEnvironment(DriverType driver) {
  for (const char* name : kDriverVariables) unsetenv(name);
  if (driver == DriverType::Hardware) {
    for (const auto& [name, value] : savedEnvironment_) setenv(name.c_str(), value.c_str(), 1);
    return;
  }
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  setenv("GALLIUM_DRIVER", driver == DriverType::Reference ? "softpipe" : "llvmpipe", 1);
}

void Framework::ToggleDriver(DriverType target) {
  if (gui_.InFrame()) {
    gui_.Defer([this, target] { ToggleDriver(target); });
    return;
  }
  DriverType wanted = settings_.driver == target ? DriverType::Hardware : target;
  const char* expected = wanted == DriverType::Reference ? "softpipe" : wanted == DriverType::Warp ? "llvmpipe" : "";
  ReleaseDevice();
  // Mesa chooses its rasterizer when the display connection starts, so the
  // context is rebuilt from a new connection
  auto rebuild = [&](DriverType driver) {
    DestroyContext();
    if (window_) {
      glfwDestroyWindow(window_);
      window_ = nullptr;
      glfwTerminate();
      windowSystem_ = false;
    }
    SetDriverEnvironment(driver);
    if (!headless_) {
      if (!StartWindowSystem()) return false;
      window_ = OpenWindow(title_, settings_.width, settings_.height, true);
      if (!window_) return false;
      fullScreen_ = false;
    }
    return CreateContext();
  };
  bool created = rebuild(wanted);
  std::string renderer = created ? reinterpret_cast<const char*>(glGetString(GL_RENDERER)) : "";
  if (created && renderer.find(expected) != std::string::npos) {
    settings_.driver = wanted;
  } else {
    *log_ << L"WARNING: The " << (target == DriverType::Reference ? L"reference" : L"software")
          << L" rasterizer is not available (" << (created ? Widen("the system gave " + renderer) : L"no context")
          << L"); the device stays as it was" << std::endl;
    if (!rebuild(settings_.driver)) {
      ReportDeviceFailure("the previous device cannot be restored");
      return;
    }
  }
  InitDevice();
}

bool Framework::ApplySettings(const DeviceSettings& requested) {
  if (gui_.InFrame()) {
    gui_.Defer([this, requested] { ApplySettings(requested); });
    return true;
  }
  DeviceSettings wanted = requested;
  if (onDeviceSettingsChanging && !onDeviceSettingsChanging(wanted)) return false;
  if (wanted.presentInterval != settings_.presentInterval) {
    settings_.presentInterval = wanted.presentInterval;
    if (window_) glfwSwapInterval(settings_.presentInterval);
  }
  if (wanted.windowed == fullScreen_) ToggleFullScreen();
  if (wanted.windowed && (wanted.width != settings_.width || wanted.height != settings_.height)) {
    if (window_) {
      glfwSetWindowSize(window_, wanted.width, wanted.height);
    } else {
      settings_.width = wanted.width;
      settings_.height = wanted.height;
    }
  }
  return true;
}

// ---------------------------------------------------------------- input

void Framework::DispatchInput(const InputMessage& message) {
  gui_.FeedMessage(message);
  if (modalDepth_ > 0) return;
  bool consumed = gui_.Consumes(message);
  if (!consumed && onMessage) consumed = onMessage(message);
  if (consumed || message.type != InputType::KeyDown) return;
  if (onKeyboard) onKeyboard(message.key, true, message.alt);
  HandleFrameworkKeys(message);
}

void Framework::HandleFrameworkKeys(const InputMessage& message) {
  if (message.key == kKeyEscape && !message.alt) {
    Quit(0);
  } else if (message.key == kKeyEnter && message.alt) {
    ToggleFullScreen();
  }
}

void Framework::FillModifiers(InputMessage& message, GLFWwindow* window) const {
  auto down = [window](int a, int b) {
    return glfwGetKey(window, a) == GLFW_PRESS || glfwGetKey(window, b) == GLFW_PRESS;
  };
  message.shift = down(GLFW_KEY_LEFT_SHIFT, GLFW_KEY_RIGHT_SHIFT);
  message.control = down(GLFW_KEY_LEFT_CONTROL, GLFW_KEY_RIGHT_CONTROL);
  message.alt = down(GLFW_KEY_LEFT_ALT, GLFW_KEY_RIGHT_ALT);
  message.x = mouseX_;
  message.y = mouseY_;
}

void Framework::OnWindowMessage(const InputMessage& message) {
  // a modal dialog's widgets take its input at once; everything else waits
  // until the window system has returned, so that handlers may open dialogs
  // or rebuild the window
  if (modalDepth_ > 0) {
    gui_.FeedMessage(message);
  } else {
    windowInput_.push_back(message);
  }
}

void Framework::DispatchWindowInput() {
  while (!windowInput_.empty() && !quit_) {
    InputMessage message = windowInput_.front();
    windowInput_.pop_front();
    DispatchInput(message);
  }
}

void Framework::OnWindowCharacter(unsigned codepoint) { gui_.FeedCharacter(codepoint); }

void Framework::OnWindowFocus(bool focused) {
  if (focused) return;
  // losing the focus releases every key and every mouse button
  InputMessage message;
  message.x = mouseX_;
  message.y = mouseY_;
  message.type = InputType::FocusLost;
  DispatchInput(message);
  message.type = InputType::CaptureLost;
  DispatchInput(message);
}

void Framework::OnCursorMoved(GLFWwindow* window, double x, double y) {
  // window coordinates to framebuffer pixels (they differ on scaled displays)
  int windowWidth = 1, windowHeight = 1, pixelWidth = 1, pixelHeight = 1;
  glfwGetWindowSize(window, &windowWidth, &windowHeight);
  glfwGetFramebufferSize(window, &pixelWidth, &pixelHeight);
  double scaleX = windowWidth > 0 ? static_cast<double>(pixelWidth) / windowWidth : 1.0;
  double scaleY = windowHeight > 0 ? static_cast<double>(pixelHeight) / windowHeight : 1.0;
  mouseX_ = static_cast<int>(std::floor(x * scaleX));
  mouseY_ = static_cast<int>(std::floor(y * scaleY));
  InputMessage message;
  FillModifiers(message, window);
  message.type = InputType::MouseMove;
  DispatchInput(message);
}

void Framework::OnMouseButton(GLFWwindow* window, int button, int action, int /*mods*/) {
  int mapped = button == GLFW_MOUSE_BUTTON_LEFT    ? kButtonLeft
               : button == GLFW_MOUSE_BUTTON_RIGHT ? kButtonRight
               : button == GLFW_MOUSE_BUTTON_MIDDLE ? kButtonMiddle
                                                    : -1;
  if (mapped < 0) return;
  InputMessage message;
  FillModifiers(message, window);
  message.button = mapped;
  if (action == GLFW_RELEASE) {
    message.type = InputType::ButtonUp;
  } else {
    double now = glfwGetTime();
    bool near = std::abs(mouseX_ - lastPressX_[mapped]) <= kDoubleClickPixels &&
                std::abs(mouseY_ - lastPressY_[mapped]) <= kDoubleClickPixels;
    bool isDouble = lastPressTime_[mapped] >= 0 && now - lastPressTime_[mapped] <= kDoubleClickSeconds && near;
    message.type = isDouble ? InputType::ButtonDoubleClick : InputType::ButtonDown;
    // a third press starts a new pair
    lastPressTime_[mapped] = isDouble ? -1 : now;
    lastPressX_[mapped] = mouseX_;
    lastPressY_[mapped] = mouseY_;
  }
  DispatchInput(message);
}

void Framework::InstallWindowCallbacks(GLFWwindow* window) {
  glfwSetWindowUserPointer(window, this);
  glfwSetKeyCallback(window, [](GLFWwindow* w, int key, int /*scancode*/, int action, int mods) {
    int32_t code = KeyFromGlfw(key);
    if (code == kKeyNone) return;
    InputMessage message;
    FrameworkOf(w)->FillModifiers(message, w);
    message.alt = (mods & GLFW_MOD_ALT) != 0;
    message.shift = (mods & GLFW_MOD_SHIFT) != 0;
    message.control = (mods & GLFW_MOD_CONTROL) != 0;
    message.type = action == GLFW_RELEASE ? InputType::KeyUp : InputType::KeyDown;
    message.key = code;
    FrameworkOf(w)->OnWindowMessage(message);
  });
  glfwSetCharCallback(window, [](GLFWwindow* w, unsigned codepoint) { FrameworkOf(w)->OnWindowCharacter(codepoint); });
  glfwSetCursorPosCallback(window, [](GLFWwindow* w, double x, double y) { FrameworkOf(w)->OnCursorMoved(w, x, y); });
  glfwSetMouseButtonCallback(window, [](GLFWwindow* w, int button, int action, int mods) {
    FrameworkOf(w)->OnMouseButton(w, button, action, mods);
  });
  glfwSetScrollCallback(window, [](GLFWwindow* w, double /*x*/, double y) {
    InputMessage message;
    FrameworkOf(w)->FillModifiers(message, w);
    message.type = InputType::Wheel;
    message.wheelDelta = static_cast<int32_t>(std::lround(std::clamp(y, -1000.0, 1000.0) * 120.0));
    if (message.wheelDelta != 0) FrameworkOf(w)->OnWindowMessage(message);
  });
  glfwSetWindowFocusCallback(window, [](GLFWwindow* w, int focused) { FrameworkOf(w)->OnWindowFocus(focused != 0); });
}

// ---------------------------------------------------------------- modal dialogs

bool Framework::CanShowModal() const { return windowSystem_ && !headless_; }

bool Framework::RunModal(const std::wstring& title, int width, int height, const std::function<bool()>& frame) {
  if (!CanShowModal()) return false;
  gui_.DiscardFrame();
  bool ownWindow = window_ == nullptr || !glfwGetWindowAttrib(window_, GLFW_VISIBLE);
  GLFWwindow* target = ownWindow ? OpenWindow(title, width, height, true) : window_;
  if (target == nullptr) return false;
  glfwMakeContextCurrent(target);
  PinDriverModules();
  bool createdGui = false;
  if (!gui_.HasDeviceObjects()) createdGui = gui_.CreateDeviceObjects(log_);
  ++modalDepth_;
  bool answered = false;
  auto last = std::chrono::steady_clock::now();
  while (!answered) {
    glfwWaitEventsTimeout(0.05);
    if (glfwWindowShouldClose(target)) break;
    int pixelWidth = 0, pixelHeight = 0;
    glfwGetFramebufferSize(target, &pixelWidth, &pixelHeight);
    if (pixelWidth <= 0 || pixelHeight <= 0) continue;
    auto now = std::chrono::steady_clock::now();
    float dt = std::chrono::duration<float>(now - last).count();
    last = now;
    gui_.BeginFrame(pixelWidth, pixelHeight, dt, false);
    answered = frame();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, pixelWidth, pixelHeight);
    if (!ownWindow && swapChainCreated_) {
      // the last frame stays behind the dialog
      backBuffer_.PresentTo(pixelWidth, pixelHeight);
    } else {
      glClearColor(0.18f, 0.18f, 0.2f, 1.0f);
      glClear(GL_COLOR_BUFFER_BIT);
    }
    gui_.EndFrame();
    glfwSwapBuffers(target);
  }
  --modalDepth_;
  gui_.ReleaseAllInput();
  if (ownWindow) {
    if (createdGui) gui_.DestroyDeviceObjects();
    glfwDestroyWindow(target);
    if (window_) glfwMakeContextCurrent(window_);
  }
  return answered;
}

// ---------------------------------------------------------------- script

bool Framework::TakeDialogAnswer(ScriptCommand& answer) {
  if (dialogAnswers_.empty()) return false;
  answer = dialogAnswers_.front();
  dialogAnswers_.pop_front();
  return true;
}

bool Framework::TakeMessageAnswer(ScriptAnswer& answer) {
  if (messageAnswers_.empty()) return false;
  answer = messageAnswers_.front();
  messageAnswers_.pop_front();
  return true;
}

void Framework::StepScript() {
  while (!quit_ && scriptFramesPending_ == 0 && scriptNext_ < script_.size()) {
    const ScriptCommand& command = script_[scriptNext_++];
    ExecuteScriptCommand(command);
  }
}

void Framework::ScriptFailure(const ScriptCommand& command, const std::string& reason) {
  PrintError(log_, ScriptLineError(options_.scriptFile, command.line, reason));
  Quit(2);
}

void Framework::ExecuteScriptCommand(const ScriptCommand& command) {
  switch (command.type) {
    case ScriptCommandType::Frames:
      scriptFramesPending_ = command.count;
      break;
    case ScriptCommandType::Key:
      if (command.shift) SendScriptKey(kKeyShift, true, command.alt, true);
      if (command.alt) SendScriptKey(kKeyAlt, true, true, command.shift);
      SendScriptKey(command.key, true, command.alt, command.shift);
      SendScriptKey(command.key, false, command.alt, command.shift);
      if (command.alt) SendScriptKey(kKeyAlt, false, false, command.shift);
      if (command.shift) SendScriptKey(kKeyShift, false, false, false);
      break;
    case ScriptCommandType::Hold:
    case ScriptCommandType::Release: {
      bool down = command.type == ScriptCommandType::Hold;
      if (command.key >= 0 && command.key < 512) scriptKeysHeld_[command.key] = down;
      SendScriptKey(command.key, down, false, false);
      break;
    }
    case ScriptCommandType::Mouse: {
      InputType type = command.mouseAction == MouseAction::Down   ? InputType::ButtonDown
                       : command.mouseAction == MouseAction::Up   ? InputType::ButtonUp
                                                                  : InputType::ButtonDoubleClick;
      if (command.x != scriptMouseX_ || command.y != scriptMouseY_) {
        SendScriptMouse(InputType::MouseMove, 0, command.x, command.y, 0);
      }
      SendScriptMouse(type, command.button, command.x, command.y, 0);
      break;
    }
    case ScriptCommandType::MouseMove:
      SendScriptMouse(InputType::MouseMove, 0, command.x, command.y, 0);
      break;
    case ScriptCommandType::Wheel:
      SendScriptMouse(InputType::Wheel, 0, scriptMouseX_, scriptMouseY_, command.count * 120);
      break;
    case ScriptCommandType::Click:
      ScriptClick(command);
      break;
    case ScriptCommandType::Slider:
      ScriptSlider(command);
      break;
    case ScriptCommandType::Dialog:
      dialogAnswers_.push_back(command);
      break;
    case ScriptCommandType::Answer:
      messageAnswers_.push_back(command.answer);
      break;
    case ScriptCommandType::Screenshot:
      if (framesRendered_ == 0) {
        // there is no frame yet: draw one and come back to this line
        --scriptNext_;
        scriptFramesPending_ = 1;
      } else {
        WriteScreenshot(command.path);
      }
      break;
    case ScriptCommandType::Quit:
      Quit(0);
      break;
  }
}

void Framework::SendScriptKey(int32_t key, bool down, bool alt, bool shift) {
  InputMessage message;
  message.type = down ? InputType::KeyDown : InputType::KeyUp;
  message.key = key;
  message.alt = alt || scriptKeysHeld_[kKeyAlt];
  message.shift = shift || scriptKeysHeld_[kKeyShift];
  message.control = scriptKeysHeld_[kKeyControl];
  message.x = scriptMouseX_;
  message.y = scriptMouseY_;
  DispatchInput(message);
}

void Framework::SendScriptMouse(InputType type, int button, int x, int y, int wheelDelta) {
  scriptMouseX_ = x;
  scriptMouseY_ = y;
  InputMessage message;
  message.type = type;
  message.button = button;
  message.x = x;
  message.y = y;
  message.wheelDelta = wheelDelta;
  message.alt = scriptKeysHeld_[kKeyAlt];
  message.shift = scriptKeysHeld_[kKeyShift];
  message.control = scriptKeysHeld_[kKeyControl];
  DispatchInput(message);
}

void Framework::ScriptClick(const ScriptCommand& command) {
  for (Panel* panel : gui_.Panels()) {
    PanelControl* control =
        command.controlId >= 0 ? panel->GetControl(command.controlId) : panel->FindControlByLabel(command.label);
    if (control == nullptr || control->kind == ControlKind::Static || control->kind == ControlKind::Slider) continue;
    if (!panel->IsVisible() || !control->enabled) {
      *log_ << L"WARNING: script \"" << Widen(options_.scriptFile) << L"\" line " << command.line
            << L": the control is not visible or not enabled; the click is ignored" << std::endl;
      return;
    }
    panel->Click(control->id);
    return;
  }
  ScriptFailure(command, command.controlId >= 0 ? "no button or check box with ID " + std::to_string(command.controlId)
                                                : "no button or check box \"" + ToUtf8(command.label) + "\"");
}

void Framework::ScriptSlider(const ScriptCommand& command) {
  for (Panel* panel : gui_.Panels()) {
    PanelControl* control = panel->GetControl(command.controlId);
    if (control == nullptr || control->kind != ControlKind::Slider) continue;
    if (!panel->IsVisible() || !control->enabled) {
      *log_ << L"WARNING: script \"" << Widen(options_.scriptFile) << L"\" line " << command.line
            << L": the slider is not visible or not enabled; it is not moved" << std::endl;
      return;
    }
    panel->SetValueAsUser(command.controlId, command.value);
    return;
  }
  ScriptFailure(command, "no slider with ID " + std::to_string(command.controlId));
}
