#include "app/vardel_app.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numbers>
#include <vector>

#include "cutsim/fatal_error.h"
#include "framework/file_chooser.h"
#include "framework/message_box.h"
#include "geometry/matrix4.h"
#include "render/effect.h"

namespace {

constexpr float kFieldOfViewDegrees = 45.0f;
constexpr float kNearPlane = 0.001f;
constexpr float kFarPlane = 100.0f;

// panel sizes and margins of the frame-render placement rules
constexpr int kDevicePanelWidth = 170, kDevicePanelHeight = 170;
constexpr int kPanelMargin = 10;

float Radians(float degrees) { return degrees * std::numbers::pi_v<float> / 180.0f; }

// Right-handed view matrix of an eye looking at a target, z up.
Mat4f LookAt(const Vec3f& eye, const Vec3f& target, const Vec3f& up) {
  Vec3f back = Normalize(eye - target);
  Vec3f right = Normalize(Cross(up, back));
  Vec3f trueUp = Cross(back, right);
  return Mat4f{{right.x, right.y, right.z, -Dot(right, eye), trueUp.x, trueUp.y, trueUp.z, -Dot(trueUp, eye),
                back.x, back.y, back.z, -Dot(back, eye), 0, 0, 0, 1}};
}

const char* const kVertexShader = R"(#version 330 core
uniform mat4 g_mWorldViewProjection;
layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec3 inNormal;
out vec3 normal;
void main() {
  normal = inNormal;
  gl_Position = g_mWorldViewProjection * vec4(inPosition, 1.0);
}
)";

const char* const kFragmentShader = R"(#version 330 core
uniform vec3 g_vLightDir;
uniform vec3 g_vColor;
in vec3 normal;
out vec4 colour;
void main() {
  // lit from either side, so the body reads the same whatever its winding
  float diffuse = abs(dot(normalize(normal), g_vLightDir));
  colour = vec4(g_vColor * (0.3 + 0.7 * diffuse), 1.0);
}
)";

}  // namespace

// The input mesh drawn plainly: one lit colour, seen by a fixed camera that
// frames its bounding box.
class PlainMeshView {
 public:
  ~PlainMeshView() { Release(); }

  bool Create(const SurfaceMesh& mesh, std::wostream* log) {
    program_ = LinkProgram(log);
    if (!program_) return false;
    std::vector<float> vertices;
    vertices.reserve(mesh.vertices.size() * 6);
    for (const SurfaceMesh::Vertex& v : mesh.vertices) {
      vertices.insert(vertices.end(), {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z});
    }
    std::vector<uint32_t> indices;
    indices.reserve(mesh.triangles.size() * 3);
    for (const SurfaceMesh::Triangle& t : mesh.triangles) {
      indices.insert(indices.end(), {static_cast<uint32_t>(t.i0), static_cast<uint32_t>(t.i1), static_cast<uint32_t>(t.i2)});
    }
    indexCount_ = static_cast<GLsizei>(indices.size());
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    glGenBuffers(1, &vertexBuffer_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)), vertices.data(),
                 GL_STATIC_DRAW);
    glGenBuffers(1, &indexBuffer_);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)), indices.data(),
                 GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), reinterpret_cast<void*>(3 * sizeof(float)));
    glBindVertexArray(0);
    FrameBoundingBox(mesh);
    return true;
  }

  void Draw(int width, int height) const {
    if (!program_ || indexCount_ == 0 || width <= 0 || height <= 0) return;
    float aspect = static_cast<float>(width) / static_cast<float>(height);
    Mat4f viewProjection = PerspectiveFovRH(Radians(kFieldOfViewDegrees), aspect, near_, far_) * view_;
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glUseProgram(program_);
    glUniformMatrix4fv(glGetUniformLocation(program_, "g_mWorldViewProjection"), 1, GL_TRUE, viewProjection.m);
    glUniform3f(glGetUniformLocation(program_, "g_vLightDir"), lightDirection_.x, lightDirection_.y,
                lightDirection_.z);
    glUniform3f(glGetUniformLocation(program_, "g_vColor"), 0.72f, 0.30f, 0.26f);
    glBindVertexArray(vertexArray_);
    glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    glUseProgram(0);
    glDisable(GL_DEPTH_TEST);
  }

  void Release() {
    if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
    if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
    if (indexBuffer_) glDeleteBuffers(1, &indexBuffer_);
    if (program_) glDeleteProgram(program_);
    vertexArray_ = vertexBuffer_ = indexBuffer_ = program_ = 0;
  }

 private:
  static GLuint CompileShader(GLenum type, const char* source, std::wostream* log) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    char message[1024] = {};
    glGetShaderInfoLog(shader, sizeof(message), nullptr, message);
    if (log) *log << L"ERROR: Mesh shader does not compile: " << message << std::endl;
    glDeleteShader(shader);
    return 0;
  }

  static GLuint LinkProgram(std::wostream* log) {
    GLuint vertex = CompileShader(GL_VERTEX_SHADER, kVertexShader, log);
    GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, kFragmentShader, log);
    GLuint program = 0;
    if (vertex && fragment) {
      program = glCreateProgram();
      glAttachShader(program, vertex);
      glAttachShader(program, fragment);
      glLinkProgram(program);
      GLint ok = GL_FALSE;
      glGetProgramiv(program, GL_LINK_STATUS, &ok);
      if (!ok) {
        if (log) *log << L"ERROR: Mesh shader does not link" << std::endl;
        glDeleteProgram(program);
        program = 0;
      }
    }
    if (vertex) glDeleteShader(vertex);
    if (fragment) glDeleteShader(fragment);
    return program;
  }

  // A three-quarter view from the front left and above, the whole box in sight.
  void FrameBoundingBox(const SurfaceMesh& mesh) {
    Vec3f centre = mesh.bboxCenter;
    float radius = std::max(Length(mesh.bboxHalfExtent), 1e-6f);
    Vec3f direction = Normalize(Vec3f(-0.55f, -1.0f, 0.6f));
    float distance = radius / std::sin(Radians(kFieldOfViewDegrees) / 2) * 1.05f;
    Vec3f eye = centre + direction * distance;
    view_ = LookAt(eye, centre, Vec3f(0, 0, 1));
    near_ = std::max(distance - 1.5f * radius, distance * 0.01f);
    far_ = distance + 1.5f * radius;
    // a light over the viewer's left shoulder
    lightDirection_ = Normalize(direction + Vec3f(-0.3f, 0.2f, 0.5f));
  }

  GLuint program_ = 0, vertexArray_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0;
  GLsizei indexCount_ = 0;
  Mat4f view_ = Mat4f::Identity();
  float near_ = kNearPlane, far_ = kFarPlane;
  Vec3f lightDirection_{0, 0, 1};
};

VardelApp::VardelApp(Framework& framework)
    : framework_(framework), log_(&std::wcout), overlay_(&framework.Gui(), 15.0f) {}

VardelApp::~VardelApp() = default;

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

  // 4.-6. the application objects; the scene, or the dialog that asks for one
  if (!LoadSceneOrAsk()) {
    framework_.Shutdown(1);
    return 1;
  }

  // 13. the panels and their shared event handler
  CreateDevicePanel();

  // 14. window, device, main loop
  if (framework_.CreateWindow(L"Vardel") && framework_.CreateDevice(true, 800, 600)) framework_.MainLoop();
  int exitCode = framework_.ExitCode();
  framework_.Shutdown(exitCode);
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

bool VardelApp::LoadScene(const std::wstring& fileName) {
  SurfaceMesh mesh;
  std::wstring meshFile;
  if (!sceneConfig_.Load(fileName, log_)) return false;
  if (!sceneConfig_.Get(L"MESH", meshFile, log_)) return false;
  if (!mesh.ReadObj(meshFile, log_, false)) return false;
  mesh.ComputeNormals();
  mesh.ComputeBoundingBox();
  sceneMesh_ = std::move(mesh);
  return true;
}

bool VardelApp::LoadSceneOrAsk() {
  if (LoadScene(sceneFileName_)) return true;
  std::wstring chosen;
  if (!ChooseFile(L"Load scene file", L"*.txt", 0, L"", L"txt", chosen, false, DialogOwner::None)) return false;
  sceneFileName_ = chosen;
  if (!LoadScene(sceneFileName_)) FatalError(__FILE__, __LINE__, L"Cannot load scene", true);
  return true;
}

void VardelApp::CreateDevicePanel() {
  devicePanel_.Init(&framework_.Gui());
  devicePanel_.SetCallback([this](GuiEvent event, int id) { OnGuiEvent(event, id); });
  devicePanel_.SetSize(kDevicePanelWidth, kDevicePanelHeight);
  devicePanel_.AddButton(kIdToggleFullScreen, L"Toggle full screen", 35, 10, 125, 22);
  devicePanel_.AddButton(kIdChangeDevice, L"Change device (F2)", 35, 34, 125, 22, FunctionKey(2));
  devicePanel_.AddButton(kIdToggleRef, L"Toggle REF (F3)", 35, 58, 125, 22, FunctionKey(3));
  devicePanel_.AddButton(kIdToggleWarp, L"Toggle WARP (F4)", 35, 82, 125, 22, FunctionKey(4));
}

bool VardelApp::IsDeviceAcceptable(const DeviceInfo& /*device*/) { return true; }

bool VardelApp::OnDeviceCreated(const DeviceInfo& /*device*/) {
  meshView_ = std::make_unique<PlainMeshView>();
  return meshView_->Create(sceneMesh_, log_);
}

bool VardelApp::OnSwapChainResized(int width, int height) {
  clientWidth_ = width;
  clientHeight_ = height;
  float aspect = static_cast<float>(width) / static_cast<float>(height);
  projection_ = PerspectiveFovRH(Radians(kFieldOfViewDegrees), aspect, kNearPlane, kFarPlane);
  return true;
}

void VardelApp::OnSwapChainReleasing() {}

void VardelApp::OnDeviceDestroyed() { meshView_.reset(); }

bool VardelApp::OnDeviceSettingsChanging(DeviceSettings& settings) {
  // only the first call sets up the device; later changes are the user's
  if (firstSettingsCall_) {
    firstSettingsCall_ = false;
    settings.presentInterval = 0;
  }
  return true;
}

void VardelApp::OnFrameMove(double time, float /*elapsedTime*/) {
  std::wstring title;
  if (windowTitle_.Update(time, framework_.IsWindowed(), framework_.FramesPerSecond(), false, 0, title)) {
    framework_.SetWindowTitle(title);
  }
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
  if (meshView_) meshView_->Draw(clientWidth_, clientHeight_);
  framework_.BindBackBuffer();
  if (panelsVisible_) {
    PlacePanels();
    devicePanel_.Render(elapsedTime);
    DrawOverlayText();
  }
}

void VardelApp::PlacePanels() {
  devicePanel_.SetLocation(clientWidth_ - kDevicePanelWidth - kPanelMargin, kPanelMargin);
}

void VardelApp::DrawOverlayText() {
  overlay_.SetInsertionPos(2, 0);
  overlay_.SetForegroundColor(1.0f, 1.0f, 0.0f, 1.0f);
  overlay_.DrawTextLine(framework_.FrameStats());
  overlay_.DrawTextLine(framework_.DeviceStats());
}

bool VardelApp::OnMessage(const InputMessage& message) {
  if (framework_.IsSettingsDialogActive()) return framework_.SettingsDialogBox().HandleMessage(message);
  if (panelsVisible_ && devicePanel_.HandleMessage(message)) return true;
  return false;
}

void VardelApp::OnKeyboard(int32_t key, bool keyDown, bool /*altDown*/) {
  if (!keyDown) return;
  if (key == 'U') panelsVisible_ = !panelsVisible_;
}

void VardelApp::OnGuiEvent(GuiEvent /*event*/, int controlId) {
  switch (controlId) {
    case kIdToggleFullScreen:
      framework_.ToggleFullScreen();
      break;
    case kIdChangeDevice:
      framework_.SettingsDialogBox().SetActive(!framework_.IsSettingsDialogActive());
      break;
    case kIdToggleRef:
      framework_.ToggleReference();
      break;
    case kIdToggleWarp:
      framework_.ToggleWarp();
      break;
    default:
      break;
  }
}
