// Fuzz target of the OBJ reader: SurfaceMesh::ReadObj on arbitrary bytes, with
// and without reversed winding. Checked on success: every index names a
// vertex, every position is finite, and both readings agree up to the swap of
// the second and third corner.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "fuzz_support.h"
#include "geometry/file_util.h"
#include "geometry/surface_mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  SurfaceMesh mesh, reversed;
  std::wostringstream log;
  const bool read = mesh.ReadObj(WidenPath(file.Path()), &log, false);
  if (read != mesh.valid) PropertyViolated("read result and valid flag disagree");
  const bool readReversed = reversed.ReadObj(WidenPath(file.Path()), nullptr, true);
  if (read != readReversed) PropertyViolated("reversed winding changed the outcome");
  if (!read) return 0;

  const int64_t count = static_cast<int64_t>(mesh.vertices.size());
  for (const SurfaceMesh::Vertex& v : mesh.vertices) {
    if (!IsFinite(v.position)) PropertyViolated("non-finite position accepted");
  }
  if (reversed.triangles.size() != mesh.triangles.size()) PropertyViolated("reversed reading has other triangles");
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const SurfaceMesh::Triangle& a = mesh.triangles[t];
    const SurfaceMesh::Triangle& b = reversed.triangles[t];
    for (int32_t index : {a.i0, a.i1, a.i2}) {
      if (index < 0 || index >= count) PropertyViolated("face index outside the vertices accepted");
    }
    if (a.i0 != b.i0 || a.i1 != b.i2 || a.i2 != b.i1) PropertyViolated("reversed winding is not a swap");
  }
  // the ray cast reads every triangle's corners
  Vec3f hit;
  mesh.IntersectRay(mesh.bboxCenter + Vec3f(0, 0, 1e3f), Vec3f(0, 0, -1), hit);
  return 0;
}
