#pragma once
// The three on-screen panels (the device panel, "Main Controls" and
// "Rendering Controls") with the one event handler their controls report to,
// and the keyboard table of the program's key-down events.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "app/input.h"
#include "framework/panel.h"

class Camera;
class CutSceneRenderer;
class Editor;
class Framework;
class Scene;

// The application's switches that panels and keys change.
struct ApplicationFlags {
  bool runSimulation = false;  // one simulation step per frame
  bool gravity = true;         // when clear, the simulation's gravity is (0, 0, 0)
  bool panelsVisible = true;   // panels and overlay text are drawn and receive input
};

// Numeric IDs of the panel controls.
enum ControlId : int {
  // device panel
  kIdToggleFullScreen = 1,
  kIdToggleRef = 2,
  kIdChangeDevice = 3,
  kIdToggleWarp = 4,
  // "Main Controls"
  kIdClearForces = 8,
  kIdClearFixations = 9,
  kIdSaveMesh = 10,
  kIdEnableGravity = 23,
  kIdEnableCollision = 25,
  kIdRunSimulation = 26,
  // "Rendering Controls"
  kIdWireFrame = 37,
  kIdRenderCoordinateSystem = 38,
  kIdRenderGround = 39,
  kIdEnableShadows = 40,
  kIdHeadLight = 41,
  kIdRenderSticks = 42,
  kIdRenderNormals = 43,
  kIdRenderOctree = 44,
  kIdOctreeSlice = 45,
  kIdRenderSurface = 46,
  kIdSurfaceVertices = 47,
  kIdInitialSurfaceMesh = 48,
  kIdRenderForces = 49,
  kIdRenderCuttingPath = 50,
};

// Panel sizes in pixels.
inline constexpr int kDevicePanelWidth = 170, kDevicePanelHeight = 170;
inline constexpr int kMainPanelWidth = 195, kMainPanelHeight = 215;
inline constexpr int kRenderingPanelWidth = 195, kRenderingPanelHeight = 400;
// Background of the two application panels, 0xAARRGGBB.
inline constexpr uint32_t kPanelColour = 0x8000FF00u;

class ControlPanels {
 public:
  // What the controls and keys act on; all of it outlives the panels.
  struct Targets {
    Framework& framework;
    Scene& scene;
    Camera& camera;
    CutSceneRenderer& renderer;
    Editor& editor;
    ApplicationFlags& flags;
    const std::wstring& sceneFileName;
    std::wostream* log;
  };

  explicit ControlPanels(const Targets& targets);
  ControlPanels(const ControlPanels&) = delete;
  ControlPanels& operator=(const ControlPanels&) = delete;

  // Builds the controls of all three panels with their initial states.
  void Create();
  // Places the panels for a client area: the device panel top right, "Main
  // Controls" bottom right, "Rendering Controls" bottom left.
  void Place(int clientWidth, int clientHeight);
  // Draws the device panel, "Main Controls" and "Rendering Controls", in that order.
  void Render(float elapsedTime);
  // Offers a message to the three panels in drawing order; true when one consumed it.
  bool HandleMessage(const InputMessage& message);

  void OnGuiEvent(GuiEvent event, int controlId);
  // The keyboard table; only key-down events do anything.
  void OnKeyboard(int32_t key, bool keyDown, bool altDown);

  Panel& devicePanel() { return devicePanel_; }
  Panel& mainPanel() { return mainPanel_; }
  Panel& renderingPanel() { return renderingPanel_; }

 private:
  void CreateDevicePanel();
  void CreateMainPanel();
  void CreateRenderingPanel();

  // Main Controls actions.
  void ApplyGravity();
  void ClearForces();
  void ClearFixations();
  void SaveMesh();
  // Rendering Controls: the display option a check box writes, or null.
  bool* RenderingOption(int controlId);

  // Keyboard actions.
  void ResetCameraToDefaultView();
  void StoreDefaultView();
  void SetEditorMode(int mode, bool forcesActive);
  void RebuildModel();
  void SaveDistanceField();
  void SaveEquationSystem();
  void LoadCuttingSurface();

  Targets targets_;
  Panel devicePanel_;
  Panel mainPanel_;
  Panel renderingPanel_;
};
