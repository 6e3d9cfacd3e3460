#pragma once
// The application spine: start-up in order, the framework callbacks, the
// frame loop's work and shutdown.
#include <memory>
#include <string>

#include "app/control_panels.h"
#include "app/window_title.h"
#include "framework/framework.h"
#include "framework/overlay_text.h"
#include "geometry/vec.h"
#include "render/camera.h"

class CutSceneRenderer;
class EditTool;
class Editor;
class Recorder;
class Scene;

class VardelApp {
 public:
  explicit VardelApp(Framework& framework);
  ~VardelApp();
  VardelApp(const VardelApp&) = delete;
  VardelApp& operator=(const VardelApp&) = delete;

  // The entry point's work; returns the process exit code.
  int Run(int argc, char** argv);

 private:
  bool AskAboutSecondInstance();
  void RegisterCallbacks();
  bool LoadSceneOrAsk();
  void SetCameraToDefaultView();
  void CreateRendererRecorderAndEditor();
  bool ChooseEditorFile(const std::wstring& title, const std::wstring& pattern, const std::wstring& extension,
                        bool save, std::wstring& result);
  void DestroyApplicationObjects();

  // framework callbacks
  bool IsDeviceAcceptable(const DeviceInfo& device);
  bool OnDeviceCreated(const DeviceInfo& device);
  bool OnSwapChainResized(int width, int height);
  void OnSwapChainReleasing();
  void OnDeviceDestroyed();
  void OnFrameMove(double time, float elapsedTime);
  void OnFrameRender(double time, float elapsedTime);
  bool OnMessage(const InputMessage& message);
  void OnKeyboard(int32_t key, bool keyDown, bool altDown);
  bool OnDeviceSettingsChanging(DeviceSettings& settings);

  void StepSimulation();
  void DrawOverlayText();

  Framework& framework_;
  std::wostream* log_;

  // application state
  std::wstring sceneFileName_ = L"LiverScene.txt";
  ApplicationFlags flags_;
  int solverKind_ = 0;  // multigrid
  float cuttingDepth_ = 0.12f;
  int clientWidth_ = 0, clientHeight_ = 0;
  Mat4f projection_ = Mat4f::Identity();
  Mat4f frameView_ = Mat4f::Identity();
  WindowTitle windowTitle_;
  bool firstSettingsCall_ = true;

  // long-lived objects, created in this order at start-up
  Camera camera_;  // minimum speed 0.05, maximum speed 1
  std::unique_ptr<EditTool> editTool_;
  std::unique_ptr<Scene> scene_;
  std::unique_ptr<CutSceneRenderer> renderer_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Editor> editor_;
  std::unique_ptr<ControlPanels> panels_;
  OverlayText overlay_;
};
