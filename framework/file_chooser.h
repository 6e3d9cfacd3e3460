#pragma once
// The program's open and save file dialog: an in-app chooser with a title, a
// filter shown as its pattern and a default extension. Open dialogs require
// an existing file, save dialogs ask before replacing one, and the process's
// current folder never changes. Scripts and headless runs take the queued
// dialog answers in order; with none queued the dialog is cancelled. Every
// dialog prints its title and its answer to the log.
#include <string>

enum class DialogOwner {
  None,        // a dialog of its own (at start-up it opens its own window)
  MainWindow,  // over the application window
};

// True when a file was confirmed: its full path is then assigned to result,
// which is otherwise left unchanged. filterIndex and an empty initialFolder
// (the current folder) are what every caller passes.
bool ChooseFile(const std::wstring& title, const std::wstring& filterPattern, int filterIndex,
                const std::wstring& initialFolder, const std::wstring& defaultExtension, std::wstring& result,
                bool save, DialogOwner owner);
