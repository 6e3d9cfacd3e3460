#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

MemoryFile::MemoryFile(const uint8_t* data, size_t size) {
  fd_ = memfd_create("fuzz-input", 0);
  if (fd_ < 0) PropertyViolated("memfd_create failed");
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd_, data + written, size - written);
    if (n <= 0) PropertyViolated("writing the input file failed");
    written += static_cast<size_t>(n);
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) close(fd_);
}

namespace {

struct Folder {
  std::string path;
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vardel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) PropertyViolated("cannot create the fuzz folder");
    path = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::string& FuzzFolder() {
  static Folder folder;
  return folder.path;
}

std::string WriteFuzzFile(const std::string& name, const std::string& content) {
  const std::string path = FuzzFolder() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) PropertyViolated("cannot write a file of the fuzz folder");
  return path;
}

void PropertyViolated(const char* what) {
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::fflush(stderr);
  std::abort();
}
