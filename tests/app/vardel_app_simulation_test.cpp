// End-to-end runs of the simulation switches: run flag and its check box,
// gravity and its check box, the single preparation step (N) and the model
// rebuild (H, Z), observed through the finest level's dumped positions.
#include <gtest/gtest.h>

#include <algorithm>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

// A cantilever of 60 x 10 x 10 voxels clamped at x = 0.
std::string CoarseBeamScene() {
  std::string fixed;
  for (int y = 0; y <= 10; ++y) {
    for (int z = 0; z <= 10; ++z) fixed += " 0 " + std::to_string(y) + " " + std::to_string(z) + " ";
  }
  return "MESH: beam.obj\n"
         "VOXEL_SIZE: 0.005 0.005 0.005\n"
         "ELASTIC_MODULUS: 100000\n"
         "POISSON_RATIO: 0.3\n"
         "DENSITY: 1000\n"
         "DAMPING_FACTOR: 1.0\n"
         "TIME_STEP: 0.02\n"
         "GRAVITY: 0 0 -9.81\n"
         "NUM_LEVELS: 3\n"
         "NUM_EMBEDDED_LEVELS: 1\n"
         "FIXED_VERTICES:" +
         fixed + "\n";
}

class VardelAppSimulationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.UseScene(CoarseBeamScene(), "beam.obj");
    ASSERT_TRUE(run.LoadHere(scene));
  }

  // Runs the script between a dump of the positions at start-up (rest.bin)
  // and one at its end (end.bin); returns the end positions. The first frame
  // puts the panels on screen, where clicks can reach them.
  std::vector<double> RunBetweenDumps(const std::string& script) {
    ProgramResult result = run.Run("dialog rest.bin\nkey F8\nframes 1\n" + script + "dialog end.bin\nkey F8\n");
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(CountOf(result.out, "Dialog \"Save equation system to file\": \""), CountOf(script, "key F8") + 2)
        << result.out;
    rest = DumpedPositions(run.Bytes("rest.bin"));
    return DumpedPositions(run.Bytes("end.bin"));
  }

  static double MaxDifference(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return 1e30;
    double m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
    return m;
  }

  SceneRun run;
  Scene scene;
  std::vector<double> rest;
};

}  // namespace

TEST_F(VardelAppSimulationTest, GravitySagsTheFreeEndWhileTheClampedEndStays) {
  std::vector<double> sagged = RunBetweenDumps("key R\nframes 8\n");
  const int n = scene.cutSim->vertexCount[0];
  ASSERT_EQ(rest.size(), 3u * n);
  ASSERT_EQ(sagged.size(), 3u * n);
  double length = 0;
  for (int v = 0; v < n; ++v) length = std::max(length, rest[3 * v]);
  int fixedCount = 0, tipCount = 0;
  for (int v = 0; v < n; ++v) {
    double drop = rest[3 * v + 2] - sagged[3 * v + 2];
    if (scene.cutSim->vertexFixed[0][v]) {
      ++fixedCount;
      EXPECT_NEAR(drop, 0.0, 1e-12) << "fixed vertex " << v;
      EXPECT_NEAR(sagged[3 * v], rest[3 * v], 1e-12) << "fixed vertex " << v;
    } else if (rest[3 * v] > length - 1e-9) {
      // the free end has come down by a good share of the beam's length
      ++tipCount;
      EXPECT_GT(drop, 0.1 * length) << "tip vertex " << v;
    }
  }
  EXPECT_EQ(fixedCount, 121);
  EXPECT_GT(tipCount, 0);
}

TEST_F(VardelAppSimulationTest, RunAndGravitySwitchesAgreeWithTheirKeysAndBoxes) {
  const std::vector<double> reference = RunBetweenDumps("key R\nframes 8\n");
  ASSERT_FALSE(reference.empty());
  const std::vector<double> atRest = rest;
  ASSERT_GT(MaxDifference(reference, atRest), 0.01);

  enum Expect { kSameAsReference, kAtRest, kDiffersFromReference };
  struct Case {
    const char* name;
    std::string script;
    Expect expect;
  };
  const std::vector<Case> cases = {
      {"frames alone leave the model untouched", "frames 8\n", kAtRest},
      {"the check box runs it", "click \"Run Simulation\"\nframes 8\n", kSameAsReference},
      // the box shows unchecked after R; clicking it checks it, which keeps the run going
      {"R then the box keeps it running", "key R\nframes 4\nclick \"Run Simulation\"\nframes 4\n",
       kSameAsReference},
      {"the box clicked twice stops it again", "click 26\nclick 26\nframes 8\n", kAtRest},
      {"gravity off keeps it at rest", "click \"Enable Gravity (G)\"\nkey R\nframes 8\n", kAtRest},
      {"gravity off and on restores the scene's gravity",
       "click \"Enable Gravity (G)\"\nclick \"Enable Gravity (G)\"\nkey R\nframes 8\n", kSameAsReference},
      {"G is the gravity box's hot key", "key G\nkey R\nframes 8\n", kAtRest},
      {"hidden panels take no hot keys", "key U\nframes 1\nkey G\nkey R\nframes 8\n", kSameAsReference},
      {"N while running does nothing", "key R\nframes 4\nkey N\nframes 4\n", kSameAsReference},
      // a preparation step outside the loop moves the history on, so the run takes another course
      {"N while stopped prepares a step", "key R\nframes 4\nkey R\nkey N\nkey R\nframes 4\n",
       kDiffersFromReference},
  };
  for (const Case& c : cases) {
    std::vector<double> end = RunBetweenDumps(c.script);
    ASSERT_EQ(end.size(), reference.size()) << c.name;
    switch (c.expect) {
      case kSameAsReference:
        EXPECT_EQ(end, reference) << c.name;
        break;
      case kAtRest:
        // without loads the body stays put up to rounding
        EXPECT_LT(MaxDifference(end, atRest), 1e-12) << c.name;
        break;
      case kDiffersFromReference:
        EXPECT_GT(MaxDifference(end, reference), 1e-4) << c.name;
        EXPECT_GT(MaxDifference(end, atRest), 0.01) << c.name;
        break;
    }
  }
}

TEST_F(VardelAppSimulationTest, RebuildKeepsTheDeformedBodyWhereItIs) {
  for (const char* key : {"H", "Z"}) {
    std::vector<double> after = RunBetweenDumps(std::string("key R\nframes 4\nkey R\ndialog before.bin\nkey F8\nkey ") +
                                                key + "\nframes 1\n");
    std::vector<double> before = DumpedPositions(run.Bytes("before.bin"));
    ASSERT_FALSE(before.empty()) << key;
    // the body had sagged, and the rebuild neither moved it nor sent it to the origin
    EXPECT_GT(MaxDifference(before, rest), 0.01) << key;
    EXPECT_LT(MaxDifference(after, before), 1e-9) << key;
  }
}

TEST_F(VardelAppSimulationTest, RebuildWhileRunningContinuesTheMotion) {
  const std::vector<double> reference = RunBetweenDumps("key R\nframes 8\n");
  // the stored corners carry the previous positions too, so the velocity survives the rebuild
  std::vector<double> rebuilt = RunBetweenDumps("key R\nframes 4\nkey H\nframes 4\n");
  double sag = MaxDifference(reference, rest);
  ASSERT_GT(sag, 0.01);
  EXPECT_LT(MaxDifference(rebuilt, reference), 0.02 * sag);
}
