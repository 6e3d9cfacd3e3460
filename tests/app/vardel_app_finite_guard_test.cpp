// End-to-end run of the real program with a force that blows every step up:
// the steps are undone with one warning, the program goes on, and the
// equation system dump, the saved mesh and the saved scene stay finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

// Every double of the dump's three trailing blocks (zeros, b, x), each n
// doubles after its count.
std::vector<double> DumpedVectors(const std::string& bytes) {
  int32_t n = 0;
  if (bytes.size() < 5) return {};
  std::memcpy(&n, bytes.data() + 1, sizeof(n));
  size_t block = sizeof(int32_t) + static_cast<size_t>(n) * sizeof(double);
  if (n <= 0 || bytes.size() < 3 * block) return {};
  std::vector<double> values;
  size_t at = bytes.size() - 3 * block;
  for (int k = 0; k < 3; ++k) {
    at += sizeof(int32_t);
    for (int32_t i = 0; i < n; ++i, at += sizeof(double)) {
      double v;
      std::memcpy(&v, bytes.data() + at, sizeof(v));
      values.push_back(v);
    }
  }
  return values;
}

}  // namespace

TEST(VardelAppFiniteGuard, AbsurdForceIsUndoneOnceReportedAndNeverWritten) {
  SceneRun run;
  // the beam's free end pulled with 1e300 N
  run.UseBundledScene("BeamScene.txt", "beam.obj", "FORCES: 120 10 10  1e300 0 1e300\n");
  Scene scene;
  ASSERT_TRUE(run.LoadHere(scene));
  ASSERT_NE(scene.cutSim->vertexForce[0][scene.cutSim->vertexLookup.at({120, 10, 10})].x, 0.0);

  ProgramResult result = run.Run(
      "frames 1\ndialog before.bin\nkey F8\nclick 26\nframes 6\nclick 26\nkey N\nkey N\n"
      "dialog after.bin\nkey F8\ndialog mesh.obj\nclick \"Save Mesh\"\nkey alt+S\nquit\n");
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(CountOf(result.out, "WARNING: A time step produced non-finite or blown-up positions"), 1) << result.out;

  // the body stays where it was before the first step
  std::vector<double> before = DumpedPositions(run.Bytes("before.bin"));
  std::vector<double> after = DumpedPositions(run.Bytes("after.bin"));
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(before, after);
  for (double v : DumpedVectors(run.Bytes("after.bin"))) ASSERT_TRUE(std::isfinite(v));

  std::string mesh = run.Bytes("mesh.obj");
  ASSERT_TRUE(Contains(mesh, "\nv ")) << result.out;
  for (const std::string& line : Lines(mesh)) {
    if (line.rfind("v ", 0) != 0) continue;
    std::vector<double> p = Numbers(line.substr(2));
    ASSERT_EQ(p.size(), 3u) << line;
    for (double v : p) ASSERT_TRUE(std::isfinite(v)) << line;
  }
  std::string saved = run.Bytes("LiverScene.txt");
  EXPECT_FALSE(Contains(saved, "nan") || Contains(saved, "inf")) << saved;
}
