#include "framework/file_chooser.h"

#include <imgui.h>

#include <cstring>
#include <filesystem>
#include <ostream>

#include "framework/file_choice.h"
#include "framework/framework.h"
#include "framework/message_box.h"
#include "geometry/file_util.h"

namespace fs = std::filesystem;

namespace {

std::string CurrentFolder() {
  std::error_code error;
  fs::path current = fs::current_path(error);
  return error ? std::string("/") : current.string();
}

std::wstring OverwriteQuestion(const std::string& path) {
  return WidenPath(path) + L" already exists.\nDo you want to replace it?";
}

// A scripted answer passes the same checks a person's choice does.
bool ChooseFromScript(Framework* framework, const std::wstring& title, const std::string& extension, bool save,
                      std::string& chosen) {
  ScriptCommand answer;
  if (framework == nullptr || !framework->TakeDialogAnswer(answer) || answer.cancel) return false;
  std::string path = ResolveTypedName(CurrentFolder(), answer.path, extension);
  std::wostream* log = framework->Log();
  switch (CheckChoice(path, save)) {
    case ChoiceCheck::Accept:
      chosen = path;
      return true;
    case ChoiceCheck::AskOverwrite:
      if (ShowMessageBox(title, OverwriteQuestion(path), MessageBoxButtons::YesNo, MessageBoxResult::Yes) !=
          MessageBoxResult::Yes) {
        return false;
      }
      chosen = path;
      return true;
    case ChoiceCheck::Missing:
      if (log) *log << L"WARNING: File \"" << WidenPath(path) << L"\" does not exist" << std::endl;
      return false;
    default:
      if (log) *log << L"WARNING: \"" << WidenPath(path) << L"\" is not a file name" << std::endl;
      return false;
  }
}

// The in-app chooser's state between its frames.
class FileChooserDialog {
 public:
  FileChooserDialog(const std::wstring& title, const std::string& pattern, const std::string& folder,
                    const std::string& extension, bool save)
      : title_(ToUtf8(title) + "###filechooser"), pattern_(pattern), extension_(extension), save_(save) {
    OpenFolder(folder);
  }

  // One frame; true once the dialog was confirmed or cancelled.
  bool Frame() {
    const ImGuiIO& io = ImGui::GetIO();
    ImVec2 size(std::min(620.0f, io.DisplaySize.x), std::min(440.0f, io.DisplaySize.y));
    ImGui::SetNextWindowPos(ImVec2((io.DisplaySize.x - size.x) / 2, (io.DisplaySize.y - size.y) / 2));
    ImGui::SetNextWindowSize(size);
    ImGuiWindowFlags flags = ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                             ImGuiWindowFlags_NoSavedSettings;
    if (ImGui::Begin(title_.c_str(), nullptr, flags)) {
      if (confirmOverwrite_) {
        DrawOverwriteQuestion();
      } else {
        DrawBrowser();
      }
    }
    ImGui::End();
    return done_;
  }

  bool Confirmed() const { return confirmed_; }
  const std::string& Chosen() const { return chosen_; }

 private:
  void OpenFolder(const std::string& folder) {
    folder_ = fs::path(folder).lexically_normal().string();
    if (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    entries_ = ListFolder(folder_, pattern_);
    message_.clear();
  }

  void DrawBrowser() {
    ImGui::TextUnformatted(("Folder: " + folder_).c_str());
    ImGui::SameLine();
    if (ImGui::SmallButton("Up")) OpenFolder(fs::path(folder_).parent_path().string());
    float listHeight = ImGui::GetContentRegionAvail().y - 3.2f * ImGui::GetFrameHeightWithSpacing();
    ImGui::BeginChild("entries", ImVec2(0, listHeight), true);
    std::string enter;
    for (const FolderEntry& entry : entries_) {
      std::string shown = entry.isFolder ? "[" + entry.name + "]" : entry.name;
      bool selected = !entry.isFolder && entry.name == name_;
      if (ImGui::Selectable(shown.c_str(), selected, ImGuiSelectableFlags_AllowDoubleClick)) {
        if (entry.isFolder) {
          if (ImGui::IsMouseDoubleClicked(0)) enter = entry.name;
        } else {
          SetName(entry.name);
          if (ImGui::IsMouseDoubleClicked(0)) Accept();
        }
      }
    }
    ImGui::EndChild();
    if (!enter.empty()) OpenFolder(folder_ + "/" + enter);
    ImGui::SetNextItemWidth(-90);
    if (ImGui::InputText("File name", nameBuffer_, sizeof(nameBuffer_), ImGuiInputTextFlags_EnterReturnsTrue)) Accept();
    name_ = nameBuffer_;
    ImGui::TextUnformatted(("Files of type: " + pattern_).c_str());
    if (!message_.empty()) {
      ImGui::SameLine();
      ImGui::TextColored(ImVec4(1, 0.4f, 0.4f, 1), "%s", message_.c_str());
    }
    if (ImGui::Button(save_ ? "Save" : "Open", ImVec2(90, 0))) Accept();
    ImGui::SameLine();
    if (ImGui::Button("Cancel", ImVec2(90, 0)) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) Finish(false);
  }

  void DrawOverwriteQuestion() {
    ImGui::TextUnformatted((chosen_ + " already exists.").c_str());
    ImGui::TextUnformatted("Do you want to replace it?");
    if (ImGui::Button("Yes", ImVec2(90, 0))) Finish(true);
    ImGui::SameLine();
    if (ImGui::Button("No", ImVec2(90, 0))) confirmOverwrite_ = false;
  }

  void SetName(const std::string& name) {
    name_ = name;
    std::strncpy(nameBuffer_, name.c_str(), sizeof(nameBuffer_) - 1);
    nameBuffer_[sizeof(nameBuffer_) - 1] = '\0';
  }

  void Accept() {
    std::string typed = nameBuffer_;
    if (typed.empty()) {
      message_ = "Type or choose a file name.";
      return;
    }
    std::string path = ResolveTypedName(folder_, typed, extension_);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      OpenFolder(path);
      SetName("");
      return;
    }
    switch (CheckChoice(path, save_)) {
      case ChoiceCheck::Accept:
        chosen_ = path;
        Finish(true);
        break;
      case ChoiceCheck::AskOverwrite:
        chosen_ = path;
        confirmOverwrite_ = true;
        break;
      case ChoiceCheck::Missing:
        message_ = "File not found.";
        break;
      default:
        message_ = "Not a file name.";
        break;
    }
  }

  void Finish(bool confirmed) {
    confirmed_ = confirmed;
    done_ = true;
  }

  std::string title_, pattern_, extension_;
  bool save_;
  std::string folder_;
  std::vector<FolderEntry> entries_;
  std::string name_;
  char nameBuffer_[4096] = {};
  std::string message_;
  std::string chosen_;
  bool confirmOverwrite_ = false;
  bool confirmed_ = false;
  bool done_ = false;
};

}  // namespace

bool ChooseFile(const std::wstring& title, const std::wstring& filterPattern, int /*filterIndex*/,
                const std::wstring& initialFolder, const std::wstring& defaultExtension, std::wstring& result,
                bool save, DialogOwner /*owner*/) {
  Framework* framework = Framework::Current();
  std::string extension = NarrowPath(defaultExtension);
  std::string chosen;
  bool confirmed = false;
  if (framework == nullptr || framework->AnswersFromScript() || !framework->CanShowModal()) {
    confirmed = ChooseFromScript(framework, title, extension, save, chosen);
  } else {
    std::string folder = initialFolder.empty() ? CurrentFolder() : NarrowPath(initialFolder);
    FileChooserDialog dialog(title, NarrowPath(filterPattern), folder, extension, save);
    confirmed = framework->RunModal(title, 640, 460, [&] { return dialog.Frame(); }) && dialog.Confirmed();
    chosen = dialog.Chosen();
  }
  std::wostream* log = framework != nullptr ? framework->Log() : nullptr;
  if (log) {
    *log << L"Dialog \"" << title << L"\": " << (confirmed ? L"\"" + WidenPath(chosen) + L"\"" : L"cancelled")
         << std::endl;
  }
  if (confirmed) result = WidenPath(chosen);
  return confirmed;
}
