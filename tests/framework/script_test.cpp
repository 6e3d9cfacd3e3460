#include "framework/script.h"

#include <gtest/gtest.h>

#include "app/input.h"
#include "support/temp_folder.h"

namespace {

std::vector<ScriptCommand> ParseOk(const std::string& text) {
  std::vector<ScriptCommand> commands;
  std::string error;
  EXPECT_TRUE(ParseScript(text, "s.txt", commands, error)) << error;
  return commands;
}

std::string ParseError(const std::string& text) {
  std::vector<ScriptCommand> commands = {ScriptCommand{}};
  std::string error;
  EXPECT_FALSE(ParseScript(text, "s.txt", commands, error)) << text;
  EXPECT_TRUE(commands.empty());
  return error;
}

}  // namespace

TEST(ScriptTest, ReadsEveryCommand) {
  auto c = ParseOk(
      "# a comment line\n"
      "\n"
      "frames 5   # trailing comment\r\n"
      "key alt+shift+c\n"
      "key SHIFT+Alt+F11\n"
      "hold numpad8\n"
      "release PageUp\n"
      "mouse right down 10 -20\n"
      "mouse left double 3 4\n"
      "mouse middle up 0 0\n"
      "mouse move 400 300\n"
      "wheel -2\n"
      "click \"Enable Gravity (G) # not a comment\"\n"
      "click 26\n"
      "slider 45 7\n"
      "dialog cancel\n"
      "dialog my scenes/liver#1.txt\n"
      "dialog \"cancel\"\n"
      "answer No\n"
      "screenshot out/frame 1.png\n"
      "quit\n");
  ASSERT_EQ(c.size(), 19u);
  EXPECT_EQ(c[0].type, ScriptCommandType::Frames);
  EXPECT_EQ(c[0].count, 5);
  EXPECT_EQ(c[0].line, 3);
  EXPECT_EQ(c[1].type, ScriptCommandType::Key);
  EXPECT_EQ(c[1].key, 'C');
  EXPECT_TRUE(c[1].alt && c[1].shift);
  EXPECT_EQ(c[2].key, FunctionKey(11));
  EXPECT_TRUE(c[2].alt && c[2].shift);
  EXPECT_EQ(c[3].type, ScriptCommandType::Hold);
  EXPECT_EQ(c[3].key, NumpadKey(8));
  EXPECT_EQ(c[4].type, ScriptCommandType::Release);
  EXPECT_EQ(c[4].key, kKeyPageUp);
  EXPECT_EQ(c[5].type, ScriptCommandType::Mouse);
  EXPECT_EQ(c[5].button, kButtonRight);
  EXPECT_EQ(c[5].mouseAction, MouseAction::Down);
  EXPECT_EQ(c[5].x, 10);
  EXPECT_EQ(c[5].y, -20);
  EXPECT_EQ(c[6].mouseAction, MouseAction::Double);
  EXPECT_EQ(c[7].button, kButtonMiddle);
  EXPECT_EQ(c[7].mouseAction, MouseAction::Up);
  EXPECT_EQ(c[8].type, ScriptCommandType::MouseMove);
  EXPECT_EQ(c[8].x, 400);
  EXPECT_EQ(c[9].type, ScriptCommandType::Wheel);
  EXPECT_EQ(c[9].count, -2);
  EXPECT_EQ(c[10].type, ScriptCommandType::Click);
  EXPECT_EQ(c[10].controlId, -1);
  EXPECT_EQ(c[10].label, L"Enable Gravity (G) # not a comment");
  EXPECT_EQ(c[11].controlId, 26);
  EXPECT_EQ(c[12].type, ScriptCommandType::Slider);
  EXPECT_EQ(c[12].controlId, 45);
  EXPECT_EQ(c[12].value, 7);
  EXPECT_TRUE(c[13].cancel);
  EXPECT_FALSE(c[14].cancel);
  EXPECT_EQ(c[14].path, "my scenes/liver#1.txt");
  // a quoted "cancel" is a file of that name
  EXPECT_FALSE(c[15].cancel);
  EXPECT_EQ(c[15].path, "cancel");
  EXPECT_EQ(c[16].answer, ScriptAnswer::No);
  EXPECT_EQ(c[17].type, ScriptCommandType::Screenshot);
  EXPECT_EQ(c[17].path, "out/frame 1.png");
  EXPECT_EQ(c[18].type, ScriptCommandType::Quit);
  EXPECT_EQ(c[18].line, 21);
}

TEST(ScriptTest, BadLinesNameTheFileAndLine) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"frames 1\nfly 3\n", "ERROR: script \"s.txt\" line 2: unknown command \"fly\""},
      {"frames\n", "line 1: missing argument"},
      {"frames 0\n", "line 1: bad frame count"},
      {"frames 2 3\n", "line 1: unexpected argument \"3\""},
      {"frames two\n", "bad frame count"},
      {"key F13\n", "unknown key \"F13\""},
      {"key alt+\n", "unknown key"},
      {"key ctrl+A\n", "unknown key"},
      {"hold alt+A\n", "unknown key"},
      {"mouse left down 10\n", "missing argument"},
      {"mouse left press 1 2\n", "unknown mouse action"},
      {"mouse thumb down 1 2\n", "unknown mouse button"},
      {"mouse move 1 y\n", "bad coordinate"},
      {"wheel\n", "missing argument"},
      {"wheel 1.5\n", "bad notch count"},
      {"click\n", "missing argument"},
      {"click \"Run Simulation\n", "missing closing quote"},
      {"click \"\"\n", "empty control label"},
      {"click Run Simulation\n", "unexpected argument"},
      {"click -4\n", "bad control ID"},
      {"slider 45\n", "missing argument"},
      {"dialog\n", "missing file name"},
      {"answer maybe\n", "unknown answer"},
      {"screenshot shot.jpg\n", "does not end in .png"},
      {"quit now\n", "unexpected argument"},
      {"\"frames\" 1\n", "cannot be quoted"},
      {std::string("frames 1\n\nkey A\0B\n", 18), "line 3: unexpected NUL"},
  };
  for (const Case& c : cases) {
    std::string error = ParseError(c.text);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " gave " << error;
    EXPECT_EQ(error.rfind("ERROR: script \"s.txt\" line ", 0), 0u) << error;
  }
}

TEST(ScriptTest, EmptyAndCommentOnlyScriptsHaveNoCommands) {
  EXPECT_TRUE(ParseOk("").empty());
  EXPECT_TRUE(ParseOk("# nothing\n   \n\t# indented\n").empty());
  // a last line without a line break still counts
  auto c = ParseOk("frames 1\nquit");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1].line, 2);
}

TEST(ScriptTest, LoadReportsMissingFilesAndFolders) {
  TempFolder folder;
  std::vector<ScriptCommand> commands;
  std::string error;
  EXPECT_FALSE(LoadScript(folder.File("none.txt"), commands, error));
  EXPECT_EQ(error, "ERROR: script \"" + folder.File("none.txt") + "\" cannot be opened");
  EXPECT_FALSE(LoadScript(folder.Path(), commands, error));
  folder.Write("ok.txt", "frames 2\nkey R\n");
  ASSERT_TRUE(LoadScript(folder.File("ok.txt"), commands, error)) << error;
  EXPECT_EQ(commands.size(), 2u);
  folder.Write("bad.txt", "frames 2\nkey R2\n");
  EXPECT_FALSE(LoadScript(folder.File("bad.txt"), commands, error));
  EXPECT_NE(error.find("\"" + folder.File("bad.txt") + "\" line 2"), std::string::npos) << error;
}
