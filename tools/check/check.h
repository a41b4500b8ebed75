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

// Whether the tool, its run over, waits for Enter before it exits: when it is alone on a console that
// its input reads from, as a program Explorer starts with files dropped on it is, the window would
// close before the player could read the report.
bool WaitsForEnter(int console_processes, bool input_is_console);

}  // namespace gearloft::check
