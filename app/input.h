#pragma once
// Window input as the program sees it, independent of the window system:
// the framework translates its events into InputMessage records and key codes.
#include <cstdint>

// Key codes: letters and digits are their upper-case ASCII codes ('A', '0');
// the others are listed here.
enum KeyCode : int32_t {
  kKeyNone = 0,
  kKeySpace = ' ',
  kKeyEnter = 256,
  kKeyEscape,
  kKeyTab,
  kKeyLeft,
  kKeyRight,
  kKeyUp,
  kKeyDown,
  kKeyHome,
  kKeyEnd,
  kKeyPageUp,
  kKeyPageDown,
  kKeyInsert,
  kKeyDelete,
  kKeyShift,
  kKeyControl,
  kKeyAlt,
  kKeyBackspace,  // text fields of the dialogs
  kKeyF1 = 300,  // kKeyF1 + n - 1 is Fn, n = 1..12
  kKeyF12 = 311,
  kKeyNumpad0 = 320,  // kKeyNumpad0 + n is numeric keypad n
  kKeyNumpad9 = 329,
};

inline constexpr int32_t FunctionKey(int n) { return kKeyF1 + n - 1; }
inline constexpr int32_t NumpadKey(int n) { return kKeyNumpad0 + n; }

enum class InputType : int32_t {
  KeyDown,
  KeyUp,
  ButtonDown,     // button: 0 left, 1 right, 2 middle
  ButtonUp,
  ButtonDoubleClick,
  MouseMove,
  Wheel,          // wheelDelta in units of 120 per notch
  FocusLost,      // all keys released
  CaptureLost,    // all mouse buttons released
  SettingsChanged,
};

enum MouseButton : int32_t { kButtonLeft = 0, kButtonRight = 1, kButtonMiddle = 2 };

struct InputMessage {
  InputType type = InputType::MouseMove;
  int32_t key = kKeyNone;  // KeyDown / KeyUp
  int32_t button = 0;      // ButtonDown / ButtonUp / ButtonDoubleClick
  int32_t x = 0, y = 0;    // window pixels, origin top-left, y down
  int32_t wheelDelta = 0;  // Wheel
  bool alt = false;
  bool shift = false;
  bool control = false;
};
