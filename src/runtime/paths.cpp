// gearloft runtime: where the program's files live, and the watched folder the worker was given.
// Every path is put together with the platform's separator.
#include <string>

#include "platform/platform.h"
#include "runtime/paths.h"

namespace gearloft {

namespace {

std::string& WatchedFolderStore() {
  // Never destroyed: the watchdog and the worker may still read it while the process exits.
  static std::string& folder = *new std::string;
  return folder;
}

}  // namespace

std::string ExecutableFolder(const std::string& executable_path) {
  const size_t cut = executable_path.find_last_of("\\/");
  if (cut == std::string::npos) return executable_path;
  return executable_path.substr(0, cut);
}

Paths WatchedFolderPaths(const std::string& watched_folder) {
  const std::string separator = platform::PathSeparator();
  Paths paths;
  paths.watched_folder = watched_folder;
  paths.log_file = watched_folder + separator + "gearloft.log";
  paths.previous_log = paths.log_file + ".1";
  paths.plan_file = watched_folder + separator + "gearloft.plan.sql";
  return paths;
}

Paths PathsFor(const std::string& executable_folder) {
  const std::string separator = platform::PathSeparator();
  const std::string scripts_folder = executable_folder + separator + "scripts";
  Paths paths = WatchedFolderPaths(scripts_folder + separator + "tunebay");
  paths.settings_file = scripts_folder + separator + "gearloft.ini";
  return paths;
}

const std::string& WatchedFolder() {
  return WatchedFolderStore();
}

void SetWatchedFolder(const std::string& folder) {
  WatchedFolderStore() = folder;
}

}  // namespace gearloft
