#include "geometry/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <locale>
#include <vector>

std::string NarrowPath(const std::wstring& path) {
  std::string narrow;
  narrow.reserve(path.size());
  for (wchar_t c : path) narrow.push_back(static_cast<char>(c));
  return narrow;
}

std::wstring WidenPath(const std::string& path) {
  std::wstring wide;
  wide.reserve(path.size());
  for (char c : path) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

namespace {

// Creates an empty temporary file next to target; returns its name or "".
std::string CreateTemporaryBeside(const std::string& target) {
  std::vector<char> name(target.begin(), target.end());
  const char suffix[] = ".tmp-XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof(suffix));
  int fd = mkstemp(name.data());
  if (fd < 0) return {};
  // keep the permissions of the file being replaced, or the usual ones of a new file
  struct stat existing;
  if (stat(target.c_str(), &existing) == 0) {
    fchmod(fd, existing.st_mode & 07777);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  close(fd);
  return std::string(name.data());
}

// Flushes the file's data to disk so that the rename cannot expose an empty file.
bool SyncFile(const std::string& name) {
  int fd = open(name.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool Replace(const std::string& temporary, const std::string& target, bool written) {
  if (!written || !SyncFile(temporary) || std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& target, bool binary,
                         const std::function<bool(std::ostream&)>& write, bool* openFailed) {
  if (openFailed) *openFailed = true;
  std::string temporary = CreateTemporaryBeside(target);
  if (temporary.empty()) return false;
  std::ofstream stream(temporary, binary ? std::ios::out | std::ios::binary | std::ios::trunc
                                         : std::ios::out | std::ios::trunc);
  if (!stream) {
    std::remove(temporary.c_str());
    return false;
  }
  if (openFailed) *openFailed = false;
  bool ok = write(stream);
  stream.close();
  return Replace(temporary, target, ok && !stream.fail());
}

bool WriteWideFileAtomically(const std::string& target, const std::function<bool(std::wostream&)>& write,
                             bool* openFailed) {
  if (openFailed) *openFailed = true;
  std::string temporary = CreateTemporaryBeside(target);
  if (temporary.empty()) return false;
  std::wofstream stream(temporary, std::ios::out | std::ios::trunc);
  if (!stream) {
    std::remove(temporary.c_str());
    return false;
  }
  stream.imbue(std::locale::classic());
  if (openFailed) *openFailed = false;
  bool ok = write(stream);
  stream.close();
  return Replace(temporary, target, ok && !stream.fail());
}
