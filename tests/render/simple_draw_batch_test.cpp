#include "render/simple_draw_batch.h"

#include <gtest/gtest.h>

using namespace GLTools;

namespace {

// Adds `count` vertices and returns the batch sizes at which it asked for a flush.
std::vector<int> FlushSizes(Topology topology, int capacity, int count) {
  SimpleDrawBatch batch(capacity);
  batch.Begin(topology);
  std::vector<int> sizes;
  for (int i = 0; i < count; ++i) {
    if (batch.Add(SimpleDrawVertex{Vec3f(float(i), 0, 0), {1, 0, 0, 1}})) {
      sizes.push_back(batch.Count());
      batch.Clear();
    }
  }
  return sizes;
}

}  // namespace

TEST(SimpleDrawBatch, FlushesWhenFullForEachTopology) {
  struct Case {
    Topology topology;
    int capacity, count;
    std::vector<int> flushes;
  };
  const Case cases[] = {
      {Topology::PointList, 8, 20, {8, 8}},
      {Topology::LineStrip, 8, 17, {8, 8}},
      {Topology::TriangleStrip, 5, 12, {5, 5}},
      // lines flush at an even count from capacity - 1 on
      {Topology::LineList, 8, 20, {8, 8}},
      {Topology::LineList, 7, 20, {6, 6, 6}},
      // triangles flush at a multiple of 3 from capacity - 2 on
      {Topology::TriangleList, 8, 20, {6, 6, 6}},
      {Topology::TriangleList, 9, 20, {9, 9}},
      {Topology::TriangleList, 1024, 1022, {}},
      {Topology::TriangleList, 1024, 1026, {1023}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FlushSizes(c.topology, c.capacity, c.count), c.flushes)
        << "topology " << int(c.topology) << " capacity " << c.capacity;
}

TEST(SimpleDrawBatch, NeverHoldsMoreThanItsCapacityAndKeepsWholePrimitives) {
  for (Topology topology : {Topology::PointList, Topology::LineList, Topology::LineStrip, Topology::TriangleList,
                            Topology::TriangleStrip}) {
    for (int capacity = -1; capacity <= 20; ++capacity) {
      SimpleDrawBatch batch(capacity);
      ASSERT_GE(batch.Capacity(), SimpleDrawBatch::kMinCapacity);
      for (int size : FlushSizes(topology, capacity, 100)) {
        EXPECT_LE(size, batch.Capacity()) << "topology " << int(topology) << " capacity " << capacity;
        if (topology == Topology::LineList) {
          EXPECT_EQ(size % 2, 0);
        }
        if (topology == Topology::TriangleList) {
          EXPECT_EQ(size % 3, 0);
        }
      }
    }
  }
}

TEST(SimpleDrawBatch, BeginStartsEmptyWithTheNewTopology) {
  SimpleDrawBatch batch(16);
  batch.Begin(Topology::LineList);
  batch.Add(SimpleDrawVertex{Vec3f(1, 2, 3), {0, 1, 0, 1}});
  EXPECT_EQ(batch.Count(), 1);
  EXPECT_EQ(batch.Vertices()[0].position, Vec3f(1, 2, 3));
  batch.Begin(Topology::TriangleStrip);
  EXPECT_EQ(batch.Count(), 0);
  EXPECT_EQ(batch.CurrentTopology(), Topology::TriangleStrip);
}
