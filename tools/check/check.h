// gearloft-check: finds a car script's mistakes before the game starts, by running the worker's own
// parser, compiler and apply code against an in-memory copy of the game's tables.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace gearloft::check {

constexpr int kExitClean = 0;   // every file compiled (and, with --apply, applied and came off cleanly)
constexpr int kExitFailed = 1;  // some file failed, or the apply or its undo did not come out right
constexpr int kExitUsage = 2;   // bad arguments, a path that is not there, an unreadable database

// One run: `args` are the command-line arguments after the program name. The report goes to `out`;
// usage and database errors go to `err`. Gives the exit status.
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace gearloft::check
