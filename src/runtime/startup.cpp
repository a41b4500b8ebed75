// gearloft runtime: the worker's start-up before its waits: settings, the garage fix, the watched
// folder, the log and the banner. Part of the worker and runtime layer.
#include <string>
#include <vector>

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
  // A player who copied only the library has no scripts folder yet: both levels are made, so there is a
  // log to tell them where their scripts go. Either may exist already; the log's open says the rest.
  platform::CreateDirectoryOneLevel(ExecutableFolder(paths.watched_folder));
  platform::CreateDirectoryOneLevel(paths.watched_folder);
  OpenLog(paths);
  ReadTimingSettings(paths.settings_file, &settings);
  const std::vector<RaisedSetting> raised = RaiseTimingSettings(&settings);
  LogLine("gearloft %s - watching %s (first DB call at %ds, boot re-send until %ds)", kVersion,
          WatchedFolder().c_str(), static_cast<int>(settings.first_call_age),
          static_cast<int>(settings.boot_until));
  WarnOfSettingsByteOrderMark(paths.settings_file);
  if (!garage_message.empty()) LogLine("%s", garage_message.c_str());
  for (const RaisedSetting& setting : raised) {
    LogLine("WARNING: %s = %d in scripts\\gearloft.ini is used as %d", setting.key,
            static_cast<int>(setting.read), static_cast<int>(setting.used));
  }
  return settings;
}

}  // namespace gearloft
