#pragma once
// Report of a condition the program cannot continue from: the text goes to
// stderr and to the installed handler (the window's message box), then the
// process aborts.
#include <string>

// Builds the report text: "A fatal error has occured\n", the message, the
// source file and line, "The program will terminate".
std::wstring FatalErrorText(const char* sourceFile, int line, const std::wstring& message);

// The report text as written to stderr: characters below 256 as single bytes
// (text read from files holds one byte per character), larger ones in UTF-8.
std::string FatalErrorBytes(const std::wstring& text);

// Called with the full text before the process aborts; shows it to the user.
using FatalErrorHandler = void (*)(const std::wstring& title, const std::wstring& text);
void SetFatalErrorHandler(FatalErrorHandler handler);

[[noreturn]] void FatalError(const char* sourceFile, int line, const std::wstring& message, bool showBox);
