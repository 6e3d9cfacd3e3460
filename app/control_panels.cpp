#include "app/control_panels.h"

#include <ostream>

#include "app/editor.h"
#include "app/output_files.h"
#include "app/scene.h"
#include "cutsim/finite_guard.h"
#include "framework/file_chooser.h"
#include "framework/framework.h"
#include "render/camera.h"
#include "render/cut_scene_renderer.h"

namespace {

constexpr int kPanelMargin = 10;
// distance of a minimised panel's caption bar from the bottom of the client area
constexpr int kMinimizedPanelOffset = 30;

// control columns and sizes of the panels
constexpr int kDeviceX = 35, kDeviceWidth = 125;
constexpr int kMainX = 35, kMainWidth = 125;
constexpr int kRenderingX = 25, kRenderingWidth = 140;
constexpr int kControlHeight = 22;

// Octree slices run over the finest cells along y: 0 .. 2^(L-1).
int SliceCount(const Scene& scene) {
  int levels = scene.octree ? scene.octree->levelCount : 1;
  return levels >= 1 ? 1 << (levels - 1) : 1;
}

}  // namespace

ControlPanels::ControlPanels(const Targets& targets) : targets_(targets) {}

void ControlPanels::Create() {
  CreateDevicePanel();
  CreateMainPanel();
  CreateRenderingPanel();
}

void ControlPanels::CreateDevicePanel() {
  Panel& panel = devicePanel_;
  panel.Init(&targets_.framework.Gui());
  panel.SetCallback([this](GuiEvent event, int id) { OnGuiEvent(event, id); });
  panel.SetSize(kDevicePanelWidth, kDevicePanelHeight);
  panel.AddButton(kIdToggleFullScreen, L"Toggle full screen", kDeviceX, 10, kDeviceWidth, kControlHeight);
  panel.AddButton(kIdChangeDevice, L"Change device (F2)", kDeviceX, 34, kDeviceWidth, kControlHeight, FunctionKey(2));
  panel.AddButton(kIdToggleRef, L"Toggle REF (F3)", kDeviceX, 58, kDeviceWidth, kControlHeight, FunctionKey(3));
  panel.AddButton(kIdToggleWarp, L"Toggle WARP (F4)", kDeviceX, 82, kDeviceWidth, kControlHeight, FunctionKey(4));
}

void ControlPanels::CreateMainPanel() {
  Panel& panel = mainPanel_;
  panel.Init(&targets_.framework.Gui());
  panel.SetCallback([this](GuiEvent event, int id) { OnGuiEvent(event, id); });
  panel.SetCaptionText(L"Main Controls");
  panel.EnableCaption(true);
  panel.SetBackgroundColors(kPanelColour);
  panel.SetSize(kMainPanelWidth, kMainPanelHeight);
  const ApplicationFlags& flags = targets_.flags;
  bool collision = targets_.scene.cutSim && targets_.scene.cutSim->collisionEnabled;
  panel.AddCheckBox(kIdRunSimulation, L"Run Simulation", kMainX, 10, kMainWidth, kControlHeight, flags.runSimulation);
  panel.AddCheckBox(kIdEnableGravity, L"Enable Gravity (G)", kMainX, 34, kMainWidth, kControlHeight, flags.gravity,
                    'G');
  panel.AddCheckBox(kIdEnableCollision, L"Enable Collision Detection", kMainX, 58, kMainWidth, kControlHeight,
                    collision);
  panel.AddButton(kIdClearForces, L"Clear Forces", kMainX, 82, kMainWidth, kControlHeight);
  panel.AddButton(kIdClearFixations, L"Clear Fixations", kMainX, 106, kMainWidth, kControlHeight);
  panel.AddButton(kIdSaveMesh, L"Save Mesh", kMainX, 130, kMainWidth, kControlHeight);
}

void ControlPanels::CreateRenderingPanel() {
  Panel& panel = renderingPanel_;
  panel.Init(&targets_.framework.Gui());
  panel.SetCallback([this](GuiEvent event, int id) { OnGuiEvent(event, id); });
  panel.SetCaptionText(L"Rendering Controls");
  panel.EnableCaption(true);
  panel.SetBackgroundColors(kPanelColour);
  panel.SetSize(kRenderingPanelWidth, kRenderingPanelHeight);
  const CutSceneRendererOptions& options = targets_.renderer.options;
  struct Box {
    int id;
    const wchar_t* label;
    int y;
    bool checked;
    int32_t hotKey;
  };
  const Box boxes[] = {
      {kIdRenderGround, L"Render Ground", 10, options.renderGround, kKeyNone},
      {kIdEnableShadows, L"Enable Shadows", 34, options.enableShadows, kKeyNone},
      {kIdHeadLight, L"Enable Head Light", 58, options.headLight, kKeyNone},
      {kIdWireFrame, L"Wire Frame (W)", 82, options.wireFrame, 'W'},
      {kIdRenderCoordinateSystem, L"Render Coordinate System", 106, options.renderCoordinateSystem, kKeyNone},
      {kIdRenderSticks, L"Render Sticks", 130, options.renderSticks, kKeyNone},
      {kIdRenderNormals, L"Render Normals", 154, options.renderNormals, kKeyNone},
      {kIdRenderOctree, L"Render Octree", 178, options.renderOctree, kKeyNone},
      {kIdRenderSurface, L"Render Surface", 226, options.renderSurface, kKeyNone},
      {kIdSurfaceVertices, L"Surface Vertices (A)", 250, options.surfaceVertices, 'A'},
      {kIdInitialSurfaceMesh, L"Initial Surface Mesh (M)", 274, options.initialSurfaceMesh, 'M'},
      {kIdRenderForces, L"Render Forces/Vertices", 298, options.renderForces, kKeyNone},
      {kIdRenderCuttingPath, L"Render Cutting Path", 322, options.renderCutPath, kKeyNone},
  };
  for (const Box& box : boxes) {
    panel.AddCheckBox(box.id, box.label, kRenderingX, box.y, kRenderingWidth, kControlHeight, box.checked,
                      box.hotKey);
  }
  // the slider starts in the middle of the body and the renderer with it
  int slices = SliceCount(targets_.scene);
  targets_.renderer.options.clipLevel = slices / 2;
  panel.AddSlider(kIdOctreeSlice, kRenderingX, 202, kRenderingWidth, kControlHeight, 0, slices, slices / 2);
}

void ControlPanels::Place(int clientWidth, int clientHeight) {
  devicePanel_.SetLocation(clientWidth - kDevicePanelWidth - kPanelMargin, kPanelMargin);
  mainPanel_.SetLocation(clientWidth - kMainPanelWidth - kPanelMargin,
                         mainPanel_.IsMinimized() ? clientHeight - kMinimizedPanelOffset
                                                  : clientHeight - kMainPanelHeight - kPanelMargin);
  renderingPanel_.SetLocation(kPanelMargin, renderingPanel_.IsMinimized()
                                                ? clientHeight - kMinimizedPanelOffset
                                                : clientHeight - kRenderingPanelHeight - kPanelMargin);
}

void ControlPanels::Render(float elapsedTime) {
  devicePanel_.Render(elapsedTime);
  mainPanel_.Render(elapsedTime);
  renderingPanel_.Render(elapsedTime);
}

bool ControlPanels::HandleMessage(const InputMessage& message) {
  return devicePanel_.HandleMessage(message) || mainPanel_.HandleMessage(message) ||
         renderingPanel_.HandleMessage(message);
}

// ---------------------------------------------------------------- panel events

bool* ControlPanels::RenderingOption(int controlId) {
  CutSceneRendererOptions& options = targets_.renderer.options;
  switch (controlId) {
    case kIdRenderGround: return &options.renderGround;
    case kIdEnableShadows: return &options.enableShadows;
    case kIdHeadLight: return &options.headLight;
    case kIdWireFrame: return &options.wireFrame;
    case kIdRenderCoordinateSystem: return &options.renderCoordinateSystem;
    case kIdRenderSticks: return &options.renderSticks;
    case kIdRenderNormals: return &options.renderNormals;
    case kIdRenderOctree: return &options.renderOctree;
    case kIdRenderSurface: return &options.renderSurface;
    case kIdSurfaceVertices: return &options.surfaceVertices;
    case kIdInitialSurfaceMesh: return &options.initialSurfaceMesh;
    case kIdRenderForces: return &options.renderForces;
    case kIdRenderCuttingPath: return &options.renderCutPath;
    default: return nullptr;
  }
}

void ControlPanels::OnGuiEvent(GuiEvent /*event*/, int controlId) {
  Framework& framework = targets_.framework;
  CutSim* sim = targets_.scene.cutSim.get();
  switch (controlId) {
    case kIdToggleFullScreen:
      framework.ToggleFullScreen();
      return;
    case kIdChangeDevice:
      // showing the dialog refreshes what it shows
      framework.SettingsDialogBox().SetActive(!framework.IsSettingsDialogActive());
      return;
    case kIdToggleRef:
      framework.ToggleReference();
      return;
    case kIdToggleWarp:
      framework.ToggleWarp();
      return;
    case kIdRunSimulation:
      // the box's new state, not the opposite of the flag: R may have changed the flag meanwhile
      targets_.flags.runSimulation = mainPanel_.GetChecked(kIdRunSimulation);
      return;
    case kIdEnableGravity:
      targets_.flags.gravity = mainPanel_.GetChecked(kIdEnableGravity);
      ApplyGravity();
      return;
    case kIdEnableCollision:
      // switching on brings a field left stale by earlier cuts up to date
      if (sim) targets_.scene.SetCollisionDetection(mainPanel_.GetChecked(kIdEnableCollision));
      return;
    case kIdClearForces:
      ClearForces();
      return;
    case kIdClearFixations:
      ClearFixations();
      return;
    case kIdSaveMesh:
      SaveMesh();
      return;
    case kIdOctreeSlice: {
      int value = renderingPanel_.GetValue(kIdOctreeSlice);
      targets_.renderer.options.clipLevel = value;
      if (targets_.log) *targets_.log << L"Octree slice: " << value << std::endl;
      return;
    }
    default:
      break;
  }
  if (bool* option = RenderingOption(controlId)) *option = renderingPanel_.GetChecked(controlId);
}

void ControlPanels::ApplyGravity() {
  CutSim* sim = targets_.scene.cutSim.get();
  if (sim) sim->gravity = targets_.flags.gravity ? targets_.scene.gravity : Vec3d();
}

void ControlPanels::ClearForces() {
  CutSim* sim = targets_.scene.cutSim.get();
  if (!sim) return;
  for (int v = 0; v < sim->vertexCount[0]; ++v) sim->vertexForce[0][v] = Vec3d();
  sim->PropagateConstraints(sim->numEmbeddedLevels);
}

void ControlPanels::ClearFixations() {
  CutSim* sim = targets_.scene.cutSim.get();
  if (!sim) return;
  for (int v = 0; v < sim->vertexCount[0]; ++v) sim->SetVertexFixed(0, v, false);
  sim->PropagateConstraints(sim->numEmbeddedLevels);
}

void ControlPanels::SaveMesh() {
  std::wstring fileName;
  if (!ChooseFile(L"Save deformed mesh to file", L"*.obj", 0, L"", L"obj", fileName, true, DialogOwner::MainWindow)) {
    return;
  }
  SaveDeformedMesh(targets_.scene, fileName, targets_.log);
}

// ---------------------------------------------------------------- keyboard

void ControlPanels::OnKeyboard(int32_t key, bool keyDown, bool altDown) {
  if (!keyDown) return;
  Camera& camera = targets_.camera;
  ApplicationFlags& flags = targets_.flags;
  switch (key) {
    case kKeySpace:
      camera.SetMode((camera.mode + 1) % 2);
      break;
    case '2':
      camera.SetAngles(90, 0, 0, 0);
      break;
    case 'X':
      if (altDown) {
        StoreDefaultView();
      } else {
        ResetCameraToDefaultView();
      }
      break;
    case 'S':
      if (altDown) targets_.scene.Save(targets_.sceneFileName, targets_.log);
      break;
    case 'R':
      // the "Run Simulation" box keeps what it shows
      flags.runSimulation = !flags.runSimulation;
      break;
    case 'U':
      flags.panelsVisible = !flags.panelsVisible;
      break;
    case 'N':
      if (!flags.runSimulation && targets_.scene.cutSim) GuardedPrepareTimeStep(*targets_.scene.cutSim, targets_.log);
      break;
    case 'H':
    case 'Z':
      RebuildModel();
      break;
    case 'D':
      SetEditorMode(Editor::kModePick, false);
      targets_.renderer.options.renderSketches = false;
      break;
    case 'V':
      SetEditorMode(Editor::kModeFixations, true);
      break;
    case 'F':
      SetEditorMode(Editor::kModeForce, true);
      break;
    case 'P':
      if (altDown) {
        SetEditorMode(Editor::kModeSketch, false);
        targets_.renderer.options.renderSketches = true;
      } else {
        SetEditorMode(Editor::kModeVertexDrag, true);
      }
      break;
    case 'C':
      if (altDown) SetEditorMode(Editor::kModeCut, false);
      break;
    case 'E':
      if (altDown) SetEditorMode(Editor::kModeErase, false);
      break;
    case FunctionKey(6):
      SaveDistanceField();
      break;
    case FunctionKey(8):
      SaveEquationSystem();
      break;
    case FunctionKey(11):
      LoadCuttingSurface();
      break;
    default:
      break;
  }
}

void ControlPanels::ResetCameraToDefaultView() {
  const Scene& scene = targets_.scene;
  Camera& camera = targets_.camera;
  camera.SetPosition(scene.defaultViewPosition);
  const Vec3f& angles = scene.defaultHeadingPitchRoll;
  camera.SetAngles(angles.x, angles.y, angles.z, 0);
}

void ControlPanels::StoreDefaultView() {
  Scene& scene = targets_.scene;
  const Camera& camera = targets_.camera;
  scene.defaultViewPosition = camera.position;
  scene.defaultHeadingPitchRoll = Vec3f(camera.heading, camera.pitch, camera.roll);
  scene.defaultViewStored = true;
}

void ControlPanels::SetEditorMode(int mode, bool forcesActive) {
  targets_.editor.SetMode(mode);
  targets_.renderer.options.forcesActive = forcesActive;
}

void ControlPanels::RebuildModel() {
  Scene& scene = targets_.scene;
  CutSim* sim = scene.cutSim.get();
  if (!sim || !scene.octree) return;
  // the rebuild restores the vertex positions from the corners stored in the
  // octree; without storing them first the body would collapse to the origin
  sim->StoreCornerPositionsInOctree();
  scene.octree->ExtractSurface();
  sim->BuildHierarchy(true, targets_.log);
  scene.UpdateDistanceFieldAfterCut();
  // the surface shows the rebuilt model at once, also while the simulation stands still
  sim->CopyVertexPositionsIntoOctree();
}

void ControlPanels::SaveDistanceField() {
  std::wstring fileName;
  if (!ChooseFile(L"Save distance fields to file", L"*.bin", 0, L"", L"bin", fileName, true,
                  DialogOwner::MainWindow)) {
    return;
  }
  WriteDistanceField(targets_.scene, fileName, targets_.log);
}

void ControlPanels::SaveEquationSystem() {
  std::wstring fileName;
  if (!ChooseFile(L"Save equation system to file", L"*.bin", 0, L"", L"bin", fileName, true,
                  DialogOwner::MainWindow)) {
    return;
  }
  // a failed write is reported, so the user does not take a missing file for a saved one
  if (!WriteEquationSystem(targets_.scene, fileName) && targets_.log) {
    *targets_.log << L"ERROR: Cannot write file \"" << fileName << L"\"" << std::endl;
  }
}

void ControlPanels::LoadCuttingSurface() {
  std::wstring fileName;
  if (!ChooseFile(L"Load cutting surface from file", L"*.txt", 0, L"", L"txt", fileName, false,
                  DialogOwner::MainWindow)) {
    return;
  }
  targets_.editor.CutFromFile(fileName);
}
