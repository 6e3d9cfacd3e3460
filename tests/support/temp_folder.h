#pragma once
// A fresh temporary folder for one test, removed with everything in it.
#include <string>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Full path of a file inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::wstring WideFile(const std::string& name) const;
  // Writes text (bytes as given) into a file of the folder; returns its path.
  std::string Write(const std::string& name, const std::string& content) const;
  static std::string Read(const std::string& path);

 private:
  std::string path_;
};
