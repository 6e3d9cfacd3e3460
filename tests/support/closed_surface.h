#pragma once
// Checks of triangle soups used by the shape tests: welding coincident
// positions, closedness with consistent winding, and the enclosed volume.
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "geometry/vec.h"

// Indices into a welded vertex list: vertices closer than `tolerance` merge.
inline std::vector<int> WeldPositions(const std::vector<Vec3f>& positions, float tolerance) {
  std::vector<int> id(positions.size());
  std::vector<Vec3f> unique;
  for (size_t i = 0; i < positions.size(); ++i) {
    int found = -1;
    for (size_t j = 0; j < unique.size() && found < 0; ++j)
      if (Length(unique[j] - positions[i]) < tolerance) found = static_cast<int>(j);
    if (found < 0) {
      found = static_cast<int>(unique.size());
      unique.push_back(positions[i]);
    }
    id[i] = found;
  }
  return id;
}

// "" when every edge of the welded surface is used exactly once in each
// direction (closed and consistently wound), else the first offending edge.
inline std::string ClosedSurfaceProblem(const std::vector<Vec3f>& positions, const std::vector<uint32_t>& indices) {
  std::vector<int> id = WeldPositions(positions, 1e-6f);
  std::map<std::pair<int, int>, int> directed;
  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    for (int k = 0; k < 3; ++k) {
      int a = id[indices[t + k]], b = id[indices[t + (k + 1) % 3]];
      if (a == b) return "degenerate triangle " + std::to_string(t / 3);
      ++directed[{a, b}];
    }
  }
  for (const auto& [edge, count] : directed) {
    auto opposite = directed.find({edge.second, edge.first});
    if (count != 1 || opposite == directed.end() || opposite->second != 1)
      return "edge " + std::to_string(edge.first) + "-" + std::to_string(edge.second) + " used " +
             std::to_string(count) + " times, reverse " +
             std::to_string(opposite == directed.end() ? 0 : opposite->second) + " times";
  }
  return "";
}

// Signed volume by the divergence theorem: positive for outward winding.
inline double SignedVolume(const std::vector<Vec3f>& positions, const std::vector<uint32_t>& indices) {
  double volume = 0;
  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    Vec3d a(positions[indices[t]]), b(positions[indices[t + 1]]), c(positions[indices[t + 2]]);
    volume += Dot(a, Cross(b, c)) / 6.0;
  }
  return volume;
}
