#include "framework/framework.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "support/temp_folder.h"

namespace {

class CapturedLog {
 public:
  CapturedLog() : old_(std::wcout.rdbuf(buffer_.rdbuf())) {}
  ~CapturedLog() { std::wcout.rdbuf(old_); }
  std::wstring Text() const { return buffer_.str(); }

 private:
  std::wostringstream buffer_;
  std::wstreambuf* old_;
};

// Records what the framework calls, in order, for a headless run.
struct Recorder {
  std::vector<std::string> calls;
  std::vector<double> frameTimes;
  std::vector<float> elapsedTimes;
  std::vector<std::string> keys;  // "K" or "alt+K"
  int consumeKey = -1;

  void Register(Framework& framework) {
    framework.isDeviceAcceptable = [this](const DeviceInfo& device) {
      calls.push_back("acceptable");
      return !device.renderer.empty();
    };
    framework.onDeviceCreated = [this](const DeviceInfo&) {
      calls.push_back("created");
      return true;
    };
    framework.onSwapChainResized = [this](int width, int height) {
      calls.push_back("resized " + std::to_string(width) + "x" + std::to_string(height));
      return true;
    };
    framework.onSwapChainReleasing = [this] { calls.push_back("releasing"); };
    framework.onDeviceDestroyed = [this] { calls.push_back("destroyed"); };
    framework.onFrameMove = [this](double time, float elapsed) {
      frameTimes.push_back(time);
      elapsedTimes.push_back(elapsed);
    };
    framework.onFrameRender = [this](double, float) { calls.push_back("render"); };
    framework.onMessage = [this](const InputMessage& message) {
      return message.type == InputType::KeyDown && message.key == consumeKey;
    };
    framework.onKeyboard = [this, &framework](int32_t key, bool down, bool alt) {
      EXPECT_TRUE(down);
      if (key == kKeyAlt || key == kKeyShift) return;  // modifiers arrive as keys of their own
      keys.push_back(std::string(alt ? "alt+" : "") + static_cast<char>(key < 128 ? key : '?'));
      if (key == 'T') framework.ToggleReference();
      if (key == 'S') {
        DeviceSettings smaller = framework.Settings();
        smaller.width = 32;
        smaller.height = 24;
        framework.ApplySettings(smaller);
      }
    };
  }
};

int RunHeadless(Framework& framework, Recorder& recorder, const TempFolder& folder, const std::string& script,
        std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"vardel", "--headless", "--size", "64x48", "--state-dir", folder.File("state")};
  if (!script.empty()) {
    args.push_back("--script");
    args.push_back(folder.Write("script.txt", script));
  }
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  recorder.Register(framework);
  // shaders are compiled afresh rather than through the user's shader cache
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  int early = framework.Init(static_cast<int>(argv.size()), argv.data());
  if (early >= 0) return early;
  if (!framework.CreateWindow(L"Vardel") || !framework.CreateDevice(true, 800, 600)) return framework.ExitCode();
  framework.MainLoop();
  framework.Shutdown(framework.ExitCode());
  return framework.ExitCode();
}

}  // namespace

TEST(FrameworkTest, DeviceLifecycleRunsInOrderIncludingARecreation) {
  TempFolder folder;
  CapturedLog log;
  Framework framework;
  Recorder recorder;
  // the --size option (64x48) wins over the 800 x 600 the application asks for;
  // T asks for the reference rasterizer: the device is rebuilt whether or not it exists;
  // S asks for a smaller client area: only the size-dependent objects follow
  ASSERT_EQ(RunHeadless(framework, recorder, folder, "frames 1\nkey T\nframes 1\nkey S\nframes 1\n"), 0);
  std::vector<std::string> expected = {"acceptable", "created",   "resized 64x48", "render",
                                       "releasing",  "destroyed", "acceptable",    "created",
                                       "resized 64x48", "render", "releasing",     "resized 32x24",
                                       "render",     "releasing", "destroyed"};
  EXPECT_EQ(recorder.calls, expected);
  EXPECT_EQ(framework.Settings().width, 32);
}

TEST(FrameworkTest, ScriptFramesFixedStepAndKeyRouting) {
  TempFolder folder;
  CapturedLog log;
  Framework framework;
  Recorder recorder;
  recorder.consumeKey = 'C';
  ASSERT_EQ(RunHeadless(framework, recorder, folder,
                "key A\nkey alt+B\nkey C\nframes 3\nhold Alt\nkey D\nrelease Alt\nkey E\n",
                {"--fixed-dt", "0.5"}),
            0);
  // the message callback consumed C; Alt held by the script counts for D
  EXPECT_EQ(recorder.keys, (std::vector<std::string>{"A", "alt+B", "alt+D", "E"}));
  EXPECT_EQ(recorder.frameTimes, (std::vector<double>{0.0, 0.5, 1.0}));
  EXPECT_EQ(recorder.elapsedTimes, (std::vector<float>{0.5f, 0.5f, 0.5f}));
}

TEST(FrameworkTest, RunEndsAtQuitEscapeOrTheFrameLimit) {
  struct Case {
    std::string script;
    std::vector<std::string> extra;
    long long frames;
  };
  const std::vector<Case> cases = {
      {"frames 2\nquit\nframes 50\n", {}, 2},
      {"frames 3\nkey Escape\nframes 50\n", {}, 3},
      {"frames 50\n", {"--frames", "4"}, 4},
      {"", {}, 1},                  // headless without a script: one frame
      {"", {"--frames", "3"}, 3},
      {"key A\n", {}, 1},           // a script without frames still draws one
  };
  for (const Case& c : cases) {
    TempFolder folder;
    CapturedLog log;
    Framework framework;
    Recorder recorder;
    EXPECT_EQ(RunHeadless(framework, recorder, folder, c.script, c.extra), 0) << c.script;
    EXPECT_EQ(framework.FrameCount(), c.frames) << c.script;
  }
}

TEST(FrameworkTest, ScriptRunTimeErrorsStopWithCodeTwo) {
  TempFolder folder;
  CapturedLog log;
  Framework framework;
  Recorder recorder;
  std::string shot = folder.File("late.png");
  EXPECT_EQ(RunHeadless(framework, recorder, folder, "frames 1\nclick \"Run Simulation\"\nframes 5\n",
                {"--screenshot", shot}),
            2);
  EXPECT_EQ(framework.FrameCount(), 1);
  EXPECT_NE(log.Text().find(L"script.txt\" line 2: no button or check box \"Run Simulation\""), std::wstring::npos);
  EXPECT_FALSE(std::filesystem::exists(shot));
}

TEST(FrameworkTest, ScreenshotsBeforeTheFirstFrameDrawOneFirst) {
  TempFolder folder;
  CapturedLog log;
  Framework framework;
  Recorder recorder;
  std::string first = folder.File("first.png"), last = folder.File("last.png");
  ASSERT_EQ(RunHeadless(framework, recorder, folder, "screenshot " + first + "\nframes 2\n", {"--screenshot", last}), 0);
  EXPECT_EQ(framework.FrameCount(), 3);
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_TRUE(std::filesystem::exists(last));
}

TEST(FrameworkTest, CommandLineProblemsEndBeforeAnyDevice) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {{"--size", "0x0"}, 2, L"ERROR: bad value \"0x0\" for --size"},
      {{"--script", "/nonexistent/s.txt"}, 2, L"ERROR: script \"/nonexistent/s.txt\" cannot be opened"},
      {{"--help"}, 0, L"Usage: vardel [options]"},
      {{"--version"}, 0, L"Vardel "},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    CapturedLog log;
    Framework framework;
    Recorder recorder;
    EXPECT_EQ(RunHeadless(framework, recorder, folder, "", c.args), c.code);
    EXPECT_NE(log.Text().find(c.expected), std::wstring::npos) << std::string(c.expected.begin(), c.expected.end());
    EXPECT_TRUE(recorder.calls.empty());
  }
}
