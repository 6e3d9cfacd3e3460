// Fuzz target of the key/value configuration reader: ConfigFile::Load on
// arbitrary bytes, then every typed query on every entry. Checked on success:
// keys are single upper-case words, values are trimmed, every entry is found
// again, and a failed query leaves its result untouched.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "app/config_file.h"
#include "fuzz_support.h"
#include "geometry/file_util.h"

namespace {

bool IsVisible(wchar_t c) { return (c > 32 && c < 127) || c > 159; }

void CheckEntry(const ConfigFile& config, const std::wstring& key, const std::wstring& value) {
  if (key.empty()) PropertyViolated("empty key");
  for (wchar_t c : key) {
    if (c >= L'a' && c <= L'z') PropertyViolated("key not in upper case");
    if (c == L' ' || c == L'\t' || c == L':' || c == L'\n' || c == L'\r') PropertyViolated("key holds a separator");
  }
  if (key.compare(0, 2, L"//") == 0) PropertyViolated("comment stored as a key");
  if (!value.empty() && (!IsVisible(value.front()) || !IsVisible(value.back()))) PropertyViolated("value not trimmed");
  std::wstring found;
  if (!config.Get(key, found, nullptr) || found != value) PropertyViolated("entry not found again by its key");
}

// Every numeric query either succeeds or leaves its sentinel result in place.
void QueryEverything(const ConfigFile& config, const std::wstring& key, std::wostream& log) {
  int i = -7;
  if (!config.Get(key, i, &log) && i != -7) PropertyViolated("failed int query changed its result");
  float f = 0.25f;
  if (!config.Get(key, f, &log, true) && f != 0.25f) PropertyViolated("failed float query changed its result");
  double d = 0.5;
  if (!config.Get(key, d, &log) && d != 0.5) PropertyViolated("failed double query changed its result");
  Vec3f vf(1, 2, 3);
  if (!config.Get(key, vf, &log) && vf != Vec3f(1, 2, 3)) PropertyViolated("failed vector query changed its result");
  Vec3d vd(1, 2, 3);
  if (!config.Get(key, vd, &log, true) && vd != Vec3d(1, 2, 3)) PropertyViolated("failed vector query changed its result");
  Mat4f m = Mat4f::Identity();
  if (!config.Get(key, m, &log)) {
    for (int k = 0; k < 16; ++k) {
      if (m.m[k] != Mat4f::Identity().m[k]) PropertyViolated("failed matrix query changed its result");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  ConfigFile config;
  std::wostringstream log;
  const bool loaded = config.Load(WidenPath(file.Path()), &log);
  if (loaded != config.IsLoaded()) PropertyViolated("load result and loaded flag disagree");
  if (!loaded) return 0;
  const auto entries = config.Entries();
  for (const auto& [key, value] : entries) {
    CheckEntry(config, key, value);
    QueryEverything(config, key, log);
  }
  if (!entries.empty()) {
    ConfigFile copy = config;
    if (!copy.Remove(entries.front().first) || copy.Contains(entries.front().first) ||
        copy.Entries().size() + 1 != entries.size()) {
      PropertyViolated("removing the first entry");
    }
    for (const auto& [key, value] : copy.Entries()) CheckEntry(copy, key, value);
  }
  return 0;
}
