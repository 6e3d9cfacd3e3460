#include "render/cut_scene_renderer_effect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "geometry/matrix4.h"
#include "render/buffer.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "render/render_test_context.h"

using namespace GLTools;

namespace {

constexpr int kSize = 96;
constexpr float kPi = 3.14159265358979323846f;

struct Corner {
  Vec3f position, normal, color;
  int32_t cutId;
};
static_assert(sizeof(Corner) == CutSceneRendererEffect::kCornerBytes);

struct Pixel {
  int x, y;
};

// window pixel of a world point under projection * view
Pixel Project(const Mat4f& viewProjection, const Vec3f& p) {
  float in[4] = {p.x, p.y, p.z, 1}, clip[4];
  TransformVector4(viewProjection, in, clip);
  float x = clip[0] / clip[3], y = clip[1] / clip[3];
  return {static_cast<int>((x * 0.5f + 0.5f) * kSize), static_cast<int>((0.5f - y * 0.5f) * kSize)};
}

GLuint StaticBuffer(const void* data, size_t bytes) {
  GLuint buffer = 0;
  EXPECT_TRUE(CreateBuffer(GL_ARRAY_BUFFER, bytes, BufferUsage::Static, data, &buffer));
  return buffer;
}

// The two rows of matrices of one arrow or cylinder instance.
struct Instance {
  float worldView[16];
  float transInvWorldView[16];
};
static_assert(sizeof(Instance) == CutSceneRendererEffect::kInstanceBytes);

Instance MakeInstance(const Mat4f& worldView) {
  Instance instance;
  std::memcpy(instance.worldView, worldView.m, sizeof(instance.worldView));
  Mat4f t = TransposedInverse(worldView);
  std::memcpy(instance.transInvWorldView, t.m, sizeof(instance.transInvWorldView));
  return instance;
}

class CutSceneRendererEffectTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    ASSERT_TRUE(target_.Create(kSize, kSize, true));
    ASSERT_TRUE(effect_.Create(false));
    projection_ = PerspectiveFovRH(kPi / 4, 1, 0.1f, 100);
    effect_.projection->SetMatrix(projection_);
    effect_.lightPosCS->SetVector(0, 0, 0, 1);
    effect_.invViewLight->SetMatrix(Mat4f::Identity());
    effect_.world->SetMatrix(Mat4f::Identity());
    SetView(Mat4f::Identity());
  }
  void TearDown() override {
    for (GLuint b : buffers_) glDeleteBuffers(1, &b);
    effect_.Release();
    target_.Release();
  }

  void SetView(const Mat4f& worldView) {
    effect_.worldView->SetMatrix(worldView);
    effect_.transInvWorldView->SetMatrix(TransposedInverse(worldView));
  }

  GLuint Buffer(const void* data, size_t bytes) {
    buffers_.push_back(StaticBuffer(data, bytes));
    return buffers_.back();
  }

  // Draws a triangle list of corners with a pass and the cut-surface layout.
  void DrawCorners(const Pass* pass, const std::vector<Corner>& corners) {
    pass->Apply();
    VertexStream stream{Buffer(corners.data(), corners.size() * sizeof(Corner)), sizeof(Corner), 0};
    effect_.cutSurfaceLayout->Bind(&stream, 1, 0);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(corners.size()));
  }

  // Square [-1, 1]^2 at depth z facing the eye (or away from it), left half tag 0, right half `tag`.
  static std::vector<Corner> TwoTagSquare(float z, int32_t tag, bool facingEye) {
    const Vec3f n(0, 0, facingEye ? 1.0f : -1.0f), c(0.4f, 0.1f, 0.1f);
    std::vector<Corner> corners;
    for (int half = 0; half < 2; ++half) {
      float x0 = half == 0 ? -1.0f : 0.0f, x1 = x0 + 1;
      int32_t id = half == 0 ? 0 : tag;
      Vec3f a(x0, -1, z), b(x1, -1, z), d(x1, 1, z), e(x0, 1, z);
      std::vector<Vec3f> order = facingEye ? std::vector<Vec3f>{a, b, d, a, d, e} : std::vector<Vec3f>{a, d, b, a, e, d};
      for (const Vec3f& p : order) corners.push_back({p, n, c, id});
    }
    return corners;
  }

  OffscreenTarget target_;
  CutSceneRendererEffect effect_;
  Mat4f projection_;
  std::vector<GLuint> buffers_;
};

}  // namespace

TEST_F(CutSceneRendererEffectTest, SphereImpostorsAreRoundAndWriteTheirObjectIds) {
  UnitBox<VP> box;
  ASSERT_TRUE(box.Create());
  const float radius = 0.3f;
  // the third sphere hides behind the second one on the same eye ray
  const Vec3f centres[3] = {{-0.5f, 0, -4}, {0.5f, 0, -4}, {0.75f, 0, -6}};
  const int8_t types[3] = {0, 1, 0};
  VertexStream streams[2] = {{Buffer(centres, sizeof(centres)), 12, 0}, {Buffer(types, sizeof(types)), 1, 0}};
  effect_.sphereRadius->SetFloat(radius);

  for (bool surfaceVertices : {false, true}) {
    target_.Clear(0, 0, 0);
    const Pass* pass = surfaceVertices ? effect_.renderSurfaceVertices : effect_.renderSimulationVertices;
    box.DrawInstanced(*pass, *effect_.vertexSphereLayout, streams, 2, 3);
    uint32_t kind = surfaceVertices ? 3u : 1u;
    Pixel first = Project(projection_, centres[0]), second = Project(projection_, centres[1]);
    EXPECT_EQ(target_.ObjectId(first.x, first.y), kind << 28 | 0u);
    EXPECT_EQ(target_.ObjectId(second.x, second.y), kind << 28 | 1u);
    EXPECT_EQ(target_.ObjectId(2, 2), 0u);
    // inside the box but outside the sphere: the box's corner direction stays empty
    Pixel corner = Project(projection_, centres[0] + Vec3f(0.8f, 0.8f, 0) * radius);
    Pixel rim = Project(projection_, centres[0] + Vec3f(0.6f, 0.6f, 0) * radius);
    EXPECT_EQ(target_.ObjectId(corner.x, corner.y), 0u);
    EXPECT_EQ(target_.ObjectId(rim.x, rim.y), kind << 28 | 0u);
    std::set<uint32_t> seen;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) seen.insert(target_.ObjectId(x, y));
    EXPECT_EQ(seen, (std::set<uint32_t>{0u, kind << 28 | 0u, kind << 28 | 1u}));
    if (!surfaceVertices) {
      auto free = target_.Color(first.x, first.y), fixed = target_.Color(second.x, second.y);
      EXPECT_GT(free[1], free[2]);    // free handles are green
      EXPECT_GT(fixed[2], fixed[1]);  // fixed handles are blue
    }
  }
  box.Release();
}

TEST_F(CutSceneRendererEffectTest, ArrowInstancesWriteKindTwoAndCollapsedOnesVanish) {
  Arrow<VPN> arrow(32, 0.1f, 0.2f, 0.6f, 0.4f);
  ASSERT_TRUE(arrow.Create());
  Instance instances[2];
  Mat4f collapsed;
  collapsed.m[15] = 1;
  instances[0] = MakeInstance(collapsed);
  std::memset(instances[0].transInvWorldView, 0, sizeof(instances[0].transInvWorldView));
  // along +x from (-0.5, 0, -4), one unit long
  instances[1] = MakeInstance(TranslationMatrix({-0.5f, 0, -4}) * RotationYMatrix(kPi / 2));
  VertexStream stream{Buffer(instances, sizeof(instances)), sizeof(Instance), 0};
  target_.Clear(0, 0, 0);
  effect_.setSolidRenderMode->Apply();
  arrow.DrawInstanced(*effect_.renderForceArrows, *effect_.instancedMeshLayout, &stream, 1, 2);
  Pixel shaft = Project(projection_, {-0.2f, 0, -4}), head = Project(projection_, {0.3f, 0.05f, -4});
  EXPECT_EQ(target_.ObjectId(shaft.x, shaft.y), 2u << 28 | 1u);
  EXPECT_EQ(target_.ObjectId(head.x, head.y), 2u << 28 | 1u);
  Pixel beyondTip = Project(projection_, {0.6f, 0, -4});
  EXPECT_EQ(target_.ObjectId(beyondTip.x, beyondTip.y), 0u);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) ASSERT_NE(target_.ObjectId(x, y), 2u << 28 | 0u) << x << "," << y;
  arrow.Release();
}

TEST_F(CutSceneRendererEffectTest, CutSurfacesTakeTheirOwnColourAndClippingDropsTheUpperPart) {
  effect_.ambientColor->SetVector(0.4f, 0.2f, 0.2f, 0);
  effect_.diffuseColor->SetVector(0.3f, 0.15f, 0.15f, 0);
  effect_.specularColor->SetVector(0.3f, 0.1f, 0.1f, 0);
  effect_.ambientColorCutSurfaces->SetVector(0.3f, 0, 0, 0);
  effect_.diffuseColorCutSurfaces->SetVector(0.3f, 0, 0, 0);
  effect_.specularColorCutSurfaces->SetVector(0.2f, 0.2f, 0.2f, 0);
  effect_.clippingY->SetFloat(0);
  const int left = kSize / 2 - 10, right = kSize / 2 + 10, up = kSize / 2 - 10, down = kSize / 2 + 10;

  target_.Clear(0, 0, 0);
  effect_.setSolidRenderMode->Apply();
  DrawCorners(effect_.renderMeshWithCutSurfaces, TwoTagSquare(-3, 7, true));
  auto surface = target_.Color(left, up), cut = target_.Color(right, up);
  // the cut material has no green of its own, only the grey highlight
  EXPECT_GT(surface[1], 2 * cut[1]);
  EXPECT_GT(cut[0], 60);

  target_.Clear(0, 0, 0);
  DrawCorners(effect_.renderMeshWithCutSurfacesAndClipping, TwoTagSquare(-3, 7, true));
  EXPECT_EQ(target_.Color(left, up)[0], 0);
  EXPECT_GT(target_.Color(left, down)[0], 60);

  // faces turned away are culled in solid mode and outlined in wire-frame mode
  target_.Clear(0, 0, 0);
  DrawCorners(effect_.renderMeshWithCutSurfaces, TwoTagSquare(-3, 7, false));
  int lit = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) lit += target_.Color(x, y)[0] > 0;
  EXPECT_EQ(lit, 0);
  effect_.setWireFrameRenderMode->Apply();
  DrawCorners(effect_.renderMeshWithCutSurfaces, TwoTagSquare(-3, 7, false));
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) lit += target_.Color(x, y)[0] > 0;
  EXPECT_GT(lit, 0);
  EXPECT_LT(lit, kSize * kSize / 8);
  effect_.setSolidRenderMode->Apply();
}

TEST_F(CutSceneRendererEffectTest, ShadowMapDarkensTheGroundUnderABlock) {
  // shadow map: a light 3 above the origin looking straight down
  const int mapSize = 512;
  GLuint shadowMap = 0, shadowTarget = 0;
  glGenTextures(1, &shadowMap);
  glBindTexture(GL_TEXTURE_2D, shadowMap);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT32F, mapSize, mapSize, 0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
  glGenFramebuffers(1, &shadowTarget);
  glBindFramebuffer(GL_FRAMEBUFFER, shadowTarget);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, shadowMap, 0);
  glDrawBuffer(GL_NONE);
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
  glViewport(0, 0, mapSize, mapSize);
  glClearDepth(1.0);
  glDepthMask(GL_TRUE);
  glClear(GL_DEPTH_BUFFER_BIT);

  const Mat4f lightView = TranslationMatrix({0, 0, -3});
  const Mat4f lightProjection = PerspectiveFovRH(kPi / 4, 1, 0.1f, 8);
  // off the light's axis towards +y, so that a shadow on the wrong side would show
  const Mat4f blockWorld = TranslationMatrix({-0.25f, 0.35f, 0.5f}) * ScalingMatrix({0.5f, 0.5f, 0.5f});
  UnitBox<VP> block;
  ASSERT_TRUE(block.Create());
  effect_.worldLightSMProjection->SetMatrix(lightProjection * lightView * blockWorld);
  block.Draw(*effect_.renderMeshIntoShadowMap, *effect_.positionLayout);

  // the ground seen from (0, -3, 3) looking at the origin
  Camera camera;
  camera.mode = Camera::kFreeFlight;
  camera.SetPosition({0, -3, 3});
  camera.SetAngles(90, 45, 0, 0);
  const Mat4f view = camera.view, inverseView = Inverse(view);
  const Mat4f groundWorld = TranslationMatrix({-2, -2, 0}) * ScalingMatrix({4, 4, 1});
  Mat4f textureFromClip;
  const float b[16] = {0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1};
  std::memcpy(textureFromClip.m, b, sizeof(b));
  effect_.shadowMapMatrix->SetMatrix(textureFromClip * lightProjection * lightView * inverseView);
  effect_.invViewLight->SetMatrix(lightView * inverseView);
  Vec3f lightCamera = TransformPoint(view, {0, 0, 3});
  effect_.lightPosCS->SetVector(lightCamera.x, lightCamera.y, lightCamera.z, 1);
  effect_.shadowMap->SetTexture(shadowMap);
  effect_.world->SetMatrix(groundWorld);
  SetView(view * groundWorld);
  effect_.ambientColor->SetVector(0.9019608f, 0.6862745f, 0.47058824f, 0);
  effect_.diffuseColor->SetVector(0, 0, 0, 0);
  effect_.specularColor->SetVector(0, 0, 0, 0);
  effect_.fogColor->SetVector(0, 0, 0, 0);
  effect_.fogExponent->SetFloat(2);
  effect_.fogDensity->SetFloat(0);
  effect_.sceneCenter->SetVector(0, 0, 0, 0);

  UnitPlane<VPN> ground(true);
  ASSERT_TRUE(ground.Create());
  Mat4f viewProjection = projection_ * view;
  // the block's shadow covers y from 0.35 * 3 / 2.5 = 0.42 to 0.85 * 3 / 2 = 1.275 on the ground
  Pixel under = Project(viewProjection, {0, 0.8f, 0}), aside = Project(viewProjection, {1.1f, 0.8f, 0});
  Pixel mirrored = Project(viewProjection, {0, -0.8f, 0});
  int shadowed[2], open[2], mirror[2];
  for (int withShadows = 0; withShadows < 2; ++withShadows) {
    target_.Clear(0, 0, 0);
    effect_.setSolidRenderMode->Apply();
    ground.Draw(withShadows ? *effect_.renderMeshWithFogAndShadows : *effect_.renderMeshWithFog, *effect_.meshLayout);
    shadowed[withShadows] = target_.Color(under.x, under.y)[0];
    open[withShadows] = target_.Color(aside.x, aside.y)[0];
    mirror[withShadows] = target_.Color(mirrored.x, mirrored.y)[0];
  }
  EXPECT_GT(open[0], 200);
  EXPECT_EQ(shadowed[0], open[0]);
  EXPECT_EQ(open[1], open[0]);
  EXPECT_LT(shadowed[1], 0.75 * open[1]);
  EXPECT_EQ(mirror[1], mirror[0]);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

  // fog fades the far ground to the fog colour
  effect_.fogDensity->SetFloat(10);
  target_.Clear(0, 0, 0);
  ground.Draw(*effect_.renderMeshWithFog, *effect_.meshLayout);
  EXPECT_LT(target_.Color(aside.x, aside.y)[0], 5);

  ground.Release();
  block.Release();
  glDeleteFramebuffers(1, &shadowTarget);
  glDeleteTextures(1, &shadowMap);
}
