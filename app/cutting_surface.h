#pragma once
// Cutting surface files: one cut triangle a line, three corners x y z and an
// optional cut id. Read and checked as a whole before anything is cut.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "geometry/vec.h"

struct CutTriangle {
  Vec3f corners[3];  // octree frame, mesh units
  int32_t id = 1;
};

// Reads every triangle of the file; false with an "ERROR: " line naming the
// file (and the line) when it cannot be opened, read or parsed.
bool ReadCuttingSurface(const std::wstring& fileName, std::vector<CutTriangle>& triangles, std::wostream* log);
