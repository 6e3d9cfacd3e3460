// End-to-end runs of the real program driven by scripts.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <filesystem>

#include "app/scene.h"
#include "support/program_run.h"
#include "support/temp_folder.h"

namespace {

class VardelAppScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(std::string(VARDEL_SOURCE_DIR) + "/scenes/SphereScene.txt",
                               folder.File("LiverScene.txt"));
    std::filesystem::copy_file(std::string(VARDEL_SOURCE_DIR) + "/scenes/sphere.obj", folder.File("sphere.obj"));
  }

  ProgramResult RunScript(const std::string& script, std::vector<std::string> extra = {}) {
    folder.Write("script.txt", script);
    std::vector<std::string> args = {"--script", "script.txt", "--fixed-dt", "0.05", "--size", "640x480"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunVardel(folder.Path(), args);
  }

  std::string Bytes(const std::string& name) const { return TempFolder::Read(folder.File(name)); }

  // Share of pixels in a rectangle whose colour passes a test.
  template <typename Test>
  double Share(const std::string& name, int x0, int y0, int x1, int y1, Test test) const {
    int width = 0, height = 0, channels = 0;
    unsigned char* data = stbi_load(folder.File(name).c_str(), &width, &height, &channels, 3);
    if (data == nullptr) return -1;
    int hits = 0, total = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x, ++total) {
        const unsigned char* p = data + (static_cast<size_t>(y) * width + x) * 3;
        if (test(p[0], p[1], p[2])) ++hits;
      }
    }
    stbi_image_free(data);
    return total > 0 ? static_cast<double>(hits) / total : 0;
  }

  // The body's red, lit or in its own shadow; the ground is orange, the panels green.
  static bool IsBody(int r, int g, int b) { return r > 40 && 2 * r > 3 * g && 2 * r > 3 * b; }
  static bool IsYellow(int r, int g, int b) { return r > 200 && g > 200 && b < 80; }

  TempFolder folder;
};

}  // namespace

TEST_F(VardelAppScriptTest, ErrorsStopBeforeTheFirstFrameWithTheirLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"frames 2\n# fine so far\njump 3\n", "script.txt\" line 3: unknown command \"jump\""},
      {"frames 1\nmouse left down 10\n", "script.txt\" line 2: missing argument"},
      {"key Ctrl+Q\n", "script.txt\" line 1: unknown key \"Ctrl+Q\""},
  };
  for (const auto& [script, expected] : cases) {
    ProgramResult run = RunScript(script, {"--screenshot", "shot.png"});
    EXPECT_EQ(run.exitCode, 2) << script;
    EXPECT_TRUE(run.out.find("ERROR: script \"") != std::string::npos) << run.out;
    EXPECT_TRUE(run.out.find(expected) != std::string::npos) << run.out;
    // nothing ran: no scene was read, no frame drawn
    EXPECT_TRUE(run.out.find("Dialog") == std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(folder.File("shot.png")));
  }
  ProgramResult missing = RunVardel(folder.Path(), {"--script", "none.txt"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(missing.out.find("ERROR: script \"none.txt\" cannot be opened") != std::string::npos) << missing.out;
}

TEST_F(VardelAppScriptTest, SameScriptWithFixedStepWritesTheSameFiles) {
  const std::string script =
      "frames 3\n"
      "key F2\n"  // the device panel's hot key opens the settings dialog
      "frames 1\n"
      "screenshot dialog.png\n"
      "key Escape\n"  // the open dialog takes the key and closes
      "frames 12\n"
      "screenshot body.png\n";
  ASSERT_EQ(RunScript(script).exitCode, 0);
  std::string dialog = Bytes("dialog.png"), body = Bytes("body.png");
  ProgramResult again = RunScript(script);
  ASSERT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(Bytes("dialog.png"), dialog);
  EXPECT_EQ(Bytes("body.png"), body);
  EXPECT_NE(dialog, body);
  // while the dialog is open the frame shows it instead of the body
  EXPECT_LT(Share("dialog.png", 260, 200, 380, 280, IsBody), 0.05);
  EXPECT_GT(Share("body.png", 260, 200, 380, 280, IsBody), 0.9);
}

TEST_F(VardelAppScriptTest, HiddenPanelsDropTheirHotKeysAndTheOverlay) {
  ASSERT_EQ(RunScript("frames 1\nscreenshot shown.png\nkey U\nkey F2\nframes 1\nscreenshot hidden.png\n").exitCode, 0);
  // overlay text in the top-left corner only while the panels are shown
  EXPECT_GT(Share("shown.png", 0, 0, 120, 30, IsYellow), 0.02);
  EXPECT_EQ(Share("hidden.png", 0, 0, 120, 30, IsYellow), 0.0);
  // F2 did not open the settings dialog: the body is still in view
  EXPECT_GT(Share("hidden.png", 260, 200, 380, 280, IsBody), 0.9);
}

TEST_F(VardelAppScriptTest, ClicksReachPanelControlsByLabelOrId) {
  ProgramResult run = RunScript(
      "frames 1\nclick \"Toggle full screen\"\nclick 3\nframes 1\nscreenshot dialog.png\nclick 99\n");
  EXPECT_EQ(run.exitCode, 2);
  // full screen needs a window; the headless run says so and goes on
  EXPECT_TRUE(run.out.find("WARNING: Full screen needs a window") != std::string::npos) << run.out;
  EXPECT_LT(Share("dialog.png", 260, 200, 380, 280, IsBody), 0.05);
  EXPECT_TRUE(run.out.find("script.txt\" line 6: no button or check box with ID 99") != std::string::npos) << run.out;
}

TEST_F(VardelAppScriptTest, OctreeSliderPrintsOneLinePerChange) {
  Scene scene;
  ASSERT_TRUE(scene.Load(folder.WideFile("LiverScene.txt"), 0, nullptr));
  const int slices = 1 << (scene.octree->levelCount - 1);
  ProgramResult run = RunScript("frames 1\nslider 45 3\nslider 45 3\nslider 45 0\nslider 45 100000\nclick 45\n");
  EXPECT_EQ(run.exitCode, 2);
  // an unchanged value prints nothing; a value beyond the range stops at its end
  EXPECT_NE(run.out.find("Octree slice: 3\nOctree slice: 0\nOctree slice: " + std::to_string(slices) + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Octree slice: 3\nOctree slice: 3"), std::string::npos) << run.out;
  // the slider is no button
  EXPECT_TRUE(run.out.find("script.txt\" line 6: no button or check box with ID 45") != std::string::npos) << run.out;
}
