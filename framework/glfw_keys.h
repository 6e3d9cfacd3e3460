#pragma once
// Window-system key tokens to the program's key codes.
#include <cstdint>

// The key code of a GLFW key token; kKeyNone for keys the program ignores.
int32_t KeyFromGlfw(int glfwKey);
