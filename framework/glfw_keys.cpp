#include "framework/glfw_keys.h"

#include <GLFW/glfw3.h>

#include "app/input.h"

int32_t KeyFromGlfw(int key) {
  if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z) return 'A' + (key - GLFW_KEY_A);
  if (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) return '0' + (key - GLFW_KEY_0);
  if (key >= GLFW_KEY_F1 && key <= GLFW_KEY_F12) return FunctionKey(key - GLFW_KEY_F1 + 1);
  if (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_9) return NumpadKey(key - GLFW_KEY_KP_0);
  switch (key) {
    case GLFW_KEY_SPACE: return kKeySpace;
    case GLFW_KEY_ENTER:
    case GLFW_KEY_KP_ENTER: return kKeyEnter;
    case GLFW_KEY_ESCAPE: return kKeyEscape;
    case GLFW_KEY_TAB: return kKeyTab;
    case GLFW_KEY_BACKSPACE: return kKeyBackspace;
    case GLFW_KEY_LEFT: return kKeyLeft;
    case GLFW_KEY_RIGHT: return kKeyRight;
    case GLFW_KEY_UP: return kKeyUp;
    case GLFW_KEY_DOWN: return kKeyDown;
    case GLFW_KEY_HOME: return kKeyHome;
    case GLFW_KEY_END: return kKeyEnd;
    case GLFW_KEY_PAGE_UP: return kKeyPageUp;
    case GLFW_KEY_PAGE_DOWN: return kKeyPageDown;
    case GLFW_KEY_INSERT: return kKeyInsert;
    case GLFW_KEY_DELETE: return kKeyDelete;
    case GLFW_KEY_LEFT_SHIFT:
    case GLFW_KEY_RIGHT_SHIFT: return kKeyShift;
    case GLFW_KEY_LEFT_CONTROL:
    case GLFW_KEY_RIGHT_CONTROL: return kKeyControl;
    case GLFW_KEY_LEFT_ALT:
    case GLFW_KEY_RIGHT_ALT: return kKeyAlt;
    default: return kKeyNone;
  }
}
