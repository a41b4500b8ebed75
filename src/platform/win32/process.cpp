// gearloft platform layer, Windows: the environment, the console, and starting a program with its
// arguments and its output in a file, for the tests that run the simulated game as its own process (the
// game's library never starts programs).
#include <windows.h>

#include "platform/testing.h"
#include "platform/win32/wide.h"

namespace gearloft::platform {
namespace {

using win32::FromWide;
using win32::ToWide;

// One argument as the C runtime's command-line parser reads it back: quoted when it is empty or holds a
// blank or a quote; inside quotes, backslashes count only before a quote (and before the closing one).
void AppendArgument(const std::wstring& argument, std::wstring* line) {
  if (!line->empty()) line->push_back(L' ');
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line->append(argument);
    return;
  }
  line->push_back(L'"');
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    line->append(backslashes, L'\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

}  // namespace

bool GetEnvironment(const std::string& name, std::string* value) {
  // The game's buffer holds 260 wide characters; a longer value does not fit and counts as missing.
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(ToWide(name).c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  if (value != nullptr) *value = FromWide(buffer, length);
  return true;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  const std::wstring wide_name = ToWide(name);
  if (!value.empty()) return SetEnvironmentVariableW(wide_name.c_str(), ToWide(value).c_str()) != 0;
  // Removing a variable that is not set leaves what was asked for, as unsetenv does.
  return SetEnvironmentVariableW(wide_name.c_str(), nullptr) != 0 || GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

int ConsoleProcessCount() {
  DWORD processes[2];
  return static_cast<int>(GetConsoleProcessList(processes, 2));
}

bool InputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output_file) {
  const std::wstring wide_program = ToWide(program);
  std::wstring line;
  AppendArgument(wide_program, &line);
  for (const std::string& argument : arguments) AppendArgument(ToWide(argument), &line);

  // The child writes through handles it inherits; both outputs share one so their lines interleave.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::wstring wide_output = win32::ToWidePath(output_file);
  HANDLE output = CreateFileW(wide_output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return -1;
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(wide_program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(output);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (started == 0) return -1;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL known = GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return known != 0 ? static_cast<int>(code) : -1;
}

}  // namespace gearloft::platform
