#include "render/simple_draw_effect.h"

#include <gtest/gtest.h>

#include "geometry/matrix4.h"
#include "render/render_test_context.h"

using namespace GLTools;

namespace {

constexpr int kSize = 64;
constexpr float kPi = 3.14159265358979323846f;

class SimpleDrawEffectTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    ASSERT_TRUE(target_.Create(kSize, kSize, false));
  }
  void TearDown() override { target_.Release(); }

  // 90 degree field of view: at depth -1 the view spans [-1, 1] in x and y
  static void SetCamera(SimpleDrawEffect& effect) {
    effect.SetProjectionMatrix(PerspectiveFovRH(kPi / 2, 1, 0.1f, 10));
    effect.SetViewMatrix(Mat4f::Identity());
    effect.SetWorldMatrix(Mat4f::Identity());
  }

  // window row of the pixel centre whose view-space y at depth -1 is returned
  static float YOfRow(int row) { return 1.0f - (row + 0.5f) * 2.0f / kSize; }
  static float XOfColumn(int column) { return (column + 0.5f) * 2.0f / kSize - 1.0f; }

  static void Quad(SimpleDrawEffect& effect, float half, float z) {
    effect.Begin(Topology::TriangleList);
    for (Vec3f p : {Vec3f(-half, -half, z), Vec3f(half, -half, z), Vec3f(half, half, z), Vec3f(-half, -half, z),
                    Vec3f(half, half, z), Vec3f(-half, half, z)})
      effect.AddVertex(p);
    effect.End();
  }

  bool IsColor(int x, int y, uint8_t r, uint8_t g, uint8_t b) const {
    auto c = target_.Color(x, y);
    return c[0] == r && c[1] == g && c[2] == b;
  }

  OffscreenTarget target_;
};

}  // namespace

TEST_F(SimpleDrawEffectTest, NearerGeometryWinsWhateverTheDrawOrder) {
  SimpleDrawEffect effect(1024);
  ASSERT_TRUE(effect.Create(false));
  SetCamera(effect);
  for (bool nearFirst : {true, false}) {
    target_.Clear(0, 0, 0);
    for (int i = 0; i < 2; ++i) {
      if ((i == 0) == nearFirst) {
        effect.SetColor(0, 1, 0, 1);
        Quad(effect, 0.5f, -1.0f);  // covers the middle half of the view
      } else {
        effect.SetColor(1, 0, 0, 1);
        Quad(effect, 8.0f, -4.0f);  // covers everything, farther away
      }
    }
    EXPECT_TRUE(IsColor(kSize / 2, kSize / 2, 0, 255, 0)) << "near first: " << nearFirst;
    EXPECT_TRUE(IsColor(2, 2, 255, 0, 0)) << "near first: " << nearFirst;
  }
  // in front of the near plane nothing is drawn
  target_.Clear(0, 0, 0);
  effect.SetColor(1, 1, 1, 1);
  Quad(effect, 0.05f, -0.05f);
  EXPECT_TRUE(IsColor(kSize / 2, kSize / 2, 0, 0, 0));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  effect.Release();
}

TEST_F(SimpleDrawEffectTest, UpIsTheTopOfTheImageAndColoursBlendByAlpha) {
  SimpleDrawEffect effect(1024);
  ASSERT_TRUE(effect.Create(false));
  SetCamera(effect);
  target_.Clear(0, 0, 0);
  effect.SetColor(0, 0, 1, 1);
  effect.Begin(Topology::TriangleList);
  for (Vec3f p : {Vec3f(-1, 0.5f, -1), Vec3f(1, 0.5f, -1), Vec3f(1, 1, -1)}) effect.AddVertex(p);
  effect.End();
  EXPECT_TRUE(IsColor(kSize - 4, 4, 0, 0, 255));             // top right
  EXPECT_TRUE(IsColor(kSize - 4, kSize - 4, 0, 0, 0));       // bottom right
  // half-transparent white over black
  effect.SetColor(1, 1, 1, 0.5f);
  Quad(effect, 0.25f, -1.0f);
  auto c = target_.Color(kSize / 2, kSize / 2);
  EXPECT_NEAR(c[0], 128, 2);
  effect.Release();
}

TEST_F(SimpleDrawEffectTest, SmallBatchesDrawEveryListPrimitive) {
  SimpleDrawEffect effect(3);
  ASSERT_TRUE(effect.Create(false));
  SetCamera(effect);
  target_.Clear(0, 0, 0);
  effect.SetColor(1, 1, 0, 1);
  effect.Begin(Topology::LineList);
  const int rows[] = {3, 10, 17, 24, 31, 38, 45, 52, 59};
  for (int row : rows) {
    effect.AddVertex(Vec3f(-1, YOfRow(row), -1));
    effect.AddVertex(Vec3f(1, YOfRow(row), -1));
  }
  effect.End();
  for (int row : rows) {
    EXPECT_TRUE(IsColor(kSize / 2, row, 255, 255, 0)) << "row " << row;
    EXPECT_TRUE(IsColor(kSize / 2, row + 2, 0, 0, 0)) << "row " << row + 2;
  }
  effect.Release();
}

TEST_F(SimpleDrawEffectTest, StripsBreakAtAFlushAndBeginDrawsWhatIsPending) {
  SimpleDrawEffect effect(3);
  ASSERT_TRUE(effect.Create(false));
  SetCamera(effect);
  target_.Clear(0, 0, 0);
  effect.SetColor(0, 1, 1, 1);
  // a strip of four points along one row: the batch of three is drawn, the
  // segment from the third to the fourth point is lost with the flush
  const int row = 20;
  effect.Begin(Topology::LineStrip);
  for (int column : {2, 20, 40, 60}) effect.AddVertex(Vec3f(XOfColumn(column), YOfRow(row), -1));
  effect.End();
  EXPECT_TRUE(IsColor(10, row, 0, 255, 255));
  EXPECT_TRUE(IsColor(30, row, 0, 255, 255));
  EXPECT_TRUE(IsColor(50, row, 0, 0, 0));

  effect.Release();

  // a line left open by a new Begin is still drawn as a line
  SimpleDrawEffect large(64);
  ASSERT_TRUE(large.Create(false));
  SetCamera(large);
  large.SetColor(1, 0, 1, 1);
  const int row2 = 44;
  large.Begin(Topology::LineList);
  large.AddVertex(Vec3f(XOfColumn(4), YOfRow(row2), -1));
  large.AddVertex(Vec3f(XOfColumn(60), YOfRow(row2), -1));
  large.Begin(Topology::PointList);
  large.End();
  EXPECT_TRUE(IsColor(32, row2, 255, 0, 255));
  large.Release();
}
