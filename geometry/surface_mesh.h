#pragma once
// Triangle surface mesh: the body's closed input surface, the edit tool's
// display meshes and the deformed surface written by "Save Mesh".
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "geometry/vec.h"

class SurfaceMesh {
 public:
  struct Vertex {
    Vec3f position;
    Vec3f normal;  // area-weighted unit normal, zero for an unused vertex
  };
  struct Triangle {
    int32_t i0 = 0, i1 = 0, i2 = 0;  // 0-based vertex indices
    Vec3f normal;                    // (p1 - p0) x (p2 - p0), length = 2 * area
  };

  bool valid = false;
  std::vector<Vertex> vertices;    // in file order
  std::vector<Triangle> triangles; // in file order
  Vec3f bboxCenter;
  Vec3f bboxHalfExtent;

  // Reads the vertices and faces of an OBJ file. Faces with more than three
  // corners are split into a fan; indices must lie in 1..vertex count.
  bool ReadObj(const std::wstring& fileName, std::wostream* log, bool reverseWinding);
  // Writes positions and faces; the file is replaced only once it is complete.
  bool WriteObj(const std::wstring& fileName, std::wostream* log) const;

  void ComputeNormals();
  void ComputeBoundingBox();
  void Scale(float factor);
  void Transform(const Mat4f& matrix);
  void SetFromArrays(const std::vector<Vec3f>& positions, const std::vector<int32_t>& indices);
  // Nearest front-facing hit at t >= 0 (t in multiples of direction).
  bool IntersectRay(const Vec3f& origin, const Vec3f& direction, Vec3f& hit) const;
};
