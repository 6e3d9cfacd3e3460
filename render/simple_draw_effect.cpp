#include "render/simple_draw_effect.h"

#include "geometry/matrix4.h"
#include "render/buffer.h"

namespace GLTools {

SimpleDrawEffect::SimpleDrawEffect(int capacity) : Effect(L"simpledraw.fxo"), batch_(capacity) {}

SimpleDrawEffect::SimpleDrawEffect(const std::wstring& folder, int capacity)
    : Effect(folder, L"simpledraw.fxo"), batch_(capacity) {}

bool SimpleDrawEffect::OnCreate() {
  if (!GetMatrixVariable("g_mProjection", &projectionVariable_)) return false;
  if (!GetMatrixVariable("g_mWorldView", &worldViewVariable_)) return false;
  if (!GetTechnique("SimpleDraw", &technique_)) return false;
  if (!GetPass(technique_, "Render", &renderPass_)) return false;
  if (!GetPass(technique_, "RenderUseCustomRasterizerState", &customRasterizerPass_)) return false;
  if (!GetPass(technique_, "SetDefaultRasterizerState", &defaultRasterizerPass_)) return false;
  std::vector<InputElement> elements = {{"POSITION", 0, ElementFormat::Float3, 0, 0},
                                        {"COLOR", 0, ElementFormat::Float4, 0, kAppendAligned}};
  if (!CreateInputLayout(renderPass_, elements, &layout_)) return false;
  return CreateBuffer(GL_ARRAY_BUFFER, batch_.Capacity() * sizeof(SimpleDrawVertex), BufferUsage::Dynamic, nullptr,
                      &vertexBuffer_);
}

void SimpleDrawEffect::Release() {
  if (vertexBuffer_ != 0) glDeleteBuffers(1, &vertexBuffer_);
  vertexBuffer_ = 0;
  layout_ = nullptr;
  projectionVariable_ = worldViewVariable_ = nullptr;
  technique_ = nullptr;
  renderPass_ = customRasterizerPass_ = defaultRasterizerPass_ = nullptr;
  batch_.Clear();
  Effect::Release();
}

void SimpleDrawEffect::SetColor(float r, float g, float b, float a) {
  color_[0] = r;
  color_[1] = g;
  color_[2] = b;
  color_[3] = a;
}

void SimpleDrawEffect::Begin(Topology topology) {
  // vertices left from an unfinished batch are drawn with their own topology
  if (batch_.Count() > 0) Flush();
  batch_.Begin(topology);
}

void SimpleDrawEffect::AddVertex(const Vec3f& position) {
  SimpleDrawVertex v{position, {color_[0], color_[1], color_[2], color_[3]}};
  if (batch_.Add(v)) Flush();
}

void SimpleDrawEffect::Flush() {
  int count = batch_.Count();
  if (count == 0 || vertexBuffer_ == 0) {
    batch_.Clear();
    return;
  }
  glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
  // orphaning lets the upload proceed while earlier batches are still drawn
  glBufferData(GL_ARRAY_BUFFER, batch_.Capacity() * sizeof(SimpleDrawVertex), nullptr, GL_DYNAMIC_DRAW);
  glBufferSubData(GL_ARRAY_BUFFER, 0, count * sizeof(SimpleDrawVertex), batch_.Vertices().data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  projectionVariable_->SetMatrix(projection_);
  worldViewVariable_->SetMatrix(view_ * world_);
  (useCustomRasterizerState_ ? customRasterizerPass_ : renderPass_)->Apply();
  VertexStream stream{vertexBuffer_, static_cast<int>(sizeof(SimpleDrawVertex)), 0};
  layout_->Bind(&stream, 1, 0);
  glDrawArrays(GlTopology(batch_.CurrentTopology()), 0, count);
  batch_.Clear();
}

void SimpleDrawEffect::ApplyDefaultRasterizerState() const {
  if (defaultRasterizerPass_) defaultRasterizerPass_->Apply();
}

}  // namespace GLTools
