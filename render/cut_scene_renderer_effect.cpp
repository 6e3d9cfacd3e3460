#include "render/cut_scene_renderer_effect.h"

#include <vector>

namespace GLTools {

bool CutSceneRendererEffect::OnCreate() { return BindVariables() && BindPasses() && CreateLayouts(); }

bool CutSceneRendererEffect::BindVariables() {
  return GetMatrixVariable("g_mProjection", &projection) && GetVectorVariable("g_vLightPosCS", &lightPosCS) &&
         GetScalarVariable("g_fSphereRadius", &sphereRadius) && GetMatrixVariable("g_mWorldView", &worldView) &&
         GetMatrixVariable("g_mTransInvWorldView", &transInvWorldView) &&
         GetVectorVariable("g_vAmbientColor", &ambientColor) && GetVectorVariable("g_vDiffuseColor", &diffuseColor) &&
         GetVectorVariable("g_vSpecularColor", &specularColor) && GetMatrixVariable("g_mWorld", &world) &&
         GetVectorVariable("g_vSceneCenter", &sceneCenter) && GetVectorVariable("g_vFogColor", &fogColor) &&
         GetScalarVariable("g_fFogExponent", &fogExponent) && GetScalarVariable("g_fFogDensity", &fogDensity) &&
         GetMatrixVariable("g_mWorldLightSMProjection", &worldLightSMProjection) &&
         GetVectorVariable("g_vAmbientColorCutSurfaces", &ambientColorCutSurfaces) &&
         GetVectorVariable("g_vDiffuseColorCutSurfaces", &diffuseColorCutSurfaces) &&
         GetVectorVariable("g_vSpecularColorCutSurfaces", &specularColorCutSurfaces) &&
         GetMatrixVariable("g_mShadowMap", &shadowMapMatrix) && GetMatrixVariable("g_mInvViewLight", &invViewLight) &&
         GetScalarVariable("g_fClippingY", &clippingY) && GetShaderResourceVariable("g_txShadowMap", &shadowMap);
}

bool CutSceneRendererEffect::BindPasses() {
  if (!GetTechnique("CutSceneRenderer", &technique)) return false;
  const std::pair<const char*, Pass**> passes[] = {
      {"SetSolidRenderMode", &setSolidRenderMode},
      {"SetWireFrameRenderMode", &setWireFrameRenderMode},
      {"RenderMeshWithFaceNormals", &renderMeshWithFaceNormals},
      {"RenderMeshWithFaceNormalsAndShadows", &renderMeshWithFaceNormalsAndShadows},
      {"RenderMesh", &renderMesh},
      {"RenderMeshWithShadows", &renderMeshWithShadows},
      {"RenderMeshWithPerVertexColor", &renderMeshWithPerVertexColor},
      {"RenderMeshWithCutSurfaces", &renderMeshWithCutSurfaces},
      {"RenderMeshWithCutSurfacesAndShadows", &renderMeshWithCutSurfacesAndShadows},
      {"RenderMeshWithCutSurfacesAndClipping", &renderMeshWithCutSurfacesAndClipping},
      {"RenderMeshWithCutSurfacesAndClippingAndShadows", &renderMeshWithCutSurfacesAndClippingAndShadows},
      {"RenderMeshIntoShadowMap", &renderMeshIntoShadowMap},
      {"RenderMeshWithFog", &renderMeshWithFog},
      {"RenderMeshWithFogAndShadows", &renderMeshWithFogAndShadows},
      {"RenderSimulationVertices", &renderSimulationVertices},
      {"RenderForceArrows", &renderForceArrows},
      {"RenderColorArrows", &renderColorArrows},
      {"RenderSketchCylinders", &renderSketchCylinders},
      {"RenderSurfaceVertices", &renderSurfaceVertices},
      {"RenderExpandedLineSegments", &renderExpandedLineSegments},
  };
  for (const auto& [name, pass] : passes)
    if (!GetPass(technique, name, pass)) return false;
  return true;
}

bool CutSceneRendererEffect::CreateLayouts() {
  const InputElement position{"POSITION", 0, ElementFormat::Float3, 0, 0};
  const InputElement normal{"NORMAL", 0, ElementFormat::Float3, 0, kAppendAligned};
  std::vector<InputElement> instanced = {position, normal};
  for (const char* matrix : {"WORLD_VIEW", "TRANS_INV_WORLD_VIEW"})
    for (int row = 0; row < 4; ++row)
      instanced.push_back({matrix, row, ElementFormat::Float4, 1, kAppendAligned, true, 1});
  std::vector<InputElement> colorInstanced = instanced;
  colorInstanced.push_back({"COLOR", 0, ElementFormat::Float3, 1, kAppendAligned, true, 1});

  return CreateInputLayout(renderMeshWithFaceNormals, {position}, &positionLayout) &&
         CreateInputLayout(renderMesh, {position, normal}, &meshLayout) &&
         CreateInputLayout(renderMeshWithCutSurfaces,
                           {position, normal, {"COLOR", 0, ElementFormat::Float3, 0, kAppendAligned},
                            {"CUT_ID", 0, ElementFormat::Int32, 0, kAppendAligned}},
                           &cutSurfaceLayout) &&
         CreateInputLayout(renderSurfaceVertices,
                           {position, {"CENTER", 0, ElementFormat::Float3, 1, 0, true, 1},
                            {"TYPE", 0, ElementFormat::Int8, 2, 0, true, 1}},
                           &vertexSphereLayout) &&
         CreateInputLayout(renderForceArrows, instanced, &instancedMeshLayout) &&
         CreateInputLayout(renderColorArrows, colorInstanced, &colorInstancedMeshLayout);
}

void CutSceneRendererEffect::Release() {
  projection = lightPosCS = sphereRadius = worldView = transInvWorldView = nullptr;
  ambientColor = diffuseColor = specularColor = world = sceneCenter = fogColor = nullptr;
  fogExponent = fogDensity = worldLightSMProjection = nullptr;
  ambientColorCutSurfaces = diffuseColorCutSurfaces = specularColorCutSurfaces = nullptr;
  shadowMapMatrix = invViewLight = clippingY = shadowMap = nullptr;
  technique = nullptr;
  for (Pass** pass : {&setSolidRenderMode, &setWireFrameRenderMode, &renderMeshWithFaceNormals,
                      &renderMeshWithFaceNormalsAndShadows, &renderMesh, &renderMeshWithShadows,
                      &renderMeshWithPerVertexColor, &renderMeshWithCutSurfaces, &renderMeshWithCutSurfacesAndShadows,
                      &renderMeshWithCutSurfacesAndClipping, &renderMeshWithCutSurfacesAndClippingAndShadows,
                      &renderMeshIntoShadowMap, &renderMeshWithFog, &renderMeshWithFogAndShadows,
                      &renderSimulationVertices, &renderForceArrows, &renderColorArrows, &renderSketchCylinders,
                      &renderSurfaceVertices, &renderExpandedLineSegments})
    *pass = nullptr;
  positionLayout = meshLayout = cutSurfaceLayout = nullptr;
  vertexSphereLayout = instancedMeshLayout = colorInstancedMeshLayout = nullptr;
  Effect::Release();
}

}  // namespace GLTools
