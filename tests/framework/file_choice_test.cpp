#include "framework/file_choice.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

TEST(FileChoiceTest, FiltersMatchPatternsIgnoringCase) {
  EXPECT_TRUE(MatchesFilter("LiverScene.txt", "*.txt"));
  EXPECT_TRUE(MatchesFilter("LIVER.TXT", "*.txt"));
  EXPECT_FALSE(MatchesFilter("liver.txt.bak", "*.txt"));
  EXPECT_FALSE(MatchesFilter("liver.obj", "*.txt"));
  EXPECT_TRUE(MatchesFilter("mesh.obj", "*.txt; *.obj"));
  EXPECT_TRUE(MatchesFilter("anything", ""));
  EXPECT_TRUE(MatchesFilter("a1.rec", "a?.rec"));
}

TEST(FileChoiceTest, DefaultExtensionOnlyWhenTheNameHasNone) {
  EXPECT_EQ(WithDefaultExtension("scene", "txt"), "scene.txt");
  EXPECT_EQ(WithDefaultExtension("/data/v1.2/scene", "txt"), "/data/v1.2/scene.txt");
  EXPECT_EQ(WithDefaultExtension("scene.TXT", "txt"), "scene.TXT");
  EXPECT_EQ(WithDefaultExtension("mesh.obj", "txt"), "mesh.obj");
  EXPECT_EQ(WithDefaultExtension("scene.", "txt"), "scene.");
  EXPECT_EQ(WithDefaultExtension("scene", ""), "scene");
  EXPECT_EQ(WithDefaultExtension("folder/", "txt"), "folder/");
}

TEST(FileChoiceTest, OpenNeedsAFileAndSaveAsksBeforeReplacing) {
  TempFolder folder;
  folder.Write("there.txt", "x");
  std::filesystem::create_directory(folder.File("sub"));
  EXPECT_EQ(CheckChoice(folder.File("there.txt"), false), ChoiceCheck::Accept);
  EXPECT_EQ(CheckChoice(folder.File("missing.txt"), false), ChoiceCheck::Missing);
  EXPECT_EQ(CheckChoice(folder.File("there.txt"), true), ChoiceCheck::AskOverwrite);
  EXPECT_EQ(CheckChoice(folder.File("missing.txt"), true), ChoiceCheck::Accept);
  EXPECT_EQ(CheckChoice(folder.File("sub"), false), ChoiceCheck::IsFolder);
  EXPECT_EQ(CheckChoice(folder.File("sub"), true), ChoiceCheck::IsFolder);
  EXPECT_EQ(CheckChoice("", true), ChoiceCheck::Empty);
}

TEST(FileChoiceTest, PathsResolveAgainstTheShownFolderWithoutChangingTheProcessFolder) {
  std::filesystem::path before = std::filesystem::current_path();
  EXPECT_EQ(AbsoluteIn("/data/scenes", "liver.txt"), "/data/scenes/liver.txt");
  EXPECT_EQ(AbsoluteIn("/data/scenes", "../meshes/./a.obj"), "/data/meshes/a.obj");
  EXPECT_EQ(AbsoluteIn("/data/scenes", "/tmp/x.txt"), "/tmp/x.txt");
  EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST(FileChoiceTest, FolderListingShowsFoldersFirstThenMatchingFiles) {
  TempFolder folder;
  for (const char* name : {"b.txt", "a.txt", "c.obj", ".hidden.txt"}) folder.Write(name, "x");
  for (const char* name : {"zeta", "alpha", ".git"}) std::filesystem::create_directory(folder.File(name));
  std::vector<FolderEntry> entries = ListFolder(folder.Path(), "*.txt");
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) names.push_back((e.isFolder ? "/" : "") + e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"/alpha", "/zeta", "a.txt", "b.txt"}));
  EXPECT_TRUE(ListFolder(folder.File("no such folder"), "*").empty());
}

TEST(FileChoiceTest, TypedFolderNamesStayFolders) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("scenes"));
  EXPECT_EQ(ResolveTypedName(folder.Path(), "scenes", "txt"), folder.File("scenes"));
  EXPECT_EQ(ResolveTypedName(folder.Path(), "liver", "txt"), folder.File("liver.txt"));
  EXPECT_EQ(ResolveTypedName(folder.Path(), "scenes/liver", "txt"), folder.File("scenes/liver.txt"));
}
