#include "cutsim/fatal_error.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {
FatalErrorHandler installedHandler = nullptr;
}

std::wstring FatalErrorText(const char* sourceFile, int line, const std::wstring& message) {
  std::wostringstream text;
  text << L"A fatal error has occured\n" << message << L"\n" << L"Source file \"" << sourceFile << L"\", line "
       << line << L"\n" << L"The program will terminate";
  return text.str();
}

void SetFatalErrorHandler(FatalErrorHandler handler) { installedHandler = handler; }

void FatalError(const char* sourceFile, int line, const std::wstring& message, bool showBox) {
  std::wstring text = FatalErrorText(sourceFile, line, message);
  std::fprintf(stderr, "FATAL ERROR\n%ls\n", text.c_str());
  std::fflush(stderr);
  if (showBox && installedHandler) installedHandler(L"FATAL ERROR", text);
  std::abort();
}
