// Fuzz target of the framework's script reader. Checked: a failure names the
// script and a line and keeps no commands; on success every command carries
// a line of the text and values within their documented ranges.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/script.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<ScriptCommand> commands;
  std::string error;
  if (!ParseScript(text, "fuzz.txt", commands, error)) {
    if (error.rfind("ERROR: script \"fuzz.txt\" line ", 0) != 0) PropertyViolated("error without script and line");
    if (!commands.empty()) PropertyViolated("failed parse kept commands");
    return 0;
  }
  const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  int previous = 0;
  for (const ScriptCommand& c : commands) {
    if (c.line <= previous || c.line > lines) PropertyViolated("command line numbers out of order");
    previous = c.line;
    if (c.type == ScriptCommandType::Frames && c.count < 1) PropertyViolated("frames without a positive count");
    if ((c.type == ScriptCommandType::Dialog && !c.cancel && c.path.empty()) ||
        (c.type == ScriptCommandType::Screenshot && c.path.empty())) {
      PropertyViolated("file command without a file name");
    }
  }
  return 0;
}
