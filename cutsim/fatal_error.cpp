#include "cutsim/fatal_error.h"

#include <cstdint>
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

std::string FatalErrorBytes(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code < 0x100) {
      bytes.push_back(static_cast<char>(code));  // text read from files: one byte per character
    } else if (code < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | ((code >> 18) & 0x07)));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return bytes;
}

void FatalError(const char* sourceFile, int line, const std::wstring& message, bool showBox) {
  std::wstring text = FatalErrorText(sourceFile, line, message);
  // written as bytes: a wide conversion in the "C" locale would stop at the first non-ASCII character
  const std::string bytes = "FATAL ERROR\n" + FatalErrorBytes(text) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
  if (showBox && installedHandler) installedHandler(L"FATAL ERROR", text);
  std::abort();
}
