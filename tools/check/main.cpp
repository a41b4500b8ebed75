// gearloft-check: the command-line entry of the offline script checker.
#include <iostream>
#include <string>
#include <vector>

#include "check/check.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int status = gearloft::check::RunCheck(args, std::cout, std::cerr);
  namespace platform = gearloft::platform;
  if (gearloft::check::WaitsForEnter(platform::ConsoleProcessCount(), platform::InputIsConsole())) {
    // Files dropped on the program in Explorer: its window closes when it exits.
    std::cout << "\nPress Enter to close this window." << std::endl;
    std::string line;
    std::getline(std::cin, line);
  }
  return status;
}
