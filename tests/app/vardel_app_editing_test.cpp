// End-to-end runs of mouse editing through the real program: fixation
// toggles and force drags on a vertex handle, cut strokes across a beam, and
// the panels that keep the mouse from the editor while they are shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

constexpr int kWidth = 800, kHeight = 600;

std::string Script(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string MouseAt(const char* action, Pixel p) {
  return std::string("mouse right ") + action + " " + std::to_string(p.x) + " " + std::to_string(p.y);
}

// The ball with handles large enough to hit and a small force sphere.
class VardelAppHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.UseBundledScene("SphereScene.txt", "sphere.obj",
                        "EDITOR_VERTEX_HANDLE_RADIUS: 0.0015\nEDITOR_FORCE_SPHERE_RADIUS: 0.01\n");
    ASSERT_TRUE(run.LoadHere(scene));
    frame = DefaultViewFrame(scene);
    // the handle nearest to the eye: nothing can hide it
    const CutSim& sim = *scene.cutSim;
    double nearest = 1e30;
    for (int32_t v : sim.renderVertices) {
      double depth = Dot(VertexPosition(scene, v) - frame.eye, frame.forward);
      if (depth < nearest - 1e-9) {
        nearest = depth;
        vertex = v;
      }
    }
    ASSERT_GE(vertex, 0);
    handle = Project(frame, VertexPosition(scene, vertex), kWidth, kHeight);
  }

  SceneRun run;
  Scene scene;
  ViewFrame frame;
  int vertex = -1;
  Pixel handle;
};

// A beam of coarse voxels clamped at x = 0, seen obliquely from the front.
class VardelAppCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string fixed;
    for (int y = 0; y <= 10; ++y) {
      for (int z = 0; z <= 10; ++z) fixed += " 0 " + std::to_string(y) + " " + std::to_string(z) + " ";
    }
    std::string text =
        "MESH: beam.obj\nVOXEL_SIZE: 0.005 0.005 0.005\nELASTIC_MODULUS: 100000\nPOISSON_RATIO: 0.3\n"
        "DENSITY: 1000\nDAMPING_FACTOR: 1.0\nTIME_STEP: 0.02\nGRAVITY: 0 0 -9.81\nNUM_LEVELS: 3\n"
        "NUM_EMBEDDED_LEVELS: 1\nFIXED_VERTICES:" +
        fixed + "\n";
    run.UseScene(text, "beam.obj");
    Scene plain;
    ASSERT_TRUE(run.LoadHere(plain));
    // 0.4 from the beam's centre, looking along heading 45
    Vec3f c = plain.mesh.bboxCenter;
    std::ostringstream view;
    view.imbue(std::locale::classic());
    view << "RENDERER_DEFAULT_VIEW_POS: " << c.x - 0.4 * std::sqrt(0.5) << " " << c.y - 0.4 * std::sqrt(0.5) << " "
         << c.z << "\nRENDERER_DEFAULT_HEADING_PITCH_ROLL: 45 0 0\n";
    run.UseScene(text + view.str(), "beam.obj");
    ASSERT_TRUE(run.LoadHere(scene));
    frame = DefaultViewFrame(scene);
    centre = Vec3d(scene.mesh.bboxCenter);
  }

  // A vertical stroke of ten screen points through the beam at x = centre.x + s.
  std::vector<std::string> Stroke(double s, int step) const {
    Pixel middle = Project(frame, centre + Vec3d(s, 0, 0), kWidth, kHeight);
    std::vector<std::string> lines = {"key alt+C", MouseAt("down", {middle.x, middle.y - 4 * step})};
    for (int k = -3; k <= 5; ++k) lines.push_back("mouse move " + std::to_string(middle.x) + " " +
                                                  std::to_string(middle.y + k * step));
    lines.push_back(MouseAt("up", {middle.x, middle.y + 5 * step}));
    return lines;
  }

  static std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }

  SceneRun run;
  Scene scene;
  ViewFrame frame;
  Vec3d centre;
};

}  // namespace

TEST_F(VardelAppHandleTest, ClickOnAHandleTogglesItsFixation) {
  ProgramResult result = run.Run(Script({"key V", "frames 1", MouseAt("down", handle), MouseAt("up", handle),
                                         "frames 1", "key alt+S"}));
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(CountOf(result.out, "Toggled fixation of vertex "), 1) << result.out;
  EXPECT_TRUE(Contains(result.out, "Toggled fixation of vertex " + std::to_string(vertex) + "\n")) << result.out;
  // the saved scene fixes exactly that vertex
  ConfigFile saved;
  ASSERT_TRUE(saved.Load(run.folder.WideFile("LiverScene.txt"), nullptr));
  std::wstring fixed;
  ASSERT_TRUE(saved.Get(L"FIXED_VERTICES", fixed, nullptr));
  const Vec3i& p = scene.cutSim->vertexPosition[0][vertex];
  EXPECT_EQ(Numbers(ToNarrow(fixed)), (std::vector<double>{double(p.x), double(p.y), double(p.z)}));
}

TEST_F(VardelAppHandleTest, ForceDragOfTenPixelsSpreadsTheFormulasForce) {
  const Pixel end{handle.x + 10, handle.y};
  ProgramResult result = run.Run(Script({"key F", "frames 1", MouseAt("down", handle), "mouse move " +
                                         std::to_string(end.x) + " " + std::to_string(end.y), MouseAt("up", end),
                                         "frames 1", "key alt+S"}));
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

  // F = (right * dx - up * dy) * force per pixel (0.1) * 0.1 for dx = 10, dy = 0
  const Vec3d force = frame.right * 0.1;
  const Vec3d grabbed = VertexPosition(scene, vertex);
  std::vector<std::string> log = Lines(TempFolder::Read(run.StateFile("forces.txt")));
  ASSERT_EQ(log.size(), 1u);
  std::vector<double> line = Numbers(log[0]);
  ASSERT_EQ(line.size(), 6u) << log[0];
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(line[a], grabbed[a], 1e-6) << log[0];
    EXPECT_NEAR(line[3 + a], force[a], 1e-6) << log[0];
  }

  // the saved forces: Gaussian shares of F over the vertices within the force sphere
  const double r = scene.forceSphereRadius;
  std::map<std::array<int, 3>, double> expected;
  double sum = 0;
  for (int v = 0; v < scene.cutSim->vertexCount[0]; ++v) {
    double d = Length(VertexPosition(scene, v) - grabbed);
    if (d >= r) continue;
    const Vec3i& p = scene.cutSim->vertexPosition[0][v];
    expected[{p.x, p.y, p.z}] = std::exp(-1.6 * d * d / (r * r));
    sum += std::exp(-1.6 * d * d / (r * r));
  }
  ConfigFile saved;
  ASSERT_TRUE(saved.Load(run.folder.WideFile("LiverScene.txt"), nullptr));
  std::wstring text;
  ASSERT_TRUE(saved.Get(L"FORCES", text, nullptr));
  std::vector<double> values = Numbers(ToNarrow(text));
  ASSERT_EQ(values.size(), 6 * expected.size());
  Vec3d total;
  double largest = 0;
  std::array<int, 3> largestAt{};
  for (size_t k = 0; k < values.size(); k += 6) {
    std::array<int, 3> at{int(values[k]), int(values[k + 1]), int(values[k + 2])};
    ASSERT_TRUE(expected.count(at)) << at[0] << " " << at[1] << " " << at[2];
    Vec3d f(values[k + 3], values[k + 4], values[k + 5]);
    Vec3d share = force * (expected[at] / sum);
    EXPECT_LT(Length(f - share), 1e-5 * Length(share) + 1e-12);
    total += f;
    if (Length(f) > largest) {
      largest = Length(f);
      largestAt = at;
    }
  }
  EXPECT_LT(Length(total - force), 1e-5 * Length(force));
  const Vec3i& p = scene.cutSim->vertexPosition[0][vertex];
  EXPECT_EQ(largestAt, (std::array<int, 3>{p.x, p.y, p.z}));
}

TEST_F(VardelAppHandleTest, PressesBesideTheHandlesStartNoDrag) {
  const Pixel beside{kWidth / 2, 20};
  ProgramResult result = run.Run(Script({"key F", "frames 1", MouseAt("down", beside), "mouse move " +
                                         std::to_string(beside.x + 10) + " " + std::to_string(beside.y),
                                         MouseAt("up", {beside.x + 10, beside.y}), "key V", "frames 1",
                                         MouseAt("down", beside), MouseAt("up", beside), "frames 1", "key alt+S"}));
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_FALSE(std::filesystem::exists(run.StateFile("forces.txt")));
  EXPECT_FALSE(Contains(result.out, "Toggled fixation")) << result.out;
  ConfigFile saved;
  ASSERT_TRUE(saved.Load(run.folder.WideFile("LiverScene.txt"), nullptr));
  EXPECT_FALSE(saved.Contains(L"FORCES"));
  EXPECT_FALSE(saved.Contains(L"FIXED_VERTICES"));
}

TEST_F(VardelAppCutTest, StrokeAcrossTheBeamCutsItAndShowsTheCutSurface) {
  const std::vector<std::string> stroke = Stroke(-0.1, 20);
  ProgramResult result = run.Run(
      // the cut's later view, before the cut
      "frames 1\nkey 2\nkey U\nframes 1\nscreenshot before.png\nkey X\nkey U\nframes 1\n"
      "dialog before.bin\nkey F8\n" +
      Join(stroke) +
      "frames 1\ndialog after.bin\nkey F8\n"
      // the free part falls away; the stub's cut face turns towards the side view
      "key R\nframes 25\nkey R\nkey 2\nkey U\nframes 1\nscreenshot after.png\n");
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

  // two triangles per segment between the stroke's ten points, cut id 1
  std::vector<std::string> lines = Lines(TempFolder::Read(run.StateFile("cuttingsurface.txt")));
  ASSERT_EQ(lines.size(), 18u);
  for (const std::string& line : lines) {
    std::vector<double> values = Numbers(line);
    ASSERT_EQ(values.size(), 10u) << line;
    EXPECT_EQ(values[9], 1.0) << line;
    EXPECT_EQ(CountOf(line, "   "), 3) << line;
  }
  EXPECT_GT(DumpedVertexCount(run.Bytes("after.bin")), DumpedVertexCount(run.Bytes("before.bin")));

  // cut surfaces are drawn in their own dark red, unlike the body's surface
  auto cutColour = [](int r, int g, int b) { return r > 40 && g < r / 4 && b < r / 4; };
  Image before = LoadPng(run.folder.File("before.png")), after = LoadPng(run.folder.File("after.png"));
  ASSERT_EQ(after.width, kWidth);
  EXPECT_LT(before.Count(0, 0, kWidth, kHeight, cutColour), 20);
  EXPECT_GT(after.Count(0, 0, kWidth, kHeight, cutColour), 300);
}

TEST_F(VardelAppCutTest, ShownPanelsKeepTheMouseFromTheEditor) {
  // a stroke through the part of the beam behind "Rendering Controls"
  const std::vector<std::string> stroke = Stroke(-0.13, 12);
  Pixel middle = Project(frame, centre + Vec3d(-0.13, 0, 0), kWidth, kHeight);
  ASSERT_GT(middle.x, 10 + 12);
  ASSERT_LT(middle.x, 10 + 195 - 12);
  for (bool hidden : {false, true}) {
    std::filesystem::remove(run.StateFile("cuttingsurface.txt"));
    ProgramResult result =
        run.Run(std::string("frames 1\n") + (hidden ? "key U\nframes 1\n" : "") + Join(stroke) + "frames 1\n");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    size_t lines = Lines(TempFolder::Read(run.StateFile("cuttingsurface.txt"))).size();
    if (hidden) {
      EXPECT_EQ(lines, 18u);
    } else {
      EXPECT_EQ(lines, 0u);
    }
  }
}
