#include "render/effect.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "geometry/file_util.h"
#include "render/device_conventions.h"

namespace GLTools {

namespace {

MessageBoxHandler messageBoxHandler = nullptr;

std::wstring Wide(const std::string& s) { return WidenPath(s); }

std::string ShaderInfoLog(GLuint shader) {
  GLint length = 0;
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  std::string log(length > 0 ? length : 0, '\0');
  if (length > 0) glGetShaderInfoLog(shader, length, nullptr, log.data());
  while (!log.empty() && (log.back() == '\0' || log.back() == '\n')) log.pop_back();
  return log;
}

std::string ProgramInfoLog(GLuint program) {
  GLint length = 0;
  glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
  std::string log(length > 0 ? length : 0, '\0');
  if (length > 0) glGetProgramInfoLog(program, length, nullptr, log.data());
  while (!log.empty() && (log.back() == '\0' || log.back() == '\n')) log.pop_back();
  return log;
}

GLenum GlStage(ShaderStage stage) {
  switch (stage) {
    case ShaderStage::Vertex: return GL_VERTEX_SHADER;
    case ShaderStage::Geometry: return GL_GEOMETRY_SHADER;
    case ShaderStage::Fragment: return GL_FRAGMENT_SHADER;
  }
  return GL_VERTEX_SHADER;
}

std::string UseKey(const std::optional<ShaderUse>& use) {
  if (!use) return "-";
  std::string key = use->block;
  for (const std::string& d : use->defines) key += "+" + d;
  return key;
}

void ApplyRasterizer(const RasterizerState& state) {
  glPolygonMode(GL_FRONT_AND_BACK, state.fill == FillMode::WireFrame ? GL_LINE : GL_FILL);
  glFrontFace(GL_CW);
  if (state.cull == CullMode::None) {
    glDisable(GL_CULL_FACE);
  } else {
    glEnable(GL_CULL_FACE);
    // front faces are the clockwise ones
    glCullFace(state.cull == CullMode::Clockwise ? GL_FRONT : GL_BACK);
  }
  if (state.slopeBias != 0 || state.constantBias != 0) {
    glEnable(GL_POLYGON_OFFSET_FILL);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(state.slopeBias, state.constantBias);
  } else {
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDisable(GL_POLYGON_OFFSET_LINE);
  }
}

void ApplyDepth(const DepthState& state) {
  if (state.test == DepthTest::Off) {
    glDisable(GL_DEPTH_TEST);
  } else {
    glEnable(GL_DEPTH_TEST);
    switch (state.test) {
      case DepthTest::Less: glDepthFunc(GL_LESS); break;
      case DepthTest::LessEqual: glDepthFunc(GL_LEQUAL); break;
      case DepthTest::Equal: glDepthFunc(GL_EQUAL); break;
      default: glDepthFunc(GL_ALWAYS); break;
    }
  }
  glDepthMask(state.write ? GL_TRUE : GL_FALSE);
}

void ApplyBlend(BlendMode mode) {
  if (mode == BlendMode::Off) {
    glDisable(GL_BLEND);
    return;
  }
  glEnable(GL_BLEND);
  glBlendEquation(GL_FUNC_ADD);
  if (mode == BlendMode::Alpha)
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  else
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
}

struct FormatInfo {
  GLint components;
  GLenum type;
};

FormatInfo FormatOf(ElementFormat format) {
  switch (format) {
    case ElementFormat::Float1: return {1, GL_FLOAT};
    case ElementFormat::Float2: return {2, GL_FLOAT};
    case ElementFormat::Float3: return {3, GL_FLOAT};
    case ElementFormat::Float4: return {4, GL_FLOAT};
    case ElementFormat::Int32: return {1, GL_INT};
    case ElementFormat::UInt32: return {1, GL_UNSIGNED_INT};
    case ElementFormat::Int8: return {1, GL_BYTE};
    case ElementFormat::UInt8: return {1, GL_UNSIGNED_BYTE};
  }
  return {3, GL_FLOAT};
}

bool IsIntegerAttributeType(GLenum type) {
  switch (type) {
    case GL_INT: case GL_INT_VEC2: case GL_INT_VEC3: case GL_INT_VEC4:
    case GL_UNSIGNED_INT: case GL_UNSIGNED_INT_VEC2: case GL_UNSIGNED_INT_VEC3: case GL_UNSIGNED_INT_VEC4:
      return true;
    default:
      return false;
  }
}

// GLSL name of element `index` of a declared attribute.
std::string AttributeName(const AttributeDeclaration& a, int index) {
  return a.count > 1 ? a.name + std::to_string(index) : a.name;
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) { messageBoxHandler = handler; }

std::wstring ExecutableFolder() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return L"./";
  path.resize(static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return WidenPath(slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1));
}

void EffectVariable::SetVector(float x, float y, float z, float w) {
  values_[0] = x;
  values_[1] = y;
  values_[2] = z;
  values_[3] = w;
}

void EffectVariable::SetMatrix(const Mat4f& matrix) {
  for (int i = 0; i < 16; ++i) values_[i] = matrix.m[i];
}

void EffectVariable::SetTexture(GLuint texture, GLenum target) {
  texture_ = texture;
  textureTarget_ = target;
}

void EffectVariable::Upload(GLint location) const {
  switch (declaration_.type) {
    case VariableType::Scalar: glUniform1f(location, values_[0]); break;
    case VariableType::Vector: glUniform4fv(location, 1, values_); break;
    // row-major storage: GL transposes on upload
    case VariableType::Matrix: glUniformMatrix4fv(location, 1, GL_TRUE, values_); break;
    case VariableType::Texture:
      glActiveTexture(GL_TEXTURE0 + declaration_.unit);
      glBindTexture(textureTarget_, texture_);
      glUniform1i(location, declaration_.unit);
      break;
  }
}

void Pass::Apply() const {
  if (program_ != 0) {
    glUseProgram(program_);
    for (const auto& [variable, location] : uniforms_) variable->Upload(location);
  }
  if (declaration_.rasterizer) ApplyRasterizer(*declaration_.rasterizer);
  if (declaration_.depth) ApplyDepth(*declaration_.depth);
  if (declaration_.blend) ApplyBlend(*declaration_.blend);
}

Effect::Effect(const std::wstring& fileName) : Effect(ExecutableFolder(), fileName) {}

Effect::Effect(const std::wstring& folder, const std::wstring& fileName)
    : filePath_(folder + fileName), fileName_(fileName) {
  size_t slash = fileName_.find_last_of(L"/\\");
  if (slash != std::wstring::npos) fileName_ = fileName_.substr(slash + 1);
}

void Effect::Report(const std::wstring& message) const {
  std::wstring caption = L"Effect Compile Error (" + fileName_ + L")";
  // bytes as they came (paths), so that no locale conversion can drop the line
  std::string text = NarrowPath(caption + L"\n" + message + L"\n");
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (showMessageBox_ && messageBoxHandler) messageBoxHandler(caption, message);
}

bool Effect::ReadFile(std::string* text) {
  std::string path = NarrowPath(filePath_);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT || access(path.c_str(), F_OK) != 0)
      Report(L"Effect file \"" + filePath_ + L"\" not found");
    else
      Report(L"Effect file \"" + filePath_ + L"\" cannot be read");
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    Report(L"Effect file \"" + filePath_ + L"\" cannot be read");
    return false;
  }
  *text = content.str();
  return true;
}

bool Effect::Create(bool showMessageBox, int* createdCount) {
  Release();
  showMessageBox_ = showMessageBox;
  std::string text, error;
  if (!ReadFile(&text)) return false;
  EffectFile file;
  if (!ParseEffectFile(text, &file, &error)) {
    Report(L"\"" + filePath_ + L"\" " + Wide(error));
    return false;
  }
  ApplyDeviceConventions();
  file_ = std::move(file);
  for (const VariableDeclaration& v : file_.variables) variables_.push_back(std::make_unique<EffectVariable>(v));
  if (!CompileAll(file_)) {
    Release();
    return false;
  }
  created_ = true;
  if (createdCount) ++*createdCount;
  return OnCreate();
}

bool Effect::CompileAll(const EffectFile& file) {
  for (const TechniqueDeclaration& t : file.techniques) {
    auto technique = std::make_unique<Technique>(t.name);
    for (const PassDeclaration& p : t.passes) {
      GLuint program = 0;
      std::vector<std::pair<EffectVariable*, GLint>> uniforms;
      if (p.HasShaders()) {
        std::string where = "technique \"" + t.name + "\" pass \"" + p.name + "\"";
        if (!LinkProgram(file, p, where, &program)) return false;
        for (const auto& variable : variables_) {
          GLint location = glGetUniformLocation(program, variable->Name().c_str());
          if (location >= 0) uniforms.emplace_back(variable.get(), location);
        }
      }
      technique->Passes().push_back(std::make_unique<Pass>(p, program, std::move(uniforms)));
    }
    techniques_.push_back(std::move(technique));
  }
  return true;
}

bool Effect::CompileShader(const EffectFile& file, ShaderStage stage, const ShaderUse& use, const std::string& where,
                           GLuint* shader) {
  std::string source = BuildShaderSource(file, stage, use, !HasClipControl());
  const char* text = source.c_str();
  *shader = glCreateShader(GlStage(stage));
  glShaderSource(*shader, 1, &text, nullptr);
  glCompileShader(*shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(*shader, GL_COMPILE_STATUS, &ok);
  if (ok == GL_TRUE) return true;
  Report(L"\"" + filePath_ + L"\" " + Wide(where) + L": " + Wide(StageName(stage)) + L" shader \"" + Wide(use.block) +
         L"\" does not compile:\n" + Wide(ShaderInfoLog(*shader)));
  glDeleteShader(*shader);
  *shader = 0;
  return false;
}

bool Effect::LinkProgram(const EffectFile& file, const PassDeclaration& pass, const std::string& where,
                         GLuint* program) {
  std::string key = UseKey(pass.vertex) + "|" + UseKey(pass.geometry) + "|" + UseKey(pass.fragment);
  auto cached = programs_.find(key);
  if (cached != programs_.end()) {
    *program = cached->second;
    return true;
  }
  std::vector<GLuint> shaders;
  bool compiled = true;
  const std::pair<ShaderStage, const std::optional<ShaderUse>*> stages[] = {
      {ShaderStage::Vertex, &pass.vertex}, {ShaderStage::Geometry, &pass.geometry}, {ShaderStage::Fragment, &pass.fragment}};
  for (const auto& [stage, use] : stages) {
    if (!*use) continue;
    GLuint shader = 0;
    if (!CompileShader(file, stage, **use, where, &shader)) {
      compiled = false;
      break;
    }
    shaders.push_back(shader);
  }
  GLuint id = 0;
  if (compiled) {
    id = glCreateProgram();
    for (GLuint shader : shaders) glAttachShader(id, shader);
    // every pass reads an attribute at the same location, so one layout serves all
    for (const AttributeDeclaration& a : file.attributes)
      for (int i = 0; i < a.count; ++i) glBindAttribLocation(id, a.location + i, AttributeName(a, i).c_str());
    glLinkProgram(id);
  }
  for (GLuint shader : shaders) glDeleteShader(shader);
  if (!compiled) return false;
  GLint ok = GL_FALSE;
  glGetProgramiv(id, GL_LINK_STATUS, &ok);
  if (ok != GL_TRUE) {
    Report(L"\"" + filePath_ + L"\" " + Wide(where) + L" does not link:\n" + Wide(ProgramInfoLog(id)));
    glDeleteProgram(id);
    return false;
  }
  programs_[key] = id;
  *program = id;
  return true;
}

void Effect::Release() {
  for (auto& layout : layouts_) layout->Release();
  layouts_.clear();
  for (auto& [key, program] : programs_) glDeleteProgram(program);
  programs_.clear();
  techniques_.clear();
  variables_.clear();
  created_ = false;
}

bool Effect::GetTechnique(const std::string& name, Technique** technique) {
  *technique = nullptr;
  for (auto& t : techniques_) {
    if (t->Name() == name) {
      *technique = t.get();
      return true;
    }
  }
  Report(L"Technique \"" + Wide(name) + L"\" not found");
  return false;
}

bool Effect::GetPass(Technique* technique, const std::string& name, Pass** pass) {
  *pass = nullptr;
  if (technique) {
    for (auto& p : technique->Passes()) {
      if (p->Name() == name) {
        *pass = p.get();
        return true;
      }
    }
  }
  Report(L"Pass \"" + Wide(name) + L"\" not found");
  return false;
}

bool Effect::GetVariable(const std::string& name, VariableType type, const wchar_t* kind, EffectVariable** variable) {
  *variable = nullptr;
  for (auto& v : variables_) {
    if (v->Name() == name && v->Type() == type) {
      *variable = v.get();
      return true;
    }
  }
  Report(std::wstring(kind) + L" \"" + Wide(name) + L"\" not found");
  return false;
}

bool Effect::GetScalarVariable(const std::string& name, EffectVariable** variable) {
  return GetVariable(name, VariableType::Scalar, L"Scalar variable", variable);
}

bool Effect::GetVectorVariable(const std::string& name, EffectVariable** variable) {
  return GetVariable(name, VariableType::Vector, L"Vector variable", variable);
}

bool Effect::GetMatrixVariable(const std::string& name, EffectVariable** variable) {
  return GetVariable(name, VariableType::Matrix, L"Matrix variable", variable);
}

bool Effect::GetShaderResourceVariable(const std::string& name, EffectVariable** variable) {
  return GetVariable(name, VariableType::Texture, L"Shader resource variable", variable);
}

bool Effect::ResolveAttribute(const InputElement& element, GLuint* location) const {
  for (const AttributeDeclaration& a : file_.attributes) {
    if (a.name == element.semantic && element.index >= 0 && element.index < a.count) {
      *location = static_cast<GLuint>(a.location + element.index);
      return true;
    }
  }
  return false;
}

bool Effect::CreateInputLayout(const Pass* pass, const std::vector<InputElement>& elements, InputLayout** layout) {
  *layout = nullptr;
  if (!pass || pass->Program() == 0) return false;
  std::vector<InputLayout::Attribute> attributes;
  std::map<int, int> slotEnd;  // next appended offset per slot
  for (const InputElement& e : elements) {
    InputLayout::Attribute a;
    if (!ResolveAttribute(e, &a.location)) {
      std::fprintf(stderr, "input element %s%d is not an attribute of the effect\n", e.semantic.c_str(), e.index);
      return false;
    }
    FormatInfo format = FormatOf(e.format);
    a.components = format.components;
    a.type = format.type;
    a.integer = IsIntegerFormat(e.format);
    a.slot = e.slot;
    a.offset = e.offset == kAppendAligned ? slotEnd[e.slot] : e.offset;
    a.divisor = e.perInstance ? static_cast<GLuint>(e.stepRate > 0 ? e.stepRate : 1) : 0;
    slotEnd[e.slot] = a.offset + ElementBytes(e.format);
    attributes.push_back(a);
  }
  // the pass's inputs are its active attributes
  GLint count = 0;
  glGetProgramiv(pass->Program(), GL_ACTIVE_ATTRIBUTES, &count);
  for (GLint i = 0; i < count; ++i) {
    char name[256];
    GLint size = 0;
    GLenum type = 0;
    glGetActiveAttrib(pass->Program(), static_cast<GLuint>(i), sizeof(name), nullptr, &size, &type, name);
    GLint location = glGetAttribLocation(pass->Program(), name);
    if (location < 0) continue;  // built-in inputs such as gl_VertexID
    const InputLayout::Attribute* supplied = nullptr;
    for (const InputLayout::Attribute& a : attributes)
      if (static_cast<GLint>(a.location) == location) supplied = &a;
    if (!supplied || supplied->integer != IsIntegerAttributeType(type)) {
      std::fprintf(stderr, "input layout for pass \"%s\": input \"%s\" %s\n", pass->Name().c_str(), name,
                   supplied ? "needs the other kind of data (integer or float)" : "is not supplied");
      return false;
    }
  }
  auto created = std::make_unique<InputLayout>();
  if (!created->Create(attributes)) return false;
  *layout = created.get();
  layouts_.push_back(std::move(created));
  return true;
}

}  // namespace GLTools
