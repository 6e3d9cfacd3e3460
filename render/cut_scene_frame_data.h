#pragma once
// The scene renderer's per-frame data, prepared on the host before anything
// is drawn: render-vertex positions and fixed flags, the instance matrices of
// the force arrows and the sketch cylinders, and the surface expanded into one
// record per triangle corner with normals smoothed over the adjacent
// triangles of the same tag. Free of the device, so it can be tested and timed
// alone. The vectors keep their capacity from frame to frame.
//
// Every pass runs on the calling thread: the whole frame takes about 2 ms on
// the liver, while on a machine shared with other work each fork and join of
// a thread team waited several milliseconds for the second core.
#include <cstdint>
#include <vector>

#include "geometry/vec.h"

class CutSim;
class Octree;

// One triangle corner of the surface stream (40 bytes): the vertex stream of
// the cut-surface passes, POSITION, NORMAL, COLOR, CUT_ID.
struct ExpandedCorner {
  Vec3f position;
  Vec3f normal;  // unit, smoothed over the vertex's triangles with this triangle's tag
  Vec3f color;
  int32_t cutId;  // the triangle's tag, 0 = the mesh's own surface
};
static_assert(sizeof(ExpandedCorner) == 40, "corner records are packed");

// Per-instance matrices of an arrow or a cylinder (128 bytes): the world-view
// matrix and the transpose of its inverse, each row by row.
struct InstanceMatrices {
  Mat4f worldView;
  Mat4f transInvWorldView;
};
static_assert(sizeof(InstanceMatrices) == 128, "instance records are packed");

// The instance that maps the whole mesh to one point behind the eye: nothing
// is rasterized for it.
InstanceMatrices CollapsedInstance();

// Instance of a mesh placed with its z axis along the unit vector `axis` at
// `origin`, scaled by `across` in x and y and by `along` in z. viewTransInv is
// TransposedInverse(view). A zero scale or a non-finite input collapses it.
InstanceMatrices AxisInstance(const Mat4f& view, const Mat4f& viewTransInv, const Vec3f& origin, const Vec3f& axis,
                              float across, float along);

// The force arrow of a vertex: it starts 1.5 handle radii from the vertex,
// points along the force and is scaled uniformly by arrowScale * |10 f|.
// Zero or non-finite forces collapse.
InstanceMatrices ForceArrowInstance(const Mat4f& view, const Mat4f& viewTransInv, const Vec3f& vertex,
                                    const Vec3d& force, float handleRadius, float arrowScale);

// Sketch segments are cylinders of the unit-height tube scaled by this across.
constexpr float kSketchCylinderScale = 0.002f;
// Colour of every surface corner.
constexpr float kSurfaceCornerColor[3] = {0.4f, 0.1f, 0.1f};

class CutSceneFrameData {
 public:
  // Render vertices: position of each one's finite element vertex and its fixed flag.
  void BuildRenderVertices(const CutSim& sim);
  // One arrow instance per render vertex (BuildRenderVertices first).
  void BuildArrowInstances(const CutSim& sim, const Mat4f& view, float handleRadius, float arrowScale);
  // One cylinder instance per segment of every polyline.
  void BuildSketchInstances(const std::vector<std::vector<Vec3f>>& sketches, const Mat4f& view);
  // Surface positions from the current corners, then ExpandSurfaceCorners.
  void BuildSurface(Octree& octree);
  // Face normals and the expanded corners of the octree's current surface.
  void ExpandSurfaceCorners(const Octree& octree);

  std::vector<Vec3f> renderPositions;      // [render vertex] current position (mesh units)
  std::vector<uint8_t> renderFixed;        // [render vertex] 1 when fixed
  std::vector<InstanceMatrices> arrows;    // [render vertex]
  std::vector<InstanceMatrices> sketches;  // [segment], polylines in order
  std::vector<uint8_t> surfaceTypes;       // [surface vertex] type byte, always 0
  std::vector<Vec3f> faceNormals;          // [surface triangle] (p1 - p0) x (p2 - p0)
  std::vector<Vec3f> vertexNormals;        // [surface vertex] smoothed normal for vertexNormalTags
  std::vector<int32_t> vertexNormalTags;   // [surface vertex] tag of the vertex's first triangle
  std::vector<ExpandedCorner> corners;     // [3 * triangle + corner]
};
