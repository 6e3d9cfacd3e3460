#include "render/effect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "geometry/file_util.h"
#include "render/cut_scene_renderer_effect.h"
#include "render/render_test_context.h"
#include "render/simple_draw_effect.h"

using namespace GLTools;

namespace {

struct Shown {
  std::wstring caption, text;
  int count = 0;
};
Shown shown;

void RecordMessageBox(const std::wstring& caption, const std::wstring& text) {
  shown.caption = caption;
  shown.text = text;
  ++shown.count;
}

std::string ReadBuiltEffect(const char* name) {
  std::ifstream in(NarrowPath(ExecutableFolder()) + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class EffectTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    shown = Shown();
    SetMessageBoxHandler(RecordMessageBox);
    folder_ = std::filesystem::temp_directory_path() /
              ("vardel_effect_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    std::filesystem::remove_all(folder_);
  }

  std::wstring Folder() const { return WidenPath(folder_.string() + "/"); }
  void WriteEffect(const char* name, const std::string& text) const { std::ofstream(folder_ / name) << text; }

  std::filesystem::path folder_;
};

}  // namespace

TEST_F(EffectTest, BothEffectFilesCompileAndBindEveryName) {
  int created = 0;
  SimpleDrawEffect simple(1024);
  ASSERT_TRUE(simple.Create(true, &created));
  CutSceneRendererEffect scene;
  ASSERT_TRUE(scene.Create(true, &created));
  EXPECT_EQ(created, 2);
  EXPECT_EQ(shown.count, 0);
  // every drawing pass links and validates; the state passes have no program
  Technique* technique = nullptr;
  ASSERT_TRUE(scene.GetTechnique("CutSceneRenderer", &technique));
  EXPECT_EQ(technique->Passes().size(), 20u);
  int programs = 0;
  for (const auto& pass : technique->Passes()) {
    if (pass->Program() == 0) {
      EXPECT_TRUE(pass->Name() == "SetSolidRenderMode" || pass->Name() == "SetWireFrameRenderMode") << pass->Name();
      continue;
    }
    GLint linked = GL_FALSE;
    glGetProgramiv(pass->Program(), GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE) << pass->Name();
    ++programs;
  }
  EXPECT_EQ(programs, 18);
  EXPECT_NE(scene.cutSurfaceLayout, nullptr);
  EXPECT_EQ(scene.cutSurfaceLayout->SlotStride(0), CutSceneRendererEffect::kCornerBytes);
  EXPECT_EQ(scene.instancedMeshLayout->SlotStride(1), CutSceneRendererEffect::kInstanceBytes);
  EXPECT_EQ(scene.colorInstancedMeshLayout->SlotStride(1), CutSceneRendererEffect::kInstanceBytes + 12);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  scene.Release();
  simple.Release();
}

TEST_F(EffectTest, MissingFileFailsWithItsFullPath) {
  int created = 0;
  SimpleDrawEffect quiet(Folder(), 64);
  EXPECT_FALSE(quiet.Create(false, &created));
  EXPECT_EQ(shown.count, 0);

  SimpleDrawEffect effect(Folder(), 64);
  EXPECT_FALSE(effect.Create(true, &created));
  EXPECT_EQ(created, 0);
  EXPECT_EQ(shown.count, 1);
  EXPECT_EQ(shown.caption, L"Effect Compile Error (simpledraw.fxo)");
  EXPECT_EQ(shown.text, L"Effect file \"" + Folder() + L"simpledraw.fxo\" not found");
}

TEST_F(EffectTest, MissingNamesAreReportedByKind) {
  struct Case {
    const char* file;
    std::string from, to;
    std::wstring message;
  };
  const Case cases[] = {
      {"simpledraw.fxo", "g_mWorldView", "g_mModelView", L"Matrix variable \"g_mWorldView\" not found"},
      {"simpledraw.fxo", "technique SimpleDraw", "technique Other", L"Technique \"SimpleDraw\" not found"},
      {"cutscenerenderer.fxo", "RenderSketchCylinders", "RenderSketches", L"Pass \"RenderSketchCylinders\" not found"},
      {"cutscenerenderer.fxo", "g_fClippingY", "g_fClipY", L"Scalar variable \"g_fClippingY\" not found"},
      // declared with the wrong kind: a vector where a matrix is looked up
      {"cutscenerenderer.fxo", "matrix g_mInvViewLight", "vector g_mInvViewLight",
       L"Matrix variable \"g_mInvViewLight\" not found"},
  };
  for (const Case& c : cases) {
    shown = Shown();
    WriteEffect(c.file, ReplaceAll(ReadBuiltEffect(c.file), c.from, c.to));
    int created = 0;
    std::unique_ptr<Effect> effect;
    if (std::string(c.file) == "simpledraw.fxo")
      effect = std::make_unique<SimpleDrawEffect>(Folder(), 64);
    else
      effect = std::make_unique<CutSceneRendererEffect>(Folder());
    EXPECT_FALSE(effect->Create(true, &created)) << c.file << ": " << c.from;
    EXPECT_EQ(created, 1) << "the file itself loads";
    EXPECT_EQ(shown.caption, L"Effect Compile Error (" + WidenPath(c.file) + L")");
    EXPECT_EQ(shown.text, c.message);
    effect->Release();
  }
}

TEST_F(EffectTest, ShaderErrorsNameTheEffectFileLine) {
  std::string text = ReadBuiltEffect("simpledraw.fxo");
  std::string marker = "  outColor = vColor;";
  size_t at = text.find(marker);
  ASSERT_NE(at, std::string::npos);
  int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + at, '\n'));
  WriteEffect("simpledraw.fxo", text.replace(at, marker.size(), "  outColor = undefinedColor;"));
  SimpleDrawEffect effect(Folder(), 64);
  EXPECT_FALSE(effect.Create(true));
  EXPECT_NE(shown.text.find(L"fragment shader \"ColoredFS\" does not compile"), std::wstring::npos) << NarrowPath(shown.text);
  EXPECT_NE(shown.text.find(L":" + std::to_wstring(line) + L"("), std::wstring::npos)
      << "line " << line << " in " << NarrowPath(shown.text);

  WriteEffect("simpledraw.fxo", "matrix g_mProjection\nbogus line\n");
  EXPECT_FALSE(effect.Create(true));
  EXPECT_EQ(shown.text, L"\"" + Folder() + L"simpledraw.fxo\" line 2: unknown directive \"bogus\"");
}

TEST_F(EffectTest, InputLayoutMustSupplyEveryInputOfThePass) {
  CutSceneRendererEffect scene;
  ASSERT_TRUE(scene.Create(false));
  InputLayout* layout = nullptr;
  const InputElement position{"POSITION", 0, ElementFormat::Float3, 0, 0};
  const InputElement center{"CENTER", 0, ElementFormat::Float3, 1, 0, true, 1};
  // the handles are coloured by TYPE, so it must be supplied
  EXPECT_FALSE(scene.CreateInputLayout(scene.renderSimulationVertices, {position, center}, &layout));
  // TYPE is an integer input: float data would arrive as garbage
  EXPECT_FALSE(scene.CreateInputLayout(scene.renderSimulationVertices,
                                       {position, center, {"TYPE", 0, ElementFormat::Float1, 2, 0, true, 1}}, &layout));
  EXPECT_FALSE(scene.CreateInputLayout(scene.renderMesh, {position, {"NOT_DECLARED", 0, ElementFormat::Float3}}, &layout));
  EXPECT_TRUE(scene.CreateInputLayout(scene.renderSimulationVertices,
                                      {position, center, {"TYPE", 0, ElementFormat::UInt8, 2, 0, true, 1}}, &layout));
  // a layout with more than a pass reads serves it too
  EXPECT_TRUE(scene.CreateInputLayout(scene.renderMeshIntoShadowMap,
                                      {position, {"NORMAL", 0, ElementFormat::Float3, 0, kAppendAligned}}, &layout));
  scene.Release();
}

TEST_F(EffectTest, GeometryStageJoinsThePassProgram) {
  // a pass whose geometry shader passes triangles through, drawing one in white
  WriteEffect("simpledraw.fxo", R"(attribute POSITION 0
@shader VS
in vec3 POSITION;
void main() { gl_Position = ToDevice(vec4(POSITION, 1.0)); }
@end
@shader GS
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
void main() {
  for (int i = 0; i < 3; ++i) { gl_Position = gl_in[i].gl_Position; EmitVertex(); }
  EndPrimitive();
}
@end
@shader FS
layout(location = 0) out vec4 color;
void main() { color = vec4(1.0); }
@end
technique T
pass P
depth test=off write=off
blend off
vertex VS
geometry GS
fragment FS
)");
  struct PassThrough : Effect {
    using Effect::Effect;
  } effect(Folder(), L"simpledraw.fxo");
  ASSERT_TRUE(effect.Create(true)) << NarrowPath(shown.text);
  Technique* technique = nullptr;
  Pass* pass = nullptr;
  ASSERT_TRUE(effect.GetTechnique("T", &technique));
  ASSERT_TRUE(effect.GetPass(technique, "P", &pass));
  InputLayout* layout = nullptr;
  ASSERT_TRUE(effect.CreateInputLayout(pass, {{"POSITION", 0, ElementFormat::Float3}}, &layout));
  OffscreenTarget target;
  ASSERT_TRUE(target.Create(16, 16, false));
  target.Clear(0, 0, 0);
  const float triangle[9] = {-1, -1, 0.5f, 3, -1, 0.5f, -1, 3, 0.5f};
  GLuint buffer = 0;
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof(triangle), triangle, GL_STATIC_DRAW);
  pass->Apply();
  VertexStream stream{buffer, 12, 0};
  layout->Bind(&stream, 1, 0);
  glDrawArrays(GL_TRIANGLES, 0, 3);
  EXPECT_EQ(target.Color(8, 8)[0], 255);
  glDeleteBuffers(1, &buffer);
  target.Release();
  effect.Release();
}
