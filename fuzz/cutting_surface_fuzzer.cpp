// Fuzz target of the cutting surface file reader. Checked on success: every
// corner of every triangle is finite.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "app/cutting_surface.h"
#include "fuzz_support.h"
#include "geometry/file_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  std::vector<CutTriangle> triangles;
  std::wostringstream log;
  if (!ReadCuttingSurface(WidenPath(file.Path()), triangles, &log)) {
    if (log.str().compare(0, 7, L"ERROR: ") != 0) PropertyViolated("failure without an ERROR line");
    return 0;
  }
  for (const CutTriangle& t : triangles) {
    for (const Vec3f& corner : t.corners) {
      if (!IsFinite(corner)) PropertyViolated("non-finite corner accepted");
    }
  }
  return 0;
}
