#include "framework/png_file.h"

#include <stb_image_write.h>

#include <algorithm>
#include <ostream>

#include "geometry/file_util.h"

void FlipRows(std::vector<uint8_t>& pixels, int width, int height, int channels) {
  const size_t rowBytes = static_cast<size_t>(width) * channels;
  for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(pixels.begin() + top * rowBytes, pixels.begin() + (top + 1) * rowBytes,
                     pixels.begin() + bottom * rowBytes);
  }
}

bool WritePng(const std::string& fileName, const std::vector<uint8_t>& rgb, int width, int height,
              std::wostream* log) {
  bool ok = width > 0 && height > 0 && rgb.size() == static_cast<size_t>(width) * height * 3;
  if (ok) {
    // the image is encoded in memory first, so a failed write replaces nothing
    std::vector<uint8_t> encoded;
    auto append = [](void* context, void* data, int size) {
      auto* bytes = static_cast<std::vector<uint8_t>*>(context);
      bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    ok = stbi_write_png_to_func(append, &encoded, width, height, 3, rgb.data(), width * 3) != 0;
    if (ok) {
      ok = WriteFileAtomically(fileName, true, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(encoded.data()), static_cast<std::streamsize>(encoded.size()));
        return static_cast<bool>(out);
      });
    }
  }
  if (!ok && log) *log << L"ERROR: Cannot write image file \"" << WidenPath(fileName) << L"\"" << std::endl;
  return ok;
}
