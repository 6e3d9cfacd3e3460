#pragma once
// File helpers shared by every reader and writer: wide-to-narrow path
// conversion, line splitting with the line ends old files use, and the safe
// replacement of a file through a temporary file in the same folder.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// Narrows a wide file name character by character (each character one byte).
std::string NarrowPath(const std::wstring& path);
std::wstring WidenPath(const std::string& path);

// Splits a byte stream into lines. Line feed and carriage return plus line
// feed end lines. A lone carriage return ends lines only in a file whose
// first line end is one (files of old tools that end lines with CR alone);
// elsewhere it stays inside its line, so a stray CR never shifts the line
// numbers that an editor shows and that messages name.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}
  // The next line without its line end; false at the end of the input or on
  // a read error (the stream's bad bit tells which).
  bool Next(std::string& line);

 private:
  enum class LineEnds { Unknown, LineFeed, CarriageReturn };
  std::istream& in_;
  LineEnds ends_ = LineEnds::Unknown;
  std::vector<std::string> pieces_;  // lines split at lone CRs, not yet returned
  size_t nextPiece_ = 0;
};

// Writes a file by calling write(stream) on a temporary file next to target,
// checks the stream, flushes it to disk and renames it over target. On any
// failure the temporary file is removed and the old target stays untouched.
// A symbolic link is followed, so the link survives and its file is
// replaced. An existing target that its permissions mark read-only (no write
// bit, or no write access for this user) is not replaced. openFailed tells
// whether the failure happened before anything was written.
bool WriteFileAtomically(const std::string& target, bool binary,
                         const std::function<bool(std::ostream&)>& write, bool* openFailed = nullptr);
bool WriteWideFileAtomically(const std::string& target,
                             const std::function<bool(std::wostream&)>& write, bool* openFailed = nullptr);
