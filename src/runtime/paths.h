// gearloft runtime: where the program's files live, and the watched folder the worker was given.
#pragma once

#include <string>

namespace gearloft {

// The folder of an executable path: everything before its last "\" or "/"; the whole path without one.
std::string ExecutableFolder(const std::string& executable_path);

struct Paths {
  std::string settings_file;   // <exe folder>\scripts\gearloft.ini
  std::string watched_folder;  // <exe folder>\scripts\tunebay
  std::string log_file;        // watched folder\gearloft.log
  std::string previous_log;    // log file + ".1"
  std::string plan_file;       // watched folder\gearloft.plan.sql
};
Paths PathsFor(const std::string& executable_folder);
// The paths that lie in `watched_folder`, as PathsFor gives them; settings_file is left empty.
Paths WatchedFolderPaths(const std::string& watched_folder);

// Process-wide values set once at start-up.
const std::string& WatchedFolder();
void SetWatchedFolder(const std::string& folder);

}  // namespace gearloft
