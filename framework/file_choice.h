#pragma once
// The rules of the file dialogs, apart from their drawing: filters, default
// extensions and what a chosen name must satisfy. GL-free.
#include <string>
#include <vector>

// True when a file name matches one of the ';'-separated glob patterns
// ("*.txt", "*.obj;*.OBJ"), ignoring case; an empty pattern matches all.
bool MatchesFilter(const std::string& fileName, const std::string& pattern);

// Appends "." + extension when the last path component has no extension.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

// An absolute, lexically normal form of path relative to folder; the
// process's current folder is never changed.
std::string AbsoluteIn(const std::string& folder, const std::string& path);

// The full path a typed name stands for, seen from folder: the default
// extension is added unless the name already is an existing folder.
std::string ResolveTypedName(const std::string& folder, const std::string& typed, const std::string& extension);

enum class ChoiceCheck {
  Accept,         // the name can be returned
  Empty,          // no name typed
  Missing,        // open dialog: the file does not exist
  IsFolder,       // the name is a folder
  AskOverwrite,   // save dialog: the file exists, ask before replacing it
};
ChoiceCheck CheckChoice(const std::string& absolutePath, bool save);

struct FolderEntry {
  std::string name;
  bool isFolder = false;
};
// Entries of a folder: sub-folders first, then the files matching pattern,
// each group sorted by name; hidden entries (".name") are left out.
std::vector<FolderEntry> ListFolder(const std::string& folder, const std::string& pattern);
