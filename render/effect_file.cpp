#include "render/effect_file.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace GLTools {

namespace {

constexpr int kMaxAttributeLocations = 16;
constexpr int kMaxTextureUnits = 16;

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  std::string token;
  while (in >> token) tokens.push_back(token);
  return tokens;
}

bool IsIdentifier(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

bool ParseInt(const std::string& s, int* value) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || v < -1000000 || v > 1000000) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseFloat(const std::string& s, float* value) {
  if (s.empty()) return false;
  char* end = nullptr;
  float v = std::strtof(s.c_str(), &end);
  if (*end != '\0') return false;
  *value = v;
  return true;
}

// Reads the file line by line; every Handle* returns false with a message.
class Parser {
 public:
  Parser(const std::string& text, EffectFile* effect) : effect_(effect) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
    }
  }

  bool Run(std::string* error) {
    for (index_ = 0; index_ < lines_.size(); ++index_) {
      std::string line = Trim(lines_[index_]);
      if (line.empty() || line.rfind("//", 0) == 0) continue;
      if (!HandleLine(Tokens(line))) break;
    }
    if (message_.empty()) CheckPassesUseKnownBlocks();
    if (message_.empty()) return true;
    *error = "line " + std::to_string(errorLine_) + ": " + message_;
    return false;
  }

 private:
  int LineNumber() const { return static_cast<int>(index_) + 1; }

  bool Fail(const std::string& message, int line = 0) {
    message_ = message;
    errorLine_ = line != 0 ? line : LineNumber();
    return false;
  }

  bool HandleLine(const std::vector<std::string>& t) {
    const std::string& word = t[0];
    if (word == "attribute") return HandleAttribute(t);
    if (word == "matrix") return HandleVariable(t, VariableType::Matrix);
    if (word == "vector") return HandleVariable(t, VariableType::Vector);
    if (word == "scalar") return HandleVariable(t, VariableType::Scalar);
    if (word == "texture") return HandleVariable(t, VariableType::Texture);
    if (word == "@common") return HandleCommon(t);
    if (word == "@shader") return HandleShaderBlock(t);
    if (word == "technique") return HandleTechnique(t);
    if (word == "pass") return HandlePass(t);
    if (word == "rasterizer") return HandleRasterizer(t);
    if (word == "depth") return HandleDepth(t);
    if (word == "blend") return HandleBlend(t);
    if (word == "vertex") return HandleShaderUse(t, ShaderStage::Vertex);
    if (word == "geometry") return HandleShaderUse(t, ShaderStage::Geometry);
    if (word == "fragment") return HandleShaderUse(t, ShaderStage::Fragment);
    if (word == "@end") return Fail("\"@end\" without an open block");
    return Fail("unknown directive \"" + word + "\"");
  }

  bool HandleAttribute(const std::vector<std::string>& t) {
    AttributeDeclaration a;
    a.line = LineNumber();
    if (t.size() < 3 || t.size() > 4 || !IsIdentifier(t[1]) || !ParseInt(t[2], &a.location) ||
        (t.size() == 4 && !ParseInt(t[3], &a.count)))
      return Fail("expected \"attribute NAME LOCATION [COUNT]\"");
    a.name = t[1];
    if (a.count < 1 || a.location < 0 || a.location + a.count > kMaxAttributeLocations)
      return Fail("attribute \"" + a.name + "\" needs locations outside 0.." +
                  std::to_string(kMaxAttributeLocations - 1));
    for (const AttributeDeclaration& other : effect_->attributes) {
      if (other.name == a.name) return Fail("attribute \"" + a.name + "\" declared twice");
      if (a.location < other.location + other.count && other.location < a.location + a.count)
        return Fail("attribute \"" + a.name + "\" overlaps the locations of \"" + other.name + "\"");
    }
    effect_->attributes.push_back(a);
    return true;
  }

  bool HandleVariable(const std::vector<std::string>& t, VariableType type) {
    VariableDeclaration v;
    v.type = type;
    v.line = LineNumber();
    bool texture = type == VariableType::Texture;
    if (t.size() != (texture ? 3u : 2u) || !IsIdentifier(t[1]) || (texture && !ParseInt(t[2], &v.unit)))
      return Fail(texture ? "expected \"texture NAME UNIT\"" : "expected \"" + t[0] + " NAME\"");
    v.name = t[1];
    if (texture && (v.unit < 0 || v.unit >= kMaxTextureUnits))
      return Fail("texture unit of \"" + v.name + "\" outside 0.." + std::to_string(kMaxTextureUnits - 1));
    for (const VariableDeclaration& other : effect_->variables)
      if (other.name == v.name) return Fail("variable \"" + v.name + "\" declared twice");
    effect_->variables.push_back(v);
    return true;
  }

  // Collects the lines up to "@end"; index_ ends on the "@end" line.
  bool ReadBlock(std::string* code, int* firstLine) {
    int openLine = LineNumber();
    *firstLine = openLine + 1;
    code->clear();
    for (++index_; index_ < lines_.size(); ++index_) {
      if (Trim(lines_[index_]) == "@end") return true;
      *code += lines_[index_];
      *code += '\n';
    }
    return Fail("block not closed by \"@end\"", openLine);
  }

  bool HandleCommon(const std::vector<std::string>& t) {
    if (t.size() != 1) return Fail("expected \"@common\" alone on its line");
    if (haveCommon_) return Fail("second \"@common\" block");
    haveCommon_ = true;
    return ReadBlock(&effect_->commonCode, &effect_->commonFirstLine);
  }

  bool HandleShaderBlock(const std::vector<std::string>& t) {
    if (t.size() != 2 || !IsIdentifier(t[1])) return Fail("expected \"@shader NAME\"");
    if (effect_->FindBlock(t[1])) return Fail("shader block \"" + t[1] + "\" defined twice");
    ShaderBlock block;
    block.name = t[1];
    if (!ReadBlock(&block.code, &block.firstLine)) return false;
    effect_->blocks.push_back(block);
    return true;
  }

  bool HandleTechnique(const std::vector<std::string>& t) {
    if (t.size() != 2 || !IsIdentifier(t[1])) return Fail("expected \"technique NAME\"");
    for (const TechniqueDeclaration& other : effect_->techniques)
      if (other.name == t[1]) return Fail("technique \"" + t[1] + "\" declared twice");
    TechniqueDeclaration technique;
    technique.name = t[1];
    technique.line = LineNumber();
    effect_->techniques.push_back(technique);
    return true;
  }

  bool HandlePass(const std::vector<std::string>& t) {
    if (effect_->techniques.empty()) return Fail("\"pass\" before any \"technique\"");
    if (t.size() != 2 || !IsIdentifier(t[1])) return Fail("expected \"pass NAME\"");
    std::vector<PassDeclaration>& passes = effect_->techniques.back().passes;
    for (const PassDeclaration& other : passes)
      if (other.name == t[1]) return Fail("pass \"" + t[1] + "\" declared twice in its technique");
    PassDeclaration pass;
    pass.name = t[1];
    pass.line = LineNumber();
    passes.push_back(pass);
    return true;
  }

  PassDeclaration* CurrentPass() {
    if (effect_->techniques.empty() || effect_->techniques.back().passes.empty()) return nullptr;
    return &effect_->techniques.back().passes.back();
  }

  // Splits "key=value" settings; false on a malformed one.
  bool Settings(const std::vector<std::string>& t, std::vector<std::pair<std::string, std::string>>* settings) {
    for (size_t i = 1; i < t.size(); ++i) {
      size_t eq = t[i].find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == t[i].size())
        return Fail("expected key=value, found \"" + t[i] + "\"");
      settings->emplace_back(t[i].substr(0, eq), t[i].substr(eq + 1));
    }
    return true;
  }

  bool HandleRasterizer(const std::vector<std::string>& t) {
    PassDeclaration* pass = CurrentPass();
    if (!pass) return Fail("\"rasterizer\" outside a pass");
    std::vector<std::pair<std::string, std::string>> settings;
    if (!Settings(t, &settings)) return false;
    RasterizerState state;
    for (const auto& [key, value] : settings) {
      bool ok = true;
      if (key == "fill" && value == "solid") state.fill = FillMode::Solid;
      else if (key == "fill" && value == "wireframe") state.fill = FillMode::WireFrame;
      else if (key == "cull" && value == "none") state.cull = CullMode::None;
      else if (key == "cull" && value == "cw") state.cull = CullMode::Clockwise;
      else if (key == "cull" && value == "ccw") state.cull = CullMode::CounterClockwise;
      else if (key == "slopebias") ok = ParseFloat(value, &state.slopeBias);
      else if (key == "bias") ok = ParseFloat(value, &state.constantBias);
      else ok = false;
      if (!ok) return Fail("bad rasterizer setting \"" + key + "=" + value + "\"");
    }
    pass->rasterizer = state;
    return true;
  }

  bool HandleDepth(const std::vector<std::string>& t) {
    PassDeclaration* pass = CurrentPass();
    if (!pass) return Fail("\"depth\" outside a pass");
    std::vector<std::pair<std::string, std::string>> settings;
    if (!Settings(t, &settings)) return false;
    DepthState state;
    for (const auto& [key, value] : settings) {
      if (key == "test" && value == "off") state.test = DepthTest::Off;
      else if (key == "test" && value == "less") state.test = DepthTest::Less;
      else if (key == "test" && value == "lessequal") state.test = DepthTest::LessEqual;
      else if (key == "test" && value == "equal") state.test = DepthTest::Equal;
      else if (key == "test" && value == "always") state.test = DepthTest::Always;
      else if (key == "write" && (value == "on" || value == "off")) state.write = value == "on";
      else return Fail("bad depth setting \"" + key + "=" + value + "\"");
    }
    pass->depth = state;
    return true;
  }

  bool HandleBlend(const std::vector<std::string>& t) {
    PassDeclaration* pass = CurrentPass();
    if (!pass) return Fail("\"blend\" outside a pass");
    if (t.size() == 2 && t[1] == "off") pass->blend = BlendMode::Off;
    else if (t.size() == 2 && t[1] == "alpha") pass->blend = BlendMode::Alpha;
    else if (t.size() == 2 && t[1] == "additive") pass->blend = BlendMode::Additive;
    else return Fail("expected \"blend off|alpha|additive\"");
    return true;
  }

  bool HandleShaderUse(const std::vector<std::string>& t, ShaderStage stage) {
    PassDeclaration* pass = CurrentPass();
    if (!pass) return Fail(std::string("\"") + StageName(stage) + "\" outside a pass");
    if (t.size() < 2 || !IsIdentifier(t[1])) return Fail(std::string("expected \"") + StageName(stage) + " BLOCK [DEFINE ...]\"");
    ShaderUse use;
    use.block = t[1];
    use.line = LineNumber();
    for (size_t i = 2; i < t.size(); ++i) {
      if (!IsIdentifier(t[i])) return Fail("bad define \"" + t[i] + "\"");
      use.defines.push_back(t[i]);
    }
    std::optional<ShaderUse>& slot =
        stage == ShaderStage::Vertex ? pass->vertex : (stage == ShaderStage::Geometry ? pass->geometry : pass->fragment);
    if (slot) return Fail(std::string("second ") + StageName(stage) + " shader in pass \"" + pass->name + "\"");
    slot = use;
    return true;
  }

  // Every pass with shaders has a vertex and a fragment block that exist.
  void CheckPassesUseKnownBlocks() {
    for (const TechniqueDeclaration& technique : effect_->techniques) {
      for (const PassDeclaration& pass : technique.passes) {
        if ((pass.geometry || pass.fragment) && !pass.vertex) {
          Fail("pass \"" + pass.name + "\" has no vertex shader", pass.line);
          return;
        }
        if (pass.vertex && !pass.fragment) {
          Fail("pass \"" + pass.name + "\" has no fragment shader", pass.line);
          return;
        }
        for (const std::optional<ShaderUse>* use : {&pass.vertex, &pass.geometry, &pass.fragment}) {
          if (*use && !effect_->FindBlock((*use)->block)) {
            Fail("unknown shader block \"" + (*use)->block + "\"", (*use)->line);
            return;
          }
        }
      }
    }
  }

  EffectFile* effect_;
  std::vector<std::string> lines_;
  size_t index_ = 0;
  bool haveCommon_ = false;
  std::string message_;
  int errorLine_ = 0;
};

const char* GlslType(VariableType type) {
  switch (type) {
    case VariableType::Scalar: return "float";
    case VariableType::Vector: return "vec4";
    case VariableType::Matrix: return "mat4";
    case VariableType::Texture: return "sampler2D";
  }
  return "float";
}

const char* StageDefine(ShaderStage stage) {
  switch (stage) {
    case ShaderStage::Vertex: return "VERTEX_SHADER";
    case ShaderStage::Geometry: return "GEOMETRY_SHADER";
    case ShaderStage::Fragment: return "FRAGMENT_SHADER";
  }
  return "";
}

}  // namespace

const ShaderBlock* EffectFile::FindBlock(const std::string& name) const {
  for (const ShaderBlock& block : blocks)
    if (block.name == name) return &block;
  return nullptr;
}

bool ParseEffectFile(const std::string& text, EffectFile* effect, std::string* error) {
  *effect = EffectFile();
  Parser parser(text, effect);
  return parser.Run(error);
}

const char* StageName(ShaderStage stage) {
  switch (stage) {
    case ShaderStage::Vertex: return "vertex";
    case ShaderStage::Geometry: return "geometry";
    case ShaderStage::Fragment: return "fragment";
  }
  return "";
}

std::string BuildShaderSource(const EffectFile& effect, ShaderStage stage, const ShaderUse& use, bool remapDepth) {
  std::string s = "#version 330 core\n";
  s += std::string("#define ") + StageDefine(stage) + " 1\n";
  s += std::string("#define REMAP_DEPTH ") + (remapDepth ? "1" : "0") + "\n";
  for (const std::string& define : use.defines) s += "#define " + define + " 1\n";
  for (const VariableDeclaration& v : effect.variables) s += std::string("uniform ") + GlslType(v.type) + " " + v.name + ";\n";
  // projections give depth in [0, 1]; without clip control GL expects [-w, w]
  s += "vec4 ToDevice(vec4 clip) {\n#if REMAP_DEPTH\n  clip.z = 2.0 * clip.z - clip.w;\n#endif\n  return clip;\n}\n";
  if (!effect.commonCode.empty()) {
    s += "#line " + std::to_string(effect.commonFirstLine) + "\n";
    s += effect.commonCode;
  }
  const ShaderBlock* block = effect.FindBlock(use.block);
  if (block) {
    s += "#line " + std::to_string(block->firstLine) + "\n";
    s += block->code;
  }
  return s;
}

}  // namespace GLTools
