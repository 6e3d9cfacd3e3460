#include "render/cut_scene_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

namespace {

// A surface pixel of the body: reddish with some green, neither a pure
// outline colour nor the cut material (which has no green of its own).
bool IsSurfaceColour(const uint8_t* p) { return p[0] >= 20 && 3 * p[1] >= p[0] && p[1] < p[0]; }
// The cut material: red with at most a grey highlight.
bool IsCutColour(const uint8_t* p) { return p[0] >= 20 && 4 * p[1] < p[0] && !(p[0] > 250 && p[1] == 0 && p[2] == 0); }

// The octree's cross-section: blue inner cells, red leaves.
bool IsOutlineColour(const uint8_t* p) {
  return (p[0] == 255 && p[1] == 0 && p[2] == 0) || (p[0] == 0 && p[1] == 0 && p[2] == 255);
}

int Count(const Image& image, bool (*test)(const uint8_t*)) {
  int n = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) n += test(image.At(x, y));
  return n;
}

// Message boxes of the effects, caught instead of shown.
struct ShownMessages {
  static inline std::vector<std::wstring> texts;
  static void Show(const std::wstring&, const std::wstring& text) { texts.push_back(text); }
};

// Camera-space direction of the eye ray through the centre of a window pixel.
Vec3f PixelRay(int x, int y, int width, int height) {
  const float t = std::tan(kPi / 8), aspect = static_cast<float>(width) / height;
  const float nx = (x + 0.5f) / width * 2 - 1, ny = 1 - (y + 0.5f) / height * 2;
  return Normalize(Vec3f(nx * aspect * t, ny * t, -1));
}

}  // namespace

TEST_F(LiverRendererTest, BodyCoversTheProjectionOfItsSurface) {
  options().renderGround = false;
  const Mat4f view = LookAt(centre_ + Vec3f(-0.25f, -0.35f, 0.3f), centre_);
  frame_->Render(view);
  const Image image = frame_->Read();
  Keep(image, "liver_body");

  const Mat4f viewProjection = Projection(kWidth, kHeight) * view;
  float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
  int onBody = 0, projected = 0;
  for (const Vec3f& p : Liver().octree->surfacePositions) {
    float x, y;
    ASSERT_TRUE(Project(viewProjection, p, kWidth, kHeight, &x, &y));
    left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
    ++projected;
    // a vertex on the silhouette may round to the pixel beside the drawn one
    bool drawn = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) drawn |= !image.IsBlack(static_cast<int>(x) + dx, static_cast<int>(y) + dy);
    onBody += drawn;
  }
  // the whole body is in the picture, and not a sliver of it
  ASSERT_GT(left, 2);
  ASSERT_LT(right, kWidth - 2);
  ASSERT_GT(right - left, kWidth / 3);
  // every surface vertex lands on a drawn pixel
  EXPECT_GT(onBody, 0.995 * projected);
  // and nothing is drawn outside the projected surface
  int outside = 0, inside = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool drawn = !image.IsBlack(x, y);
      const bool inBox = x >= left - 1 && x <= right + 1 && y >= top - 1 && y <= bottom + 1;
      outside += drawn && !inBox;
      inside += drawn && inBox;
    }
  }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(inside, 0.3 * (right - left) * (bottom - top));
  EXPECT_EQ(Count(image, IsCutColour), 0);
}

TEST_F(LiverRendererTest, ShadowDarkensTheGroundUnderTheBody) {
  // from high above; the default light is straight above the box's corner
  const Mat4f view = LookAt(centre_ + Vec3f(0, -0.05f, 0.7f), centre_);
  options().renderGround = false;
  frame_->Render(view);
  const Image body = frame_->Read();
  options().renderGround = true;
  options().renderSurface = false;
  frame_->Render(view);
  const Image shadowed = frame_->Read();
  options().enableShadows = false;
  frame_->Render(view);
  const Image open = frame_->Read();
  Keep(shadowed, "liver_shadow_only");

  int left = kWidth, right = 0, top = kHeight, bottom = 0;
  int under = 0, darkUnder = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (body.IsBlack(x, y)) continue;
      left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      ++under;
      darkUnder += shadowed.At(x, y)[0] < 0.8 * open.At(x, y)[0];
    }
  }
  ASSERT_GT(under, 1000);
  EXPECT_GT(darkUnder, 0.9 * under);
  // the ground well away from the body keeps its colour; the shadow reaches a
  // little beyond the silhouette, away from the light
  const int marginX = (right - left) / 3, marginY = (bottom - top) / 3;
  int away = 0, darkAway = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (x >= left - marginX && x <= right + marginX && y >= top - marginY && y <= bottom + marginY) continue;
      ++away;
      darkAway += std::abs(shadowed.At(x, y)[0] - open.At(x, y)[0]) > 2;
    }
  }
  ASSERT_GT(away, 1000);
  EXPECT_EQ(darkAway, 0);
  // the ground is lit sand where nothing shadows it
  EXPECT_GT(open.At(left, top)[0], 150);
}

TEST_F(LiverRendererTest, WireFrameShowsTheTrianglesAndNothingElseOfTheSurface) {
  // close to the top of the body, where a triangle spans several pixels
  const Vec3f top(centre_.x, centre_.y, 2 * half_.z);
  const Mat4f view = LookAt(top + Vec3f(-0.004f, -0.006f, 0.03f), top - Vec3f(0, 0, 0.01f));
  options().renderGround = false;
  frame_->Render(view);
  const Image solid = frame_->Read();
  options().wireFrame = true;
  frame_->Render(view);
  const Image wire = frame_->Read();
  Keep(wire, "liver_wire_close");

  // the middle of the window lies on the body
  int solidDrawn = 0, wireDrawn = 0, differing = 0, total = 0;
  for (int y = kHeight / 4; y < 3 * kHeight / 4; ++y) {
    for (int x = kWidth / 4; x < 3 * kWidth / 4; ++x) {
      ++total;
      solidDrawn += !solid.IsBlack(x, y);
      wireDrawn += !wire.IsBlack(x, y);
      differing += std::memcmp(solid.At(x, y), wire.At(x, y), 3) != 0;
    }
  }
  EXPECT_EQ(solidDrawn, total);
  EXPECT_GT(wireDrawn, total / 20);
  EXPECT_LT(wireDrawn, total * 3 / 4);
  EXPECT_GT(differing, total / 4);
}

TEST_F(LiverRendererTest, TheSurfaceIsClippedOnlyWithShadowsAndTheOctreeShown) {
  // from the far side in y: clipping drops the half of the body next to the eye
  const Mat4f view = LookAt(centre_ + Vec3f(-0.1f, 0.45f, 0.2f), centre_);
  options().renderGround = false;
  options().clipLevel = static_cast<int32_t>(centre_.y / Liver().voxelSize.y);
  struct Case {
    bool shadows, wireFrame, octree, clipped;
  };
  const Case cases[] = {
      {false, false, false, false}, {false, false, true, false}, {true, false, false, false},
      {true, false, true, true},    {false, true, false, false}, {false, true, true, false},
      {true, true, false, false},   {true, true, true, true},
  };
  Image whole[2];  // without the octree, solid and wire frame
  for (const Case& c : cases) {
    options().enableShadows = c.shadows;
    options().wireFrame = c.wireFrame;
    options().renderOctree = c.octree;
    frame_->Render(view);
    const Image image = frame_->Read();
    SCOPED_TRACE(::testing::Message() << "shadows " << c.shadows << " wire " << c.wireFrame << " octree " << c.octree);
    if (!c.octree) {
      whole[c.wireFrame] = image;
      ASSERT_GT(Count(image, IsSurfaceColour), 2000);
      continue;
    }
    // surface pixels of the whole body that are now neither surface nor a cross-section outline
    const Image& reference = whole[c.wireFrame];
    ASSERT_EQ(reference.width, kWidth);
    int surface = 0, lost = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (!IsSurfaceColour(reference.At(x, y))) continue;
        ++surface;
        lost += !IsSurfaceColour(image.At(x, y)) && !IsOutlineColour(image.At(x, y));
      }
    }
    if (c.clipped) {
      EXPECT_GT(lost, 0.2 * surface);
      if (!c.wireFrame) Keep(image, "liver_clipped");
    } else {
      EXPECT_LT(lost, 0.01 * surface);
    }
  }
}

TEST_F(LiverRendererTest, HandlesOfRenderVerticesArePickedByTheirRenderIndex) {
  const CutSim& sim = *Liver().cutSim;
  // near the top of the body, a handle is a few pixels wide
  const Vec3f top(centre_.x, centre_.y, 2 * half_.z);
  const Vec3f eye = top + Vec3f(-0.01f, -0.02f, 0.04f);
  const Mat4f view = LookAt(eye, top - Vec3f(0, 0, 0.01f));
  const Mat4f viewProjection = Projection(kWidth, kHeight) * view;
  // the render vertex nearest to the eye is in front of every other handle
  int nearest = -1;
  float nearestDistance = std::numeric_limits<float>::infinity();
  Pixel at{0, 0};
  for (size_t r = 0; r < sim.renderVertices.size(); ++r) {
    const Vec3d& x = sim.levelVertices[0][sim.renderVertices[r]].x;
    const Vec3f p(x);
    float px, py;
    if (!Project(viewProjection, p, kWidth, kHeight, &px, &py)) continue;
    if (px < 10 || py < 10 || px > kWidth - 10 || py > kHeight - 10) continue;
    if (Length(p - eye) < nearestDistance) {
      nearestDistance = Length(p - eye);
      nearest = static_cast<int>(r);
      at = {static_cast<int>(px), static_cast<int>(py)};
    }
  }
  ASSERT_GE(nearest, 0);

  struct Case {
    bool renderForces, forcesActive;
    uint32_t expected;
  };
  const uint32_t handle = (1u << 28) | static_cast<uint32_t>(nearest);
  const Case cases[] = {{true, false, handle}, {false, true, handle}, {true, true, handle}, {false, false, 0u}};
  for (const Case& c : cases) {
    options().renderForces = c.renderForces;
    options().forcesActive = c.forcesActive;
    frame_->Render(view);
    EXPECT_EQ(frame_->renderer().ReadObjectId(at.x, at.y), c.expected)
        << "renderForces " << c.renderForces << " forcesActive " << c.forcesActive;
    std::set<uint32_t> ids;
    frame_->renderer().ReadObjectIds(0, 0, kWidth - 1, kHeight - 1, ids);
    if (c.expected == 0) {
      EXPECT_EQ(ids, std::set<uint32_t>{0u});
    } else {
      // many handles show, every one of them a render vertex of kind 1
      EXPECT_GT(ids.size(), 20u);
      for (uint32_t id : ids) {
        if (id == 0) continue;
        EXPECT_EQ(id >> 28, 1u);
        EXPECT_LT(id & 0x0FFFFFFFu, sim.renderVertices.size());
      }
    }
  }
  if (std::getenv("VARDEL_TEST_IMAGE_DIR")) {
    options().renderForces = true;
    frame_->Render(view);
    Keep(frame_->Read(), "liver_handles");
  }
}

TEST_F(LiverRendererTest, ARectangleReturnsExactlyTheHandlesItCovers) {
  const CutSim& sim = *Liver().cutSim;
  const Scene& scene = Liver();
  const Vec3f top(centre_.x, centre_.y, 2 * half_.z);
  const Mat4f view = LookAt(top + Vec3f(-0.01f, -0.02f, 0.04f), top - Vec3f(0, 0, 0.01f));
  options().renderForces = true;
  options().renderSurface = false;
  options().renderGround = false;
  frame_->Render(view);

  // the nearest handle sphere hit by each pixel's eye ray; pixels whose ray
  // grazes a sphere or two spheres at once may go either way
  const float radius = scene.vertexHandleRadius;
  std::vector<Vec3f> centres;
  for (int32_t v : sim.renderVertices) centres.push_back(TransformPoint(view, Vec3f(sim.levelVertices[0][v].x)));
  const int x0 = 150, y0 = 60, x1 = 110, y1 = 140;  // corners in any order
  std::set<uint32_t> certain, possible;
  for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y) {
    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) {
      const Vec3f d = PixelRay(x, y, kWidth, kHeight);
      float best = std::numeric_limits<float>::infinity(), second = best;
      uint32_t bestId = 0;
      bool grazing = false;
      for (size_t r = 0; r < centres.size(); ++r) {
        const Vec3f& c = centres[r];
        const float b = Dot(d, c);
        const float miss = std::sqrt(std::max(Dot(c, c) - b * b, 0.0f));
        if (std::fabs(miss - radius) < 0.01f * radius) {
          grazing = true;
          possible.insert((1u << 28) | static_cast<uint32_t>(r));
        }
        if (miss > radius) continue;
        const float t = b - std::sqrt(radius * radius - miss * miss);
        if (t <= 0) continue;
        if (t < best) {
          second = best;
          best = t;
          bestId = (1u << 28) | static_cast<uint32_t>(r);
        } else {
          second = std::min(second, t);
        }
      }
      if (second - best < 1e-4f * best) grazing = true;
      (grazing ? possible : certain).insert(bestId);
      if (grazing) possible.insert(0u);
    }
  }
  std::set<uint32_t> ids;
  frame_->renderer().ReadObjectIds(x0, y0, x1, y1, ids);
  ASSERT_GT(certain.size(), 5u);
  for (uint32_t id : certain) EXPECT_TRUE(ids.count(id)) << std::hex << id;
  for (uint32_t id : ids) EXPECT_TRUE(certain.count(id) || possible.count(id)) << std::hex << id;
  // reading pixel by pixel gives the same set
  std::set<uint32_t> single;
  for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) single.insert(frame_->renderer().ReadObjectId(x, y));
  EXPECT_EQ(single, ids);
}

TEST_F(LiverRendererTest, ReadingOutsideTheWindowGivesNothingAndLeavesTheFrameReadable) {
  options().renderForces = true;
  const Mat4f view = LookAt(centre_ + Vec3f(-0.25f, -0.35f, 0.3f), centre_);
  frame_->Render(view);
  CutSceneRenderer& renderer = frame_->renderer();
  for (const Pixel& p : {Pixel{kWidth, 10}, Pixel{10, kHeight}, Pixel{-1, 10}, Pixel{10, -1}, Pixel{kWidth, kHeight}})
    EXPECT_EQ(renderer.ReadObjectId(p.x, p.y), 0u) << p.x << "," << p.y;
  std::set<uint32_t> ids;
  renderer.ReadObjectIds(kWidth + 5, 3, kWidth + 40, 30, ids);
  renderer.ReadObjectIds(3, -40, 30, -2, ids);
  EXPECT_TRUE(ids.empty());
  // a rectangle reaching past the window is cut to it
  renderer.ReadObjectIds(-100, -100, kWidth + 100, kHeight + 100, ids);
  EXPECT_GT(ids.size(), 10u);

  // the frame's colour image is the read buffer again, one draw buffer is bound
  glBindFramebuffer(GL_FRAMEBUFFER, frame_->backBuffer().Framebuffer());
  GLint readBuffer = 0, drawBuffer1 = 0;
  glGetIntegerv(GL_READ_BUFFER, &readBuffer);
  glGetIntegerv(GL_DRAW_BUFFER1, &drawBuffer1);
  EXPECT_EQ(readBuffer, GL_COLOR_ATTACHMENT0);
  EXPECT_EQ(drawBuffer1, GL_NONE);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

  // after a resize the ID image has the new size
  renderer.ReleaseSizeDependent();
  EXPECT_EQ(renderer.ReadObjectId(10, 10), 0u);
  BackBuffer smaller;
  ASSERT_TRUE(smaller.Create(kWidth / 2, kHeight / 2));
  ASSERT_TRUE(renderer.OnResize(kWidth / 2, kHeight / 2, smaller.Framebuffer()));
  renderer.SetProjection(Projection(kWidth / 2, kHeight / 2));
  smaller.Bind();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  renderer.Render(view, {}, {});
  EXPECT_EQ(renderer.ReadObjectId(kWidth / 2, 5), 0u);
  std::set<uint32_t> small;
  renderer.ReadObjectIds(0, 0, kWidth, kHeight, small);
  EXPECT_GT(small.size(), 5u);
  renderer.ReleaseSizeDependent();
  smaller.Release();
}

TEST_F(LiverRendererTest, ArrowsAndSurfaceVerticesWriteTheirKinds) {
  CutSim& sim = *Liver().cutSim;
  const Scene& scene = Liver();
  const Vec3f top(centre_.x, centre_.y, 2 * half_.z);
  const Vec3f eye = top + Vec3f(-0.01f, -0.03f, 0.04f);
  const Mat4f view = LookAt(eye, top - Vec3f(0, 0, 0.01f));
  // a force, pulling up and sideways, on the render vertex nearest to the eye
  // among those in the middle of the window
  const Mat4f viewProjection = Projection(kWidth, kHeight) * view;
  int chosen = -1;
  float closest = 1e9f;
  for (size_t r = 0; r < sim.renderVertices.size(); ++r) {
    const Vec3f p(sim.levelVertices[0][sim.renderVertices[r]].x);
    float px, py;
    if (!Project(viewProjection, p, kWidth, kHeight, &px, &py)) continue;
    if (std::fabs(px - kWidth / 2.0f) > kWidth / 6.0f || std::fabs(py - kHeight / 2.0f) > kHeight / 6.0f) continue;
    if (Length(p - eye) < closest) closest = Length(p - eye), chosen = static_cast<int>(r);
  }
  ASSERT_GE(chosen, 0);
  const int vertex = sim.renderVertices[chosen];
  const Vec3d savedForce = sim.vertexForce[0][vertex];
  // ten times the force, scaled, is 8 mm long
  const Vec3d force = Normalize(Vec3d(1, 0, 1)) * (0.008 / (10 * scene.forceArrowScale));
  sim.vertexForce[0][vertex] = force;
  options().renderForces = true;
  options().surfaceVertices = true;
  frame_->Render(view);
  sim.vertexForce[0][vertex] = savedForce;
  Keep(frame_->Read(), "liver_arrow");

  std::set<uint32_t> ids;
  frame_->renderer().ReadObjectIds(0, 0, kWidth - 1, kHeight - 1, ids);
  std::set<uint32_t> arrows;
  int surfaceVertexIds = 0;
  for (uint32_t id : ids) {
    const uint32_t kind = id >> 28, index = id & 0x0FFFFFFFu;
    if (kind == 2) arrows.insert(index);
    if (kind == 3) {
      ++surfaceVertexIds;
      EXPECT_LT(index, Liver().octree->surfacePositions.size());
    }
    EXPECT_LE(kind, 3u);
  }
  // only the vertex with a force has a visible arrow
  EXPECT_EQ(arrows, std::set<uint32_t>{static_cast<uint32_t>(chosen)});
  EXPECT_GT(surfaceVertexIds, 10);
  // the arrow's middle lies where its axis projects
  const Vec3f base = Vec3f(sim.levelVertices[0][vertex].x) + Vec3f(Normalize(force)) * (1.5f * scene.vertexHandleRadius);
  float mx, my;
  ASSERT_TRUE(Project(viewProjection, base + Vec3f(Normalize(force)) * 0.004f, kWidth, kHeight, &mx, &my));
  EXPECT_EQ(frame_->renderer().ReadObjectId(static_cast<int>(mx), static_cast<int>(my)),
            (2u << 28) | static_cast<uint32_t>(chosen));
}

TEST_F(LiverRendererTest, TheEditToolIsDrawnAtItsPose) {
  options().renderGround = false;
  options().renderSurface = false;
  const Vec3f place(0.2f, 0, 0.2f);
  const Mat4f view = LookAt(place + Vec3f(-0.1f, -0.1f, 0.05f), place);
  frame_->Render(view);
  const Image away = frame_->Read();
  frame_->renderer().SetToolPose(EditTool::StartPose());
  frame_->Render(view);
  const Image placed = frame_->Read();
  Keep(placed, "edit_tool");
  int drawn = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) drawn += !placed.IsBlack(x, y) && away.IsBlack(x, y);
  EXPECT_GT(drawn, 500);
}

TEST_F(LiverRendererTest, AMissingEffectFileFailsCreationWithItsPath) {
  TempFolder folder;
  const std::wstring path = WidenPath(folder.Path()) + L"/";
  SceneFrame frame(Liver(), 64, 48);
  GLTools::SetMessageBoxHandler(&ShownMessages::Show);
  ShownMessages::texts.clear();
  frame.renderer().SetEffectFolder(path);
  std::wostringstream log;
  EXPECT_FALSE(frame.renderer().Create(&log));
  ASSERT_EQ(ShownMessages::texts.size(), 1u);
  EXPECT_EQ(ShownMessages::texts[0], L"Effect file \"" + path + L"cutscenerenderer.fxo\" not found");

  // with the scene effect present the batcher's file is the one missing
  std::filesystem::copy_file(NarrowPath(GLTools::ExecutableFolder()) + "cutscenerenderer.fxo",
                             folder.File("cutscenerenderer.fxo"));
  ShownMessages::texts.clear();
  EXPECT_FALSE(frame.renderer().Create(&log));
  ASSERT_EQ(ShownMessages::texts.size(), 1u);
  EXPECT_EQ(ShownMessages::texts[0], L"Effect file \"" + path + L"simpledraw.fxo\" not found");
  GLTools::SetMessageBoxHandler(nullptr);
  // a failed creation draws nothing and picks nothing
  frame.renderer().Render(Mat4f::Identity(), {}, {});
  EXPECT_EQ(frame.renderer().ReadObjectId(3, 3), 0u);
}

namespace {

// A box scene 0.8 x 0.4 x 0.4 with voxels of 0.1, quick to build.
bool LoadBoxScene(const TempFolder& folder, Scene& scene, std::string* log) {
  folder.Write("box.obj",
               "v 0 0 0\nv 0.8 0 0\nv 0 0.4 0\nv 0.8 0.4 0\nv 0 0 0.4\nv 0.8 0 0.4\nv 0 0.4 0.4\nv 0.8 0.4 0.4\n"
               "f 1 5 7\nf 1 7 3\nf 2 4 8\nf 2 8 6\nf 1 2 6\nf 1 6 5\nf 3 7 8\nf 3 8 4\nf 1 3 4\nf 1 4 2\n"
               "f 5 6 8\nf 5 8 7\n");
  folder.Write("scene.txt",
               "MESH: box.obj\nVOXEL_SIZE: 0.1 0.1 0.1\nELASTIC_MODULUS: 10000\nPOISSON_RATIO: 0.3\nDENSITY: 1000\n"
               "DAMPING_FACTOR: 1\nTIME_STEP: 0.02\nNUM_LEVELS: 3\nNUM_EMBEDDED_LEVELS: 1\n");
  std::wostringstream text;
  const bool ok = scene.Load(folder.WideFile("scene.txt"), 0, &text);
  *log = NarrowPath(text.str());
  return ok;
}

// Removes the extracted surface, as an octree without any surface has it.
void ClearSurface(Octree& octree) {
  octree.surfaceTriangles.clear();
  octree.surfaceTriangleTag.clear();
  octree.vertexTriangleCount.clear();
  octree.vertexTriangleStart.assign(1, 0);
  octree.vertexTriangles.clear();
  octree.surfaceVertexLevel.clear();
  octree.surfaceVertexCell.clear();
  octree.surfaceVertexLocal.clear();
  octree.surfacePositions.clear();
  octree.surfacePreviousPositions.clear();
  octree.surfaceVertexCount = 0;
}

std::set<uint32_t> Kinds(const std::set<uint32_t>& ids) {
  std::set<uint32_t> kinds;
  for (uint32_t id : ids) kinds.insert(id >> 28);
  return kinds;
}

}  // namespace

class BoxRendererTest : public GLTest {};

TEST_F(BoxRendererTest, WithoutSurfaceOnlyTheRenderVerticesArePickable) {
  TempFolder folder;
  Scene scene;
  std::string log;
  ASSERT_TRUE(LoadBoxScene(folder, scene, &log)) << log;
  SceneFrame frame(scene, kWidth, kHeight);
  std::string error;
  ASSERT_TRUE(frame.Create(&error)) << error;
  CutSceneRendererOptions& options = frame.renderer().options;
  options.renderGround = false;
  options.surfaceVertices = true;
  options.renderForces = true;
  const Mat4f view = LookAt(Vec3f(-0.3f, -0.7f, 0.8f), Vec3f(0.4f, 0.2f, 0.2f));

  frame.Render(view);
  const Image before = frame.Read();
  std::set<uint32_t> ids;
  frame.renderer().ReadObjectIds(0, 0, kWidth - 1, kHeight - 1, ids);
  EXPECT_EQ(Kinds(ids), (std::set<uint32_t>{0, 1, 3}));
  EXPECT_GT(Count(before, IsSurfaceColour), 1000);

  // a device created again draws the same frame
  frame.renderer().Release();
  ASSERT_TRUE(frame.renderer().Create(nullptr));
  ASSERT_TRUE(frame.renderer().OnResize(kWidth, kHeight, frame.backBuffer().Framebuffer()));
  frame.Render(view);
  EXPECT_EQ(frame.Read().rgb, before.rgb);

  ClearSurface(*scene.octree);
  frame.Render(view);
  const Image after = frame.Read();
  Keep(after, "box_without_surface");
  ids.clear();
  frame.renderer().ReadObjectIds(0, 0, kWidth - 1, kHeight - 1, ids);
  EXPECT_EQ(Kinds(ids), (std::set<uint32_t>{0, 1}));
  EXPECT_EQ(Count(after, IsSurfaceColour), 0);
  EXPECT_GT(ids.size(), 10u);
}

TEST_F(GLTest, CutSurfaceColourAppearsOnlyAfterTheCut) {
  Scene scene;
  std::wostringstream log;
  ASSERT_TRUE(scene.Load(WidenPath(std::string(VARDEL_SOURCE_DIR) + "/scenes/LiverScene.txt"), 0, &log))
      << NarrowPath(log.str());
  SceneFrame frame(scene, kWidth, kHeight);
  std::string error;
  ASSERT_TRUE(frame.Create(&error)) << error;
  const Vec3f centre = scene.mesh.bboxCenter, half = scene.mesh.bboxHalfExtent;
  const float sy = static_cast<float>(scene.voxelSize.y);
  // the cut y = cutY through the whole body; the surface is clipped two voxels above it
  const int32_t cutVoxel = static_cast<int32_t>(centre.y / sy);
  const float cutY = (cutVoxel + 0.37f) * sy;
  CutSceneRendererOptions& options = frame.renderer().options;
  options.renderGround = false;
  options.renderOctree = true;
  options.clipLevel = cutVoxel + 2;
  // looking from +y into the clipped body at the face of the cut, close
  // enough that the outlines of the cross-section leave most of it visible
  const Vec3f target(centre.x, cutY, centre.z);
  const Mat4f view = LookAt(target + Vec3f(-0.01f, 0.08f, 0.04f), target);

  frame.Render(view);
  const Image before = frame.Read();
  EXPECT_EQ(Count(before, IsCutColour), 0);

  CutSim& sim = *scene.cutSim;
  Octree& octree = *scene.octree;
  sim.StoreCornerPositionsInOctree();
  const float x0 = -0.05f, x1 = 2 * half.x + 0.05f, z0 = -0.05f, z1 = 2 * half.z + 0.05f;
  octree.InsertCutTriangle({x0, cutY, z0}, {x1, cutY, z0}, {x0, cutY, z1}, 1);
  octree.InsertCutTriangle({x1, cutY, z0}, {x1, cutY, z1}, {x0, cutY, z1}, 1);
  octree.ExtractSurface();
  ASSERT_TRUE(sim.BuildHierarchy(true, &log)) << NarrowPath(log.str());

  frame.Render(view);
  const Image after = frame.Read();
  Keep(before, "liver_before_cut");
  Keep(after, "liver_after_cut");
  // the cut face fills the middle of the picture between the outlines
  const int cutPixels = Count(after, IsCutColour);
  EXPECT_GT(cutPixels, kWidth * kHeight / 4);
  int middle = 0, cutInMiddle = 0;
  for (int y = kHeight / 3; y < 2 * kHeight / 3; ++y) {
    for (int x = kWidth / 3; x < 2 * kWidth / 3; ++x) {
      if (IsOutlineColour(after.At(x, y))) continue;
      ++middle;
      cutInMiddle += IsCutColour(after.At(x, y));
    }
  }
  EXPECT_GT(cutInMiddle, 0.9 * middle);

  // without clipping the cut stays closed inside the body
  options.renderOctree = false;
  frame.Render(view);
  EXPECT_LT(Count(frame.Read(), IsCutColour), cutPixels / 20);
}
