#include "framework/state_folder.h"

#include <filesystem>
#include <ostream>

#include "geometry/file_util.h"

std::string ResolveStateFolder(const std::string& option, const char* xdgStateHome, const char* home) {
  if (!option.empty()) return option;
  // relative values of the XDG variables are invalid and are ignored
  if (xdgStateHome != nullptr && xdgStateHome[0] == '/') return std::string(xdgStateHome) + "/vardel";
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/vardel";
  return {};
}

bool EnsureFolder(const std::string& folder, std::wostream* log) {
  std::error_code error;
  if (!folder.empty() && std::filesystem::is_directory(folder, error)) return true;
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder, error)) return true;
  }
  if (log) {
    *log << L"WARNING: State folder \"" << WidenPath(folder) << L"\" cannot be created" << std::endl;
  }
  return false;
}
