// gearloft platform layer, Linux: the environment, the console, and starting a program with its
// arguments and its output in a file, for the tests that run the simulated game as its own process (the
// game's library never starts programs).
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/testing.h"

extern char** environ;

namespace gearloft::platform {

bool GetEnvironment(const std::string& name, std::string* value) {
  const char* found = std::getenv(name.c_str());
  if (found == nullptr) return false;
  if (value != nullptr) *value = found;
  return true;
}

// Tests use it to point LOCALAPPDATA at a folder of their own.
bool SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) return unsetenv(name.c_str()) == 0;
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output_file) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t child = 0;
  // A program that cannot be run (or an output file that cannot be opened) is reported here, not by
  // the child: glibc waits until the new program is in place.
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// A terminal stays open after its program exits: nothing needs to wait.
int ConsoleProcessCount() {
  return 0;
}

bool InputIsConsole() {
  return false;
}

}  // namespace gearloft::platform
