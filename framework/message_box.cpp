#include "framework/message_box.h"

#include <imgui.h>

#include <cstdio>
#include <ostream>

#include "framework/framework.h"

namespace {

// Draws the box centred in the display; true once a button was chosen.
bool DrawMessageBox(const std::wstring& title, const std::string& text, MessageBoxButtons buttons,
                    MessageBoxResult& result) {
  const ImGuiIO& io = ImGui::GetIO();
  ImGui::SetNextWindowPos(ImVec2(io.DisplaySize.x / 2, io.DisplaySize.y / 2), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSizeConstraints(ImVec2(260, 0), ImVec2(io.DisplaySize.x, io.DisplaySize.y));
  ImGuiWindowFlags flags = ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse |
                           ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings;
  bool chosen = false;
  std::string name = ToUtf8(title) + "###messagebox";
  if (ImGui::Begin(name.c_str(), nullptr, flags)) {
    ImGui::TextUnformatted(text.c_str());
    ImGui::Spacing();
    bool enter = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter));
    bool escape = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape));
    if (buttons == MessageBoxButtons::Ok) {
      if (ImGui::Button("OK", ImVec2(90, 0)) || enter || escape) {
        result = MessageBoxResult::Ok;
        chosen = true;
      }
    } else {
      if (ImGui::Button("Yes", ImVec2(90, 0)) || enter) {
        result = MessageBoxResult::Yes;
        chosen = true;
      }
      ImGui::SameLine();
      if (ImGui::Button("No", ImVec2(90, 0)) || escape) {
        result = MessageBoxResult::No;
        chosen = true;
      }
    }
  }
  ImGui::End();
  return chosen;
}

// A person answers in a modal loop; closing the window counts as No (or OK).
MessageBoxResult AskPerson(Framework& framework, const std::wstring& title, const std::wstring& text,
                           MessageBoxButtons buttons) {
  MessageBoxResult result = buttons == MessageBoxButtons::Ok ? MessageBoxResult::Ok : MessageBoxResult::No;
  std::string utf8 = ToUtf8(text);
  MessageBoxResult chosen = result;
  if (framework.RunModal(title, 520, 200, [&] { return DrawMessageBox(title, utf8, buttons, chosen); })) {
    result = chosen;
  }
  return result;
}

}  // namespace

MessageBoxResult ResultForAnswer(ScriptAnswer answer, MessageBoxButtons buttons) {
  if (buttons == MessageBoxButtons::Ok) return MessageBoxResult::Ok;
  return answer == ScriptAnswer::No ? MessageBoxResult::No : MessageBoxResult::Yes;
}

const wchar_t* ResultName(MessageBoxResult result) {
  switch (result) {
    case MessageBoxResult::Yes: return L"Yes";
    case MessageBoxResult::No: return L"No";
    default: return L"OK";
  }
}

MessageBoxResult ShowMessageBox(const std::wstring& title, const std::wstring& text, MessageBoxButtons buttons,
                                MessageBoxResult unattendedAnswer) {
  std::fprintf(stderr, "%s\n%s\n", ToUtf8(title).c_str(), ToUtf8(text).c_str());
  std::fflush(stderr);
  Framework* framework = Framework::Current();
  MessageBoxResult result = unattendedAnswer;
  if (buttons == MessageBoxButtons::Ok) result = MessageBoxResult::Ok;
  if (framework != nullptr && framework->AnswersFromScript()) {
    ScriptAnswer answer;
    if (framework->TakeMessageAnswer(answer)) result = ResultForAnswer(answer, buttons);
  } else if (framework != nullptr && framework->CanShowModal()) {
    result = AskPerson(*framework, title, text, buttons);
  }
  std::wostream* log = framework != nullptr ? framework->Log() : nullptr;
  if (log) *log << L"Message box \"" << title << L"\": " << ResultName(result) << std::endl;
  return result;
}

void ShowFatalErrorBox(const std::wstring& title, const std::wstring& text) {
  Framework* framework = Framework::Current();
  if (framework == nullptr || framework->AnswersFromScript() || !framework->CanShowModal()) return;
  AskPerson(*framework, title, text, MessageBoxButtons::Ok);
}
