#include "framework/state_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "framework/instance_lock.h"
#include "support/temp_folder.h"

TEST(StateFolderTest, OptionThenXdgStateHomeThenHome) {
  EXPECT_EQ(ResolveStateFolder("/opt/s", "/xdg", "/home/u"), "/opt/s");
  EXPECT_EQ(ResolveStateFolder("", "/xdg", "/home/u"), "/xdg/vardel");
  // a relative XDG value is invalid and ignored
  EXPECT_EQ(ResolveStateFolder("", "relative", "/home/u"), "/home/u/.local/state/vardel");
  EXPECT_EQ(ResolveStateFolder("", "", "/home/u"), "/home/u/.local/state/vardel");
  EXPECT_EQ(ResolveStateFolder("", nullptr, nullptr), "");
}

TEST(StateFolderTest, CreatesMissingFoldersAndWarnsWhenItCannot) {
  TempFolder folder;
  std::wostringstream log;
  std::string nested = folder.File("a/b/vardel");
  EXPECT_TRUE(EnsureFolder(nested, &log));
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_TRUE(EnsureFolder(nested, &log));  // existing is fine
  EXPECT_TRUE(log.str().empty());
  folder.Write("file", "x");
  EXPECT_FALSE(EnsureFolder(folder.File("file/sub"), &log));
  EXPECT_EQ(log.str().rfind(L"WARNING: State folder \"", 0), 0u) << log.str();
}

TEST(InstanceLockTest, SecondHolderIsDetectedUntilTheFirstReleases) {
  TempFolder folder;
  InstanceLock first, second;
  EXPECT_EQ(first.Acquire(folder.Path()), InstanceLock::Result::Acquired);
  EXPECT_EQ(second.Acquire(folder.Path()), InstanceLock::Result::HeldElsewhere);
  first.Release();
  EXPECT_EQ(second.Acquire(folder.Path()), InstanceLock::Result::Acquired);
  EXPECT_EQ(first.Acquire(folder.File("missing/sub")), InstanceLock::Result::Unavailable);
  EXPECT_EQ(first.Acquire(""), InstanceLock::Result::Unavailable);
}
