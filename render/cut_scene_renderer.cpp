#include "render/cut_scene_renderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>

#include "app/scene.h"
#include "cutsim/cut_sim.h"
#include "cutsim/fatal_error.h"
#include "geometry/matrix4.h"
#include "geometry/octree.h"
#include "render/buffer.h"
#include "render/cut_scene_frame_data.h"
#include "render/cut_scene_renderer_effect.h"
#include "render/geometry.h"
#include "render/simple_draw_effect.h"

using namespace GLTools;

namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr int kShadowMapSize = 4096;
constexpr int kSimpleDrawCapacity = 1024;
// shadow-map projection: 45 degree field of view, square, near 0.1, far 8
constexpr float kLightFieldOfView = kPi / 4;
constexpr float kLightNear = 0.1f, kLightFar = 8.0f;
// depth scaling that keeps lines in front of the surfaces they lie on
constexpr float kCuttingPathDepthScale = 0.8f;
constexpr float kOctreeInnerDepthScale = 1.0f - 0.0001f;
constexpr float kOctreeLeafDepthScale = 1.0f - 0.0002f;
constexpr float kGroundScale = 100.0f;

struct Material {
  float ambient[4], diffuse[4], specular[4];
};
constexpr Material kBladeMaterial = {{0.4f, 0.4f, 0.4f, 0.2f}, {0.8f, 0.8f, 0.8f, 0.5f}, {0.4f, 0.4f, 0.4f, 0.5f}};
constexpr Material kHandleMaterial = {{0.4f, 0.4f, 0.4f, 0.2f}, {0.4f, 0.4f, 0.4f, 0.5f}, {0.4f, 0.4f, 0.4f, 0.5f}};
constexpr Material kSurfaceMaterial = {{0.4f, 0.2f, 0.2f, 0}, {0.3f, 0.15f, 0.15f, 0}, {0.3f, 0.1f, 0.1f, 0}};
constexpr Material kCutSurfaceMaterial = {{0.3f, 0, 0, 0}, {0.3f, 0, 0, 0}, {0.2f, 0.2f, 0.2f, 0}};
constexpr Material kInitialMeshMaterial = {{0.3f, 0.6f, 0.6f, 0.1f}, {0.3f, 0.6f, 0.6f, 0.1f}, {0.4f, 0.4f, 0.4f, 0.1f}};
constexpr Material kGroundMaterial = {{230 / 255.0f, 175 / 255.0f, 120 / 255.0f, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};

// colour of sticks and normals by the axis of their side
constexpr float kAxisColors[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};

void ClearGlErrors() {
  while (glGetError() != GL_NO_ERROR) {
  }
}

// the projection with its depth row scaled: depths move towards the eye by the factor
Mat4f ScaleDepthTerm(const Mat4f& projection, float factor) {
  Mat4f scaled = projection;
  for (int c = 0; c < 4; ++c) scaled(2, c) *= factor;
  return scaled;
}

// clip space of the light -> shadow-map texture coordinates (rows growing downward)
Mat4f ShadowTextureFromClip() {
  Mat4f b;
  const float rows[16] = {0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1};
  std::memcpy(b.m, rows, sizeof(rows));
  return b;
}

void SetDrawBufferCount(int count) {
  const GLenum buffers[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
  glDrawBuffers(count, buffers);
}

void Report(std::wostream* log, const wchar_t* what) {
  if (log) *log << L"ERROR: " << what << L" failed" << std::endl;
}

}  // namespace

class CutSceneRendererImpl {
 public:
  CutSceneRendererImpl(Scene& scene, const EditTool& tool, CutSceneRendererOptions& options)
      : scene_(scene), options_(options), initialMesh_(scene.initialMesh), blade_(tool.blade), handle_(tool.handle) {}

  bool Create(std::wostream* log);
  bool OnResize(int width, int height, unsigned framebuffer);
  void ReleaseSizeDependent();
  void Release();
  void Render(const Mat4f& view, const std::vector<Vec3f>& cuttingPath,
              const std::vector<std::vector<Vec3f>>& sketches);
  uint32_t ReadObjectId(int x, int y);
  void ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& ids);

  std::wstring effectFolder;
  Mat4f projection = Mat4f::Identity();
  ToolPose toolPose;

 private:
  bool CreateShadowMap();
  void PrepareFrameData(const Mat4f& view, const std::vector<std::vector<Vec3f>>& sketches);
  Mat4f LightView(const Mat4f& view) const;
  void RenderShadowMap(const Mat4f& lightProjection, const Mat4f& lightView);
  void SetMainViewVariables(const Mat4f& view, const Mat4f& lightProjection, const Mat4f& lightView);
  void ApplyRenderMode() const;
  void SetWorld(const Mat4f& view, const Mat4f& world) const;
  void SetMaterial(const Material& material) const;
  void DrawCoordinateSystem(const Mat4f& view);
  void DrawCuttingPath(const Mat4f& view, const std::vector<Vec3f>& path);
  void DrawSketches(const Mat4f& view);
  void DrawEditTool(const Mat4f& view);
  void DrawSurface(const Mat4f& view);
  void DrawSticksAndNormals(const Mat4f& view, bool sticks);
  void DrawOctreeSlice(const Mat4f& view);
  void DrawInitialMesh(const Mat4f& view);
  void DrawGround(const Mat4f& view);
  void DrawSurfaceVertices(const Mat4f& view);
  void DrawSimulationVertices(const Mat4f& view);
  void MapObjectIds(size_t bytes, const uint32_t** values);

  Scene& scene_;
  CutSceneRendererOptions& options_;
  CutSceneFrameData frame_;

  std::unique_ptr<CutSceneRendererEffect> effect_;
  std::unique_ptr<SimpleDrawEffect> simpleDraw_;
  UnitBox<VP> box_;
  Arrow<VPN> arrow_{32, 0.1f, 0.2f, 0.6f, 0.4f};
  Cylinder<VPN> cylinder_{32, 0.1f, 1.0f};
  UnitPlane<VPN> plane_{true};
  Mesh<VPN> initialMesh_;
  Mesh<VPN> blade_;
  Mesh<VPN> handle_;
  bool created_ = false;

  DynamicBuffer renderPositionBuffer_, renderFixedBuffer_, arrowBuffer_, sketchBuffer_;
  DynamicBuffer surfacePositionBuffer_, surfaceTypeBuffer_, cornerBuffer_;
  bool cornersReady_ = false;        // this frame's corners are in their buffer
  size_t uploadedSurfaceTypes_ = 0;  // surface type bytes in their buffer (all 0)

  GLuint shadowMap_ = 0, shadowFramebuffer_ = 0;

  // size-dependent: the object-ID target on the frame's framebuffer and its readable copy
  GLuint framebuffer_ = 0;
  GLuint objectIds_ = 0;
  GLuint objectIdCopy_ = 0;
  int width_ = 0, height_ = 0;
};

bool CutSceneRendererImpl::Create(std::wostream* log) {
  Release();
  effect_ = effectFolder.empty() ? std::make_unique<CutSceneRendererEffect>()
                                 : std::make_unique<CutSceneRendererEffect>(effectFolder);
  if (!effect_->Create(true)) {
    Release();
    return false;
  }
  simpleDraw_ = effectFolder.empty() ? std::make_unique<SimpleDrawEffect>(kSimpleDrawCapacity)
                                     : std::make_unique<SimpleDrawEffect>(effectFolder, kSimpleDrawCapacity);
  if (!simpleDraw_->Create(true)) {
    Release();
    return false;
  }
  const bool geometries = box_.Create() && arrow_.Create() && cylinder_.Create() && plane_.Create() &&
                          initialMesh_.Create() && blade_.Create() && handle_.Create();
  if (!geometries) {
    Report(log, L"Creating the renderer's geometry buffers");
    Release();
    return false;
  }
  if (!CreateShadowMap()) {
    Report(log, L"Creating the shadow map");
    Release();
    return false;
  }
  created_ = true;
  return true;
}

bool CutSceneRendererImpl::CreateShadowMap() {
  ClearGlErrors();
  GLint previousFramebuffer = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
  glGenTextures(1, &shadowMap_);
  glBindTexture(GL_TEXTURE_2D, shadowMap_);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT32F, kShadowMapSize, kShadowMapSize, 0, GL_DEPTH_COMPONENT,
               GL_FLOAT, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  // the shaders compare depths themselves
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
  glBindTexture(GL_TEXTURE_2D, 0);
  glGenFramebuffers(1, &shadowFramebuffer_);
  glBindFramebuffer(GL_FRAMEBUFFER, shadowFramebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, shadowMap_, 0);
  glDrawBuffer(GL_NONE);
  glReadBuffer(GL_NONE);
  const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
  return complete && glGetError() == GL_NO_ERROR;
}

bool CutSceneRendererImpl::OnResize(int width, int height, unsigned framebuffer) {
  ReleaseSizeDependent();
  if (width <= 0 || height <= 0 || framebuffer == 0) return false;
  ClearGlErrors();
  GLint previousFramebuffer = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
  framebuffer_ = framebuffer;
  width_ = width;
  height_ = height;
  glGenRenderbuffers(1, &objectIds_);
  glBindRenderbuffer(GL_RENDERBUFFER, objectIds_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_R32UI, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_RENDERBUFFER, objectIds_);
  SetDrawBufferCount(1);
  const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));

  glGenBuffers(1, &objectIdCopy_);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, objectIdCopy_);
  glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(width) * height * sizeof(uint32_t), nullptr,
               GL_STREAM_READ);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (!complete || glGetError() != GL_NO_ERROR) {
    ReleaseSizeDependent();
    return false;
  }
  return true;
}

void CutSceneRendererImpl::ReleaseSizeDependent() {
  if (objectIds_ != 0 && framebuffer_ != 0 && glIsFramebuffer(framebuffer_)) {
    // a renderbuffer stays alive while a framebuffer that is not bound refers to it
    GLint previousFramebuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
  }
  if (objectIds_ != 0) glDeleteRenderbuffers(1, &objectIds_);
  if (objectIdCopy_ != 0) glDeleteBuffers(1, &objectIdCopy_);
  objectIds_ = objectIdCopy_ = 0;
  framebuffer_ = 0;
  width_ = height_ = 0;
}

void CutSceneRendererImpl::Release() {
  ReleaseSizeDependent();
  if (effect_) effect_->Release();
  if (simpleDraw_) simpleDraw_->Release();
  effect_.reset();
  simpleDraw_.reset();
  box_.Release();
  arrow_.Release();
  cylinder_.Release();
  plane_.Release();
  initialMesh_.Release();
  blade_.Release();
  handle_.Release();
  for (DynamicBuffer* buffer : {&renderPositionBuffer_, &renderFixedBuffer_, &arrowBuffer_, &sketchBuffer_,
                                &surfacePositionBuffer_, &surfaceTypeBuffer_, &cornerBuffer_})
    buffer->Release();
  uploadedSurfaceTypes_ = 0;
  if (shadowFramebuffer_ != 0) glDeleteFramebuffers(1, &shadowFramebuffer_);
  if (shadowMap_ != 0) glDeleteTextures(1, &shadowMap_);
  shadowFramebuffer_ = shadowMap_ = 0;
  created_ = false;
}

void CutSceneRendererImpl::PrepareFrameData(const Mat4f& view, const std::vector<std::vector<Vec3f>>& sketches) {
  const CutSim& sim = *scene_.cutSim;
  frame_.BuildRenderVertices(sim);
  if (options_.renderForces || options_.forcesActive)
    frame_.BuildArrowInstances(sim, view, scene_.vertexHandleRadius, scene_.forceArrowScale);
  if (options_.renderSketches && !sketches.empty()) frame_.BuildSketchInstances(sketches, view);
  else frame_.sketches.clear();
  frame_.BuildSurface(*scene_.octree);
  // a stream the device cannot take leaves its part of the frame out
  cornersReady_ = !frame_.corners.empty() && (options_.renderSurface || options_.enableShadows) &&
                  cornerBuffer_.Upload(frame_.corners.data(), frame_.corners.size() * sizeof(ExpandedCorner));
}

Mat4f CutSceneRendererImpl::LightView(const Mat4f& view) const {
  return options_.headLight ? view : scene_.lightViewMatrix;
}

void CutSceneRendererImpl::RenderShadowMap(const Mat4f& lightProjection, const Mat4f& lightView) {
  glBindFramebuffer(GL_FRAMEBUFFER, shadowFramebuffer_);
  glViewport(0, 0, kShadowMapSize, kShadowMapSize);
  glDepthMask(GL_TRUE);
  glClearDepth(1.0);
  glClear(GL_DEPTH_BUFFER_BIT);
  const Mat4f lightViewProjection = lightProjection * lightView;
  if (cornersReady_) {
    effect_->worldLightSMProjection->SetMatrix(lightViewProjection);
    effect_->renderMeshIntoShadowMap->Apply();
    VertexStream stream{cornerBuffer_.Id(), static_cast<int>(sizeof(ExpandedCorner)), 0};
    effect_->positionLayout->Bind(&stream, 1, 0);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(frame_.corners.size()));
  }
  effect_->worldLightSMProjection->SetMatrix(lightViewProjection * ToolPoseMatrix(toolPose));
  blade_.Draw(*effect_->renderMeshIntoShadowMap, *effect_->positionLayout);
  handle_.Draw(*effect_->renderMeshIntoShadowMap, *effect_->positionLayout);
}

void CutSceneRendererImpl::SetMainViewVariables(const Mat4f& view, const Mat4f& lightProjection,
                                                const Mat4f& lightView) {
  effect_->projection->SetMatrix(projection);
  if (options_.headLight) {
    effect_->lightPosCS->SetVector(0, 0, 0, 1);
  } else {
    const Vec3f light = TransformPoint(view, scene_.lightPosition);
    effect_->lightPosCS->SetVector(light.x, light.y, light.z, 1);
  }
  SetWorld(view, Mat4f::Identity());
  const Mat4f inverseView = Inverse(view);
  effect_->invViewLight->SetMatrix(lightView * inverseView);
  effect_->shadowMapMatrix->SetMatrix(ShadowTextureFromClip() * lightProjection * lightView * inverseView);
  effect_->shadowMap->SetTexture(shadowMap_);
}

void CutSceneRendererImpl::ApplyRenderMode() const {
  (options_.wireFrame ? effect_->setWireFrameRenderMode : effect_->setSolidRenderMode)->Apply();
}

void CutSceneRendererImpl::SetWorld(const Mat4f& view, const Mat4f& world) const {
  const Mat4f worldView = view * world;
  effect_->world->SetMatrix(world);
  effect_->worldView->SetMatrix(worldView);
  effect_->transInvWorldView->SetMatrix(TransposedInverse(worldView));
}

void CutSceneRendererImpl::SetMaterial(const Material& material) const {
  effect_->ambientColor->SetVector(material.ambient);
  effect_->diffuseColor->SetVector(material.diffuse);
  effect_->specularColor->SetVector(material.specular);
}

void CutSceneRendererImpl::DrawCoordinateSystem(const Mat4f& view) {
  const Vec3d& s = scene_.voxelSize;
  const Vec3f ends[3] = {{static_cast<float>(5 * s.x), 0, 0},
                         {0, static_cast<float>(5 * s.y), 0},
                         {0, 0, static_cast<float>(5 * s.z)}};
  simpleDraw_->SetWorldMatrix(Mat4f::Identity());
  simpleDraw_->SetViewMatrix(view);
  simpleDraw_->SetProjectionMatrix(projection);
  simpleDraw_->Begin(Topology::LineList);
  for (int axis = 0; axis < 3; ++axis) {
    simpleDraw_->SetColor(kAxisColors[axis][0], kAxisColors[axis][1], kAxisColors[axis][2], 1);
    simpleDraw_->AddVertex(Vec3f());
    simpleDraw_->AddVertex(ends[axis]);
  }
  simpleDraw_->End();
}

void CutSceneRendererImpl::DrawCuttingPath(const Mat4f& view, const std::vector<Vec3f>& path) {
  simpleDraw_->SetWorldMatrix(Mat4f::Identity());
  simpleDraw_->SetViewMatrix(view);
  simpleDraw_->SetProjectionMatrix(ScaleDepthTerm(projection, kCuttingPathDepthScale));
  simpleDraw_->SetColor(1, 1, 0, 1);
  simpleDraw_->Begin(Topology::LineStrip);
  for (const Vec3f& p : path) simpleDraw_->AddVertex(p);
  simpleDraw_->End();
}

void CutSceneRendererImpl::DrawSketches(const Mat4f& view) {
  if (frame_.sketches.empty()) return;
  if (!sketchBuffer_.Upload(frame_.sketches.data(), frame_.sketches.size() * sizeof(InstanceMatrices)))
    return;
  SetWorld(view, Mat4f::Identity());
  VertexStream stream{sketchBuffer_.Id(), static_cast<int>(sizeof(InstanceMatrices)), 0};
  cylinder_.DrawInstanced(*effect_->renderSketchCylinders, *effect_->instancedMeshLayout, &stream, 1,
                          static_cast<int>(frame_.sketches.size()));
}

void CutSceneRendererImpl::DrawEditTool(const Mat4f& view) {
  ApplyRenderMode();
  SetWorld(view, ToolPoseMatrix(toolPose));
  SetMaterial(kBladeMaterial);
  blade_.Draw(*effect_->renderMeshWithFaceNormals, *effect_->positionLayout);
  SetMaterial(kHandleMaterial);
  handle_.Draw(*effect_->renderMeshWithFaceNormals, *effect_->positionLayout);
}

void CutSceneRendererImpl::DrawSurface(const Mat4f& view) {
  if (!cornersReady_) return;
  ApplyRenderMode();
  SetWorld(view, Mat4f::Identity());
  SetMaterial(kSurfaceMaterial);
  effect_->ambientColorCutSurfaces->SetVector(kCutSurfaceMaterial.ambient);
  effect_->diffuseColorCutSurfaces->SetVector(kCutSurfaceMaterial.diffuse);
  effect_->specularColorCutSurfaces->SetVector(kCutSurfaceMaterial.specular);
  effect_->clippingY->SetFloat(static_cast<float>(options_.clipLevel * scene_.voxelSize.y));
  // shadows and clipping go together: without shadows the surface is never clipped
  const Pass* pass = effect_->renderMeshWithCutSurfaces;
  if (options_.enableShadows) {
    if (options_.wireFrame)
      pass = options_.renderOctree ? effect_->renderMeshWithCutSurfacesAndClipping : effect_->renderMeshWithCutSurfaces;
    else
      pass = options_.renderOctree ? effect_->renderMeshWithCutSurfacesAndClippingAndShadows
                                   : effect_->renderMeshWithCutSurfacesAndShadows;
  }
  pass->Apply();
  VertexStream stream{cornerBuffer_.Id(), static_cast<int>(sizeof(ExpandedCorner)), 0};
  effect_->cutSurfaceLayout->Bind(&stream, 1, 0);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(frame_.corners.size()));
}

// Sticks: from each finest cell's centre to its side's crossing. Normals: from
// the crossing along the normal in voxel-scaled space, one mean voxel long.
void CutSceneRendererImpl::DrawSticksAndNormals(const Mat4f& view, bool sticks) {
  const Octree& octree = *scene_.octree;
  const Vec3f s(octree.voxelSize);
  const float normalLength = scene_.meanVoxelSize;
  simpleDraw_->SetWorldMatrix(Mat4f::Identity());
  simpleDraw_->SetViewMatrix(view);
  simpleDraw_->SetProjectionMatrix(projection);
  simpleDraw_->Begin(Topology::LineList);
  for (const OctreeCell& cell : octree.cells[octree.FinestLevel()]) {
    const Vec3f centre((cell.x + 0.5f) * s.x, (cell.y + 0.5f) * s.y, (cell.z + 0.5f) * s.z);
    for (int side = 0; side < 6; ++side) {
      const float offset = cell.offsets[side];
      if (!std::isfinite(offset)) continue;
      const int axis = side / 2;
      Vec3f crossing = centre;
      crossing[axis] += ((side & 1) ? offset : -offset) * s[axis];
      const float* color = kAxisColors[axis];
      simpleDraw_->SetColor(color[0], color[1], color[2], color[3]);
      if (sticks) {
        simpleDraw_->AddVertex(centre);
        simpleDraw_->AddVertex(crossing);
      } else {
        simpleDraw_->AddVertex(crossing);
        simpleDraw_->AddVertex(crossing + Normalize(Div(cell.normals[side], s)) * normalLength);
      }
    }
  }
  simpleDraw_->End();
}

void CutSceneRendererImpl::DrawOctreeSlice(const Mat4f& view) {
  const Octree& octree = *scene_.octree;
  const Vec3f s(octree.voxelSize);
  const int clip = options_.clipLevel;
  const float height = static_cast<float>(clip * octree.voxelSize.y);
  simpleDraw_->SetWorldMatrix(Mat4f::Identity());
  simpleDraw_->SetViewMatrix(view);
  for (int level = 0; level < octree.levelCount; ++level) {
    const int w = octree.CellWidth(level);
    for (bool leaves : {false, true}) {
      simpleDraw_->SetProjectionMatrix(
          ScaleDepthTerm(projection, leaves ? kOctreeLeafDepthScale : kOctreeInnerDepthScale));
      if (leaves) simpleDraw_->SetColor(1, 0, 0, 1);
      else simpleDraw_->SetColor(0, 0, 1, 1);
      simpleDraw_->Begin(Topology::LineList);
      for (const OctreeCell& cell : octree.cells[level]) {
        if (cell.leaf != leaves || clip < cell.y * w || clip >= (cell.y + 1) * w) continue;
        const float x0 = cell.x * w * s.x, x1 = (cell.x + 1) * w * s.x;
        const float z0 = cell.z * w * s.z, z1 = (cell.z + 1) * w * s.z;
        const Vec3f square[4] = {{x0, height, z0}, {x1, height, z0}, {x1, height, z1}, {x0, height, z1}};
        for (int k = 0; k < 4; ++k) {
          simpleDraw_->AddVertex(square[k]);
          simpleDraw_->AddVertex(square[(k + 1) % 4]);
        }
      }
      simpleDraw_->End();
    }
  }
}

void CutSceneRendererImpl::DrawInitialMesh(const Mat4f& view) {
  ApplyRenderMode();
  SetWorld(view, Mat4f::Identity());
  SetMaterial(kInitialMeshMaterial);
  initialMesh_.Draw(*effect_->renderMesh, *effect_->meshLayout);
}

void CutSceneRendererImpl::DrawGround(const Mat4f& view) {
  const Vec3d& h = scene_.octree->meshBoxHalfExtent;
  const float hx = static_cast<float>(h.x), hy = static_cast<float>(h.y);
  const float extent = kGroundScale * (hx + hy);
  ApplyRenderMode();
  SetWorld(view, TranslationMatrix({hx - extent / 2, hy - extent / 2, 0}) * ScalingMatrix({extent, extent, extent}));
  SetMaterial(kGroundMaterial);
  effect_->fogColor->SetVector(0, 0, 0, 0);
  effect_->fogExponent->SetFloat(2);
  effect_->fogDensity->SetFloat(std::log(10.0f) * std::log(10.0f) / ((hx + hy) * 40));
  effect_->sceneCenter->SetVector(hx, hy, 0, 0);
  const bool shadowed = options_.enableShadows && !options_.wireFrame;
  plane_.Draw(shadowed ? *effect_->renderMeshWithFogAndShadows : *effect_->renderMeshWithFog, *effect_->meshLayout);
}

void CutSceneRendererImpl::DrawSurfaceVertices(const Mat4f& view) {
  const std::vector<Vec3f>& positions = scene_.octree->surfacePositions;
  if (positions.empty()) return;
  if (!surfacePositionBuffer_.Upload(positions.data(), positions.size() * sizeof(Vec3f))) return;
  if (uploadedSurfaceTypes_ != frame_.surfaceTypes.size() || surfaceTypeBuffer_.Id() == 0) {
    // the type bytes are all 0: they change only with the vertex count
    uploadedSurfaceTypes_ = 0;
    if (!surfaceTypeBuffer_.Upload(frame_.surfaceTypes.data(), frame_.surfaceTypes.size())) return;
    uploadedSurfaceTypes_ = frame_.surfaceTypes.size();
  }
  SetWorld(view, Mat4f::Identity());
  effect_->sphereRadius->SetFloat(scene_.vertexHandleRadius * 0.5f);
  const VertexStream streams[2] = {{surfacePositionBuffer_.Id(), static_cast<int>(sizeof(Vec3f)), 0},
                                   {surfaceTypeBuffer_.Id(), 1, 0}};
  box_.DrawInstanced(*effect_->renderSurfaceVertices, *effect_->vertexSphereLayout, streams, 2,
                     static_cast<int>(positions.size()));
}

void CutSceneRendererImpl::DrawSimulationVertices(const Mat4f& view) {
  const size_t count = frame_.renderPositions.size();
  if (count == 0) return;
  if (!renderPositionBuffer_.Upload(frame_.renderPositions.data(), count * sizeof(Vec3f)) ||
      !renderFixedBuffer_.Upload(frame_.renderFixed.data(), count) ||
      !arrowBuffer_.Upload(frame_.arrows.data(), count * sizeof(InstanceMatrices)))
    return;
  SetWorld(view, Mat4f::Identity());
  effect_->sphereRadius->SetFloat(scene_.vertexHandleRadius);
  const VertexStream streams[2] = {{renderPositionBuffer_.Id(), static_cast<int>(sizeof(Vec3f)), 0},
                                   {renderFixedBuffer_.Id(), 1, 0}};
  box_.DrawInstanced(*effect_->renderSimulationVertices, *effect_->vertexSphereLayout, streams, 2,
                     static_cast<int>(count));
  const VertexStream arrows{arrowBuffer_.Id(), static_cast<int>(sizeof(InstanceMatrices)), 0};
  arrow_.DrawInstanced(*effect_->renderForceArrows, *effect_->instancedMeshLayout, &arrows, 1,
                       static_cast<int>(count));
}

void CutSceneRendererImpl::Render(const Mat4f& view, const std::vector<Vec3f>& cuttingPath,
                                  const std::vector<std::vector<Vec3f>>& sketches) {
  if (!created_ || objectIds_ == 0 || !scene_.octree || !scene_.cutSim) return;
  const bool forces = options_.renderForces || options_.forcesActive;

  // steps 1-4: host data
  PrepareFrameData(view, sketches);

  // step 5: shadow map
  const Mat4f lightView = LightView(view);
  const Mat4f lightProjection = PerspectiveFovRH(kLightFieldOfView, 1.0f, kLightNear, kLightFar);
  if (options_.enableShadows) RenderShadowMap(lightProjection, lightView);

  // step 6: the frame's targets, the object-ID image cleared to 0
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glViewport(0, 0, width_, height_);
  glDisable(GL_SCISSOR_TEST);
  SetDrawBufferCount(2);
  const GLuint zero[4] = {0, 0, 0, 0};
  glClearBufferuiv(GL_COLOR, 1, zero);
  SetDrawBufferCount(1);
  SetMainViewVariables(view, lightProjection, lightView);

  // steps 7-16: colour only
  if (options_.renderCoordinateSystem) DrawCoordinateSystem(view);
  if (options_.renderCutPath) DrawCuttingPath(view, cuttingPath);
  if (options_.renderSketches) DrawSketches(view);
  DrawEditTool(view);
  if (options_.renderSurface) DrawSurface(view);
  if (options_.renderSticks) DrawSticksAndNormals(view, true);
  if (options_.renderNormals) DrawSticksAndNormals(view, false);
  if (options_.renderOctree) DrawOctreeSlice(view);
  if (options_.initialSurfaceMesh) DrawInitialMesh(view);
  if (options_.renderGround) DrawGround(view);

  // steps 17-18: colour and object IDs
  SetDrawBufferCount(2);
  if (options_.surfaceVertices) DrawSurfaceVertices(view);
  if (forces) DrawSimulationVertices(view);

  // step 19
  SetDrawBufferCount(1);
  simpleDraw_->ApplyDefaultRasterizerState();
}

void CutSceneRendererImpl::MapObjectIds(size_t bytes, const uint32_t** values) {
  *values = static_cast<const uint32_t*>(
      glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(bytes), GL_MAP_READ_BIT));
  if (*values == nullptr) FatalError("cutscenerenderer", __LINE__, L"Mapping Object ID Buffer failed", true);
}

uint32_t CutSceneRendererImpl::ReadObjectId(int x, int y) {
  if (objectIds_ == 0 || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  std::set<uint32_t> ids;
  ReadObjectIds(x, y, x, y, ids);
  return ids.empty() ? 0 : *ids.begin();
}

void CutSceneRendererImpl::ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& ids) {
  if (objectIds_ == 0) return;
  // the rectangle with both corners included, cut to the window
  const int left = std::max(std::min(x0, x1), 0), right = std::min(std::max(x0, x1), width_ - 1);
  const int top = std::max(std::min(y0, y1), 0), bottom = std::min(std::max(y0, y1), height_ - 1);
  if (left > right || top > bottom) return;
  const int columns = right - left + 1, rows = bottom - top + 1;

  GLint previousRead = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
  glReadBuffer(GL_COLOR_ATTACHMENT1);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, objectIdCopy_);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  // window rows grow downward, the framebuffer's upward
  glReadPixels(left, height_ - 1 - bottom, columns, rows, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
  const size_t count = static_cast<size_t>(columns) * rows;
  const uint32_t* values = nullptr;
  MapObjectIds(count * sizeof(uint32_t), &values);
  ids.insert(values, values + count);
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  // the frame is presented by a blit from the read buffer: it must be the colour image again
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
}

// ---------------------------------------------------------------- CutSceneRenderer

CutSceneRenderer::CutSceneRenderer(Scene& scene, const EditTool& tool)
    : impl_(std::make_unique<CutSceneRendererImpl>(scene, tool, options)) {
  if (scene.octree && scene.octree->levelCount > 0) options.clipLevel = (1 << (scene.octree->levelCount - 1)) / 2;
}

CutSceneRenderer::~CutSceneRenderer() = default;

bool CutSceneRenderer::Create(std::wostream* log) { return impl_->Create(log); }
bool CutSceneRenderer::OnResize(int width, int height, unsigned backBufferFramebuffer) {
  return impl_->OnResize(width, height, backBufferFramebuffer);
}
void CutSceneRenderer::ReleaseSizeDependent() { impl_->ReleaseSizeDependent(); }
void CutSceneRenderer::Release() { impl_->Release(); }
void CutSceneRenderer::SetEffectFolder(const std::wstring& folder) { impl_->effectFolder = folder; }
void CutSceneRenderer::SetProjection(const Mat4f& projection) { impl_->projection = projection; }
void CutSceneRenderer::SetToolPose(const ToolPose& pose) { impl_->toolPose = pose; }
void CutSceneRenderer::Render(const Mat4f& view, const std::vector<Vec3f>& cuttingPath,
                              const std::vector<std::vector<Vec3f>>& sketches) {
  impl_->Render(view, cuttingPath, sketches);
}
uint32_t CutSceneRenderer::ReadObjectId(int x, int y) { return impl_->ReadObjectId(x, y); }
void CutSceneRenderer::ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& ids) {
  impl_->ReadObjectIds(x0, y0, x1, y1, ids);
}
