#include "app/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "support/temp_folder.h"

namespace {

struct Loaded {
  ConfigFile config;
  bool ok = false;
  std::wstring log;
};

Loaded LoadText(const TempFolder& folder, const std::string& text) {
  Loaded result;
  folder.Write("scene.txt", text);
  std::wostringstream log;
  result.ok = result.config.Load(folder.WideFile("scene.txt"), &log);
  result.log = log.str();
  return result;
}

}  // namespace

TEST(ConfigFileTest, RepeatedKeyWarnsAndKeepsFirstPositionWithLastValue) {
  TempFolder folder;
  Loaded f = LoadText(folder, "mesh: a.obj\nMESH: b.obj\nVOXEL_SIZE: 1 2 3\n");
  ASSERT_TRUE(f.ok);
  std::wstring expected = L"WARNING: Key \"MESH\" in line 2 of file \"" + folder.WideFile("scene.txt") +
                          L"\" has already been specified. The old value has been overwritten.\n";
  EXPECT_EQ(f.log, expected);
  ASSERT_EQ(f.config.Entries().size(), 2u);
  EXPECT_EQ(f.config.Entries()[0].first, L"MESH");
  EXPECT_EQ(f.config.Entries()[0].second, L"b.obj");
  EXPECT_EQ(f.config.Entries()[1].first, L"VOXEL_SIZE");
}

TEST(ConfigFileTest, CommentsBlankLinesAndLineEnds) {
  TempFolder folder;
  // CR LF line ends, a comment with a key and colon, a leading-colon line,
  // blank lines, and a last line without a line break
  Loaded f = LoadText(folder, "// VOXEL_SIZE: 1 2 3\r\n\r\n   \r\n: orphan\r\nkey1: \t value with spaces \t\r\nLAST: 7");
  ASSERT_TRUE(f.ok) << f.log;
  EXPECT_TRUE(f.log.empty());
  ASSERT_EQ(f.config.Entries().size(), 2u);
  std::wstring value;
  ASSERT_TRUE(f.config.Get(L"Key1", value, nullptr));
  EXPECT_EQ(value, L"value with spaces");
  int last = 0;
  ASSERT_TRUE(f.config.Get(L"last", last, nullptr));
  EXPECT_EQ(last, 7);
  EXPECT_FALSE(f.config.Contains(L"VOXEL_SIZE"));
}

TEST(ConfigFileTest, TwoWordKeyFailsTheLoadKeepingEarlierEntries) {
  TempFolder folder;
  Loaded f = LoadText(folder, "A: 1\nVOXEL SIZE: 0.1 0.1 0.1\nB: 2\n");
  EXPECT_FALSE(f.ok);
  EXPECT_FALSE(f.config.IsLoaded());
  EXPECT_EQ(f.log, L"ERROR: Invalid key syntax in line 2 of file \"" + folder.WideFile("scene.txt") + L"\"\n");
  EXPECT_TRUE(f.config.Contains(L"A"));
  EXPECT_FALSE(f.config.Contains(L"B"));
}

TEST(ConfigFileTest, ValueKeepsFurtherColonsAndSlashes) {
  TempFolder folder;
  Loaded f = LoadText(folder, "MESH: C:\\meshes\\liver.obj // not a comment\nWORD\n");
  ASSERT_TRUE(f.ok);
  std::wstring mesh, word = L"unchanged";
  ASSERT_TRUE(f.config.Get(L"mesh", mesh, nullptr));
  EXPECT_EQ(mesh, L"C:\\meshes\\liver.obj // not a comment");
  ASSERT_TRUE(f.config.Get(L"word", word, nullptr));
  EXPECT_EQ(word, L"");
}

TEST(ConfigFileTest, TypedQueriesParseOrLeaveResultUnchanged) {
  TempFolder folder;
  Loaded f = LoadText(folder,
                      "INT: 3abc\nD: 1e-3\nTWO: 1.5 2.5\nV: 1 2 3 trailing\nEMPTY:\nBIG: 1e999\n"
                      "M: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\nSHORTM: 1 2 3\n");
  ASSERT_TRUE(f.ok);
  int i = -1;
  EXPECT_TRUE(f.config.Get(L"int", i, nullptr));
  EXPECT_EQ(i, 3);
  double d = 0;
  EXPECT_TRUE(f.config.Get(L"d", d, nullptr));
  EXPECT_DOUBLE_EQ(d, 1e-3);

  Vec3d keep(7, 8, 9);
  std::wostringstream log;
  EXPECT_FALSE(f.config.Get(L"two", keep, &log));
  EXPECT_EQ(keep, Vec3d(7, 8, 9));
  EXPECT_EQ(log.str(), L"ERROR: Could not parse entry \"two\"\n");

  log.str(L"");
  EXPECT_FALSE(f.config.Get(L"two", keep, &log, true));
  EXPECT_EQ(log.str(), L"WARNING: Could not parse entry \"two\"\n");

  Vec3f v;
  EXPECT_TRUE(f.config.Get(L"V", v, nullptr));
  EXPECT_EQ(v, Vec3f(1, 2, 3));

  float e = 5;
  EXPECT_FALSE(f.config.Get(L"EMPTY", e, nullptr));
  EXPECT_EQ(e, 5);
  double big = 5;
  EXPECT_FALSE(f.config.Get(L"BIG", big, nullptr)) << "an out-of-range number must not parse";
  EXPECT_EQ(big, 5);

  Mat4f m;
  EXPECT_TRUE(f.config.Get(L"M", m, nullptr));
  EXPECT_EQ(m(0, 3), 4.0f);
  EXPECT_EQ(m(3, 0), 13.0f);
  Mat4f unchanged = Mat4f::Identity();
  EXPECT_FALSE(f.config.Get(L"SHORTM", unchanged, nullptr));
  EXPECT_EQ(unchanged(1, 1), 1.0f);
  EXPECT_EQ(unchanged(0, 1), 0.0f);

  log.str(L"");
  EXPECT_FALSE(f.config.Get(L"Missing", d, &log));
  EXPECT_EQ(log.str(), L"ERROR: Entry \"Missing\" not found\n");
  log.str(L"");
  EXPECT_FALSE(f.config.Get(L"Missing", d, &log, true));
  EXPECT_TRUE(log.str().empty());
}

TEST(ConfigFileTest, SaveWritesEachKeyOnceInOrderAndSetRemoveKeepOrder) {
  TempFolder folder;
  Loaded f = LoadText(folder, "// comment\nb: 2\na: 1\nB: 3\n");
  ASSERT_TRUE(f.ok);
  EXPECT_TRUE(f.config.Set(L"a", L"10"));
  EXPECT_FALSE(f.config.Set(L"new", L"x y"));
  EXPECT_TRUE(f.config.Remove(L"B"));
  EXPECT_FALSE(f.config.Remove(L"B"));
  EXPECT_TRUE(f.config.Set(L"c", L"4") == false);
  ASSERT_TRUE(f.config.Save(folder.WideFile("out.txt"), nullptr));
  EXPECT_EQ(TempFolder::Read(folder.File("out.txt")), "A: 10\nNEW: x y\nC: 4\n");
  // lookups still find every entry after the removal shifted them
  std::wstring value;
  ASSERT_TRUE(f.config.Get(L"c", value, nullptr));
  EXPECT_EQ(value, L"4");
}

TEST(ConfigFileTest, FailedSaveLeavesTheOldFileIntact) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  TempFolder folder;
  Loaded f = LoadText(folder, "A: 1\n");
  ASSERT_TRUE(f.ok);
  f.config.Set(L"A", L"2");
  ASSERT_EQ(chmod(folder.Path().c_str(), 0500), 0);
  std::wostringstream log;
  EXPECT_FALSE(f.config.Save(folder.WideFile("scene.txt"), &log));
  chmod(folder.Path().c_str(), 0700);
  EXPECT_EQ(log.str(), L"ERROR: Cannot write file \"" + folder.WideFile("scene.txt") + L"\"\n");
  EXPECT_EQ(TempFolder::Read(folder.File("scene.txt")), "A: 1\n");
}

TEST(ConfigFileTest, SaveIntoMissingFolderFailsWithMessage) {
  TempFolder folder;
  ConfigFile config;
  config.Set(L"A", L"1");
  std::wostringstream log;
  std::wstring target = folder.WideFile("missing/scene.txt");
  EXPECT_FALSE(config.Save(target, &log));
  EXPECT_EQ(log.str(), L"ERROR: Cannot write file \"" + target + L"\"\n");
}

TEST(ConfigFileTest, MissingFileFailsToLoad) {
  TempFolder folder;
  ConfigFile config;
  std::wostringstream log;
  EXPECT_FALSE(config.Load(folder.WideFile("nope.txt"), &log));
  EXPECT_EQ(log.str(), L"ERROR: Cannot open file \"" + folder.WideFile("nope.txt") + L"\"\n");
}
