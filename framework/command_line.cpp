#include "framework/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#ifndef VARDEL_VERSION
#define VARDEL_VERSION "unknown"
#endif

namespace {

// the largest client area a user can ask for; larger sizes only exhaust memory
constexpr int kMaxClientSide = 16384;
constexpr long long kMaxFrames = 100000000;

bool ParseSize(const std::string& text, int& width, int& height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  long long w = 0, h = 0;
  if (!ParseInteger(text.substr(0, x), 1, kMaxClientSide, w)) return false;
  if (!ParseInteger(text.substr(x + 1), 1, kMaxClientSide, h)) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool TakesValue(const std::string& name) {
  return name == "--size" || name == "--frames" || name == "--fixed-dt" || name == "--script" ||
         name == "--screenshot" || name == "--state-dir";
}

bool ApplyValue(const std::string& name, const std::string& value, FrameworkOptions& options, std::string& error) {
  auto bad = [&](const char* expected) {
    error = "bad value \"" + value + "\" for " + name + " (expected " + expected + ")";
    return false;
  };
  if (name == "--size") {
    if (!ParseSize(value, options.width, options.height)) return bad("WxH with W and H in 1..16384");
    options.sizeGiven = true;
  } else if (name == "--frames") {
    long long frames = 0;
    if (!ParseInteger(value, 1, kMaxFrames, frames)) return bad("a positive number of frames");
    options.frames = static_cast<int>(frames);
  } else if (name == "--fixed-dt") {
    if (!ParsePositiveSeconds(value, options.fixedDt)) return bad("a positive number of seconds");
  } else if (name == "--script") {
    if (value.empty()) return bad("a file name");
    options.scriptFile = value;
  } else if (name == "--screenshot") {
    if (!HasPngExtension(value)) return bad("a file name ending in .png");
    options.screenshotFile = value;
  } else if (name == "--state-dir") {
    if (value.empty()) return bad("a folder");
    options.stateDir = value;
  }
  return true;
}

}  // namespace

bool ParseInteger(const std::string& text, long long minimum, long long maximum, long long& value) {
  if (text.empty()) return false;
  size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size()) return false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0') return false;
  if (parsed < minimum || parsed > maximum) return false;
  value = parsed;
  return true;
}

bool ParsePositiveSeconds(const std::string& text, double& value) {
  if (text.empty() || text[0] == ' ') return false;
  char* end = nullptr;
  double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed) || parsed <= 0) return false;
  value = parsed;
  return true;
}

bool HasPngExtension(const std::string& path) {
  if (path.size() < 5) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".png" && path[path.size() - 5] != '/';
}

std::vector<std::string> ArgumentsAfterProgramName(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
  return args;
}

bool ParseCommandLine(const std::vector<std::string>& args, FrameworkOptions& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inlineValue = true;
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--headless") {
      options.headless = true;
    } else if (TakesValue(name)) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = "option " + name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      if (!ApplyValue(name, value, options, error)) return false;
      continue;
    } else {
      error = (name.rfind("-", 0) == 0 ? "unknown option \"" : "unexpected argument \"") + args[i] + "\"";
      return false;
    }
    if (inlineValue) {
      error = "option " + name + " takes no value";
      return false;
    }
  }
  return true;
}

std::wstring UsageText() {
  return L"Usage: vardel [options]\n"
         L"Reads the scene \"LiverScene.txt\" from the working folder.\n"
         L"  --help              print this text and exit\n"
         L"  --version           print the version and exit\n"
         L"  --headless          render offscreen without a window (automatic without a display)\n"
         L"  --size WxH          client area in pixels (default 800x600)\n"
         L"  --frames N          stop after N frames\n"
         L"  --fixed-dt S        give every frame an elapsed time of S seconds\n"
         L"  --script FILE       drive the program from a script file\n"
         L"  --screenshot FILE.png  write the last frame as PNG before exit\n"
         L"  --state-dir DIR     folder for the force log and the cutting surface file\n";
}

std::wstring VersionText() {
  std::string version = VARDEL_VERSION;
  return L"Vardel " + std::wstring(version.begin(), version.end());
}

bool NoDisplayAvailable(const char* display, const char* waylandDisplay) {
  return (display == nullptr || *display == '\0') && (waylandDisplay == nullptr || *waylandDisplay == '\0');
}
