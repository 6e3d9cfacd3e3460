#pragma once
// The scene renderer's effect ("cutscenerenderer.fxo"): every variable,
// pass and input layout the renderer draws with, looked up once at creation.
// Creation fails at the first name the file lacks, with its report.
#include <string>

#include "render/effect.h"

namespace GLTools {

class CutSceneRendererEffect : public Effect {
 public:
  CutSceneRendererEffect() : Effect(L"cutscenerenderer.fxo") {}
  explicit CutSceneRendererEffect(const std::wstring& folder) : Effect(folder, L"cutscenerenderer.fxo") {}

  void Release() override;

  EffectVariable* projection = nullptr;
  EffectVariable* lightPosCS = nullptr;
  EffectVariable* sphereRadius = nullptr;
  EffectVariable* worldView = nullptr;
  EffectVariable* transInvWorldView = nullptr;
  EffectVariable* ambientColor = nullptr;
  EffectVariable* diffuseColor = nullptr;
  EffectVariable* specularColor = nullptr;
  EffectVariable* world = nullptr;
  EffectVariable* sceneCenter = nullptr;
  EffectVariable* fogColor = nullptr;
  EffectVariable* fogExponent = nullptr;
  EffectVariable* fogDensity = nullptr;
  EffectVariable* worldLightSMProjection = nullptr;
  EffectVariable* ambientColorCutSurfaces = nullptr;
  EffectVariable* diffuseColorCutSurfaces = nullptr;
  EffectVariable* specularColorCutSurfaces = nullptr;
  EffectVariable* shadowMapMatrix = nullptr;
  EffectVariable* invViewLight = nullptr;
  EffectVariable* clippingY = nullptr;
  EffectVariable* shadowMap = nullptr;  // the shadow-map texture

  Technique* technique = nullptr;
  Pass* setSolidRenderMode = nullptr;
  Pass* setWireFrameRenderMode = nullptr;
  Pass* renderMeshWithFaceNormals = nullptr;
  Pass* renderMeshWithFaceNormalsAndShadows = nullptr;
  Pass* renderMesh = nullptr;
  Pass* renderMeshWithShadows = nullptr;
  Pass* renderMeshWithPerVertexColor = nullptr;
  Pass* renderMeshWithCutSurfaces = nullptr;
  Pass* renderMeshWithCutSurfacesAndShadows = nullptr;
  Pass* renderMeshWithCutSurfacesAndClipping = nullptr;
  Pass* renderMeshWithCutSurfacesAndClippingAndShadows = nullptr;
  Pass* renderMeshIntoShadowMap = nullptr;
  Pass* renderMeshWithFog = nullptr;
  Pass* renderMeshWithFogAndShadows = nullptr;
  Pass* renderSimulationVertices = nullptr;
  Pass* renderForceArrows = nullptr;
  Pass* renderColorArrows = nullptr;
  Pass* renderSketchCylinders = nullptr;
  Pass* renderSurfaceVertices = nullptr;
  Pass* renderExpandedLineSegments = nullptr;

  // POSITION (slot 0): face-normal meshes and line segments
  InputLayout* positionLayout = nullptr;
  // POSITION, NORMAL (slot 0): the other mesh passes
  InputLayout* meshLayout = nullptr;
  // POSITION, NORMAL, COLOR, CUT_ID (slot 0): the expanded surface corners
  InputLayout* cutSurfaceLayout = nullptr;
  // POSITION (slot 0), CENTER (slot 1) and TYPE (slot 2) per instance: vertex spheres
  InputLayout* vertexSphereLayout = nullptr;
  // POSITION, NORMAL (slot 0), WORLD_VIEW 0..3 and TRANS_INV_WORLD_VIEW 0..3 (slot 1) per instance
  InputLayout* instancedMeshLayout = nullptr;
  // as instancedMeshLayout plus COLOR (slot 1) per instance
  InputLayout* colorInstancedMeshLayout = nullptr;

  // bytes of one expanded surface corner and of one arrow or cylinder instance
  static constexpr int kCornerBytes = 40;
  static constexpr int kInstanceBytes = 128;

 protected:
  bool OnCreate() override;

 private:
  bool BindVariables();
  bool BindPasses();
  bool CreateLayouts();
};

}  // namespace GLTools
