#include "app/edit_tool.h"

#include <gtest/gtest.h>

#include "geometry/matrix4.h"
#include "support/closed_surface.h"

namespace {

std::vector<Vec3f> Positions(const SurfaceMesh& mesh) {
  std::vector<Vec3f> p;
  for (const auto& v : mesh.vertices) p.push_back(v.position);
  return p;
}

std::vector<uint32_t> Indices(const SurfaceMesh& mesh) {
  std::vector<uint32_t> i;
  for (const auto& t : mesh.triangles) i.insert(i.end(), {uint32_t(t.i0), uint32_t(t.i1), uint32_t(t.i2)});
  return i;
}

}  // namespace

TEST(EditTool, MeshesAreClosedOutwardSurfacesOfTheGivenSizes) {
  EditTool tool;
  struct Case {
    const SurfaceMesh* mesh;
    size_t vertices, triangles;
  };
  for (const Case& c : {Case{&tool.blade, 20, 36}, Case{&tool.handle, 46, 66}}) {
    ASSERT_TRUE(c.mesh->valid);
    ASSERT_EQ(c.mesh->vertices.size(), c.vertices);
    ASSERT_EQ(c.mesh->triangles.size(), c.triangles);
    std::vector<bool> used(c.vertices, false);
    for (const auto& t : c.mesh->triangles) used[t.i0] = used[t.i1] = used[t.i2] = true;
    for (size_t v = 0; v < c.vertices; ++v) EXPECT_TRUE(used[v]) << "vertex " << v << " unused";
    EXPECT_EQ(ClosedSurfaceProblem(Positions(*c.mesh), Indices(*c.mesh)), "");
    EXPECT_GT(SignedVolume(Positions(*c.mesh), Indices(*c.mesh)), 0.0);
  }
}

TEST(EditTool, PlacementScalesBeforeStandingTheToolUp) {
  EditTool tool;
  // the blade table spans 4.7 along x, 1.07 along y and 0.1 along z; scaled by
  // (0.024, 0.024, 0.036) and turned -90 degrees about y, table x becomes
  // world z and table z becomes world -x
  Vec3f extent = tool.blade.bboxHalfExtent * 2.0f;
  EXPECT_NEAR(extent.z, 4.7f * 0.024f, 1e-5f);
  EXPECT_NEAR(extent.y, 1.07f * 0.024f, 1e-5f);
  EXPECT_NEAR(extent.x, 0.1f * 0.036f, 1e-6f);
  // the blade tip is the tool's origin and the handle rises above the blade
  EXPECT_NEAR(tool.blade.bboxCenter.z - tool.blade.bboxHalfExtent.z, 0.0f, 1e-6f);
  EXPECT_GT(tool.handle.bboxCenter.z, tool.blade.bboxCenter.z + tool.blade.bboxHalfExtent.z * 0.5f);
  EXPECT_NEAR(tool.handle.bboxHalfExtent.z * 2, 8.5f * 0.024f, 0.01f);
}

TEST(EditTool, StartPoseIsUnrotatedAtItsFixedPlace) {
  ToolPose pose = EditTool::StartPose();
  for (int i = 0; i < 9; ++i) EXPECT_EQ(pose.rotation.m[i], Mat3d::Identity().m[i]);
  Vec3f placed = TransformPoint(ToolPoseMatrix(pose), Vec3f(0, 0, 0));
  EXPECT_FLOAT_EQ(placed.x, 0.2f);
  EXPECT_FLOAT_EQ(placed.y, 0.0f);
  EXPECT_FLOAT_EQ(placed.z, 0.2f);
  // the angles turn about x, then y, then z, like the matrix functions
  Mat4f rotation = ToolPoseMatrix({RotationFromAnglesDegrees({30, -50, 70}), {}});
  Mat4f reference = RotationZMatrix(70 * 3.14159265f / 180) * RotationYMatrix(-50 * 3.14159265f / 180) *
                    RotationXMatrix(30 * 3.14159265f / 180);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(rotation.m[i], reference.m[i], 1e-6f);
}
