#pragma once
// The per-user folder for the files the program appends to (force log,
// cutting surface file) and the fallback place of the instance lock.
#include <iosfwd>
#include <string>

// The folder to use: the --state-dir option when given, else
// $XDG_STATE_HOME/vardel when that is an absolute path, else
// $HOME/.local/state/vardel; "" when none of them is known.
std::string ResolveStateFolder(const std::string& option, const char* xdgStateHome, const char* home);

// Creates the folder and its parents when missing; false with one "WARNING: "
// line on the log when it cannot be created.
bool EnsureFolder(const std::string& folder, std::wostream* log);
