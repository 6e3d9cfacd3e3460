#pragma once
// The batching rules of the simple-draw effect, free of the device: vertices
// collect until the batch is full for its topology; then they must be drawn
// (flushed) before the next vertex. A flush keeps whole primitives of lists;
// a strip that spans a flush is broken there.
#include <vector>

#include "geometry/vec.h"
#include "render/geometry.h"

namespace GLTools {

struct SimpleDrawVertex {
  Vec3f position;
  float color[4];
};
static_assert(sizeof(SimpleDrawVertex) == 28, "POSITION float3 + COLOR float4, packed");

class SimpleDrawBatch {
 public:
  // Capacities below the largest primitive (3 vertices) are raised to it, so
  // that a full batch never holds more vertices than the buffer.
  explicit SimpleDrawBatch(int capacity);

  // Starts collecting for a topology; pending vertices must have been flushed.
  void Begin(Topology topology);
  // Appends a vertex; true when the batch is now full and must be flushed.
  bool Add(const SimpleDrawVertex& vertex);
  void Clear() { vertices_.clear(); }

  Topology CurrentTopology() const { return topology_; }
  int Count() const { return static_cast<int>(vertices_.size()); }
  int Capacity() const { return capacity_; }
  const std::vector<SimpleDrawVertex>& Vertices() const { return vertices_; }

  static constexpr int kMinCapacity = 3;

 private:
  bool IsFull() const;

  int capacity_;
  Topology topology_ = Topology::LineList;
  std::vector<SimpleDrawVertex> vertices_;
};

}  // namespace GLTools
