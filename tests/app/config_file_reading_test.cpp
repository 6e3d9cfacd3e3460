// Line ends, line numbers and read errors of the configuration reader.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/config_file.h"
#include "geometry/file_util.h"
#include "support/temp_folder.h"

namespace {

struct Loaded {
  bool ok = false;
  std::wstring log;
  std::wstring value;  // of key B
};

Loaded Load(const std::string& text) {
  TempFolder folder;
  folder.Write("scene.txt", text);
  Loaded result;
  ConfigFile config;
  std::wostringstream log;
  result.ok = config.Load(folder.WideFile("scene.txt"), &log);
  // the folder's name is random: keep only the part of the message before it
  result.log = log.str().substr(0, log.str().find(L" of file"));
  config.Get(L"B", result.value, nullptr, true);
  return result;
}

}  // namespace

TEST(ConfigFileReadingTest, MessagesNameTheLineAnEditorShows) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
    std::wstring log;
    std::wstring value;
  } cases[] = {
      {"CR LF lines", "A: 1\r\nB C: 2\r\n", false, L"ERROR: Invalid key syntax in line 2", L""},
      // a stray CR inside a line of a LF file neither ends the line nor shifts the numbers
      {"stray CR", "A: 1\nB\rC: 2\nB: 3\n", false, L"ERROR: Invalid key syntax in line 2", L""},
      {"stray CR in a value", "A: 1\nB: x\ry\nA: 4\n", true, L"WARNING: Key \"A\" in line 3", L"x\ry"},
      // files of old tools end their lines with CR alone and still load line by line
      {"CR-only file", "A: 1\rB: 2\r\rA: 3\r", true, L"WARNING: Key \"A\" in line 4", L"2"},
      {"CR-only file with a bad key", "A: 1\r\rB C: 2", false, L"ERROR: Invalid key syntax in line 3", L""},
  };
  for (const Case& c : cases) {
    const Loaded r = Load(c.text);
    EXPECT_EQ(r.ok, c.ok) << c.name;
    EXPECT_EQ(r.log, c.log) << c.name;
    EXPECT_EQ(r.value, c.value) << c.name;
  }
}

TEST(ConfigFileReadingTest, UnreadableFileFailsWithTheLineMessage) {
  // a folder opens like a file but cannot be read
  TempFolder folder;
  ConfigFile config;
  std::wostringstream log;
  EXPECT_FALSE(config.Load(WidenPath(folder.Path()), &log));
  EXPECT_FALSE(config.IsLoaded());
  EXPECT_EQ(log.str(), L"ERROR: Cannot read line 1 of file \"" + WidenPath(folder.Path()) + L"\"\n");
}
