#pragma once
// The cutting tool as it is displayed: a blade and a handle, each a small
// closed triangle mesh from a fixed table, placed once when the shape is
// built, and the fixed pose at which the renderer draws them.
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

// Rigid placement of the tool in the coordinates in which the body is drawn.
struct ToolPose {
  Mat3d rotation = Mat3d::Identity();
  Vec3d translation;
};

class EditTool {
 public:
  // Builds the display shape.
  EditTool();

  // Fills both meshes from their tables through their fixed placements.
  void BuildShape();

  // The pose the editor hands the renderer at start-up; nothing changes it.
  static ToolPose StartPose();

  SurfaceMesh blade;   // first display mesh: 20 vertices, 36 triangles
  SurfaceMesh handle;  // second display mesh: 46 vertices, 66 triangles (the back rim doubled for a flat cap)
};

// Rotation about x, then y, then z by the given angles in degrees.
Mat3d RotationFromAnglesDegrees(const Vec3d& anglesDegrees);
// translation * rotation as a 4x4 float matrix (the pose applied to a point).
Mat4f ToolPoseMatrix(const ToolPose& pose);
