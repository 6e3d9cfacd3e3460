#include "render/effect_file.h"

#include <gtest/gtest.h>

using namespace GLTools;

namespace {

const char* kSample = R"(// sample
attribute POSITION 0
attribute WORLD_VIEW 2 4
matrix g_mWorldView
scalar g_fRadius
texture g_txMap 3

@common
float Twice(float x) { return 2.0 * x; }
@end

@shader VS
in vec3 POSITION;
void main() { gl_Position = vec4(POSITION, Twice(1.0)); }
@end
@shader FS
out vec4 c;
void main() { c = vec4(1.0); }
@end

technique T
pass StateOnly
rasterizer fill=wireframe cull=ccw slopebias=1.5 bias=2
pass Draw
depth test=lessequal write=off
blend additive
vertex VS
fragment FS SHADOWS CLIPPING
)";

}  // namespace

TEST(EffectFile, ParsesDeclarationsBlocksAndPasses) {
  EffectFile file;
  std::string error;
  ASSERT_TRUE(ParseEffectFile(kSample, &file, &error)) << error;
  ASSERT_EQ(file.attributes.size(), 2u);
  EXPECT_EQ(file.attributes[1].name, "WORLD_VIEW");
  EXPECT_EQ(file.attributes[1].location, 2);
  EXPECT_EQ(file.attributes[1].count, 4);
  ASSERT_EQ(file.variables.size(), 3u);
  EXPECT_EQ(file.variables[2].type, VariableType::Texture);
  EXPECT_EQ(file.variables[2].unit, 3);
  EXPECT_EQ(file.commonFirstLine, 9);
  ASSERT_NE(file.FindBlock("VS"), nullptr);
  EXPECT_EQ(file.FindBlock("VS")->firstLine, 13);

  ASSERT_EQ(file.techniques.size(), 1u);
  const auto& passes = file.techniques[0].passes;
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_FALSE(passes[0].HasShaders());
  ASSERT_TRUE(passes[0].rasterizer);
  EXPECT_EQ(passes[0].rasterizer->fill, FillMode::WireFrame);
  EXPECT_EQ(passes[0].rasterizer->cull, CullMode::CounterClockwise);
  EXPECT_FLOAT_EQ(passes[0].rasterizer->slopeBias, 1.5f);
  EXPECT_FALSE(passes[0].depth);
  EXPECT_FALSE(passes[1].rasterizer);
  EXPECT_EQ(passes[1].depth->test, DepthTest::LessEqual);
  EXPECT_FALSE(passes[1].depth->write);
  EXPECT_EQ(*passes[1].blend, BlendMode::Additive);
  EXPECT_EQ(passes[1].fragment->defines, (std::vector<std::string>{"SHADOWS", "CLIPPING"}));
}

TEST(EffectFile, ShaderSourceCarriesUniformsDefinesAndFileLines) {
  EffectFile file;
  std::string error;
  ASSERT_TRUE(ParseEffectFile(kSample, &file, &error)) << error;
  const ShaderUse& use = *file.techniques[0].passes[1].fragment;
  std::string source = BuildShaderSource(file, ShaderStage::Fragment, use, false);
  EXPECT_EQ(source.rfind("#version 330 core\n", 0), 0u);
  for (const char* part : {"#define FRAGMENT_SHADER 1\n", "#define SHADOWS 1\n", "#define CLIPPING 1\n",
                           "#define REMAP_DEPTH 0\n", "uniform mat4 g_mWorldView;\n", "uniform float g_fRadius;\n",
                           "uniform sampler2D g_txMap;\n", "#line 9\nfloat Twice", "#line 17\nout vec4 c;"})
    EXPECT_NE(source.find(part), std::string::npos) << part;
  EXPECT_NE(BuildShaderSource(file, ShaderStage::Vertex, use, true).find("#define REMAP_DEPTH 1\n"), std::string::npos);
}

TEST(EffectFile, ReportsMistakesWithTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"matrix g_m\nfoo bar\n", "line 2: unknown directive \"foo\""},
      {"pass P\n", "line 1: \"pass\" before any \"technique\""},
      {"@shader A\nvoid main() {}\n", "line 1: block not closed by \"@end\""},
      {"technique T\npass P\nvertex Missing\nfragment Missing\n", "line 3: unknown shader block \"Missing\""},
      {"@shader A\n@end\ntechnique T\npass P\nfragment A\n", "line 4: pass \"P\" has no vertex shader"},
      {"attribute A 0 4\nattribute B 3\n", "line 2: attribute \"B\" overlaps the locations of \"A\""},
      {"attribute A 15 2\n", "line 1: attribute \"A\" needs locations outside 0..15"},
      {"scalar g_f\nvector g_f\n", "line 2: variable \"g_f\" declared twice"},
      {"technique T\npass P\nrasterizer cull=sideways\n", "line 3: bad rasterizer setting \"cull=sideways\""},
      {"technique T\npass P\ndepth test\n", "line 3: expected key=value, found \"test\""},
      {"texture g_tx 16\n", "line 1: texture unit of \"g_tx\" outside 0..15"},
      {"technique T\npass P\npass P\n", "line 3: pass \"P\" declared twice in its technique"},
  };
  for (const Case& c : cases) {
    EffectFile file;
    std::string error;
    EXPECT_FALSE(ParseEffectFile(c.text, &file, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}
