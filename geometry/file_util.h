#pragma once
// File helpers shared by every writer: wide-to-narrow path conversion and the
// safe replacement of a file through a temporary file in the same folder.
#include <functional>
#include <iosfwd>
#include <string>

// Narrows a wide file name character by character (each character one byte).
std::string NarrowPath(const std::wstring& path);
std::wstring WidenPath(const std::string& path);

// Writes a file by calling write(stream) on a temporary file next to target,
// checks the stream, flushes it to disk and renames it over target. On any
// failure the temporary file is removed and the old target stays untouched.
// openFailed tells whether the failure happened before anything was written.
bool WriteFileAtomically(const std::string& target, bool binary,
                         const std::function<bool(std::ostream&)>& write, bool* openFailed = nullptr);
bool WriteWideFileAtomically(const std::string& target,
                             const std::function<bool(std::wostream&)>& write, bool* openFailed = nullptr);
