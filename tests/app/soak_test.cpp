// A shortened soak run of the simulator core on the liver: seeded random cut
// strokes, force drags and fixation clicks through the editor, then the
// driver's own checks (structures valid, everything finite, files written, no
// undone steps, memory growth outside the cuts within a tenth). The full run,
// with collision detection for its middle half, is `make soak`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/temp_folder.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
// under the address sanitizer a liver step is several times slower
constexpr int kSteps = 100;
#else
constexpr int kSteps = 500;
#endif

ProgramResult RunSoak(const TempFolder& folder, bool collision) {
  ProgramEnvironment environment;
  environment.set = {{"OMP_WAIT_POLICY", "passive"}, {"TMPDIR", folder.Path()}};
  std::vector<std::string> args = {"--scene", std::string(VARDEL_SOURCE_DIR) + "/scenes/LiverScene.txt", "--steps",
                                   std::to_string(kSteps), "--seed", "7", "--cut-every", "50", "--quiet"};
  if (!collision) args.push_back("--no-collision");
  return RunProgram(std::string(VARDEL_BINARY_DIR) + "/bin/soak", args, folder.Path(), environment);
}

void ExpectPassed(const ProgramResult& result) {
  ASSERT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out << result.err;
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("SOAK PASSED"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("cuts " + std::to_string(kSteps / 50) + ","), std::string::npos) << result.out;
}

}  // namespace

TEST(Soak, ShortLiverRunWithCutsAndDragsPassesEveryCheck) {
  TempFolder folder;
  ExpectPassed(RunSoak(folder, false));
}

// Contacts with the floor and between cut parts for the middle half of the
// run: no step may be undone.
TEST(Soak, ShortLiverRunWithCollisionDetectionPassesEveryCheck) {
  TempFolder folder;
  ExpectPassed(RunSoak(folder, true));
}
