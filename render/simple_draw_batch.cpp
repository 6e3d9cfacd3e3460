#include "render/simple_draw_batch.h"

#include <algorithm>

namespace GLTools {

SimpleDrawBatch::SimpleDrawBatch(int capacity) : capacity_(std::max(capacity, kMinCapacity)) {
  vertices_.reserve(capacity_);
}

void SimpleDrawBatch::Begin(Topology topology) {
  topology_ = topology;
  vertices_.clear();
}

bool SimpleDrawBatch::Add(const SimpleDrawVertex& vertex) {
  vertices_.push_back(vertex);
  return IsFull();
}

bool SimpleDrawBatch::IsFull() const {
  int count = Count();
  switch (topology_) {
    case Topology::LineList: return count % 2 == 0 && count >= capacity_ - 1;
    case Topology::TriangleList: return count % 3 == 0 && count >= capacity_ - 2;
    default: return count >= capacity_;
  }
}

}  // namespace GLTools
