// End-to-end runs of the real program: start-up order, exit codes and the
// scene-file fallback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#include <stb_image.h>

#include <filesystem>

#include "support/program_run.h"
#include "support/temp_folder.h"

namespace {

// A small bundled scene, copied into the run's folder under the given name.
void CopySphereScene(const TempFolder& folder, const std::string& sceneName) {
  std::filesystem::copy_file(std::string(VARDEL_SOURCE_DIR) + "/scenes/SphereScene.txt", folder.File(sceneName));
  std::filesystem::copy_file(std::string(VARDEL_SOURCE_DIR) + "/scenes/sphere.obj", folder.File("sphere.obj"));
}

// Holds the instance lock the way a running program does.
class RunningInstance {
 public:
  explicit RunningInstance(const std::string& folder)
      : fd_(open((folder + "/vardel.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
  ~RunningInstance() { Stop(); }
  bool Start() { return fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  void Stop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Image LoadPng(const std::string& file) {
  Image image;
  int channels = 0;
  unsigned char* data = stbi_load(file.c_str(), &image.width, &image.height, &channels, 3);
  if (data) image.rgb.assign(data, data + static_cast<size_t>(image.width) * image.height * 3);
  stbi_image_free(data);
  return image;
}

}  // namespace

TEST(VardelAppStartupTest, CommandLineExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, {"Usage: vardel [options]", "--screenshot FILE.png"}},
      {{"--version"}, 0, {"Vardel 1."}},
      {{"--bogus"}, 2, {"ERROR: unknown option \"--bogus\"\n", "Usage: vardel"}},
      {{"--size", "0x0"}, 2, {"ERROR: bad value \"0x0\" for --size", "Usage: vardel"}},
      {{"--frames", "-1"}, 2, {"ERROR: bad value \"-1\" for --frames"}},
      {{"LiverScene.txt"}, 2, {"ERROR: unexpected argument \"LiverScene.txt\""}},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    ProgramResult run = RunVardel(folder.Path(), c.args);
    EXPECT_TRUE(run.exited) << c.args[0];
    EXPECT_EQ(run.exitCode, c.code) << c.args[0] << "\n" << run.out << run.err;
    for (const std::string& part : c.expected) EXPECT_TRUE(Contains(run.out, part)) << part << " in\n" << run.out;
    // an early exit never reaches the scene
    EXPECT_FALSE(Contains(run.out, "Cannot open file")) << run.out;
  }
}

TEST(VardelAppStartupTest, MissingSceneCancelledEndsWithCodeOneAndNoFrame) {
  TempFolder folder;
  ProgramResult run = RunVardel(folder.Path(), {"--headless", "--screenshot", "shot.png"});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "ERROR: Cannot open file \"LiverScene.txt\"")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Dialog \"Load scene file\": cancelled\n")) << run.out;
  EXPECT_FALSE(std::filesystem::exists(folder.File("shot.png")));
}

TEST(VardelAppStartupTest, SceneChosenInTheDialogIsLoadedAndDrawn) {
  TempFolder folder;
  CopySphereScene(folder, "ball.txt");
  folder.Write("script.txt", "dialog ball\nframes 2\n");
  ProgramResult run = RunVardel(folder.Path(), {"--script", "script.txt", "--screenshot", "shot.png"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  // the default extension completes the typed name, and the path is made absolute
  EXPECT_TRUE(Contains(run.out, "Dialog \"Load scene file\": \"" + folder.File("ball.txt") + "\"\n")) << run.out;
  // the scene's description follows the load
  size_t described = run.out.find("# Mesh: \"sphere.obj\"\n");
  EXPECT_NE(described, std::string::npos) << run.out;
  EXPECT_LT(run.out.find("Dialog \"Load scene file\""), described);
  EXPECT_TRUE(Contains(run.out, "# Voxel Size: 0.004 0.004 0.004\n")) << run.out;
  Image image = LoadPng(folder.File("shot.png"));
  ASSERT_EQ(image.width, 800);
  ASSERT_EQ(image.height, 600);
  // the default view looks at the ball's centre: its reddish surface fills the middle of the frame
  int body = 0, total = 0;
  for (int y = 240; y < 360; y += 4) {
    for (int x = 340; x < 460; x += 4, ++total) {
      const uint8_t* p = image.At(x, y);
      // red whether lit or in the ball's own shadow
      if (p[0] > 40 && 2 * p[0] > 3 * p[1] && 2 * p[0] > 3 * p[2]) ++body;
    }
  }
  EXPECT_GT(body, total * 9 / 10) << body << " of " << total;
}

TEST(VardelAppStartupTest, SceneThatFailsTwiceIsFatal) {
  TempFolder folder;
  folder.Write("broken.txt", "MESH: nowhere.obj\n");
  folder.Write("script.txt", "dialog broken.txt\n");
  ProgramResult run = RunVardel(folder.Path(), {"--script", "script.txt", "--screenshot", "shot.png"});
  EXPECT_FALSE(run.exited);
  EXPECT_EQ(run.signal, SIGABRT);
  EXPECT_TRUE(Contains(run.err, "A fatal error has occured\nCannot load scene\nSource file \"")) << run.err;
  EXPECT_TRUE(Contains(run.err, "The program will terminate")) << run.err;
  EXPECT_FALSE(std::filesystem::exists(folder.File("shot.png")));
}

TEST(VardelAppStartupTest, SecondInstanceAsksAndStopsOnNo) {
  TempFolder folder;
  CopySphereScene(folder, "LiverScene.txt");
  RunningInstance running(folder.Path());
  ASSERT_TRUE(running.Start());

  folder.Write("no.txt", "answer no\nframes 1\n");
  ProgramResult refused = RunVardel(folder.Path(), {"--script", "no.txt", "--screenshot", "no.png"});
  EXPECT_EQ(refused.exitCode, 0) << refused.out << refused.err;
  EXPECT_TRUE(Contains(refused.out, "Message box \"Warning\": No\n")) << refused.out;
  EXPECT_TRUE(Contains(refused.err, "Another Vardel instance is already running!\nDo you want to continue?"));
  EXPECT_FALSE(std::filesystem::exists(folder.File("no.png")));

  // headless runs go on unless the script says otherwise
  ProgramResult accepted = RunVardel(folder.Path(), {"--headless", "--screenshot", "yes.png"});
  EXPECT_EQ(accepted.exitCode, 0) << accepted.out << accepted.err;
  EXPECT_TRUE(Contains(accepted.out, "Message box \"Warning\": Yes\n")) << accepted.out;
  EXPECT_TRUE(std::filesystem::exists(folder.File("yes.png")));

  running.Stop();
  ProgramResult alone = RunVardel(folder.Path(), {"--headless"});
  EXPECT_EQ(alone.exitCode, 0);
  EXPECT_FALSE(Contains(alone.out, "Message box")) << alone.out;
}
