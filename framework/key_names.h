#pragma once
// Names of keys as scripts write them ("A", "7", "F5", "PageUp", "Numpad4").
#include <cstdint>
#include <string>

// The key code for a name (letters and words in any case); kKeyNone when unknown.
int32_t KeyFromName(const std::string& name);
// The canonical name of a key code; "" for codes without a name.
std::string KeyName(int32_t key);
