#include "support/geometry_meshes.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

SurfaceMesh MakeBox(const Vec3f& lo, const Vec3f& hi) {
  std::vector<Vec3f> p;
  for (int c = 0; c < 8; ++c) p.emplace_back((c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z);
  // corners c = x + 2y + 4z; each face as two triangles wound outward
  const std::vector<int32_t> faces = {0, 4, 6, 0, 6, 2,  1, 3, 7, 1, 7, 5,  0, 1, 5, 0, 5, 4,
                                      2, 6, 7, 2, 7, 3,  0, 2, 3, 0, 3, 1,  4, 5, 7, 4, 7, 6};
  SurfaceMesh mesh;
  mesh.SetFromArrays(p, faces);
  return mesh;
}

SurfaceMesh MakeSphere(const Vec3f& centre, float radius, int subdivisions) {
  std::vector<Vec3f> unit = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  std::vector<int32_t> triangles = {0, 2, 4, 2, 1, 4, 1, 3, 4, 3, 0, 4, 2, 0, 5, 1, 2, 5, 3, 1, 5, 0, 3, 5};
  for (int s = 0; s < subdivisions; ++s) {
    std::map<std::pair<int, int>, int> midpoints;
    auto midpoint = [&](int a, int b) {
      auto key = std::minmax(a, b);
      auto it = midpoints.find(key);
      if (it != midpoints.end()) return it->second;
      unit.push_back(Normalize(unit[a] + unit[b]));
      return midpoints[key] = static_cast<int>(unit.size()) - 1;
    };
    std::vector<int32_t> finer;
    for (size_t t = 0; t < triangles.size(); t += 3) {
      const int a = triangles[t], b = triangles[t + 1], c = triangles[t + 2];
      const int ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
      finer.insert(finer.end(), {a, ab, ca, ab, b, bc, ca, bc, c, ab, bc, ca});
    }
    triangles.swap(finer);
  }
  std::vector<Vec3f> positions;
  for (const Vec3f& u : unit) positions.push_back(centre + u * radius);
  SurfaceMesh mesh;
  mesh.SetFromArrays(positions, triangles);
  return mesh;
}

void AppendMesh(SurfaceMesh& target, const SurfaceMesh& part) {
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  for (const auto& v : target.vertices) positions.push_back(v.position);
  for (const auto& t : target.triangles) indices.insert(indices.end(), {t.i0, t.i1, t.i2});
  const int32_t base = static_cast<int32_t>(positions.size());
  for (const auto& v : part.vertices) positions.push_back(v.position);
  for (const auto& t : part.triangles) indices.insert(indices.end(), {t.i0 + base, t.i1 + base, t.i2 + base});
  target.SetFromArrays(positions, indices);
}
