#include "cutsim/fatal_error.h"

#include <gtest/gtest.h>

#include <string>

TEST(FatalErrorTest, ReportTextAndItsBytes) {
  EXPECT_EQ(FatalErrorText("scene.cpp", 42, L"Cannot load scene"),
            L"A fatal error has occured\nCannot load scene\nSource file \"scene.cpp\", line 42\nThe program will terminate");
  // characters read from files stay single bytes; others become UTF-8
  EXPECT_EQ(FatalErrorBytes(L"Sz\u00e8ne \u20ac"), std::string("Sz\xe8ne \xe2\x82\xac"));
  EXPECT_EQ(FatalErrorBytes(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(FatalErrorDeathTest, StderrCarriesTheWholeTextPastNonAsciiCharacters) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // the name is read from a file byte by byte: the e with grave accent is byte 0xE8
  EXPECT_DEATH(FatalError("app.cpp", 7, L"Cannot load \"sc\u00e8ne.txt\" from the folder", false),
               "Cannot load \"sc.ne.txt\" from the folder\nSource file \"app.cpp\", line 7\nThe program will terminate");
}
