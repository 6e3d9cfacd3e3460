// The three panels on screen, in the offscreen frame and in a real window on
// a virtual X display: their places, backgrounds and captions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "vardel_app_run.h"

using namespace vardel_test;

namespace {

// The program of this name on PATH, or "".
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

bool IsPanelGreen(int r, int g, int b) { return g > 100 && g > r + 40 && g > b + 40; }
bool IsButtonBlue(int r, int g, int b) { return b > 60 && b > r + 30 && b > g + 15; }
bool IsCaptionText(int r, int g, int b) { return r > 180 && g > 180 && b > 180; }

// Checks the panels of an 800 x 600 frame at the places the frame-render rules give them.
void ExpectPanelsAtTheirPlaces(const Image& image, const std::string& what) {
  ASSERT_EQ(image.width, 800) << what;
  ASSERT_EQ(image.height, 600) << what;
  // "Main Controls" at (800 - 195 - 10, 600 - 215 - 10), 195 x 215; below its last button
  EXPECT_GT(image.Share(600, 560, 785, 585, IsPanelGreen), 0.9) << what;
  // "Rendering Controls" at (10, 600 - 400 - 10), 195 x 400; below its last check box
  EXPECT_GT(image.Share(15, 565, 200, 585, IsPanelGreen), 0.9) << what;
  // outside both panels the frame is not green
  EXPECT_LT(image.Share(250, 560, 560, 585, IsPanelGreen), 0.05) << what;
  // each caption bar carries its text and none of the green
  EXPECT_GT(image.Count(595, 375, 790, 392, IsCaptionText), 20) << what;
  EXPECT_LT(image.Share(595, 377, 790, 390, IsPanelGreen), 0.1) << what;
  EXPECT_GT(image.Count(10, 190, 205, 207, IsCaptionText), 20) << what;
  EXPECT_LT(image.Share(10, 192, 205, 205, IsPanelGreen), 0.1) << what;
  // the device panel at (800 - 170 - 10, 10) has no background of its own, only its four buttons
  for (int y : {20, 44, 68, 92}) EXPECT_GT(image.Share(657, y + 2, 665, y + 18, IsButtonBlue), 0.8) << what << " " << y;
  EXPECT_LT(image.Share(620, 140, 790, 175, IsPanelGreen), 0.05) << what;
}

}  // namespace

TEST(VardelAppWindowTest, PanelsInTheOffscreenFrame) {
  SceneRun run;
  run.UseBundledScene("SphereScene.txt", "sphere.obj");
  ProgramResult result = run.Run("frames 2\nscreenshot panels.png\n");
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  ExpectPanelsAtTheirPlaces(LoadPng(run.folder.File("panels.png")), "headless");
}

TEST(VardelAppWindowTest, PanelsInAWindowOnAVirtualDisplay) {
  std::string xvfb = FindOnPath("xvfb-run");
  if (xvfb.empty()) GTEST_SKIP() << "xvfb-run is not installed";
  SceneRun run;
  run.UseBundledScene("SphereScene.txt", "sphere.obj");
  // a window stays open after its script until it is told to quit
  run.folder.Write("script.txt", "frames 3\nscreenshot window.png\nquit\n");
  // the window needs the display xvfb-run provides
  ProgramEnvironment environment = VardelEnvironment(run.folder.Path());
  std::erase(environment.unset, std::string("DISPLAY"));
  ProgramResult result =
      RunProgram(xvfb,
                 {"-a", "-s", "-screen 0 1024x768x24", std::string(VARDEL_BINARY_DIR) + "/bin/vardel", "--state-dir",
                  run.folder.File("state"), "--script", "script.txt", "--fixed-dt", "0.05"},
                 run.folder.Path(), environment);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  // a window opened: nothing fell back to the offscreen context
  EXPECT_FALSE(Contains(result.out, "running headless")) << result.out;
  ExpectPanelsAtTheirPlaces(LoadPng(run.folder.File("window.png")), "window");
}
