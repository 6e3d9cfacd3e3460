#include "framework/key_names.h"

#include <utility>

#include "app/input.h"

namespace {

const std::pair<const char*, int32_t> kNamedKeys[] = {
    {"Space", kKeySpace},   {"Enter", kKeyEnter},       {"Escape", kKeyEscape},     {"Tab", kKeyTab},
    {"Left", kKeyLeft},     {"Right", kKeyRight},       {"Up", kKeyUp},             {"Down", kKeyDown},
    {"Home", kKeyHome},     {"End", kKeyEnd},           {"PageUp", kKeyPageUp},     {"PageDown", kKeyPageDown},
    {"Insert", kKeyInsert}, {"Delete", kKeyDelete},     {"Shift", kKeyShift},       {"Control", kKeyControl},
    {"Alt", kKeyAlt},
};

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

// The number after a prefix such as "f" or "numpad", or -1.
int NumberAfter(const std::string& lower, const std::string& prefix) {
  if (lower.size() <= prefix.size() || lower.size() > prefix.size() + 2 || lower.rfind(prefix, 0) != 0) return -1;
  int n = 0;
  for (size_t i = prefix.size(); i < lower.size(); ++i) {
    if (lower[i] < '0' || lower[i] > '9') return -1;
    n = 10 * n + (lower[i] - '0');
  }
  if (lower.size() == prefix.size() + 2 && lower[prefix.size()] == '0') return -1;
  return n;
}

}  // namespace

int32_t KeyFromName(const std::string& name) {
  if (name.size() == 1) {
    char c = name[0];
    if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    return kKeyNone;
  }
  std::string lower = Lower(name);
  for (const auto& [keyName, code] : kNamedKeys) {
    if (Lower(keyName) == lower) return code;
  }
  int f = NumberAfter(lower, "f");
  if (f >= 1 && f <= 12) return FunctionKey(f);
  int pad = NumberAfter(lower, "numpad");
  if (pad >= 0 && pad <= 9 && lower.size() == 7) return NumpadKey(pad);
  return kKeyNone;
}

std::string KeyName(int32_t key) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
  for (const auto& [keyName, code] : kNamedKeys) {
    if (code == key) return keyName;
  }
  // appended rather than concatenated: GCC 12 at -O3 reports a false overlap
  // (-Wrestrict) for a literal plus a temporary string
  std::string name;
  if (key >= kKeyF1 && key <= kKeyF12) name.append("F").append(std::to_string(key - kKeyF1 + 1));
  if (key >= kKeyNumpad0 && key <= kKeyNumpad9) name.append("Numpad").append(std::to_string(key - kKeyNumpad0));
  return name;
  return "";
}
