#include "render/cut_scene_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/edit_tool.h"
#include "app/scene.h"
#include "cutsim/cut_sim.h"
#include "framework/back_buffer.h"
#include "framework/png_file.h"
#include "geometry/file_util.h"
#include "geometry/matrix4.h"
#include "geometry/octree.h"
#include "render/effect.h"
#include "render/render_test_context.h"
#include "support/temp_folder.h"

namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr int kWidth = 320, kHeight = 240;

struct Pixel {
  int x, y;
  bool operator<(const Pixel& o) const { return y != o.y ? y < o.y : x < o.x; }
};

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows top-down
  const uint8_t* At(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
  bool IsBlack(int x, int y) const {
    const uint8_t* p = At(x, y);
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
  }
};

// View from an eye looking at a target, z up.
Mat4f LookAt(const Vec3f& eye, const Vec3f& target) {
  Mat4f view;
  EXPECT_TRUE(LightViewMatrix(eye, target - eye, Vec3f(0, 0, 1), view));
  return view;
}

Mat4f Projection(int width, int height) {
  return PerspectiveFovRH(kPi / 4, static_cast<float>(width) / height, 0.001f, 100.0f);
}

// Window pixel (origin top-left) of a world point; false behind the eye.
[[maybe_unused]] bool Project(const Mat4f& viewProjection, const Vec3f& p, int width, int height, float* x, float* y) {
  float in[4] = {p.x, p.y, p.z, 1}, clip[4];
  TransformVector4(viewProjection, in, clip);
  if (clip[3] <= 0) return false;
  *x = (clip[0] / clip[3] * 0.5f + 0.5f) * width;
  *y = (0.5f - clip[1] / clip[3] * 0.5f) * height;
  return true;
}

// Writes an image for a person to look at when VARDEL_TEST_IMAGE_DIR names a folder.
void Keep(const Image& image, const std::string& name) {
  const char* folder = std::getenv("VARDEL_TEST_IMAGE_DIR");
  if (folder == nullptr) return;
  WritePng(std::string(folder) + "/" + name + ".png", image.rgb, image.width, image.height, nullptr);
}

// The liver scene, loaded once for the whole program (it takes a while).
Scene& Liver() {
  static Scene* scene = [] {
    auto* loaded = new Scene;
    std::wostringstream log;
    if (!loaded->Load(WidenPath(std::string(VARDEL_SOURCE_DIR) + "/scenes/LiverScene.txt"), 0, &log)) {
      ADD_FAILURE() << NarrowPath(log.str());
      delete loaded;
      return static_cast<Scene*>(nullptr);
    }
    return loaded;
  }();
  return *scene;
}

// Renders a scene into the framework's back buffer, as the frame loop does.
class SceneFrame {
 public:
  SceneFrame(Scene& scene, int width, int height) : width_(width), height_(height), renderer_(scene, tool_) {}
  ~SceneFrame() {
    renderer_.Release();
    backBuffer_.Release();
  }

  bool Create(std::string* error) {
    std::wostringstream log;
    if (!backBuffer_.Create(width_, height_)) {
      *error = "back buffer";
      return false;
    }
    if (!renderer_.Create(&log)) {
      *error = "renderer: " + NarrowPath(log.str());
      return false;
    }
    if (!renderer_.OnResize(width_, height_, backBuffer_.Framebuffer())) {
      *error = "object-ID target";
      return false;
    }
    renderer_.SetProjection(Projection(width_, height_));
    // the tool stays out of the pictures unless a test moves it in
    ToolPose away;
    away.translation = Vec3d(50, 50, 50);
    renderer_.SetToolPose(away);
    return true;
  }

  void Render(const Mat4f& view, const std::vector<Vec3f>& path = {},
              const std::vector<std::vector<Vec3f>>& sketches = {}) {
    backBuffer_.Bind();
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderer_.Render(view, path, sketches);
  }

  Image Read() const { return Image{width_, height_, backBuffer_.ReadRgb()}; }

  CutSceneRenderer& renderer() { return renderer_; }
  const BackBuffer& backBuffer() const { return backBuffer_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  EditTool tool_;
  BackBuffer backBuffer_;
  CutSceneRenderer renderer_;
};

}  // namespace

class LiverRendererTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    ASSERT_TRUE(&Liver() != nullptr);
    frame_ = std::make_unique<SceneFrame>(Liver(), kWidth, kHeight);
    std::string error;
    ASSERT_TRUE(frame_->Create(&error)) << error;
    const Scene& scene = Liver();
    centre_ = scene.mesh.bboxCenter;
    half_ = scene.mesh.bboxHalfExtent;
  }
  void TearDown() override { frame_.reset(); }

  CutSceneRendererOptions& options() { return frame_->renderer().options; }

  std::unique_ptr<SceneFrame> frame_;
  Vec3f centre_, half_;
};

TEST_F(LiverRendererTest, Overview) {
  const Mat4f view = LookAt(centre_ + Vec3f(-0.25f, -0.35f, 0.3f), centre_);
  frame_->Render(view);
  Keep(frame_->Read(), "liver_overview");
}
