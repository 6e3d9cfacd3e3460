#include "geometry/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  LineReader reader(in);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(line)) lines.push_back(line);
  return lines;
}

bool Write(const std::string& target, const std::string& content) {
  return WriteFileAtomically(target, true, [&](std::ostream& out) {
    out << content;
    return true;
  });
}

int FileCount(const std::string& folder) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.exists() ? 1 : 0;
  return files;
}

}  // namespace

TEST(LineReaderTest, LineEndsAndLineNumbers) {
  using L = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string text;
    L lines;
  } cases[] = {
      {"line feeds", "a\nb\n", L{"a", "b"}},
      {"CR LF", "a\r\nb\r\n", L{"a", "b"}},
      {"last line without a break", "a\nb", L{"a", "b"}},
      {"blank lines count", "a\n\n\nb\n", L{"a", "", "", "b"}},
      {"empty input", "", L{}},
      {"only a line feed", "\n", L{""}},
      // a file whose first line end is a lone CR ends every line with CR alone
      {"old CR-only file", "a\rb\r\rc", L{"a", "b", "", "c"}},
      {"CR-only file ending in CR", "a\rb\r", L{"a", "b"}},
      {"CR file with a later CR LF", "a\rb\r\nc\n", L{"a", "b", "c"}},
      // elsewhere a lone CR stays in its line, and the numbers an editor shows hold
      {"stray CR in a LF file", "a\nb\rc\nd\n", L{"a", "b\rc", "d"}},
      {"stray CR in a CR LF file", "a\r\nb\rc\r\nd", L{"a", "b\rc", "d"}},
      {"NUL bytes are kept", std::string("a\0b\nc", 5), L{std::string("a\0b", 3), "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(c.text), c.lines) << c.name;
}

TEST(LineReaderTest, ReadErrorIsNotTheEnd) {
  TempFolder folder;
  std::ifstream in(folder.Path(), std::ios::binary);  // a folder opens, but cannot be read
  ASSERT_TRUE(in.is_open());
  LineReader reader(in);
  std::string line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(in.bad());
}

TEST(FileUtilTest, AtomicWriteKeepsOldContentWhenTheWriterFails) {
  TempFolder folder;
  std::string target = folder.Write("data.txt", "old");
  bool openFailed = true;
  EXPECT_FALSE(WriteFileAtomically(target, true, [](std::ostream& out) {
    out << "partial";
    return false;
  }, &openFailed));
  EXPECT_FALSE(openFailed);
  EXPECT_EQ(TempFolder::Read(target), "old");
  EXPECT_TRUE(Write(target, "new"));
  EXPECT_EQ(TempFolder::Read(target), "new");
  EXPECT_EQ(FileCount(folder.Path()), 1) << "no temporary file is left behind";
}

TEST(FileUtilTest, TargetNamesUpToTheLongestTheSystemAllows) {
  TempFolder folder;
  const std::string name(NAME_MAX, 'n');
  const std::string target = folder.File(name);
  ASSERT_TRUE(Write(target, "first"));
  ASSERT_TRUE(Write(target, "second"));
  EXPECT_EQ(TempFolder::Read(target), "second");
  EXPECT_EQ(FileCount(folder.Path()), 1);
}

TEST(FileUtilTest, SymbolicLinksSurviveASave) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("real"));
  const std::string real = folder.Write("real/scene.txt", "old");
  const std::string link = folder.File("scene.txt");
  std::filesystem::create_symlink("real/scene.txt", link);  // relative to the link's folder
  const std::string chain = folder.File("chain.txt");
  std::filesystem::create_symlink(link, chain);             // a link to the link

  ASSERT_TRUE(Write(chain, "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(chain));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(TempFolder::Read(real), "new");
  EXPECT_EQ(FileCount(folder.File("real")), 1);

  // a dangling link creates the file it names and stays a link
  const std::string dangling = folder.File("dangling.txt");
  std::filesystem::create_symlink("real/new.txt", dangling);
  ASSERT_TRUE(Write(dangling, "made"));
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(TempFolder::Read(folder.File("real/new.txt")), "made");
}

TEST(FileUtilTest, ReadOnlyTargetIsNotReplaced) {
  // the write bits decide, so the file is kept for root as well
  TempFolder folder;
  const std::string target = folder.Write("locked.txt", "keep");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  bool openFailed = false;
  EXPECT_FALSE(WriteFileAtomically(target, true, [](std::ostream& out) {
    out << "lost";
    return true;
  }, &openFailed));
  EXPECT_TRUE(openFailed);
  EXPECT_EQ(TempFolder::Read(target), "keep");
  EXPECT_EQ(FileCount(folder.Path()), 1);
  struct stat after;
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0444u);

  // the permissions of a writable file carry over to its replacement
  const std::string shared = folder.Write("shared.txt", "old");
  ASSERT_EQ(chmod(shared.c_str(), 0640), 0);
  ASSERT_TRUE(Write(shared, "new"));
  ASSERT_EQ(stat(shared.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0640u);
}

TEST(FileUtilTest, RenameOntoAFolderFailsAfterTheWrite) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("taken"));
  bool openFailed = true;
  EXPECT_FALSE(WriteFileAtomically(folder.File("taken"), true, [](std::ostream& out) {
    out << "x";
    return true;
  }, &openFailed));
  EXPECT_FALSE(openFailed);
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("taken")));
  EXPECT_EQ(FileCount(folder.Path()), 1);
}
