// gearloft runtime: the one log file every subsystem writes to, and the process age shown in its lines.
#pragma once

#include <string>

#include "runtime/paths.h"

namespace gearloft {

// Moves the log to the previous log (ignoring failure) and opens a fresh one that others may read but
// not write. Logging stays off when it cannot be opened. The worker opens it once; a test that opens it
// again has the earlier stream closed first.
void OpenLog(const Paths& paths);
bool LogIsOpen();
// Test seam: closes the log so a test can open another one.
void CloseLog();

// "%02d:%02d:%02d [%4.0fs] " + message + newline, flushed at once.
// MinGW's C++ runtime formats with its own C99 printf ("%zu", "%llu"), so the check follows that one.
void LogLine(const char* format, ...)
#if defined(__MINGW_PRINTF_FORMAT)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The line prefix for a time of day and a process age in seconds.
std::string FormatLogPrefix(int hour, int minute, int second, double age_seconds);

// Seconds since the game process was created; 0.0 when the creation time cannot be had.
double ProcessAge();

}  // namespace gearloft
