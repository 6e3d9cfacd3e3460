#include "app/vardel_app.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cwchar>
#include <iostream>
#include <numbers>

#include "app/edit_tool.h"
#include "app/editor.h"
#include "app/recorder.h"
#include "app/scene.h"
#include "cutsim/fatal_error.h"
#include "cutsim/finite_guard.h"
#include "framework/file_chooser.h"
#include "framework/message_box.h"
#include "geometry/matrix4.h"
#include "render/cut_scene_renderer.h"
#include "render/effect.h"

namespace {

constexpr float kFieldOfViewDegrees = 45.0f;
constexpr float kNearPlane = 0.001f;
constexpr float kFarPlane = 100.0f;

float Radians(float degrees) { return degrees * std::numbers::pi_v<float> / 180.0f; }

// Rotation about z by (90 - heading) degrees: the editor's heading frame.
Mat3d HeadingRotation(float headingDegrees) {
  double a = (90.0 - headingDegrees) * std::numbers::pi / 180.0;
  double c = std::cos(a), s = std::sin(a);
  return Mat3d{{c, -s, 0, s, c, 0, 0, 0, 1}};
}

}  // namespace

VardelApp::VardelApp(Framework& framework)
    : framework_(framework), log_(&std::wcout), overlay_(&framework.Gui(), 15.0f) {}

VardelApp::~VardelApp() { DestroyApplicationObjects(); }

int VardelApp::Run(int argc, char** argv) {
  // 1. an abort raises no fault-reporting dialog on this system; nothing to switch off.
  // The framework reads its command line before the questions below, since
  // headless and scripted runs answer them from the script.
  int earlyExit = framework_.Init(argc, argv);
  if (earlyExit >= 0) return earlyExit;

  // 2. a second instance asks before it goes on
  if (!AskAboutSecondInstance()) {
    framework_.Shutdown(0);
    return 0;
  }

  // 3. callbacks and the cursor in full screen; effect errors become message boxes
  RegisterCallbacks();
  GLTools::SetMessageBoxHandler([](const std::wstring& caption, const std::wstring& text) {
    ShowMessageBox(caption, text, MessageBoxButtons::Ok, MessageBoxResult::Ok);
  });
  framework_.SetCursorSettings(true, true);

  // 4.-5. the edit tool with its display shape
  editTool_ = std::make_unique<EditTool>();

  // 6. the scene, or the dialog that asks for one
  if (!LoadSceneOrAsk()) {
    framework_.Shutdown(1);
    DestroyApplicationObjects();
    return 1;
  }

  // 7. what was loaded
  *log_ << scene_->Describe() << std::flush;

  // 8. gravity switched off before start-up keeps the body weightless
  if (!flags_.gravity) scene_->cutSim->gravity = Vec3d();

  // 9.-12.
  SetCameraToDefaultView();
  CreateRendererRecorderAndEditor();

  // 13. the panels with their shared event handler
  panels_ = std::make_unique<ControlPanels>(ControlPanels::Targets{
      framework_, *scene_, camera_, *renderer_, *editor_, flags_, sceneFileName_, log_});
  panels_->Create();

  // 14. window, device, main loop
  if (framework_.CreateWindow(L"Vardel") && framework_.CreateDevice(true, 800, 600)) framework_.MainLoop();
  int exitCode = framework_.ExitCode();
  framework_.Shutdown(exitCode);
  DestroyApplicationObjects();
  return framework_.ExitCode();
}

bool VardelApp::AskAboutSecondInstance() {
  if (!framework_.IsAnotherInstanceRunning()) return true;
  return ShowMessageBox(L"Warning", L"Another Vardel instance is already running!\nDo you want to continue?",
                        MessageBoxButtons::YesNo, MessageBoxResult::Yes) == MessageBoxResult::Yes;
}

void VardelApp::RegisterCallbacks() {
  framework_.isDeviceAcceptable = [this](const DeviceInfo& device) { return IsDeviceAcceptable(device); };
  framework_.onDeviceCreated = [this](const DeviceInfo& device) { return OnDeviceCreated(device); };
  framework_.onSwapChainResized = [this](int width, int height) { return OnSwapChainResized(width, height); };
  framework_.onSwapChainReleasing = [this] { OnSwapChainReleasing(); };
  framework_.onDeviceDestroyed = [this] { OnDeviceDestroyed(); };
  framework_.onFrameRender = [this](double time, float elapsed) { OnFrameRender(time, elapsed); };
  framework_.onMessage = [this](const InputMessage& message) { return OnMessage(message); };
  framework_.onKeyboard = [this](int32_t key, bool down, bool alt) { OnKeyboard(key, down, alt); };
  framework_.onFrameMove = [this](double time, float elapsed) { OnFrameMove(time, elapsed); };
  framework_.onDeviceSettingsChanging = [this](DeviceSettings& settings) { return OnDeviceSettingsChanging(settings); };
}

bool VardelApp::LoadSceneOrAsk() {
  scene_ = std::make_unique<Scene>();
  if (scene_->Load(sceneFileName_, solverKind_, log_)) return true;
  std::wstring chosen;
  if (!ChooseFile(L"Load scene file", L"*.txt", 0, L"", L"txt", chosen, false, DialogOwner::None)) return false;
  sceneFileName_ = chosen;
  // a fresh scene, so nothing of the failed attempt stays behind
  scene_ = std::make_unique<Scene>();
  if (!scene_->Load(sceneFileName_, solverKind_, log_)) FatalError(__FILE__, __LINE__, L"Cannot load scene", true);
  return true;
}

void VardelApp::SetCameraToDefaultView() {
  // in orbit mode each setting makes the orbit radius the distance to the centre
  camera_.orbitCentre = scene_->mesh.bboxCenter;
  camera_.SetPosition(scene_->defaultViewPosition);
  const Vec3f& angles = scene_->defaultHeadingPitchRoll;
  camera_.SetAngles(angles.x, angles.y, angles.z, 0);
}

void VardelApp::CreateRendererRecorderAndEditor() {
  renderer_ = std::make_unique<CutSceneRenderer>(*scene_, *editTool_);
  recorder_ = std::make_unique<Recorder>(scene_.get(), [this] {
    return CameraPose{camera_.position, camera_.heading, camera_.pitch, camera_.turn, camera_.roll};
  });
  EditorServices services;
  services.chooseFile = [this](const std::wstring& title, const std::wstring& pattern, const std::wstring& extension,
                               bool save, std::wstring& result) {
    return ChooseEditorFile(title, pattern, extension, save, result);
  };
  // without a known state folder the editor warns once that it cannot log
  const std::string& stateFolder = framework_.StateFolder();
  if (!stateFolder.empty()) {
    services.forceLogPath = stateFolder + "/forces.txt";
    services.cuttingSurfacePath = stateFolder + "/cuttingsurface.txt";
  }
  editor_ = std::make_unique<Editor>(*renderer_, *scene_, *recorder_, std::move(services), log_, 0);
  editor_->SetCuttingDepth(cuttingDepth_);
  renderer_->SetToolPose(editor_->toolPose());
}

bool VardelApp::ChooseEditorFile(const std::wstring& title, const std::wstring& pattern,
                                 const std::wstring& extension, bool save, std::wstring& result) {
  // the recording's name is asked in a dialog of its own
  DialogOwner owner = title == L"Save recording" ? DialogOwner::None : DialogOwner::MainWindow;
  return ChooseFile(title, pattern, 0, L"", extension, result, save, owner);
}

void VardelApp::DestroyApplicationObjects() {
  // the panels refer to everything below; then the order of shutdown
  panels_.reset();
  recorder_.reset();
  renderer_.reset();
  editor_.reset();
  scene_.reset();
}

// ---------------------------------------------------------------- device

bool VardelApp::IsDeviceAcceptable(const DeviceInfo& /*device*/) { return true; }

bool VardelApp::OnDeviceCreated(const DeviceInfo& /*device*/) { return renderer_->Create(log_); }

bool VardelApp::OnSwapChainResized(int width, int height) {
  clientWidth_ = width;
  clientHeight_ = height;
  float aspect = static_cast<float>(width) / static_cast<float>(height);
  projection_ = PerspectiveFovRH(Radians(kFieldOfViewDegrees), aspect, kNearPlane, kFarPlane);
  if (!renderer_->OnResize(width, height, framework_.BackBufferFramebuffer())) return false;
  renderer_->SetProjection(projection_);
  editor_->SetScreenSize(width, height);
  editor_->SetProjection(aspect, kFieldOfViewDegrees);
  return true;
}

void VardelApp::OnSwapChainReleasing() { renderer_->ReleaseSizeDependent(); }

void VardelApp::OnDeviceDestroyed() { renderer_->Release(); }

bool VardelApp::OnDeviceSettingsChanging(DeviceSettings& settings) {
  // only the first call sets up the device; later changes are the user's
  if (firstSettingsCall_) {
    firstSettingsCall_ = false;
    settings.presentInterval = 0;
  }
  return true;
}

// ---------------------------------------------------------------- frames

void VardelApp::OnFrameMove(double time, float elapsedTime) {
  std::wstring title;
  if (windowTitle_.Update(time, framework_.IsWindowed(), framework_.FramesPerSecond(), recorder_->IsRecording(),
                          recorder_->time(), title)) {
    framework_.SetWindowTitle(title);
  }
  camera_.Update(elapsedTime);
  recorder_->Advance(elapsedTime);
  frameView_ = camera_.view;
  editor_->SetViewMatrix(frameView_);
  editor_->SetHeadingRotation(HeadingRotation(camera_.heading));
  if (flags_.runSimulation) StepSimulation();
}

void VardelApp::StepSimulation() {
  // the octree carries the new positions to the renderer and to the next
  // cut; a step that blows up is undone before it gets there
  GuardedTimeStep(*scene_->cutSim, log_);
}

void VardelApp::OnFrameRender(double /*time*/, float elapsedTime) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  if (framework_.IsSettingsDialogActive()) {
    framework_.SettingsDialogBox().Render(elapsedTime);
    return;
  }
  glClearDepth(1.0);
  glClear(GL_DEPTH_BUFFER_BIT);
  renderer_->Render(frameView_, editor_->pathPoints(), editor_->sketches());
  framework_.BindBackBuffer();
  if (flags_.panelsVisible) {
    panels_->Place(clientWidth_, clientHeight_);
    panels_->Render(elapsedTime);
    DrawOverlayText();
  }
}

void VardelApp::DrawOverlayText() {
  overlay_.SetInsertionPos(2, 0);
  overlay_.SetForegroundColor(1.0f, 1.0f, 0.0f, 1.0f);
  overlay_.DrawTextLine(framework_.FrameStats());
  overlay_.DrawTextLine(framework_.DeviceStats());
  wchar_t line[256];
  std::swprintf(line, sizeof(line) / sizeof(line[0]),
                L"x=%.3f y=%.3f z=%.3f heading=%.2f pitch=%.2f roll=%.2f turn=%.2f",
                static_cast<double>(camera_.position.x), static_cast<double>(camera_.position.y),
                static_cast<double>(camera_.position.z), static_cast<double>(camera_.heading),
                static_cast<double>(camera_.pitch), static_cast<double>(camera_.roll),
                static_cast<double>(camera_.turn));
  overlay_.DrawTextLine(line);
  std::swprintf(line, sizeof(line) / sizeof(line[0]), L"[EDITOR] Mode=%i Cutter = %.4f Cutting Depth=%.2f",
                editor_->mode(), static_cast<double>(editor_->cutterValue()), static_cast<double>(cuttingDepth_));
  overlay_.DrawTextLine(line);
}

// ---------------------------------------------------------------- input

bool VardelApp::OnMessage(const InputMessage& message) {
  // an open settings dialog takes every message
  if (framework_.IsSettingsDialogActive()) {
    framework_.SettingsDialogBox().HandleMessage(message);
    return true;
  }
  if (flags_.panelsVisible && panels_->HandleMessage(message)) return true;
  if (editor_->HandleMouse(message)) return true;
  // the camera sees what is left but consumes nothing, so key-downs still reach the key table
  camera_.HandleMessage(message);
  return false;
}

void VardelApp::OnKeyboard(int32_t key, bool keyDown, bool altDown) { panels_->OnKeyboard(key, keyDown, altDown); }
