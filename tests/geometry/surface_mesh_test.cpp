#include "geometry/surface_mesh.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiny_obj_loader.h>

#include <cfloat>
#include <filesystem>
#include <sstream>

#include "geometry/file_util.h"
#include "support/temp_folder.h"

namespace {

struct ReadResult {
  SurfaceMesh mesh;
  bool ok = false;
  std::wstring log;
};

ReadResult ReadText(const TempFolder& folder, const std::string& text, bool reverse = false) {
  ReadResult r;
  folder.Write("mesh.obj", text);
  std::wostringstream log;
  r.ok = r.mesh.ReadObj(folder.WideFile("mesh.obj"), &log, reverse);
  r.log = log.str();
  return r;
}

std::wstring ParseError(const TempFolder& folder, int line) {
  return L"ERROR: Error parsing line " + std::to_wstring(line) + L" of file \"" + folder.WideFile("mesh.obj") + L"\"\n";
}

// Axis-aligned unit cube [0,1]^3 with outward faces.
SurfaceMesh UnitCube() {
  std::vector<Vec3f> p = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  std::vector<int32_t> i = {0, 2, 1, 0, 3, 2, 4, 5, 6, 4, 6, 7, 0, 1, 5, 0, 5, 4,
                            3, 7, 6, 3, 6, 2, 0, 4, 7, 0, 7, 3, 1, 2, 6, 1, 6, 5};
  SurfaceMesh m;
  m.SetFromArrays(p, i);
  return m;
}

}  // namespace

TEST(SurfaceMeshTest, FaceTokensPolygonsAndIgnoredKeywords) {
  TempFolder folder;
  ReadResult r = ReadText(folder,
                          "# comment\nvn 0 0 1\nvt 0 0\n\no thing\ng group\ns 1\nusemtl x\n"
                          "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 2 2 2\n"
                          "f 1/2/3 4/5/6 7/8/9\nf 1 2 3 4\nf 5// 6// 7//\n");
  ASSERT_TRUE(r.ok) << r.log;
  EXPECT_TRUE(r.log.empty());
  ASSERT_EQ(r.mesh.vertices.size(), 9u);
  ASSERT_EQ(r.mesh.triangles.size(), 4u);
  auto tri = [&](int t) {
    const auto& x = r.mesh.triangles[t];
    return std::vector<int>{x.i0, x.i1, x.i2};
  };
  EXPECT_EQ(tri(0), (std::vector<int>{0, 3, 6}));
  // a quad becomes a fan of two triangles, so no hole opens in the surface
  EXPECT_EQ(tri(1), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(tri(2), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(tri(3), (std::vector<int>{4, 5, 6}));
  // an unused vertex keeps a zero normal
  EXPECT_EQ(r.mesh.vertices[8].normal, Vec3f(0, 0, 0));
}

TEST(SurfaceMeshTest, ReverseWindingSwapsLastTwoCorners) {
  TempFolder folder;
  ReadResult r = ReadText(folder, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.mesh.triangles[0].i1, 2);
  EXPECT_EQ(r.mesh.triangles[0].i2, 1);
  EXPECT_LT(r.mesh.triangles[0].normal.z, 0.0f);
}

TEST(SurfaceMeshTest, FacesBeforeVerticesLoad) {
  TempFolder folder;
  ReadResult r = ReadText(folder, "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n");
  ASSERT_TRUE(r.ok) << r.log;
  EXPECT_EQ(r.mesh.triangles.size(), 1u);
}

TEST(SurfaceMeshTest, BadLinesFailNamingTheirLine) {
  TempFolder folder;
  const std::string verts = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  struct Case {
    std::string text;
    int line;
  } cases[] = {
      {verts + "f 1 2 0\n", 4},                    // index 0
      {verts + "f 1 -1 2\n", 4},                   // relative indices are not supported
      {verts + "f 1 2 4\n", 4},                    // past the end
      {verts + "\nf 1 2\n", 5},                    // fewer than three corners
      {verts + "f 1 /2 3\n", 4},                   // no index before the slash
      {verts + "f 1 2 99999999999999999999\n", 4}, // does not fit an int
      {"v 0 0\n", 1},                              // two coordinates
      {"v 0 nan 0\n", 1},                          // not a finite number
      {"v 0 0 inf\n", 1},
      {"v 0 0 1e39\n", 1},                         // overflows float
      {"v 0 x 0\n", 1},
      {"f 1 2 3\nv 0 0 0\n", 1},                   // face before too few vertices
  };
  for (const Case& c : cases) {
    ReadResult r = ReadText(folder, c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_FALSE(r.mesh.valid) << c.text;
    EXPECT_EQ(r.log, ParseError(folder, c.line)) << c.text;
  }
}

TEST(SurfaceMeshTest, LineEndsLastLineAndNulBytes) {
  TempFolder folder;
  // CR-only line ends, and a last line without any line break
  ReadResult r = ReadText(folder, "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3");
  ASSERT_TRUE(r.ok) << r.log;
  EXPECT_EQ(r.mesh.vertices.size(), 3u);
  EXPECT_EQ(r.mesh.triangles.size(), 1u);

  std::string withNul = std::string("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n") + std::string("v 1\0 2 3\n", 10);
  ReadResult n = ReadText(folder, withNul);
  EXPECT_FALSE(n.ok);
  EXPECT_EQ(n.log, ParseError(folder, 5));
}

TEST(SurfaceMeshTest, EmptyFileIsAValidEmptyMesh) {
  TempFolder folder;
  ReadResult r = ReadText(folder, "");
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.mesh.valid);
  EXPECT_EQ(r.mesh.bboxCenter, Vec3f(0, 0, 0));
  EXPECT_EQ(r.mesh.bboxHalfExtent, Vec3f(-FLT_MAX, -FLT_MAX, -FLT_MAX));
}

TEST(SurfaceMeshTest, MissingFileMessage) {
  TempFolder folder;
  SurfaceMesh mesh;
  std::wostringstream log;
  EXPECT_FALSE(mesh.ReadObj(folder.WideFile("none.obj"), &log, false));
  EXPECT_EQ(log.str(), L"ERROR: Cannot open input file \"" + folder.WideFile("none.obj") + L"\"\n");
}

TEST(SurfaceMeshTest, NormalsAreAreaWeighted) {
  SurfaceMesh m;
  // triangle 0 in the plane z = 0 (area 0.5), triangle 1 in the plane x = 0 (area 1);
  // both share vertex 0
  m.SetFromArrays({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 0, 1}}, {0, 1, 2, 0, 3, 4});
  Vec3f n = m.vertices[0].normal;
  EXPECT_NEAR(n.x / n.z, 2.0f, 1e-6f);
  EXPECT_NEAR(Length(n), 1.0f, 1e-6f);
  EXPECT_EQ(m.triangles[1].normal, Vec3f(2, 0, 0));
}

TEST(SurfaceMeshTest, ScaleAndTransformKeepBoxAndNormalsConsistent) {
  SurfaceMesh m = UnitCube();
  m.Scale(2.0f);
  EXPECT_EQ(m.bboxCenter, Vec3f(1, 1, 1));
  EXPECT_EQ(m.bboxHalfExtent, Vec3f(1, 1, 1));
  Mat4f mirror = Mat4f::Identity();
  mirror(0, 0) = -1.0f;
  mirror(1, 3) = 5.0f;
  m.Transform(mirror);
  EXPECT_EQ(m.bboxCenter, Vec3f(-1, 6, 1));
  // a mirror turns the winding inside out: the face normals follow the winding
  const auto& t = m.triangles[0];  // originally the -z face
  EXPECT_GT(t.normal.z, 0.0f);
}

TEST(SurfaceMeshTest, IntersectRayFindsNearestFrontFaceOnly) {
  SurfaceMesh cube = UnitCube();
  Vec3f hit(9, 9, 9);
  ASSERT_TRUE(cube.IntersectRay({0.5f, 0.5f, 5.0f}, {0, 0, -2}, hit));
  EXPECT_NEAR(hit.z, 1.0f, 1e-6f);
  EXPECT_NEAR(hit.x, 0.5f, 1e-6f);
  Vec3f untouched(9, 9, 9);
  EXPECT_FALSE(cube.IntersectRay({0.5f, 0.5f, 0.5f}, {0, 0, 1}, untouched));
  EXPECT_EQ(untouched, Vec3f(9, 9, 9));
  EXPECT_FALSE(cube.IntersectRay({0.5f, 0.5f, 5.0f}, {0, 0, 1}, untouched)) << "behind the origin";
  // through a shared edge: still a hit
  ASSERT_TRUE(cube.IntersectRay({0.5f, 0.5f, 5.0f}, {0, 0, -1}, hit));
}

TEST(SurfaceMeshTest, WriteReadRoundTripAndIndependentReader) {
  TempFolder folder;
  SurfaceMesh cube = UnitCube();
  cube.Scale(0.123456789f);
  ASSERT_TRUE(cube.WriteObj(folder.WideFile("cube.obj"), nullptr));
  SurfaceMesh back;
  ASSERT_TRUE(back.ReadObj(folder.WideFile("cube.obj"), nullptr, false));
  ASSERT_EQ(back.vertices.size(), cube.vertices.size());
  ASSERT_EQ(back.triangles.size(), cube.triangles.size());
  for (size_t i = 0; i < cube.vertices.size(); ++i) {
    for (int a = 0; a < 3; ++a) EXPECT_FLOAT_EQ(back.vertices[i].position[a], cube.vertices[i].position[a]);
  }
  for (size_t t = 0; t < cube.triangles.size(); ++t) {
    EXPECT_EQ(back.triangles[t].i0, cube.triangles[t].i0) << t;
    EXPECT_EQ(back.triangles[t].i1, cube.triangles[t].i1) << t;
    EXPECT_EQ(back.triangles[t].i2, cube.triangles[t].i2) << t;
  }
  tinyobj::ObjReader reader;
  ASSERT_TRUE(reader.ParseFromFile(folder.File("cube.obj")));
  EXPECT_EQ(reader.GetAttrib().vertices.size(), 3 * cube.vertices.size());
  size_t faces = 0;
  for (const auto& shape : reader.GetShapes()) faces += shape.mesh.num_face_vertices.size();
  EXPECT_EQ(faces, cube.triangles.size());
  EXPECT_NE(TempFolder::Read(folder.File("cube.obj")).find("v 1.23456791e-01 0.00000000e+00"), std::string::npos);
}

TEST(SurfaceMeshTest, FailedWritesReportAndKeepWhatWasThere) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("taken.obj"));
  const std::string locked = folder.Write("locked.obj", "v 0 0 0\n");
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  struct Case {
    const char* name;
    std::string target;
    const wchar_t* message;
  } cases[] = {
      {"missing folder", folder.File("missing/out.obj"), L"ERROR: Cannot create output file \""},
      // a read-only file is kept, also for root
      {"read-only file", locked, L"ERROR: Cannot create output file \""},
      // written completely, then the rename onto the folder fails
      {"folder of that name", folder.File("taken.obj"), L"ERROR: Error writing output file \""},
  };
  for (const Case& c : cases) {
    std::wostringstream log;
    EXPECT_FALSE(UnitCube().WriteObj(WidenPath(c.target), &log)) << c.name;
    EXPECT_EQ(log.str(), c.message + WidenPath(c.target) + L"\"\n") << c.name;
  }
  EXPECT_EQ(TempFolder::Read(locked), "v 0 0 0\n");
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("taken.obj")));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) files += entry.exists() ? 1 : 0;
  EXPECT_EQ(files, 2) << "locked.obj, taken.obj and no temporary file";
}

TEST(SurfaceMeshTest, UnreadableFileFailsWithTheLineMessage) {
  TempFolder folder;  // a folder opens like a file but cannot be read
  SurfaceMesh mesh;
  std::wostringstream log;
  EXPECT_FALSE(mesh.ReadObj(WidenPath(folder.Path()), &log, false));
  EXPECT_FALSE(mesh.valid);
  EXPECT_EQ(log.str(), L"ERROR: Cannot read line 1 of file \"" + WidenPath(folder.Path()) + L"\"\n");
}

// The crash classes OBJ parsers meet in the wild: each ends in the reader's
// own outcome, the parse message of the line or a complete read.
TEST(SurfaceMeshTest, InputsThatBreakParsersEndInTheDefinedOutcome) {
  const std::string v3 = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  const std::string megabyte(1 << 20, 'x');
  struct Case {
    const char* name;
    std::string text;
    int errorLine;  // 0: read succeeds
    size_t vertices, triangles;
  } cases[] = {
      {"faces before vertices", "f 1 2 3\n" + v3, 0, 3, 1},
      {"index 0", v3 + "f 0 1 2\n", 4, 0, 0},
      {"negative indices", v3 + "f -1 -2 -3\n", 4, 0, 0},
      {"index past the end", v3 + "f 1 2 4\n", 4, 0, 0},
      {"face of two corners", v3 + "f 1 2\n", 4, 0, 0},
      {"face without corners", v3 + "f\n", 4, 0, 0},
      {"empty normal and texture indices", v3 + "f 1// 2// 3//\n", 0, 3, 1},
      {"slash before the index", v3 + "f /1 2 3\n", 4, 0, 0},
      {"largest int, past the end", v3 + "f 1 2 2147483647\n", 4, 0, 0},
      {"just past int", v3 + "f 1 2 2147483648\n", 4, 0, 0},
      {"just below int", v3 + "f 1 2 -2147483649\n", 4, 0, 0},
      {"beyond 64 bits", v3 + "f 1 2 99999999999999999999999\n", 4, 0, 0},
      {"comment of 1 MB", "# " + megabyte + "\n" + v3 + "f 1 2 3\n", 0, 3, 1},
      {"1 MB of blanks before the numbers", "v" + std::string(1 << 20, ' ') + "0 0 0\nv 1 0 0\nv 0 1 0\n", 0, 3, 0},
      {"number of 1 MB digits", "v " + std::string(1 << 20, '1') + " 0 0\n", 1, 0, 0},
      {"NUL after the coordinates", std::string("v 0 0 0\0\n", 9) + "v 1 0 0\nv 0 1 0\n", 0, 3, 0},
      {"NUL inside the coordinates", std::string("v 0 \0 0\n", 8), 1, 0, 0},
      {"NUL before the keyword", std::string("\0v 0 0 0\n", 9) + v3, 0, 3, 0},
      {"NaN coordinate", "v nan 0 0\n", 1, 0, 0},
      {"infinite coordinate", "v 0 -inf 0\n", 1, 0, 0},
      {"coordinate past float", "v 0 0 1e39\n", 1, 0, 0},
      {"hexadecimal coordinate", "v 0x10 0 0\n", 1, 0, 0},
      {"only vertices", v3, 0, 3, 0},
      {"CR-only line ends", "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3\r", 0, 3, 1},
      {"CR-only line ends, bad line 3", "v 0 0 0\rv 1 0 0\rv 0 x 0\r", 3, 0, 0},
      {"CR LF line ends, bad line 2", "v 0 0 0\r\nv 1 0\r\n", 2, 0, 0},
      {"stray CR keeps the line numbers", "v 0 0 0\nv 1 0 0\rv 0 1 0\nv 2\n", 3, 0, 0},
      {"truncated face", v3 + "f 1 2", 4, 0, 0},
      {"truncated vertex", "v 0 0 0\nv 1 0 0\nv 0 1", 3, 0, 0},
      {"last line without its break", v3 + "f 1 2 3", 0, 3, 1},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    ReadResult r = ReadText(folder, c.text);
    if (c.errorLine == 0) {
      EXPECT_TRUE(r.ok) << c.name;
      EXPECT_TRUE(r.mesh.valid) << c.name;
      EXPECT_EQ(r.log, L"") << c.name;
      EXPECT_EQ(r.mesh.vertices.size(), c.vertices) << c.name;
      EXPECT_EQ(r.mesh.triangles.size(), c.triangles) << c.name;
    } else {
      EXPECT_FALSE(r.ok) << c.name;
      EXPECT_FALSE(r.mesh.valid) << c.name;
      EXPECT_EQ(r.log, ParseError(folder, c.errorLine)) << c.name;
    }
  }
}
