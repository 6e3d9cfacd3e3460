#pragma once
// Vertex records of the drawing toolkit's geometries.
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

namespace GLTools {

// position only (input layout POSITION)
struct VP {
  Vec3f position;
};

// position and normal (input layout POSITION, NORMAL): the SurfaceMesh vertex record
struct VPN {
  Vec3f position;
  Vec3f normal;
};

static_assert(sizeof(VP) == 12, "VP is three packed floats");
static_assert(sizeof(VPN) == 24 && sizeof(VPN) == sizeof(SurfaceMesh::Vertex), "VPN matches SurfaceMesh::Vertex");

// Builds a vertex of either format; VP drops the normal.
template <typename V>
V MakeVertex(const Vec3f& position, const Vec3f& normal);

template <>
inline VP MakeVertex<VP>(const Vec3f& position, const Vec3f&) {
  return VP{position};
}

template <>
inline VPN MakeVertex<VPN>(const Vec3f& position, const Vec3f& normal) {
  return VPN{position, normal};
}

}  // namespace GLTools
