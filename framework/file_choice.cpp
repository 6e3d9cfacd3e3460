#include "framework/file_choice.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

bool MatchesFilter(const std::string& fileName, const std::string& pattern) {
  if (pattern.empty()) return true;
  size_t start = 0;
  while (start <= pattern.size()) {
    size_t end = pattern.find(';', start);
    if (end == std::string::npos) end = pattern.size();
    std::string one = pattern.substr(start, end - start);
    one.erase(0, one.find_first_not_of(' '));
    one.erase(one.find_last_not_of(' ') + 1);
    if (!one.empty() && fnmatch(one.c_str(), fileName.c_str(), FNM_CASEFOLD) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
  if (extension.empty() || path.empty() || path.back() == '/') return path;
  fs::path name = fs::path(path).filename();
  if (name.has_extension()) return path;
  // "name." asks for no extension at all on Windows dialogs; keep it as typed
  if (path.back() == '.') return path;
  return path + "." + extension;
}

std::string AbsoluteIn(const std::string& folder, const std::string& path) {
  fs::path chosen(path);
  if (chosen.is_relative()) chosen = fs::path(folder) / chosen;
  return chosen.lexically_normal().string();
}

std::string ResolveTypedName(const std::string& folder, const std::string& typed, const std::string& extension) {
  std::string asTyped = AbsoluteIn(folder, typed);
  std::error_code error;
  if (fs::is_directory(asTyped, error)) return asTyped;
  return AbsoluteIn(folder, WithDefaultExtension(typed, extension));
}

ChoiceCheck CheckChoice(const std::string& absolutePath, bool save) {
  if (absolutePath.empty() || absolutePath.back() == '/') return ChoiceCheck::Empty;
  std::error_code error;
  fs::file_status status = fs::status(absolutePath, error);
  if (fs::is_directory(status)) return ChoiceCheck::IsFolder;
  bool exists = fs::exists(status);
  if (save) return exists ? ChoiceCheck::AskOverwrite : ChoiceCheck::Accept;
  return exists ? ChoiceCheck::Accept : ChoiceCheck::Missing;
}

std::vector<FolderEntry> ListFolder(const std::string& folder, const std::string& pattern) {
  std::vector<FolderEntry> entries;
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code statusError;
    bool isFolder = it->is_directory(statusError);
    if (!isFolder && !MatchesFilter(name, pattern)) continue;
    entries.push_back({name, isFolder});
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    if (a.isFolder != b.isFolder) return a.isFolder;
    return a.name < b.name;
  });
  return entries;
}
