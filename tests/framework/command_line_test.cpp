#include "framework/command_line.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
  bool ok = false;
  FrameworkOptions options;
  std::string error;
};

Parsed Parse(const std::vector<std::string>& args) {
  Parsed result;
  result.ok = ParseCommandLine(args, result.options, result.error);
  return result;
}

}  // namespace

TEST(CommandLineTest, AcceptsEveryOptionInBothSpellings) {
  Parsed p = Parse({"--headless", "--size", "640x480", "--frames=12", "--fixed-dt", "0.025", "--script", "run.txt",
                    "--screenshot=out/shot.PNG", "--state-dir", "/tmp/state"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.headless);
  EXPECT_TRUE(p.options.sizeGiven);
  EXPECT_EQ(p.options.width, 640);
  EXPECT_EQ(p.options.height, 480);
  EXPECT_EQ(p.options.frames, 12);
  EXPECT_DOUBLE_EQ(p.options.fixedDt, 0.025);
  EXPECT_EQ(p.options.scriptFile, "run.txt");
  EXPECT_EQ(p.options.screenshotFile, "out/shot.PNG");
  EXPECT_EQ(p.options.stateDir, "/tmp/state");

  Parsed defaults = Parse({});
  ASSERT_TRUE(defaults.ok);
  EXPECT_FALSE(defaults.options.headless);
  EXPECT_FALSE(defaults.options.sizeGiven);
  EXPECT_EQ(defaults.options.width, 800);
  EXPECT_EQ(defaults.options.height, 600);
  EXPECT_EQ(defaults.options.frames, -1);
  EXPECT_EQ(defaults.options.fixedDt, 0.0);

  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_TRUE(Parse({"--version"}).options.version);
}

TEST(CommandLineTest, RefusesBadOptionsAndValues) {
  const std::vector<std::vector<std::string>> bad = {
      {"--size", "0x0"},       {"--size", "800x0"},      {"--size", "800"},          {"--size", "x600"},
      {"--size", "800x600x2"}, {"--size", "-800x600"},   {"--size", "99999x600"},    {"--size", " 800x600"},
      {"--frames", "0"},       {"--frames", "-3"},       {"--frames", "2.5"},        {"--frames", "9999999999999"},
      {"--fixed-dt", "0"},     {"--fixed-dt", "-0.1"},   {"--fixed-dt", "nan"},      {"--fixed-dt", "inf"},
      {"--fixed-dt", "0.1s"},  {"--screenshot", "a.jpg"}, {"--screenshot", ".png"}, {"--screenshot", "dir/.png"},
      {"--script", ""},        {"--state-dir", ""},      {"--frames"},               {"--bogus"},
      {"scene.txt"},           {"--headless=yes"},       {"--help=1"},
  };
  for (const auto& args : bad) {
    Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(p.error.empty());
  }
  // the reason names what was wrong
  EXPECT_NE(Parse({"--size", "0x0"}).error.find("0x0"), std::string::npos);
  EXPECT_NE(Parse({"--bogus"}).error.find("--bogus"), std::string::npos);
}

TEST(CommandLineTest, StrictNumbersAndPngNames) {
  long long value = 7;
  EXPECT_TRUE(ParseInteger("-12", -100, 100, value));
  EXPECT_EQ(value, -12);
  EXPECT_FALSE(ParseInteger("101", -100, 100, value));
  EXPECT_FALSE(ParseInteger("1e3", 0, 10000, value));
  EXPECT_FALSE(ParseInteger("", 0, 10, value));
  EXPECT_FALSE(ParseInteger("-", 0, 10, value));
  EXPECT_FALSE(ParseInteger("99999999999999999999999", 0, 10, value));
  EXPECT_EQ(value, -12);  // failures leave the value alone

  EXPECT_TRUE(HasPngExtension("a.png"));
  EXPECT_TRUE(HasPngExtension("/x/y/frame.Png"));
  EXPECT_FALSE(HasPngExtension("png"));
  EXPECT_FALSE(HasPngExtension("a.png.txt"));
}

TEST(CommandLineTest, HeadlessWithoutAnyDisplay) {
  EXPECT_TRUE(NoDisplayAvailable(nullptr, nullptr));
  EXPECT_TRUE(NoDisplayAvailable("", ""));
  EXPECT_FALSE(NoDisplayAvailable(":0", nullptr));
  EXPECT_FALSE(NoDisplayAvailable(nullptr, "wayland-0"));
}

TEST(CommandLineTest, ArgumentsAfterTheProgramNameEvenWithoutAny) {
  char program[] = "vardel", frames[] = "--frames", two[] = "2";
  char* full[] = {program, frames, two, nullptr};
  EXPECT_EQ(ArgumentsAfterProgramName(3, full), (std::vector<std::string>{"--frames", "2"}));
  EXPECT_TRUE(ArgumentsAfterProgramName(1, full).empty());
  // exec lets a program start with argc 0 and argv = {nullptr}
  char* none[] = {nullptr};
  EXPECT_TRUE(ArgumentsAfterProgramName(0, none).empty());
  EXPECT_TRUE(ArgumentsAfterProgramName(0, nullptr).empty());
}
