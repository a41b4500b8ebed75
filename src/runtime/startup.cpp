// gearloft runtime: the worker's start-up before its waits: settings, the garage fix, the watched
// folder, the log and the banner. Part of the worker and runtime layer.
#include <string>

#include "platform/platform.h"
#include "runtime/runtime.h"

namespace gearloft {

Settings PrepareWorker(const std::string& executable_path, const WorkerDeps& deps) {
  const Paths paths = PathsFor(ExecutableFolder(executable_path));
  Settings settings;
  settings.garage_lod = ReadGarageLod(paths.settings_file);
  // The fix runs before the log exists, so its outcome is kept and logged after the banner.
  std::string garage_message;
  if (settings.garage_lod != 0) garage_message = deps.fix_garage_lod();

  SetWatchedFolder(paths.watched_folder);
  // Only the last level is made: no scripts folder means no log, and the worker runs on regardless.
  platform::CreateDirectoryOneLevel(paths.watched_folder);
  OpenLog(paths);
  ReadTimingSettings(paths.settings_file, &settings);
  LogLine("gearloft %s - watching %s (first DB call at %ds, boot re-send until %ds)", kVersion,
          WatchedFolder().c_str(), static_cast<int>(settings.first_call_age),
          static_cast<int>(settings.boot_until));
  WarnOfSettingsByteOrderMark(paths.settings_file);
  if (!garage_message.empty()) LogLine("%s", garage_message.c_str());
  return settings;
}

}  // namespace gearloft
