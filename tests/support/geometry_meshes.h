#pragma once
// Small closed test meshes with outward-facing triangles.
#include "geometry/surface_mesh.h"
#include "geometry/vec.h"

// Axis-aligned box, two triangles per face.
SurfaceMesh MakeBox(const Vec3f& minimum, const Vec3f& maximum);
// Sphere from a subdivided octahedron; 8 * 4^subdivisions triangles.
SurfaceMesh MakeSphere(const Vec3f& centre, float radius, int subdivisions);
// Appends the triangles (and vertices) of another mesh.
void AppendMesh(SurfaceMesh& target, const SurfaceMesh& part);
