#include "app/output_files.h"

#include <cmath>
#include <ostream>

#include "app/scene.h"
#include "geometry/file_util.h"
#include "geometry/matrix4.h"

namespace {

template <typename T>
void Put(std::ostream& out, T value) {
  out.write(reinterpret_cast<const char*>(&value), sizeof(T));
}

// A row is read from its wired storage, or from its builder before the rows
// were pooled.
struct RowView {
  int32_t count;
  const int32_t* columns;
  const Mat3d* blocks;
};

RowView Row(const LevelVertex& v, const VertexHistory& h) {
  if (v.Wired()) return {v.count, v.columns, v.blocks};
  return {static_cast<int32_t>(h.builderColumns.size()), h.builderColumns.data(), h.builderBlocks.data()};
}

}  // namespace

bool WriteEquationSystem(const std::vector<LevelVertex>& vertices, const std::vector<VertexHistory>& history,
                         const std::wstring& fileName) {
  return WriteFileAtomically(NarrowPath(fileName), true, [&](std::ostream& out) {
    const int32_t n = static_cast<int32_t>(3 * vertices.size());
    Put<uint8_t>(out, 0);
    Put<int32_t>(out, n);
    Put<int32_t>(out, n);
    Put<int32_t>(out, 0);
    for (size_t v = 0; v < vertices.size(); ++v) {
      int32_t length = 3 * Row(vertices[v], history[v]).count;
      for (int r = 0; r < 3; ++r) Put<int32_t>(out, length);
    }
    for (size_t v = 0; v < vertices.size(); ++v) {
      RowView row = Row(vertices[v], history[v]);
      for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < row.count; ++k) {
          for (int c = 0; c < 3; ++c) {
            Put<int32_t>(out, 3 * row.columns[k] + c);
            Put<double>(out, row.blocks[k](r, c));
          }
        }
      }
    }
    Put<int32_t>(out, n);
    for (int32_t i = 0; i < n; ++i) Put<double>(out, 0.0);
    Put<int32_t>(out, n);
    for (const LevelVertex& v : vertices) {
      for (int c = 0; c < 3; ++c) Put<double>(out, v.b[c]);
    }
    Put<int32_t>(out, n);
    for (const LevelVertex& v : vertices) {
      for (int c = 0; c < 3; ++c) Put<double>(out, v.x[c]);
    }
    return bool(out);
  });
}

bool WriteEquationSystem(const Scene& scene, const std::wstring& fileName, std::wostream* log) {
  // a failed load can leave a model behind that is not the scene's
  if (!scene.loaded || !scene.cutSim || scene.cutSim->levelVertices.empty()) {
    if (log) *log << L"ERROR: No finite element model to write to \"" << fileName << L"\"" << std::endl;
    return false;
  }
  bool ok = WriteEquationSystem(scene.cutSim->levelVertices[0], scene.cutSim->vertexHistory[0], fileName);
  if (!ok && log) *log << L"ERROR: Cannot write file \"" << fileName << L"\"" << std::endl;
  return ok;
}

bool WriteDistanceField(const Scene& scene, const std::wstring& fileName, std::wostream* log) {
  if (!scene.loaded || !scene.octree || !scene.octree->voxelGrid) {
    if (log) *log << L"ERROR: No scene is loaded; \"" << fileName << L"\" was not written" << std::endl;
    return false;
  }
  bool ok = scene.octree->voxelGrid->WriteText(fileName);
  if (!ok && log) *log << L"ERROR: Cannot write file \"" << fileName << L"\"" << std::endl;
  return ok;
}

namespace {

// Inverse of the affine map M (p -> A p + t): A^-1 (p - t), in double
// precision. False when A is singular or the result is not finite.
bool AffineInverse(const Mat4f& m, Mat4f& inverse) {
  Mat3d a;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) a(r, c) = m(r, c);
  }
  const double det = a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) -
                     a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
                     a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
  if (det == 0.0 || !std::isfinite(det)) return false;
  Mat3d b;
  b(0, 0) = (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) / det;
  b(0, 1) = (a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2)) / det;
  b(0, 2) = (a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1)) / det;
  b(1, 0) = (a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2)) / det;
  b(1, 1) = (a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0)) / det;
  b(1, 2) = (a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2)) / det;
  b(2, 0) = (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0)) / det;
  b(2, 1) = (a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1)) / det;
  b(2, 2) = (a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0)) / det;
  const Vec3d t(m(0, 3), m(1, 3), m(2, 3));
  const Vec3d back = MulVec(b, t);
  inverse = Mat4f::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) inverse(r, c) = static_cast<float>(b(r, c));
    inverse(r, 3) = static_cast<float>(-back[r]);
  }
  for (float v : inverse.m) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

bool SaveDeformedMesh(Scene& scene, const std::wstring& fileName, std::wostream* log) {
  // a failed load may have built an octree, but not the frame it is saved in
  if (!scene.loaded || !scene.octree) {
    if (log) *log << L"ERROR: No scene is loaded; \"" << fileName << L"\" was not written" << std::endl;
    return false;
  }
  // the scene's matrix is affine (its load rejects anything else)
  Mat4f toMeshFile;
  if (!AffineInverse(scene.meshToSimulation, toMeshFile)) {
    if (log) *log << L"ERROR: The mesh transformation cannot be inverted; \"" << fileName << L"\" was not written"
                  << std::endl;
    return false;
  }
  scene.octree->UpdateSurfacePositions();
  SurfaceMesh surface;
  scene.octree->ExportSurface(surface);
  surface.Transform(toMeshFile);
  // checked in the file's frame: a position can also overflow on the way there
  for (const SurfaceMesh::Vertex& v : surface.vertices) {
    if (!IsFinite(v.position)) {
      if (log) *log << L"ERROR: The surface holds non-finite positions; \"" << fileName << L"\" was not written" << std::endl;
      return false;
    }
  }
  return surface.WriteObj(fileName, log);
}
