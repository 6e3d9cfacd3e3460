#include "render/cut_scene_frame_data.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <map>
#include <set>

#include "cutsim/cut_sim.h"
#include "geometry/matrix4.h"
#include "geometry/octree.h"
#include "support/cutsim_body.h"

namespace {


// a view that turns, tilts and moves, so that mixing up view and world shows
Mat4f TestView() {
  return RotationXMatrix(-0.6f) * RotationZMatrix(0.4f) * TranslationMatrix({-3.0f, 1.5f, -20.0f});
}

Vec3f Apply(const Mat4f& m, const Vec3f& p) { return TransformPoint(m, p); }

bool AllZero(const Mat4f& m) {
  for (float v : m.m)
    if (v != 0) return false;
  return true;
}

bool IsCollapsed(const InstanceMatrices& instance) {
  Mat4f expected;
  expected.m[15] = 1;
  for (int i = 0; i < 16; ++i)
    if (instance.worldView.m[i] != expected.m[i]) return false;
  return AllZero(instance.transInvWorldView);
}

void ExpectMatrixNear(const Mat4f& actual, const Mat4f& expected, float tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

std::unique_ptr<SimBody> Box(const Vec3f& high) {
  auto body = BuildBody(BoxMesh(Vec3f(0, 0, 0), high), BodyOptions{});
  EXPECT_TRUE(body);
  if (body) body->octree->ExtractSurface();
  return body;
}

}  // namespace

TEST(CutSceneFrameData, RenderVerticesCarryTheirElementVertexPositionAndFixedFlag) {
  auto body = Box({6, 4, 4});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  ASSERT_GT(sim.renderVertices.size(), 8u);
  const int fixedRender = 3;
  sim.vertexFixed[0][sim.renderVertices[fixedRender]] = 1;
  sim.levelVertices[0][sim.renderVertices[0]].x = Vec3d(1.25, -2.5, 7.75);

  CutSceneFrameData frame;
  frame.BuildRenderVertices(sim);
  ASSERT_EQ(frame.renderPositions.size(), sim.renderVertices.size());
  EXPECT_EQ(frame.renderPositions[0], Vec3f(1.25f, -2.5f, 7.75f));
  for (size_t r = 1; r < sim.renderVertices.size(); ++r) {
    // at rest every vertex sits at its grid position
    const Vec3i& grid = sim.vertexPosition[0][sim.renderVertices[r]];
    EXPECT_EQ(frame.renderPositions[r], Vec3f(grid)) << r;
    EXPECT_EQ(frame.renderFixed[r], r == fixedRender ? 1 : 0) << r;
  }
}

TEST(CutSceneFrameData, ArrowsStartOutsideTheHandleAndScaleWithTheForce) {
  auto body = Box({6, 4, 4});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  ASSERT_GT(sim.renderVertices.size(), 4u);
  const float handleRadius = 0.25f, arrowScale = 0.5f;
  struct Case {
    int render;
    Vec3d force;
  };
  const Case cases[] = {
      {0, {0, 0, 0}},             // no force: a collapsed instance
      {1, {0.3, 0, 0}},           // along x
      {2, {0.0, -0.05, 0.12}},    // oblique, 13 hundredths long
      {3, {0, 0, -2}},            // straight down, the axis the frame helper must not use
  };
  for (const Case& c : cases) sim.vertexForce[0][sim.renderVertices[c.render]] = c.force;
  const Mat4f view = TestView(), inverseView = Inverse(view);

  CutSceneFrameData frame;
  frame.BuildRenderVertices(sim);
  frame.BuildArrowInstances(sim, view, handleRadius, arrowScale);
  ASSERT_EQ(frame.arrows.size(), sim.renderVertices.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.render);
    const InstanceMatrices& arrow = frame.arrows[c.render];
    const double magnitude = Length(c.force);
    if (magnitude == 0) {
      EXPECT_TRUE(IsCollapsed(arrow));
      continue;
    }
    const Vec3f vertex = frame.renderPositions[c.render];
    const Vec3f direction(Normalize(c.force));
    // the arrow's model space, back in world coordinates
    const Mat4f world = inverseView * arrow.worldView;
    const Vec3f base = Apply(world, {0, 0, 0}), tip = Apply(world, {0, 0, 1});
    const Vec3f side = Apply(world, {1, 0, 0}) - base, other = Apply(world, {0, 1, 0}) - base;
    const float tolerance = 1e-4f;
    EXPECT_NEAR(Length(base - vertex), 1.5f * handleRadius, tolerance);
    EXPECT_NEAR(Dot(Normalize(base - vertex), direction), 1.0f, tolerance);
    const float length = static_cast<float>(arrowScale * 10 * magnitude);
    EXPECT_NEAR(Length(tip - base), length, tolerance);
    EXPECT_NEAR(Dot(Normalize(tip - base), direction), 1.0f, tolerance);
    // uniform scaling: the cross-section is scaled as the length, and round
    EXPECT_NEAR(Length(side), length, tolerance);
    EXPECT_NEAR(Length(other), length, tolerance);
    EXPECT_NEAR(Dot(side, tip - base), 0.0f, tolerance);
    EXPECT_NEAR(Dot(side, other), 0.0f, tolerance);
    // right-handed, so that the arrow's outward faces stay outward
    EXPECT_GT(Dot(Cross(side, other), tip - base), 0.0f);
    // the normal matrix is the general transposed inverse
    ExpectMatrixNear(arrow.transInvWorldView, TransposedInverse(arrow.worldView), 1e-3f);
  }
  // every vertex without a force collapses; the others are whole arrows
  for (size_t r = 0; r < frame.arrows.size(); ++r) {
    bool hasForce = Length(sim.vertexForce[0][sim.renderVertices[r]]) > 0;
    EXPECT_EQ(IsCollapsed(frame.arrows[r]), !hasForce) << r;
  }
}

TEST(CutSceneFrameData, ForcesThatCannotBeDrawnCollapse) {
  const Mat4f view = TestView(), viewTransInv = TransposedInverse(view);
  const double nan = std::nan(""), inf = INFINITY;
  for (const Vec3d& force : {Vec3d(nan, 0, 0), Vec3d(0, inf, 0), Vec3d(1e-300, 0, 0), Vec3d(0, 0, 0)}) {
    EXPECT_TRUE(IsCollapsed(ForceArrowInstance(view, viewTransInv, {1, 2, 3}, force, 0.1f, 1.0f)));
  }
  EXPECT_FALSE(IsCollapsed(ForceArrowInstance(view, viewTransInv, {1, 2, 3}, {0, 1e-3, 0}, 0.1f, 1.0f)));
}

TEST(CutSceneFrameData, SketchCylindersSpanTheirSegments) {
  const std::vector<std::vector<Vec3f>> polylines = {
      {{0, 0, 0}, {1, 0, 0}, {1, 2, 0}},
      {{5, 5, 5}},                                    // a single point has no segment
      {{-1, -1, 2}, {-1, -1, 2}, {-1.5f, 0.5f, 1}},  // a repeated point gives a collapsed segment
  };
  const Mat4f view = TestView(), inverseView = Inverse(view);
  CutSceneFrameData frame;
  frame.BuildSketchInstances(polylines, view);
  ASSERT_EQ(frame.sketches.size(), 4u);
  EXPECT_TRUE(IsCollapsed(frame.sketches[2]));
  const std::pair<Vec3f, Vec3f> segments[] = {
      {{0, 0, 0}, {1, 0, 0}}, {{1, 0, 0}, {1, 2, 0}}, {{-1, -1, 2}, {-1.5f, 0.5f, 1}}};
  const int instanceOf[] = {0, 1, 3};
  for (int s = 0; s < 3; ++s) {
    const Mat4f world = inverseView * frame.sketches[instanceOf[s]].worldView;
    const auto& [p, q] = segments[s];
    EXPECT_NEAR(Length(Apply(world, {0, 0, 0}) - p), 0.0f, 1e-4f) << s;
    EXPECT_NEAR(Length(Apply(world, {0, 0, 1}) - q), 0.0f, 1e-4f) << s;
    // the unit tube's radius 0.1 is drawn 0.0002 wide
    EXPECT_NEAR(Length(Apply(world, {0.1f, 0, 0}) - p), 0.0002f, 1e-6f) << s;
  }
  // no sketches, no instances
  frame.BuildSketchInstances({}, view);
  EXPECT_TRUE(frame.sketches.empty());
}

TEST(CutSceneFrameData, CornerNormalsOfAConvexBodyPointOutward) {
  auto body = Box({8, 6, 5});
  ASSERT_TRUE(body);
  CutSceneFrameData frame;
  frame.BuildSurface(*body->octree);
  const Octree& octree = *body->octree;
  ASSERT_FALSE(octree.surfaceTriangles.empty());
  ASSERT_EQ(frame.corners.size(), octree.surfaceTriangles.size());
  EXPECT_EQ(frame.surfaceTypes, std::vector<uint8_t>(octree.surfacePositions.size(), 0));
  const Vec3f centre(4, 3, 2.5f);
  int onTopFace = 0;
  for (size_t c = 0; c < frame.corners.size(); ++c) {
    const ExpandedCorner& corner = frame.corners[c];
    ASSERT_EQ(corner.position, octree.surfacePositions[octree.surfaceTriangles[c]]);
    ASSERT_EQ(corner.cutId, 0);
    ASSERT_EQ(corner.color, Vec3f(0.4f, 0.1f, 0.1f));
    ASSERT_NEAR(Length(corner.normal), 1.0f, 1e-5f);
    ASSERT_GT(Dot(corner.normal, corner.position - centre), 0.0f) << c;
    // away from the edges a face's corners share its normal
    const Vec3f& p = corner.position;
    if (p.z > 4.5f && p.x > 1.5f && p.x < 6.5f && p.y > 1.5f && p.y < 4.5f) {
      EXPECT_GT(corner.normal.z, 0.999f) << c;
      ++onTopFace;
    }
  }
  EXPECT_GT(onTopFace, 12);
}

TEST(CutSceneFrameData, CutSurfacesKeepTheirOwnNormalsAlongTheCutEdge) {
  auto body = Box({8, 6, 6});
  ASSERT_TRUE(body);
  Octree& octree = *body->octree;
  // a vertical cut x = 4.3 from the top down to z = 2.2, wider than the body
  const int32_t tag = 5;
  const Vec3f a(4.3f, -2, 2.2f), b(4.3f, 8, 2.2f), c(4.3f, -2, 9), d(4.3f, 8, 9);
  octree.InsertCutTriangle(a, b, c, tag);
  octree.InsertCutTriangle(b, d, c, tag);
  octree.ExtractSurface();

  CutSceneFrameData frame;
  frame.BuildSurface(octree);
  // per vertex: the normals its corners carry, by tag
  std::map<int32_t, std::map<int32_t, Vec3f>> normalsByVertex;
  int cutCorners = 0;
  for (size_t k = 0; k < frame.corners.size(); ++k) {
    const ExpandedCorner& corner = frame.corners[k];
    ASSERT_EQ(corner.cutId, octree.surfaceTriangleTag[k / 3]);
    ASSERT_NEAR(Length(corner.normal), 1.0f, 1e-5f);
    normalsByVertex[octree.surfaceTriangles[k]].emplace(corner.cutId, corner.normal);
    if (corner.cutId == tag) {
      ++cutCorners;
      // the cut surfaces are the two faces of the plane x = 4.3
      EXPECT_GT(std::fabs(corner.normal.x), 0.9f) << k;
    }
  }
  EXPECT_GT(cutCorners, 30);
  // along the top edge of the cut, the body's top face and the cut faces meet
  // at one vertex with their own normals
  int edgeVertices = 0;
  for (const auto& [vertex, normals] : normalsByVertex) {
    const Vec3f& p = octree.surfacePositions[vertex];
    // on the top face, away from its edges along y
    if (normals.size() < 2 || p.z < 5.0f || p.y < 1.0f || p.y > 5.0f) continue;
    ++edgeVertices;
    EXPECT_GT(normals.at(0).z, 0.7f) << vertex;
    EXPECT_LT(std::fabs(normals.at(tag).z), 0.3f) << vertex;
    EXPECT_LT(Dot(normals.at(0), normals.at(tag)), 0.5f) << vertex;
  }
  EXPECT_GT(edgeVertices, 3);
}

TEST(CutSceneFrameData, AnOctreeWithoutSurfaceGivesNoCorners) {
  Octree empty;
  CutSceneFrameData frame;
  frame.BuildSurface(empty);
  EXPECT_TRUE(frame.corners.empty());
  EXPECT_TRUE(frame.faceNormals.empty());
  EXPECT_TRUE(frame.surfaceTypes.empty());
}

TEST(CutSceneFrameData, LaterFramesReuseTheirStorage) {
  auto body = Box({6, 5, 4});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  sim.vertexForce[0][sim.renderVertices[0]] = Vec3d(0, 0, 1);
  const std::vector<std::vector<Vec3f>> polylines = {{{0, 0, 0}, {1, 1, 1}, {2, 0, 1}}};
  CutSceneFrameData frame;
  auto prepare = [&] {
    frame.BuildRenderVertices(sim);
    frame.BuildArrowInstances(sim, TestView(), 0.1f, 1.0f);
    frame.BuildSketchInstances(polylines, TestView());
    frame.BuildSurface(*body->octree);
  };
  prepare();
  const void* storage[] = {frame.renderPositions.data(), frame.renderFixed.data(), frame.arrows.data(),
                           frame.sketches.data(),        frame.surfaceTypes.data(), frame.faceNormals.data(),
                           frame.corners.data()};
  prepare();
  const void* again[] = {frame.renderPositions.data(), frame.renderFixed.data(), frame.arrows.data(),
                         frame.sketches.data(),        frame.surfaceTypes.data(), frame.faceNormals.data(),
                         frame.corners.data()};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(storage[i], again[i]) << i;
}

namespace {

// The corner normal by its definition, one corner at a time: the unit sum, in
// adjacency order, of the face normals of the vertex's triangles with the
// corner's tag, or the triangle's own unit normal where that sum cancels.
Vec3f CornerNormalByDefinition(const Octree& octree, const std::vector<Vec3f>& faceNormals, int32_t corner) {
  const int32_t t = corner / 3, v = octree.surfaceTriangles[corner], tag = octree.surfaceTriangleTag[t];
  Vec3f sum;
  for (int32_t k = octree.vertexTriangleStart[v]; k < octree.vertexTriangleStart[v + 1]; ++k) {
    const int32_t other = octree.vertexTriangles[k];
    if (octree.surfaceTriangleTag[other] == tag) sum += faceNormals[other];
  }
  const Vec3f normal = Normalize(sum);
  return LengthSquared(normal) == 0 ? Normalize(faceNormals[t]) : normal;
}

void ExpectSameCorners(const std::vector<ExpandedCorner>& actual, const std::vector<ExpandedCorner>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t c = 0; c < actual.size(); ++c) {
    ASSERT_EQ(actual[c].position, expected[c].position) << c;
    ASSERT_EQ(actual[c].normal, expected[c].normal) << c;
    ASSERT_EQ(actual[c].color, expected[c].color) << c;
    ASSERT_EQ(actual[c].cutId, expected[c].cutId) << c;
  }
}

}  // namespace

// Normals are summed once per vertex for its first triangle's tag; corners of
// the other tags at a vertex where cuts meet must still get their own sums,
// bit for bit, in a frame that saw the surface before the cut, in a fresh one
// and on any number of threads.
TEST(CutSceneFrameData, CornersAfterCrossingCutsMatchTheirDefinitionBitForBit) {
  auto body = Box({8, 6, 6});
  ASSERT_TRUE(body);
  Octree& octree = *body->octree;
  CutSceneFrameData reused;
  reused.BuildSurface(octree);
  const size_t cornersBefore = reused.corners.size();

  // a vertical cut x = 4.3 and a horizontal one z = 3.6 that meet inside the body
  octree.InsertCutTriangle({4.3f, -2, 2.2f}, {4.3f, 8, 2.2f}, {4.3f, -2, 9}, 5);
  octree.InsertCutTriangle({4.3f, 8, 2.2f}, {4.3f, 8, 9}, {4.3f, -2, 9}, 5);
  octree.InsertCutTriangle({-2, -2, 3.6f}, {6.1f, -2, 3.6f}, {-2, 8, 3.6f}, 7);
  octree.InsertCutTriangle({6.1f, -2, 3.6f}, {6.1f, 8, 3.6f}, {-2, 8, 3.6f}, 7);
  octree.ExtractSurface();
  reused.BuildSurface(octree);
  ASSERT_GT(reused.corners.size(), cornersBefore);

  // vertices whose corners carry a tag other than the one they were summed for
  int otherTagCorners = 0;
  std::set<int32_t> tagsSeen;
  for (size_t c = 0; c < reused.corners.size(); ++c) {
    const int32_t v = octree.surfaceTriangles[c];
    tagsSeen.insert(reused.corners[c].cutId);
    if (reused.corners[c].cutId != reused.vertexNormalTags[v]) ++otherTagCorners;
    ASSERT_EQ(reused.corners[c].normal, CornerNormalByDefinition(octree, reused.faceNormals, static_cast<int32_t>(c)))
        << c;
  }
  EXPECT_EQ(tagsSeen, (std::set<int32_t>{0, 5, 7}));
  EXPECT_GT(otherTagCorners, 20);

  CutSceneFrameData fresh;
  fresh.BuildSurface(octree);
  ExpectSameCorners(reused.corners, fresh.corners);

  const int threads = omp_get_max_threads();
  for (int count : {1, 2, 3}) {
    SCOPED_TRACE(count);
    omp_set_num_threads(count);
    CutSceneFrameData onThreads;
    onThreads.BuildSurface(octree);
    ExpectSameCorners(onThreads.corners, fresh.corners);
  }
  omp_set_num_threads(threads);
}

// A frame that drew a larger surface before keeps no corners or normals of it.
TEST(CutSceneFrameData, AFrameMovedToASmallerSurfaceMatchesAFreshOne) {
  auto large = Box({9, 7, 6});
  auto small = Box({4, 3, 3});
  ASSERT_TRUE(large && small);
  CutSceneFrameData frame;
  frame.BuildSurface(*large->octree);
  frame.BuildSurface(*small->octree);
  CutSceneFrameData fresh;
  fresh.BuildSurface(*small->octree);
  ExpectSameCorners(frame.corners, fresh.corners);
  EXPECT_EQ(frame.faceNormals, fresh.faceNormals);
  EXPECT_EQ(frame.vertexNormals.size(), small->octree->surfacePositions.size());
  EXPECT_EQ(frame.surfaceTypes, fresh.surfaceTypes);
}
