#pragma once
// Helpers shared by the fuzz targets: the readers take file names, so every
// input is handed over as an in-memory file, and a scene needs a folder with
// its fixed mesh beside it.
#include <cstddef>
#include <cstdint>
#include <string>

// An anonymous in-memory file that holds the bytes of one input; Path() opens
// it like any other file, from offset 0, while the object lives.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// A private folder for the whole fuzzing process, removed at exit.
const std::string& FuzzFolder();
// Writes bytes into a file of FuzzFolder() and returns its full path.
std::string WriteFuzzFile(const std::string& name, const std::string& content);

// Stops the process with a message when a property of a successful read
// does not hold: the fuzzer records the input as a finding.
[[noreturn]] void PropertyViolated(const char* what);
