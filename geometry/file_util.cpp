#include "geometry/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
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

bool LineReader::Next(std::string& line) {
  if (nextPiece_ < pieces_.size()) {
    line = std::move(pieces_[nextPiece_++]);
    return true;
  }
  pieces_.clear();
  nextPiece_ = 0;
  std::string raw;
  if (!std::getline(in_, raw)) return false;
  const bool endedByLineFeed = !in_.eof();
  if (endedByLineFeed && !raw.empty() && raw.back() == '\r') raw.pop_back();
  // any CR left before the first line feed is the file's first line end
  if (ends_ == LineEnds::Unknown) {
    ends_ = raw.find('\r') == std::string::npos ? LineEnds::LineFeed : LineEnds::CarriageReturn;
  }
  if (ends_ == LineEnds::LineFeed || raw.find('\r') == std::string::npos) {
    line = std::move(raw);
    return true;
  }
  size_t start = 0;
  for (size_t cr = raw.find('\r'); cr != std::string::npos; cr = raw.find('\r', start)) {
    pieces_.push_back(raw.substr(start, cr - start));
    start = cr + 1;
  }
  // the text after the last CR is a line when a line feed ended it or when it is not empty
  if (endedByLineFeed || start < raw.size()) pieces_.push_back(raw.substr(start));
  line = std::move(pieces_[nextPiece_++]);
  return true;
}

namespace {

// The file that a save really replaces: the end of a chain of symbolic links
// (relative links count from the link's folder), else the target itself.
std::string ResolveLinks(const std::string& target) {
  std::filesystem::path path(target);
  std::error_code error;
  for (int hop = 0; hop < 40 && std::filesystem::is_symlink(path, error); ++hop) {
    const std::filesystem::path link = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path.string();
}

// An existing file marked read-only is kept: no write bit at all (which
// also holds for root, whom the system would let write), or no write access.
bool MayReplace(const std::string& target) {
  struct stat existing;
  if (stat(target.c_str(), &existing) != 0) return true;  // a new file, or a path the creation rejects
  if (!S_ISREG(existing.st_mode)) return true;            // a rename onto a folder fails on its own
  return (existing.st_mode & 0222) != 0 && access(target.c_str(), W_OK) == 0;
}

// Creates an empty temporary file in target's folder; returns its name or "".
// The name is short and fixed apart from its random part, so that it stays
// valid however long the target's own name is.
std::string CreateTemporaryBeside(const std::string& target) {
  const std::filesystem::path folder = std::filesystem::path(target).parent_path();
  std::string pattern = (folder / ".vardel-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
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

// The replaced file and a fresh temporary file beside it; false when the
// target must not be replaced or no temporary file can be made.
bool Prepare(const std::string& target, std::string& resolved, std::string& temporary) {
  resolved = ResolveLinks(target);
  if (!MayReplace(resolved)) return false;
  temporary = CreateTemporaryBeside(resolved);
  return !temporary.empty();
}

}  // namespace

bool WriteFileAtomically(const std::string& target, bool binary,
                         const std::function<bool(std::ostream&)>& write, bool* openFailed) {
  if (openFailed) *openFailed = true;
  std::string resolved, temporary;
  if (!Prepare(target, resolved, temporary)) return false;
  std::ofstream stream(temporary, binary ? std::ios::out | std::ios::binary | std::ios::trunc
                                         : std::ios::out | std::ios::trunc);
  if (!stream) {
    std::remove(temporary.c_str());
    return false;
  }
  if (openFailed) *openFailed = false;
  bool ok = write(stream);
  stream.close();
  return Replace(temporary, resolved, ok && !stream.fail());
}

bool WriteWideFileAtomically(const std::string& target, const std::function<bool(std::wostream&)>& write,
                             bool* openFailed) {
  if (openFailed) *openFailed = true;
  std::string resolved, temporary;
  if (!Prepare(target, resolved, temporary)) return false;
  std::wofstream stream(temporary, std::ios::out | std::ios::trunc);
  if (!stream) {
    std::remove(temporary.c_str());
    return false;
  }
  stream.imbue(std::locale::classic());
  if (openFailed) *openFailed = false;
  bool ok = write(stream);
  stream.close();
  return Replace(temporary, resolved, ok && !stream.fail());
}
