#pragma once
// Effect: loads an effect file (render/effect_file.h) from the folder of the
// running executable, compiles and links the GLSL program of every pass, and
// offers lookups of techniques, passes and typed variables with uniform error
// reports. Variables hold their values on the host; Pass::Apply uploads them
// to the pass's program and sets the pass's fixed-function state, so a value
// set after Apply takes effect at the next Apply.
//
// GL objects are freed only by Release, which needs the context that created
// them; destruction alone frees host memory.
#include <epoxy/gl.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geometry/vec.h"
#include "render/effect_file.h"
#include "render/input_layout.h"

namespace GLTools {

// Shows an error to the user (the application installs a message box).
using MessageBoxHandler = void (*)(const std::wstring& caption, const std::wstring& text);
void SetMessageBoxHandler(MessageBoxHandler handler);

// Folder of the running executable, ending in '/'.
std::wstring ExecutableFolder();

class EffectVariable {
 public:
  explicit EffectVariable(const VariableDeclaration& declaration) : declaration_(declaration) {}

  const std::string& Name() const { return declaration_.name; }
  VariableType Type() const { return declaration_.type; }

  void SetFloat(float value) { values_[0] = value; }
  void SetVector(float x, float y, float z, float w);
  void SetVector(const float values[4]) { SetVector(values[0], values[1], values[2], values[3]); }
  void SetMatrix(const Mat4f& matrix);
  // texture bound to the variable's unit (0 unbinds)
  void SetTexture(GLuint texture, GLenum target = GL_TEXTURE_2D);

  const float* Values() const { return values_; }

  // Uploads the value to `location` of the program in use.
  void Upload(GLint location) const;

 private:
  VariableDeclaration declaration_;
  float values_[16] = {};
  GLuint texture_ = 0;
  GLenum textureTarget_ = GL_TEXTURE_2D;
};

class Pass {
 public:
  Pass(const PassDeclaration& declaration, GLuint program, std::vector<std::pair<EffectVariable*, GLint>> uniforms)
      : declaration_(declaration), program_(program), uniforms_(std::move(uniforms)) {}

  // Uses the pass's program with the current variable values (passes without
  // shaders keep the program in use) and sets the state groups it declares.
  void Apply() const;

  const std::string& Name() const { return declaration_.name; }
  GLuint Program() const { return program_; }
  const PassDeclaration& Declaration() const { return declaration_; }

 private:
  PassDeclaration declaration_;
  GLuint program_;
  std::vector<std::pair<EffectVariable*, GLint>> uniforms_;
};

class Technique {
 public:
  explicit Technique(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  std::vector<std::unique_ptr<Pass>>& Passes() { return passes_; }
  const std::vector<std::unique_ptr<Pass>>& Passes() const { return passes_; }

 private:
  std::string name_;
  std::vector<std::unique_ptr<Pass>> passes_;
};

class Effect {
 public:
  // The file `fileName` in the folder of the running executable.
  explicit Effect(const std::wstring& fileName);
  // The file `fileName` in `folder` (which ends in '/').
  Effect(const std::wstring& folder, const std::wstring& fileName);
  virtual ~Effect() = default;
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  // Loads and compiles the file with the context that is current, then runs
  // the binding hook. On failure it reports (stderr, and a message box when
  // showMessageBox is set) and returns false; *createdCount grows on success
  // of the load.
  bool Create(bool showMessageBox, int* createdCount = nullptr);
  // Frees the programs and the input layouts.
  virtual void Release();

  // Lookups: false with the report "<Kind> \"name\" not found" when missing.
  bool GetTechnique(const std::string& name, Technique** technique);
  bool GetPass(Technique* technique, const std::string& name, Pass** pass);
  bool GetScalarVariable(const std::string& name, EffectVariable** variable);
  bool GetVectorVariable(const std::string& name, EffectVariable** variable);
  bool GetMatrixVariable(const std::string& name, EffectVariable** variable);
  bool GetShaderResourceVariable(const std::string& name, EffectVariable** variable);

  // Creates an input layout owned by the effect for the elements, checked
  // against the pass: every input the pass reads must be supplied, as integer
  // data where the pass reads integers.
  bool CreateInputLayout(const Pass* pass, const std::vector<InputElement>& elements, InputLayout** layout);

  const std::wstring& FilePath() const { return filePath_; }
  bool IsCreated() const { return created_; }

 protected:
  // Binding hook, called right after a successful load: looks up the
  // variables, techniques and passes and creates the input layouts.
  virtual bool OnCreate() { return true; }
  // Sends caption and message to stderr and, if enabled, to the message box.
  void Report(const std::wstring& message) const;

 private:
  bool ReadFile(std::string* text);
  bool CompileAll(const EffectFile& file);
  bool CompileShader(const EffectFile& file, ShaderStage stage, const ShaderUse& use, const std::string& where,
                     GLuint* shader);
  bool LinkProgram(const EffectFile& file, const PassDeclaration& pass, const std::string& where, GLuint* program);
  bool GetVariable(const std::string& name, VariableType type, const wchar_t* kind, EffectVariable** variable);
  bool ResolveAttribute(const InputElement& element, GLuint* location) const;

  std::wstring filePath_;
  std::wstring fileName_;
  bool showMessageBox_ = false;
  bool created_ = false;
  EffectFile file_;
  std::vector<std::unique_ptr<EffectVariable>> variables_;
  std::vector<std::unique_ptr<Technique>> techniques_;
  std::map<std::string, GLuint> programs_;  // by the shader blocks and defines of its stages
  std::vector<std::unique_ptr<InputLayout>> layouts_;
};

}  // namespace GLTools
