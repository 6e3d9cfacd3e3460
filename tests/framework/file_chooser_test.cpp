#include "framework/file_chooser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "framework/framework.h"
#include "framework/message_box.h"
#include "support/temp_folder.h"

namespace {

// Captures the console for the life of a test.
class CapturedLog {
 public:
  CapturedLog() : old_(std::wcout.rdbuf(buffer_.rdbuf())) {}
  ~CapturedLog() { std::wcout.rdbuf(old_); }
  std::wstring Text() const { return buffer_.str(); }

 private:
  std::wostringstream buffer_;
  std::wstreambuf* old_;
};

// A headless framework whose script queues the given answers.
int InitWithScript(Framework& framework, const TempFolder& folder, const std::string& script) {
  std::string scriptFile = folder.Write("answers.txt", script);
  std::vector<std::string> args = {"vardel", "--headless", "--script", scriptFile, "--state-dir", folder.File("state")};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return framework.Init(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(FileChooserTest, ScriptedAnswersPassTheSameChecksAsAPerson) {
  TempFolder folder;
  folder.Write("exists.txt", "x");
  folder.Write("old.bin", "x");
  const std::string d = folder.Path();
  CapturedLog log;
  Framework framework;
  ASSERT_EQ(InitWithScript(framework, folder,
                           "dialog " + d + "/exists.txt\n"
                           "dialog cancel\n"
                           "dialog " + d + "/missing\n"
                           "dialog " + d + "/exists\n"
                           "dialog " + d + "/new.bin\n"
                           "dialog " + d + "/old.bin\n"
                           "answer no\n"
                           "dialog " + d + "/sub/../old.bin\n"
                           "dialog " + d + "\n"),
            -1);
  std::wstring result = L"unchanged";
  auto open = [&] { return ChooseFile(L"Load scene file", L"*.txt", 0, L"", L"txt", result, false, DialogOwner::None); };
  auto save = [&] {
    return ChooseFile(L"Save recording", L"*.bin", 0, L"", L"bin", result, true, DialogOwner::MainWindow);
  };
  const std::wstring w(d.begin(), d.end());

  EXPECT_TRUE(open());
  EXPECT_EQ(result, w + L"/exists.txt");
  result = L"unchanged";
  EXPECT_FALSE(open());  // cancel
  EXPECT_FALSE(open());  // an open dialog needs an existing file
  EXPECT_EQ(result, L"unchanged");
  EXPECT_TRUE(open());  // the default extension completes the name
  EXPECT_EQ(result, w + L"/exists.txt");
  EXPECT_TRUE(save());
  EXPECT_EQ(result, w + L"/new.bin");
  result = L"unchanged";
  EXPECT_FALSE(save());  // replacing old.bin is refused by the queued answer
  EXPECT_EQ(result, L"unchanged");
  EXPECT_TRUE(save());  // with no answer queued the replacement is confirmed
  EXPECT_EQ(result, w + L"/old.bin");
  EXPECT_FALSE(save());  // a folder is no file name
  EXPECT_FALSE(open());  // the queue is empty: cancelled
  EXPECT_EQ(result, w + L"/old.bin");

  std::wstring text = log.Text();
  EXPECT_NE(text.find(L"Dialog \"Load scene file\": \"" + w + L"/exists.txt\"\n"), std::wstring::npos) << text;
  EXPECT_NE(text.find(L"Dialog \"Load scene file\": cancelled\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"WARNING: File \"" + w + L"/missing.txt\" does not exist\n"), std::wstring::npos) << text;
  EXPECT_NE(text.find(L"Message box \"Save recording\": No\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"Message box \"Save recording\": Yes\n"), std::wstring::npos);
  EXPECT_FALSE(std::filesystem::exists(folder.File("new.bin")));  // choosing writes nothing
}

TEST(FileChooserTest, MessageBoxesTakeQueuedAnswersThenTheirDefault) {
  TempFolder folder;
  CapturedLog log;
  Framework framework;
  ASSERT_EQ(InitWithScript(framework, folder, "answer no\nanswer ok\nanswer yes\n"), -1);
  EXPECT_EQ(ShowMessageBox(L"Warning", L"Go on?", MessageBoxButtons::YesNo, MessageBoxResult::Yes),
            MessageBoxResult::No);
  // "ok" accepts a Yes/No question
  EXPECT_EQ(ShowMessageBox(L"Warning", L"Go on?", MessageBoxButtons::YesNo, MessageBoxResult::No),
            MessageBoxResult::Yes);
  EXPECT_EQ(ShowMessageBox(L"Note", L"Done", MessageBoxButtons::Ok, MessageBoxResult::Ok), MessageBoxResult::Ok);
  EXPECT_EQ(ShowMessageBox(L"Warning", L"Go on?", MessageBoxButtons::YesNo, MessageBoxResult::No),
            MessageBoxResult::No);
  EXPECT_EQ(log.Text(),
            L"Message box \"Warning\": No\nMessage box \"Warning\": Yes\nMessage box \"Note\": OK\n"
            L"Message box \"Warning\": No\n");
}

TEST(FileChooserTest, WithoutAFrameworkEveryDialogIsCancelled) {
  std::wstring result = L"kept";
  EXPECT_FALSE(ChooseFile(L"Load scene file", L"*.txt", 0, L"", L"txt", result, false, DialogOwner::None));
  EXPECT_EQ(result, L"kept");
}
