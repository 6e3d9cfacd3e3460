#pragma once
// The text format of the effect files ("*.fxo") and its parser. An effect file
// declares vertex attributes with fixed locations, the effect variables
// (uniforms shared by every pass), named GLSL blocks, and techniques whose
// passes pick a vertex, optional geometry and fragment block (each with extra
// #defines) and the fixed-function state they set:
//
//   // comment
//   attribute POSITION 0            name, location [, consecutive count: NAME0..]
//   matrix g_mWorldView             also: vector, scalar, texture <name> <unit>
//   @common                         GLSL put in front of every block
//   ...
//   @end
//   @shader MeshVS                  a named GLSL block with its own main()
//   ...
//   @end
//   technique CutSceneRenderer
//   pass RenderMesh
//   rasterizer fill=solid cull=cw slopebias=0 bias=0
//   depth test=less write=on        test: off, less, lessequal, equal, always
//   blend alpha                     off, alpha, additive
//   vertex MeshVS                   vertex/geometry/fragment <block> [DEFINE ...]
//   fragment MeshFS SHADOWS
//
// A pass without shaders only sets its state; a state group a pass leaves out
// stays as the previous pass set it. cull=cw drops triangles that appear
// clockwise on screen, which for outward-wound meshes are the far faces.
#include <optional>
#include <string>
#include <vector>

namespace GLTools {

enum class VariableType { Scalar, Vector, Matrix, Texture };
enum class ShaderStage { Vertex, Geometry, Fragment };
enum class FillMode { Solid, WireFrame };
enum class CullMode { None, Clockwise, CounterClockwise };
enum class DepthTest { Off, Less, LessEqual, Equal, Always };
enum class BlendMode { Off, Alpha, Additive };

struct AttributeDeclaration {
  std::string name;
  int location = 0;
  int count = 1;  // more than one: GLSL names NAME0 ... NAME<count-1> at consecutive locations
  int line = 0;
};

struct VariableDeclaration {
  std::string name;
  VariableType type = VariableType::Scalar;
  int unit = -1;  // texture unit of a texture variable
  int line = 0;
};

struct ShaderBlock {
  std::string name;
  std::string code;
  int firstLine = 0;  // file line of the block's first code line
};

struct ShaderUse {
  std::string block;
  std::vector<std::string> defines;
  int line = 0;
};

struct RasterizerState {
  FillMode fill = FillMode::Solid;
  CullMode cull = CullMode::None;
  float slopeBias = 0;     // polygon offset factor
  float constantBias = 0;  // polygon offset units
};

struct DepthState {
  DepthTest test = DepthTest::Less;
  bool write = true;
};

struct PassDeclaration {
  std::string name;
  int line = 0;
  std::optional<RasterizerState> rasterizer;
  std::optional<DepthState> depth;
  std::optional<BlendMode> blend;
  std::optional<ShaderUse> vertex, geometry, fragment;

  bool HasShaders() const { return vertex.has_value(); }
};

struct TechniqueDeclaration {
  std::string name;
  int line = 0;
  std::vector<PassDeclaration> passes;
};

struct EffectFile {
  std::vector<AttributeDeclaration> attributes;
  std::vector<VariableDeclaration> variables;
  std::string commonCode;
  int commonFirstLine = 0;
  std::vector<ShaderBlock> blocks;
  std::vector<TechniqueDeclaration> techniques;

  const ShaderBlock* FindBlock(const std::string& name) const;
};

// Parses the whole file text; on failure *error reads "line N: <what>".
bool ParseEffectFile(const std::string& text, EffectFile* effect, std::string* error);

// Complete GLSL source of one stage of a pass: version, stage and depth
// defines, the pass's defines, the uniforms of every variable, the depth helper
// ToDevice(clip), the common code and the block, with #line directives so that
// compiler messages name lines of the effect file. remapDepth selects the
// [0, 1] to [-1, 1] depth remapping for contexts without clip control.
std::string BuildShaderSource(const EffectFile& effect, ShaderStage stage, const ShaderUse& use, bool remapDepth);

const char* StageName(ShaderStage stage);

}  // namespace GLTools
