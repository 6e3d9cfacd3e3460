// Generates the bundled surface meshes: an organ-shaped liver, a beam and a
// sphere. All are closed and oriented with normals pointing out of the body.
//
//   mesh_generator OUTPUT_FOLDER
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "geometry/file_util.h"
#include "geometry/surface_mesh.h"

namespace {

// Triangulated surface of the cube [-1, 1]^3 with n x n quads per face;
// vertices on shared edges are merged, faces point outward.
void CubeSurface(int n, std::vector<Vec3f>& positions, std::vector<int32_t>& indices) {
  std::map<std::tuple<int, int, int>, int32_t> lattice;
  auto vertex = [&](int i, int j, int k) {
    auto key = std::make_tuple(i, j, k);
    auto found = lattice.find(key);
    if (found != lattice.end()) return found->second;
    int32_t index = static_cast<int32_t>(positions.size());
    positions.emplace_back(2.0f * i / n - 1.0f, 2.0f * j / n - 1.0f, 2.0f * k / n - 1.0f);
    lattice.emplace(key, index);
    return index;
  };
  // each face: fixed axis, its side, and the two running axes in right-handed order
  for (int axis = 0; axis < 3; ++axis) {
    for (int side = 0; side < 2; ++side) {
      int u = (axis + 1) % 3, v = (axis + 2) % 3;
      for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
          int corner[4][3];
          int du[4] = {0, 1, 1, 0}, dv[4] = {0, 0, 1, 1};
          for (int c = 0; c < 4; ++c) {
            corner[c][axis] = side * n;
            corner[c][u] = a + du[c];
            corner[c][v] = b + dv[c];
          }
          int32_t q[4];
          for (int c = 0; c < 4; ++c) q[c] = vertex(corner[c][0], corner[c][1], corner[c][2]);
          // (u, v, axis) is right-handed: counter-clockwise seen from +axis
          if (side == 1) {
            indices.insert(indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
          } else {
            indices.insert(indices.end(), {q[0], q[2], q[1], q[0], q[3], q[2]});
          }
        }
      }
    }
  }
}

float Smoothstep(float t) {
  t = std::fmin(1.0f, std::fmax(0.0f, t));
  return t * t * (3.0f - 2.0f * t);
}

// Maps a point of the unit sphere to the liver: a thick right lobe tapering
// into a thin left lobe, a domed upper face and a hollowed lower face. Every
// step scales or shears one coordinate by a positive function of the others,
// so the surface stays closed and free of self-intersections.
Vec3f LiverShape(const Vec3f& d) {
  const float a = 0.14f, b = 0.09f, c = 0.065f;
  Vec3f p(a * d.x, b * d.y, c * d.z);
  float u = (d.x + 1.0f) * 0.5f;  // 0 at the left tip, 1 at the right lobe
  // the left lobe is thinner and narrower
  p.z *= 0.18f + 0.82f * std::pow(u, 1.1f);
  p.y *= 0.5f + 0.5f * Smoothstep(u * 1.3f);
  // hollow lower face under the middle of the organ
  if (p.z < 0.0f) {
    float hollow = std::exp(-std::pow((p.x - 0.015f) / 0.06f, 2.0f) - std::pow((p.y + 0.01f) / 0.05f, 2.0f));
    p.z *= 1.0f - 0.45f * hollow;
  }
  // domed upper face leaning towards the right lobe
  if (p.z > 0.0f) p.z *= 1.0f + 0.35f * Smoothstep(u);
  // flatter lower face
  if (p.z < 0.0f) p.z *= 0.7f;
  // the left lobe curls slightly forward and down
  p.y += 0.025f * (1.0f - u) * (1.0f - u);
  p.z -= 0.02f * (1.0f - u) * (1.0f - u) * (1.0f - u);
  // a shallow notch along the front edge between the lobes
  float notch = std::exp(-std::pow((p.x + 0.01f) / 0.02f, 2.0f));
  if (p.y < 0.0f) p.y *= 1.0f - 0.2f * notch;
  return p;
}

SurfaceMesh MakeLiver() {
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  CubeSurface(30, positions, indices);
  for (Vec3f& p : positions) p = LiverShape(Normalize(p));
  SurfaceMesh mesh;
  mesh.SetFromArrays(positions, indices);
  return mesh;
}

SurfaceMesh MakeBeam() {
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  CubeSurface(8, positions, indices);
  for (Vec3f& p : positions) p = Vec3f(0.15f * p.x, 0.025f * p.y, 0.025f * p.z);
  SurfaceMesh mesh;
  mesh.SetFromArrays(positions, indices);
  return mesh;
}

SurfaceMesh MakeSphere() {
  std::vector<Vec3f> positions;
  std::vector<int32_t> indices;
  CubeSurface(16, positions, indices);
  for (Vec3f& p : positions) p = Normalize(p) * 0.08f;
  SurfaceMesh mesh;
  mesh.SetFromArrays(positions, indices);
  return mesh;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mesh_generator OUTPUT_FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  struct Output {
    const char* name;
    SurfaceMesh mesh;
  } outputs[] = {{"liver.obj", MakeLiver()}, {"beam.obj", MakeBeam()}, {"sphere.obj", MakeSphere()}};
  for (const Output& out : outputs) {
    std::wstring path = WidenPath(folder + "/" + out.name);
    if (!out.mesh.WriteObj(path, nullptr)) {
      std::fprintf(stderr, "ERROR: Cannot write \"%s/%s\"\n", folder.c_str(), out.name);
      return 1;
    }
    std::printf("%s: %zu vertices, %zu triangles\n", out.name, out.mesh.vertices.size(), out.mesh.triangles.size());
  }
  return 0;
}
