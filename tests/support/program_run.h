#pragma once
// Runs a program as a child process in a given folder and collects what it wrote.
#include <string>
#include <utility>
#include <vector>

struct ProgramResult {
  bool exited = false;  // ended through exit; otherwise a signal ended it
  int exitCode = -1;
  int signal = 0;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Environment changes for the child: variables to set and variables to remove.
struct ProgramEnvironment {
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> unset;
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                         const ProgramEnvironment& environment);

// The environment of a test run of vardel in folder: no display, the per-user
// folders inside folder, idle OpenMP threads sleeping, and one shader cache
// for every run of the build, so each run does not compile the shaders anew.
ProgramEnvironment VardelEnvironment(const std::string& folder);

// The built vardel program, run headless in folder with its per-user folders
// (state, runtime) inside folder, so runs never meet each other or the user's.
ProgramResult RunVardel(const std::string& folder, const std::vector<std::string>& args);
