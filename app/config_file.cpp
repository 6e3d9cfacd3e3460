#include "app/config_file.h"

#include <fstream>
#include <locale>
#include <ostream>
#include <sstream>

#include "geometry/file_util.h"

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f'; }

// Printable, non-space characters survive the trimming of values; bytes above
// 127 count as printable so that non-ASCII paths keep their last character.
bool IsVisible(wchar_t c) { return (c > 32 && c < 127) || c > 159; }

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && !IsVisible(text[begin])) ++begin;
  while (end > begin && !IsVisible(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Splits the key part into its first two words.
int KeyWords(const std::wstring& keyPart, std::wstring& first) {
  std::vector<std::wstring> words;
  size_t pos = 0;
  while (words.size() < 2) {
    while (pos < keyPart.size() && IsSpace(keyPart[pos])) ++pos;
    if (pos >= keyPart.size()) break;
    size_t start = pos;
    while (pos < keyPart.size() && !IsSpace(keyPart[pos])) ++pos;
    words.push_back(keyPart.substr(start, pos - start));
  }
  if (!words.empty()) first = words[0];
  return static_cast<int>(words.size());
}

}  // namespace

std::wstring ConfigFile::ToUpper(const std::wstring& key) {
  std::wstring upper = key;
  for (wchar_t& c : upper) {
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
  }
  return upper;
}

void ConfigFile::Clear() {
  loaded_ = false;
  entries_.clear();
  index_.clear();
}

void ConfigFile::Append(const std::wstring& key, const std::wstring& value) {
  index_[key] = entries_.size();
  entries_.emplace_back(key, value);
}

bool ConfigFile::Load(const std::wstring& fileName, std::wostream* log) {
  Clear();
  std::ifstream in(NarrowPath(fileName), std::ios::in | std::ios::binary);
  if (!in) {
    if (log) *log << L"ERROR: Cannot open file \"" << fileName << L"\"" << std::endl;
    return false;
  }
  LineReader reader(in);
  std::string bytes;
  std::wstring line, key;
  int lineNumber = 0;
  while (true) {
    bool got = reader.Next(bytes);
    if (in.bad()) {
      if (log) *log << L"ERROR: Cannot read line " << lineNumber + 1 << L" of file \"" << fileName << L"\"" << std::endl;
      return false;
    }
    if (!got) break;
    ++lineNumber;
    line = WidenPath(bytes);  // each byte is one character
    size_t colon = line.find(L':');
    std::wstring keyPart = colon == std::wstring::npos ? line : line.substr(0, colon);
    int words = KeyWords(keyPart, key);
    if (words == 0 || key.compare(0, 2, L"//") == 0) continue;
    if (words > 1) {
      if (log) {
        *log << L"ERROR: Invalid key syntax in line " << lineNumber << L" of file \"" << fileName << L"\"" << std::endl;
      }
      return false;
    }
    std::wstring value = colon == std::wstring::npos ? std::wstring() : Trim(line.substr(colon + 1));
    key = ToUpper(key);
    auto found = index_.find(key);
    if (found == index_.end()) {
      Append(key, value);
    } else {
      entries_[found->second].second = value;
      if (log) {
        *log << L"WARNING: Key \"" << key << L"\" in line " << lineNumber << L" of file \"" << fileName << L"\""
             << L" has already been specified. The old value has been overwritten." << std::endl;
      }
    }
  }
  loaded_ = true;
  return true;
}

bool ConfigFile::Save(const std::wstring& fileName, std::wostream* log) const {
  bool ok = WriteFileAtomically(NarrowPath(fileName), true, [this](std::ostream& out) {
    for (const auto& [key, value] : entries_) {
      out << NarrowPath(key) << ": " << NarrowPath(value) << "\n";
    }
    return bool(out);
  });
  if (!ok && log) *log << L"ERROR: Cannot write file \"" << fileName << L"\"" << std::endl;
  return ok;
}

const std::wstring* ConfigFile::Find(const std::wstring& key, std::wostream* log, bool optional) const {
  auto found = index_.find(ToUpper(key));
  if (found == index_.end()) {
    if (!optional && log) *log << L"ERROR: Entry \"" << key << L"\" not found" << std::endl;
    return nullptr;
  }
  return &entries_[found->second].second;
}

template <typename T>
bool ConfigFile::GetNumbers(const std::wstring& key, T* values, int count, std::wostream* log, bool optional) const {
  const std::wstring* text = Find(key, log, optional);
  if (!text) return false;
  std::wistringstream stream(*text);
  stream.imbue(std::locale::classic());
  T parsed[16];
  for (int i = 0; i < count; ++i) {
    if (!(stream >> parsed[i])) {
      if (log) *log << (optional ? L"WARNING" : L"ERROR") << L": Could not parse entry \"" << key << L"\"" << std::endl;
      return false;
    }
  }
  for (int i = 0; i < count; ++i) values[i] = parsed[i];
  return true;
}

bool ConfigFile::Get(const std::wstring& key, std::wstring& result, std::wostream* log, bool optional) const {
  const std::wstring* text = Find(key, log, optional);
  if (!text) return false;
  result = *text;
  return true;
}

bool ConfigFile::Get(const std::wstring& key, int& result, std::wostream* log, bool optional) const {
  return GetNumbers(key, &result, 1, log, optional);
}

bool ConfigFile::Get(const std::wstring& key, float& result, std::wostream* log, bool optional) const {
  return GetNumbers(key, &result, 1, log, optional);
}

bool ConfigFile::Get(const std::wstring& key, double& result, std::wostream* log, bool optional) const {
  return GetNumbers(key, &result, 1, log, optional);
}

bool ConfigFile::Get(const std::wstring& key, Vec3f& result, std::wostream* log, bool optional) const {
  float v[3];
  if (!GetNumbers(key, v, 3, log, optional)) return false;
  result = Vec3f(v[0], v[1], v[2]);
  return true;
}

bool ConfigFile::Get(const std::wstring& key, Vec3d& result, std::wostream* log, bool optional) const {
  double v[3];
  if (!GetNumbers(key, v, 3, log, optional)) return false;
  result = Vec3d(v[0], v[1], v[2]);
  return true;
}

bool ConfigFile::Get(const std::wstring& key, Mat4f& result, std::wostream* log, bool optional) const {
  return GetNumbers(key, result.m, 16, log, optional);
}

bool ConfigFile::Set(const std::wstring& key, const std::wstring& value) {
  std::wstring upper = ToUpper(key);
  auto found = index_.find(upper);
  if (found != index_.end()) {
    entries_[found->second].second = value;
    return true;
  }
  Append(upper, value);
  return false;
}

bool ConfigFile::Remove(const std::wstring& key) {
  auto found = index_.find(ToUpper(key));
  if (found == index_.end()) return false;
  size_t position = found->second;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
  index_.erase(found);
  for (auto& [k, p] : index_) {
    if (p > position) --p;
  }
  return true;
}

bool ConfigFile::Contains(const std::wstring& key) const { return index_.count(ToUpper(key)) != 0; }
