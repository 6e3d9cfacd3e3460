#include "support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "geometry/file_util.h"

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vardel-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  char* made = mkdtemp(buffer.data());
  path_ = made ? made : "";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::wstring TempFolder::WideFile(const std::string& name) const { return WidenPath(File(name)); }

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
  std::string path = File(name);
  std::ofstream out(path, std::ios::binary);
  out << content;
  return path;
}

std::string TempFolder::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
