#include "app/output_files.h"

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

bool WriteEquationSystem(const Scene& scene, const std::wstring& fileName) {
  if (!scene.cutSim || scene.cutSim->levelVertices.empty()) return false;
  return WriteEquationSystem(scene.cutSim->levelVertices[0], scene.cutSim->vertexHistory[0], fileName);
}

bool WriteDistanceField(const Scene& scene, const std::wstring& fileName, std::wostream* log) {
  bool ok = scene.octree && scene.octree->voxelGrid && scene.octree->voxelGrid->WriteText(fileName);
  if (!ok && log) *log << L"ERROR: Cannot write file \"" << fileName << L"\"" << std::endl;
  return ok;
}

bool SaveDeformedMesh(Scene& scene, const std::wstring& fileName, std::wostream* log) {
  if (!scene.octree) return false;
  Mat4f toMeshFile = Inverse(scene.meshToSimulation);
  scene.octree->UpdateSurfacePositions();
  SurfaceMesh surface;
  scene.octree->ExportSurface(surface);
  for (const SurfaceMesh::Vertex& v : surface.vertices) {
    if (!IsFinite(v.position)) {
      if (log) *log << L"ERROR: The surface holds non-finite positions; \"" << fileName << L"\" was not written" << std::endl;
      return false;
    }
  }
  surface.Transform(toMeshFile);
  return surface.WriteObj(fileName, log);
}
