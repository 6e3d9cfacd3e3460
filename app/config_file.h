#pragma once
// Key/value text files (scene files): an ordered table of entries with
// case-insensitive keys, typed queries with uniform messages, and saving.
#include <cstddef>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "geometry/vec.h"

class ConfigFile {
 public:
  // Reads the file; on failure the entries read so far stay, loaded is false.
  bool Load(const std::wstring& fileName, std::wostream* log);
  // Writes every entry as "KEY: value"; the old file stays intact on failure.
  bool Save(const std::wstring& fileName, std::wostream* log) const;

  // Typed queries: true and the result written only when the key exists and
  // its value parses completely; otherwise the result keeps its old value.
  bool Get(const std::wstring& key, std::wstring& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, int& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, float& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, double& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, Vec3f& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, Vec3d& result, std::wostream* log, bool optional = false) const;
  bool Get(const std::wstring& key, Mat4f& result, std::wostream* log, bool optional = false) const;

  // Replaces an existing value in place (true) or appends a new entry (false).
  bool Set(const std::wstring& key, const std::wstring& value);
  bool Remove(const std::wstring& key);
  bool Contains(const std::wstring& key) const;
  void Clear();

  bool IsLoaded() const { return loaded_; }
  const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return entries_; }

  static std::wstring ToUpper(const std::wstring& key);

 private:
  const std::wstring* Find(const std::wstring& key, std::wostream* log, bool optional) const;
  template <typename T>
  bool GetNumbers(const std::wstring& key, T* values, int count, std::wostream* log, bool optional) const;
  void Append(const std::wstring& key, const std::wstring& value);

  bool loaded_ = false;
  std::vector<std::pair<std::wstring, std::wstring>> entries_;  // in first-appearance order
  std::map<std::wstring, size_t> index_;                        // upper-case key -> entry
};
