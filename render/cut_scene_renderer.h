#pragma once
// The scene renderer: draws one frame of the simulated body and everything
// around it (deformed surface with cut surfaces, shadows from one light, the
// fogged ground, vertex handles and force arrows, surface vertices, octree
// cross-section, sticks and normals, the input mesh, the edit tool, sketches
// and the cutting path) and writes the object-ID image the editor picks from.
//
// Device objects exist between Create and Release; the object-ID target and
// its read-back exist between OnResize and ReleaseSizeDependent. All calls
// need the context that created them to be current.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/edit_tool.h"
#include "app/editor.h"
#include "geometry/vec.h"

class Scene;

// Display options; the control panel writes the check-box states into them.
struct CutSceneRendererOptions {
  bool wireFrame = false;
  bool renderCoordinateSystem = false;
  bool renderGround = true;
  bool enableShadows = true;
  bool headLight = false;
  bool renderSticks = false;
  bool renderNormals = false;
  bool renderOctree = false;
  int32_t clipLevel = 0;  // cross-section height in finest voxels along y
  bool renderSurface = true;
  bool surfaceVertices = false;
  bool initialSurfaceMesh = false;
  bool renderForces = false;
  bool forcesActive = false;  // set by the keys and the editor; draws as renderForces does
  bool renderCutPath = false;
  bool renderSketches = true;
};

class CutSceneRendererImpl;

class CutSceneRenderer : public ObjectPicker {
 public:
  // The scene must be loaded; clipLevel starts at 2^(L-1) / 2 of its octree.
  CutSceneRenderer(Scene& scene, const EditTool& tool);
  ~CutSceneRenderer() override;
  CutSceneRenderer(const CutSceneRenderer&) = delete;
  CutSceneRenderer& operator=(const CutSceneRenderer&) = delete;

  // Device created: the effect (a message box on its errors), the batcher,
  // buffers, geometries and the shadow map. False at the first failure.
  bool Create(std::wostream* log);
  // Swap chain resized: the object-ID target of the new size, attached to the
  // frame's framebuffer, and its readable copy.
  bool OnResize(int width, int height, unsigned backBufferFramebuffer);
  // Swap chain releasing: frees what OnResize made.
  void ReleaseSizeDependent();
  // Device destroyed: frees every device object.
  void Release();

  // Folder (ending in '/') the effect files are loaded from at the next
  // Create; empty, the default, is the folder of the running executable.
  void SetEffectFolder(const std::wstring& folder);

  void SetProjection(const Mat4f& projection);
  void SetToolPose(const ToolPose& pose);

  // One frame into the framebuffer given to OnResize.
  void Render(const Mat4f& view, const std::vector<Vec3f>& cuttingPath,
              const std::vector<std::vector<Vec3f>>& sketches);

  // ID at pixel (x, y) of the last frame (y grows downward), 0 outside.
  uint32_t ReadObjectId(int x, int y) override;
  // IDs of every pixel in the rectangle (corners in any order, clamped).
  void ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& ids) override;

  CutSceneRendererOptions options;

 private:
  std::unique_ptr<CutSceneRendererImpl> impl_;
};
