#pragma once
// The framework's command-line options. Parsing is GL-free so that it can be
// checked without a display.
#include <string>
#include <vector>

struct FrameworkOptions {
  bool help = false;
  bool version = false;
  bool headless = false;        // --headless given
  int width = 800, height = 600;  // client area; --size
  bool sizeGiven = false;
  int frames = -1;              // stop after this many frames; -1 = no limit
  double fixedDt = 0;           // > 0: every frame's elapsed time, seconds
  std::string scriptFile;       // "" = no script
  std::string screenshotFile;   // "" = none
  std::string stateDir;         // "" = the default state folder
};

// The arguments after the program name; none for a process started without
// any arguments at all (argc 0, argv[0] null), which exec allows.
std::vector<std::string> ArgumentsAfterProgramName(int argc, char** argv);

// Parses the arguments after the program name. On a bad option or value it
// returns false and a one-line reason (without the "ERROR: " prefix).
bool ParseCommandLine(const std::vector<std::string>& args, FrameworkOptions& options, std::string& error);

// The usage text printed by --help and after a command-line error.
std::wstring UsageText();
std::wstring VersionText();

// True when the process has no screen to open a window on.
bool NoDisplayAvailable(const char* display, const char* waylandDisplay);

// Strict numeric parsing shared with the script reader: the whole text must
// be the number, within [minimum, maximum].
bool ParseInteger(const std::string& text, long long minimum, long long maximum, long long& value);
bool ParsePositiveSeconds(const std::string& text, double& value);
bool HasPngExtension(const std::string& path);
