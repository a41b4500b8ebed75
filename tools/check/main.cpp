// gearloft-check: the command-line entry of the offline script checker.
#include <iostream>
#include <string>
#include <vector>

#include "check/check.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return gearloft::check::RunCheck(args, std::cout, std::cerr);
}
