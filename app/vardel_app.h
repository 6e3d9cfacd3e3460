#pragma once
// The application spine: start-up in order, the framework callbacks, the
// frame loop's work and shutdown.
#include <memory>
#include <string>

#include "app/config_file.h"
#include "app/window_title.h"
#include "framework/framework.h"
#include "framework/overlay_text.h"
#include "framework/panel.h"
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

class PlainMeshView;

// Control IDs of the device panel.
enum DevicePanelControl : int {
  kIdToggleFullScreen = 1,
  kIdToggleRef = 2,
  kIdChangeDevice = 3,
  kIdToggleWarp = 4,
};

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
  bool LoadScene(const std::wstring& fileName);
  void CreateDevicePanel();

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
  void OnGuiEvent(GuiEvent event, int controlId);

  void PlacePanels();
  void DrawOverlayText();

  Framework& framework_;
  std::wostream* log_;

  // application state
  std::wstring sceneFileName_ = L"LiverScene.txt";
  bool runSimulation_ = false;
  bool gravity_ = true;
  bool panelsVisible_ = true;
  int solverKind_ = 0;  // multigrid
  float cuttingDepth_ = 0.12f;
  int clientWidth_ = 0, clientHeight_ = 0;
  Mat4f projection_ = Mat4f::Identity();
  Mat4f frameView_ = Mat4f::Identity();
  WindowTitle windowTitle_;
  bool firstSettingsCall_ = true;

  // the scene as far as it is read here: its configuration and its mesh
  ConfigFile sceneConfig_;
  SurfaceMesh sceneMesh_;

  Panel devicePanel_;
  OverlayText overlay_;
  std::unique_ptr<PlainMeshView> meshView_;  // device objects
};
