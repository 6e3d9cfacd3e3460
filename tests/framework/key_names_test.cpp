#include "framework/key_names.h"

#include <gtest/gtest.h>

#include "app/input.h"

TEST(KeyNamesTest, EveryNamedKeyRoundTrips) {
  std::vector<int32_t> keys = {kKeySpace, kKeyEnter, kKeyEscape, kKeyTab,    kKeyLeft,     kKeyRight,
                               kKeyUp,    kKeyDown,  kKeyHome,   kKeyEnd,    kKeyPageUp,   kKeyPageDown,
                               kKeyInsert, kKeyDelete, kKeyShift, kKeyControl, kKeyAlt};
  for (int n = 1; n <= 12; ++n) keys.push_back(FunctionKey(n));
  for (int n = 0; n <= 9; ++n) keys.push_back(NumpadKey(n));
  for (char c = 'A'; c <= 'Z'; ++c) keys.push_back(c);
  for (char c = '0'; c <= '9'; ++c) keys.push_back(c);
  for (int32_t key : keys) {
    std::string name = KeyName(key);
    ASSERT_FALSE(name.empty()) << key;
    EXPECT_EQ(KeyFromName(name), key) << name;
  }
}

TEST(KeyNamesTest, NamesIgnoreCaseAndRejectNearMisses) {
  EXPECT_EQ(KeyFromName("w"), 'W');
  EXPECT_EQ(KeyFromName("pageup"), kKeyPageUp);
  EXPECT_EQ(KeyFromName("F12"), FunctionKey(12));
  EXPECT_EQ(KeyFromName("f1"), FunctionKey(1));
  EXPECT_EQ(KeyFromName("NUMPAD0"), NumpadKey(0));
  for (const char* bad : {"", "F0", "F13", "F01", "F1x", "Numpad10", "Numpad", "AB", "#", "Page Up"}) {
    EXPECT_EQ(KeyFromName(bad), kKeyNone) << bad;
  }
}
