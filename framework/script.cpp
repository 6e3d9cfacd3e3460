#include "framework/script.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/input.h"
#include "framework/command_line.h"
#include "framework/key_names.h"

namespace {

// coordinates beyond this are certainly typing errors
constexpr long long kMaxCoordinate = 1000000;
constexpr long long kMaxCount = 100000000;

struct LineTokens {
  std::vector<std::string> words;  // words outside quotes
  std::vector<bool> quoted;        // per word: it was a "quoted string"
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// Splits a line into words; a '#' at the start of a word starts a comment,
// double quotes group a string that may hold blanks and '#'.
bool Tokenize(const std::string& line, LineTokens& tokens, std::string& reason) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        reason = "missing closing quote";
        return false;
      }
      tokens.words.push_back(line.substr(i + 1, close - i - 1));
      tokens.quoted.push_back(true);
      i = close + 1;
      if (i < line.size() && !IsBlank(line[i])) {
        reason = "text after closing quote";
        return false;
      }
      continue;
    }
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    tokens.words.push_back(line.substr(start, i - start));
    tokens.quoted.push_back(false);
  }
  return true;
}

// The rest of the line after the command word, trimmed, without a trailing
// comment; a quoted path keeps everything inside the quotes.
bool RestOfLine(const LineTokens& tokens, std::string& rest, std::string& reason) {
  if (tokens.words.size() < 2) {
    reason = "missing file name";
    return false;
  }
  if (tokens.quoted[1]) {
    if (tokens.words.size() > 2) {
      reason = "unexpected \"" + tokens.words[2] + "\"";
      return false;
    }
    rest = tokens.words[1];
  } else {
    rest = tokens.words[1];
    for (size_t i = 2; i < tokens.words.size(); ++i) {
      if (tokens.quoted[i]) {
        reason = "unexpected quoted text";
        return false;
      }
      rest += " " + tokens.words[i];
    }
  }
  if (rest.empty()) {
    reason = "missing file name";
    return false;
  }
  return true;
}

class LineParser {
 public:
  LineParser(const LineTokens& tokens, ScriptCommand& command, std::string& reason)
      : words_(tokens.words), tokens_(tokens), command_(command), reason_(reason) {}

  bool Parse() {
    const std::string name = Lower(words_[0]);
    if (name == "frames") return ParseFrames();
    if (name == "key") return ParseKey(ScriptCommandType::Key, true);
    if (name == "hold") return ParseKey(ScriptCommandType::Hold, false);
    if (name == "release") return ParseKey(ScriptCommandType::Release, false);
    if (name == "mouse") return ParseMouse();
    if (name == "wheel") return ParseWheel();
    if (name == "click") return ParseClick();
    if (name == "slider") return ParseSlider();
    if (name == "dialog") return ParseDialog();
    if (name == "answer") return ParseAnswer();
    if (name == "screenshot") return ParseScreenshot();
    if (name == "quit") {
      command_.type = ScriptCommandType::Quit;
      return ExpectArguments(0);
    }
    return Fail("unknown command \"" + words_[0] + "\"");
  }

 private:
  bool Fail(const std::string& reason) {
    reason_ = reason;
    return false;
  }

  bool ExpectArguments(size_t count) {
    if (words_.size() - 1 < count) return Fail("missing argument for \"" + words_[0] + "\"");
    if (words_.size() - 1 > count) return Fail("unexpected argument \"" + words_[count + 1] + "\"");
    return true;
  }

  bool Number(size_t index, long long minimum, long long maximum, const char* what, int& value) {
    long long parsed = 0;
    if (tokens_.quoted[index] || !ParseInteger(words_[index], minimum, maximum, parsed)) {
      return Fail("bad " + std::string(what) + " \"" + words_[index] + "\"");
    }
    value = static_cast<int>(parsed);
    return true;
  }

  bool ParseFrames() {
    command_.type = ScriptCommandType::Frames;
    return ExpectArguments(1) && Number(1, 1, kMaxCount, "frame count", command_.count);
  }

  // [alt+][shift+]K, the modifiers in either order, any case.
  bool ParseKey(ScriptCommandType type, bool modifiers) {
    command_.type = type;
    if (!ExpectArguments(1)) return false;
    std::string rest = words_[1];
    while (modifiers) {
      std::string lower = Lower(rest);
      if (lower.rfind("alt+", 0) == 0 && !command_.alt && rest.size() > 4) {
        command_.alt = true;
        rest = rest.substr(4);
      } else if (lower.rfind("shift+", 0) == 0 && !command_.shift && rest.size() > 6) {
        command_.shift = true;
        rest = rest.substr(6);
      } else {
        break;
      }
    }
    command_.key = KeyFromName(rest);
    if (command_.key == kKeyNone) return Fail("unknown key \"" + words_[1] + "\"");
    return true;
  }

  bool ParseMouse() {
    if (words_.size() < 2) return Fail("missing argument for \"mouse\"");
    std::string first = Lower(words_[1]);
    if (first == "move") {
      command_.type = ScriptCommandType::MouseMove;
      return ExpectArguments(3) && Coordinates(2);
    }
    command_.type = ScriptCommandType::Mouse;
    if (first == "left") command_.button = kButtonLeft;
    else if (first == "right") command_.button = kButtonRight;
    else if (first == "middle") command_.button = kButtonMiddle;
    else return Fail("unknown mouse button \"" + words_[1] + "\"");
    if (!ExpectArguments(4)) return false;
    std::string action = Lower(words_[2]);
    if (action == "down") command_.mouseAction = MouseAction::Down;
    else if (action == "up") command_.mouseAction = MouseAction::Up;
    else if (action == "double") command_.mouseAction = MouseAction::Double;
    else return Fail("unknown mouse action \"" + words_[2] + "\"");
    return Coordinates(3);
  }

  bool Coordinates(size_t index) {
    return Number(index, -kMaxCoordinate, kMaxCoordinate, "coordinate", command_.x) &&
           Number(index + 1, -kMaxCoordinate, kMaxCoordinate, "coordinate", command_.y);
  }

  bool ParseWheel() {
    command_.type = ScriptCommandType::Wheel;
    // the wheel delta of a message is 120 per notch and must stay within int
    return ExpectArguments(1) && Number(1, -1000000, 1000000, "notch count", command_.count);
  }

  bool ParseClick() {
    command_.type = ScriptCommandType::Click;
    if (!ExpectArguments(1)) return false;
    if (tokens_.quoted[1]) {
      if (words_[1].empty()) return Fail("empty control label");
      command_.label.assign(words_[1].begin(), words_[1].end());
      return true;
    }
    return Number(1, 0, 1000000, "control ID", command_.controlId);
  }

  bool ParseSlider() {
    command_.type = ScriptCommandType::Slider;
    return ExpectArguments(2) && Number(1, 0, 1000000, "control ID", command_.controlId) &&
           Number(2, -1000000000, 1000000000, "slider value", command_.value);
  }

  bool ParseDialog() {
    command_.type = ScriptCommandType::Dialog;
    if (words_.size() == 2 && !tokens_.quoted[1] && Lower(words_[1]) == "cancel") {
      command_.cancel = true;
      return true;
    }
    return RestOfLine(tokens_, command_.path, reason_);
  }

  bool ParseAnswer() {
    command_.type = ScriptCommandType::Answer;
    if (!ExpectArguments(1)) return false;
    std::string answer = Lower(words_[1]);
    if (answer == "yes") command_.answer = ScriptAnswer::Yes;
    else if (answer == "no") command_.answer = ScriptAnswer::No;
    else if (answer == "ok") command_.answer = ScriptAnswer::Ok;
    else return Fail("unknown answer \"" + words_[1] + "\" (yes, no or ok)");
    return true;
  }

  bool ParseScreenshot() {
    command_.type = ScriptCommandType::Screenshot;
    if (!RestOfLine(tokens_, command_.path, reason_)) return false;
    if (!HasPngExtension(command_.path)) return Fail("screenshot file \"" + command_.path + "\" does not end in .png");
    return true;
  }

  const std::vector<std::string>& words_;
  const LineTokens& tokens_;
  ScriptCommand& command_;
  std::string& reason_;
};

}  // namespace

std::string ScriptLineError(const std::string& fileName, int line, const std::string& reason) {
  return "ERROR: script \"" + fileName + "\" line " + std::to_string(line) + ": " + reason;
}

bool ParseScript(const std::string& text, const std::string& fileName, std::vector<ScriptCommand>& commands,
                 std::string& error) {
  commands.clear();
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::string reason;
    LineTokens tokens;
    if (line.find('\0') != std::string::npos) reason = "unexpected NUL character";
    if (reason.empty() && Tokenize(line, tokens, reason) && tokens.words.empty()) continue;
    ScriptCommand command;
    command.line = lineNumber;
    if (reason.empty() && tokens.quoted[0]) reason = "a command cannot be quoted";
    if (reason.empty() && LineParser(tokens, command, reason).Parse()) {
      commands.push_back(command);
      continue;
    }
    error = ScriptLineError(fileName, lineNumber, reason);
    commands.clear();
    return false;
  }
  return true;
}

bool LoadScript(const std::string& fileName, std::vector<ScriptCommand>& commands, std::string& error) {
  std::error_code ignored;
  std::ifstream in(fileName, std::ios::binary);
  if (!in || std::filesystem::is_directory(fileName, ignored)) {
    error = "ERROR: script \"" + fileName + "\" cannot be opened";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    error = "ERROR: script \"" + fileName + "\" cannot be read";
    return false;
  }
  return ParseScript(text.str(), fileName, commands, error);
}
