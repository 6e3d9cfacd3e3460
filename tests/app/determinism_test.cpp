// The same scene and script give the same files on one and on two OpenMP
// threads: a cut, a force drag and collision detection, with the equation
// system dump and the saved mesh compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

constexpr int kWidth = 800, kHeight = 600;

std::string MouseAt(const char* action, Pixel p) {
  return std::string("mouse right ") + action + " " + std::to_string(p.x) + " " + std::to_string(p.y);
}

std::string MoveTo(Pixel p) { return "mouse move " + std::to_string(p.x) + " " + std::to_string(p.y); }

// The real program in the run folder with a given thread count, otherwise as RunVardel starts it.
ProgramResult RunWithThreads(SceneRun& run, const std::string& script, int threads) {
  run.folder.Write("script.txt", script);
  const std::string folder = run.folder.Path();
  ProgramEnvironment environment = VardelEnvironment(folder);
  environment.set.push_back({"OMP_NUM_THREADS", std::to_string(threads)});
  return RunProgram(std::string(VARDEL_BINARY_DIR) + "/bin/vardel",
                    {"--state-dir", folder + "/state", "--script", "script.txt", "--fixed-dt", "0.05"}, folder,
                    environment);
}

}  // namespace

TEST(Determinism, CutDragAndCollisionGiveIdenticalFilesOnOneAndTwoThreads) {
  // the beam clamped at x = 0, seen obliquely, with handles large enough to hit
  std::string fixed;
  for (int y = 0; y <= 10; ++y) {
    for (int z = 0; z <= 10; ++z) fixed += " 0 " + std::to_string(y) + " " + std::to_string(z) + " ";
  }
  std::string text =
      "MESH: beam.obj\nVOXEL_SIZE: 0.005 0.005 0.005\nELASTIC_MODULUS: 100000\nPOISSON_RATIO: 0.3\n"
      "DENSITY: 1000\nDAMPING_FACTOR: 1.0\nTIME_STEP: 0.02\nGRAVITY: 0 0 -9.81\nNUM_LEVELS: 3\n"
      "NUM_EMBEDDED_LEVELS: 1\nEDITOR_VERTEX_HANDLE_RADIUS: 0.003\nEDITOR_FORCE_SPHERE_RADIUS: 0.02\n"
      "FIXED_VERTICES:" + fixed + "\n";
  SceneRun run;
  run.UseScene(text, "beam.obj");
  Scene plain;
  ASSERT_TRUE(run.LoadHere(plain));
  Vec3f c = plain.mesh.bboxCenter;
  std::ostringstream view;
  view.imbue(std::locale::classic());
  view << "RENDERER_DEFAULT_VIEW_POS: " << c.x - 0.4 * std::sqrt(0.5) << " " << c.y - 0.4 * std::sqrt(0.5) << " "
       << c.z << "\nRENDERER_DEFAULT_HEADING_PITCH_ROLL: 45 0 0\n";
  run.UseScene(text + view.str(), "beam.obj");
  Scene scene;
  ASSERT_TRUE(run.LoadHere(scene));
  ViewFrame frame = DefaultViewFrame(scene);
  Vec3d centre(scene.mesh.bboxCenter);

  // a handle of the free end nearest to the eye, for the force drag
  const CutSim& sim = *scene.cutSim;
  int vertex = -1;
  double nearest = 1e30;
  for (int32_t v : sim.renderVertices) {
    Vec3d p = VertexPosition(scene, v);
    double depth = Dot(p - frame.eye, frame.forward);
    if (p.x > centre.x + 0.05 && depth < nearest - 1e-9) {
      nearest = depth;
      vertex = v;
    }
  }
  ASSERT_GE(vertex, 0);
  Pixel handle = Project(frame, VertexPosition(scene, vertex), kWidth, kHeight);
  // a vertical stroke that notches the beam near its middle
  Pixel notch = Project(frame, centre + Vec3d(-0.02, 0, 0), kWidth, kHeight);

  std::string script = "frames 1\nclick 25\nkey U\nkey alt+C\n" + MouseAt("down", {notch.x, notch.y - 60}) + "\n";
  for (int k = -2; k <= 3; ++k) script += MoveTo({notch.x, notch.y + 20 * k}) + "\n";
  script += MouseAt("up", {notch.x, notch.y + 60}) + "\nframes 1\nkey U\nframes 1\nclick 26\nkey U\nkey F\nframes 1\n" +
            MouseAt("down", handle) + "\n";
  for (int k = 1; k <= 6; ++k) script += MoveTo({handle.x + 3 * k, handle.y - 4 * k}) + "\nframes 2\n";
  script += MouseAt("up", {handle.x + 18, handle.y - 24}) +
            "\nframes 8\nkey U\nframes 1\nclick 26\ndialog system.bin\nkey F8\ndialog mesh.obj\nclick \"Save Mesh\"\nquit\n";

  std::string dumps[2], meshes[2];
  for (int threads = 1; threads <= 2; ++threads) {
    // the editor appends to these; each run starts without them
    std::filesystem::remove(run.StateFile("cuttingsurface.txt"));
    std::filesystem::remove(run.StateFile("forces.txt"));
    ProgramResult result = RunWithThreads(run, script, threads);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_FALSE(Contains(result.out, "WARNING")) << result.out;
    // the cut and the drag both happened
    ASSERT_GE(Lines(TempFolder::Read(run.StateFile("cuttingsurface.txt"))).size(), 2u) << threads;
    ASSERT_EQ(Lines(TempFolder::Read(run.StateFile("forces.txt"))).size(), 1u) << threads;
    dumps[threads - 1] = run.Bytes("system.bin");
    meshes[threads - 1] = run.Bytes("mesh.obj");
  }
  ASSERT_FALSE(dumps[0].empty());
  ASSERT_FALSE(meshes[0].empty());
  EXPECT_GT(DumpedVertexCount(dumps[0]), scene.cutSim->vertexCount[0]) << "the cut adds vertices";
  EXPECT_TRUE(dumps[0] == dumps[1]) << "the equation system differs between one and two threads";
  EXPECT_TRUE(meshes[0] == meshes[1]) << "the saved mesh differs between one and two threads";
}
