#pragma once
// Script files that drive the program like a user: one command a line, '#'
// starts a comment. The whole script is parsed before the first frame, so a
// bad line stops the run before anything happens. GL-free.
#include <cstdint>
#include <string>
#include <vector>

enum class ScriptCommandType {
  Frames,      // count
  Key,         // key, alt, shift: press and release
  Hold,        // key down alone
  Release,     // key up alone
  Mouse,       // button, mouseAction, x, y
  MouseMove,   // x, y
  Wheel,       // count = signed notches
  Click,       // controlId, or label when controlId is -1
  Slider,      // controlId, value
  Dialog,      // path, or cancel
  Answer,      // answer
  Screenshot,  // path
  Quit,
};

enum class MouseAction { Down, Up, Double };
enum class ScriptAnswer { Yes, No, Ok };

struct ScriptCommand {
  ScriptCommandType type = ScriptCommandType::Quit;
  int line = 0;  // 1-based line in the script file
  int count = 0;
  int32_t key = 0;
  bool alt = false, shift = false;
  int button = 0;  // MouseButton: 0 left, 1 right, 2 middle
  MouseAction mouseAction = MouseAction::Down;
  int x = 0, y = 0;
  int controlId = -1;
  std::wstring label;
  int value = 0;
  bool cancel = false;
  std::string path;
  ScriptAnswer answer = ScriptAnswer::Yes;
};

// Parses script text. On the first bad line it returns false with the message
// "ERROR: script \"<fileName>\" line N: <reason>".
bool ParseScript(const std::string& text, const std::string& fileName, std::vector<ScriptCommand>& commands,
                 std::string& error);

// Reads and parses a script file; a missing file gives an "ERROR: " message too.
bool LoadScript(const std::string& fileName, std::vector<ScriptCommand>& commands, std::string& error);

// The error prefix for a script line, shared with the run-time checks.
std::string ScriptLineError(const std::string& fileName, int line, const std::string& reason);
