#pragma once
// Immediate drawing of coloured points, lines and triangles (axes, sticks,
// octree outlines, the cutting path) through the effect "simpledraw.fxo":
// Begin(topology), AddVertex(position) with the current colour, End. Vertices
// are batched and drawn when the batch is full or at End.
#include <string>

#include "geometry/vec.h"
#include "render/effect.h"
#include "render/simple_draw_batch.h"

namespace GLTools {

class SimpleDrawEffect : public Effect {
 public:
  // "simpledraw.fxo" next to the executable, batches of `capacity` vertices.
  explicit SimpleDrawEffect(int capacity);
  // "simpledraw.fxo" in `folder` (ending in '/').
  SimpleDrawEffect(const std::wstring& folder, int capacity);

  void Release() override;

  void SetWorldMatrix(const Mat4f& m) { world_ = m; }
  void SetViewMatrix(const Mat4f& m) { view_ = m; }
  void SetProjectionMatrix(const Mat4f& m) { projection_ = m; }
  void SetColor(float r, float g, float b, float a);
  // Draw with the rasterizer state set by the caller instead of the default one.
  void SetUseCustomRasterizerState(bool use) { useCustomRasterizerState_ = use; }

  // Draws vertices still pending from a previous Begin, then starts a batch.
  void Begin(Topology topology);
  void AddVertex(const Vec3f& position);
  void End() { Flush(); }
  // Draws the pending vertices and empties the batch.
  void Flush();

  // Restores the default rasterizer state (solid, no culling).
  void ApplyDefaultRasterizerState() const;

  const SimpleDrawBatch& Batch() const { return batch_; }

 protected:
  bool OnCreate() override;

 private:
  SimpleDrawBatch batch_;
  Mat4f world_ = Mat4f::Identity(), view_ = Mat4f::Identity(), projection_ = Mat4f::Identity();
  float color_[4] = {1, 0, 0, 1};
  bool useCustomRasterizerState_ = false;

  EffectVariable* projectionVariable_ = nullptr;
  EffectVariable* worldViewVariable_ = nullptr;
  Technique* technique_ = nullptr;
  Pass* renderPass_ = nullptr;
  Pass* customRasterizerPass_ = nullptr;
  Pass* defaultRasterizerPass_ = nullptr;
  InputLayout* layout_ = nullptr;
  GLuint vertexBuffer_ = 0;
};

}  // namespace GLTools
