#pragma once
// Message boxes: a modal box in the window for a person, the text on stderr
// always, and for scripts and headless runs the next queued answer. Every box
// prints its title and the answer it took to the log.
#include <string>

#include "framework/script.h"

enum class MessageBoxButtons { Ok, YesNo };
enum class MessageBoxResult { Ok, Yes, No };

// unattendedAnswer is taken when no person can answer and no answer is queued.
MessageBoxResult ShowMessageBox(const std::wstring& title, const std::wstring& text, MessageBoxButtons buttons,
                                MessageBoxResult unattendedAnswer);

// How a queued script answer reads for a box with these buttons: "ok" accepts a Yes/No box.
MessageBoxResult ResultForAnswer(ScriptAnswer answer, MessageBoxButtons buttons);
const wchar_t* ResultName(MessageBoxResult result);

// The fatal-error box: shown until closed when a person can see it; nothing else.
void ShowFatalErrorBox(const std::wstring& title, const std::wstring& text);
