#include "support/program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/temp_folder.h"

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                         const ProgramEnvironment& environment) {
  ProgramResult result;
  std::string outFile = folder + "/.program-out", errFile = folder + "/.program-err";
  std::vector<std::string> argvText = {program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& name : environment.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : environment.set) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return result;
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = TempFolder::Read(outFile);
  result.err = TempFolder::Read(errFile);
  unlink(outFile.c_str());
  unlink(errFile.c_str());
  return result;
}

ProgramEnvironment VardelEnvironment(const std::string& folder) {
  ProgramEnvironment environment;
  environment.unset = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_STATE_HOME", "MESA_SHADER_CACHE_DISABLE"};
  // idle OpenMP threads sleep instead of spinning: on a shared machine the
  // spinning of short parallel loops costs more than the loops themselves
  environment.set = {{"XDG_RUNTIME_DIR", folder},
                     {"HOME", folder},
                     {"MESA_SHADER_CACHE_DIR", std::string(VARDEL_BINARY_DIR) + "/mesa-shader-cache"},
                     {"OMP_WAIT_POLICY", "passive"}};
  return environment;
}

ProgramResult RunVardel(const std::string& folder, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--state-dir", folder + "/state"};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(std::string(VARDEL_BINARY_DIR) + "/bin/vardel", all, folder, VardelEnvironment(folder));
}
