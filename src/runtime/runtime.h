// gearloft runtime: settings, the worker loop and the stuck-call watchdog; the log and the paths have
// headers of their own, included here.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "runtime/log.h"
#include "runtime/paths.h"
#include "scripts/scripts.h"

namespace gearloft {

constexpr const char* kVersion = "0.1.0";

// ---- Settings ------------------------------------------------------------------------------------

struct Settings {
  int32_t garage_lod = 1;       // any value but 0 runs the garage LOD fix at start-up
  int32_t first_call_age = 60;  // seconds of process age before the first database call
  int32_t boot_until = 150;     // seconds of process age until which a sent plan is re-sent
  int32_t resend = 5;           // seconds between probes, between boot re-sends, and after a miss
  int32_t poll_ms = 2000;       // milliseconds between loop passes
  int32_t snapshot = 1;         // any value but 0 writes the snapshot of the game's tables once
};

// Reads garage_lod alone (default 1).
int32_t ReadGarageLod(const std::string& settings_file);
// Reads first_call_age, boot_until, resend and poll_ms in that order, then snapshot, each with its
// current value as the default.
void ReadTimingSettings(const std::string& settings_file, Settings* settings);
// Logs a warning when the settings file begins with a UTF-8 byte-order mark: Windows' profile reader
// takes the mark as part of the first line, so a section header there is not seen.
void WarnOfSettingsByteOrderMark(const std::string& settings_file);

// A timing setting that would make the worker spin (poll_ms below 50, resend below 1) or that counts
// from before the process began (first_call_age, boot_until below 0), as it was read and as it is used.
struct RaisedSetting {
  const char* key;
  int32_t read;
  int32_t used;
};
// Raises each such setting of `settings` to its floor, in reading order, and says which it raised.
std::vector<RaisedSetting> RaiseTimingSettings(Settings* settings);

// ---- Worker loop ------------------------------------------------------------------------------------

// What the loop calls: every collaborator and the clock, replaceable so tests can drive the loop with
// test doubles and a fake clock. DefaultWorkerDeps() binds the real ones.
struct WorkerDeps {
  std::function<uint64_t()> tick_ms;
  std::function<void(uint32_t)> sleep_ms;
  std::function<double()> process_age;
  std::function<std::string()> fix_garage_lod;
  std::function<bool()> scan_for_candidates;
  std::function<size_t()> candidate_count;
  std::function<bool()> has_current;
  std::function<std::string()> describe_candidates;
  std::function<bool(std::string*)> probe_candidates;
  std::function<ScriptListing()> list_scripts;
  std::function<Plan(const ScriptListing&, const PreviousRowIds&)> load_plan;
  // The plan in force, the new listing, and whether every kept row must be rewritten (the tables are not
  // known to hold the plan in force since a re-apply could not be taken back).
  std::function<ReapplyResult(const Plan&, const ScriptListing&, bool)> reapply_in_place;
  std::function<bool(const Plan&)> apply_plan;
  std::function<void()> clear_current;
  std::function<bool()> start_watchdog;
  // Once per process, after the first probe that answers and before the first apply, unless the
  // snapshot setting is 0. May be empty.
  std::function<void()> take_snapshot;
};
WorkerDeps DefaultWorkerDeps();

// The worker's start-up up to the loop, with no thread started: reads garage_lod and runs
// deps.fix_garage_lod unless it is 0, works out and creates the watched folder, opens the log, reads the
// timing settings, writes the banner and then the garage message. Gives the settings read.
Settings PrepareWorker(const std::string& executable_path, const WorkerDeps& deps);

// The start-up sequence after paths, settings and log (signature wait, age wait, watchdog) and then
// the main loop. Returns only after RequestWorkerStop.
void RunWorker(const Settings& settings, const WorkerDeps& deps);

// Thread entry of the real worker: PrepareWorker on the game's executable, then RunWorker.
void WorkerMain(void* unused);

// Asks the worker loop and the watchdog to return at their next check. The DLL itself never calls it;
// in-process tests and the simulated game do.
void RequestWorkerStop();
bool WorkerStopRequested();
void ResetWorkerStop();

// ---- Call marker and watchdog -----------------------------------------------------------------------

struct CallMarker {
  std::atomic<const char*> name{""};
  std::atomic<uint64_t> start_tick{0};  // 0: no call in progress
};
CallMarker& TheCallMarker();

// One check of the watchdog: reports a call that has run for more than 10 s, once per start tick.
// `last_reported` is the watchdog's own state.
void WatchdogCheck(const CallMarker& marker, uint64_t now_ms, uint64_t* last_reported);
// WatchdogCheck on `marker` every 5000 ms of `sleep_ms` until RequestWorkerStop.
void RunWatchdog(const CallMarker& marker, const std::function<uint64_t()>& tick_ms,
                 const std::function<void(uint32_t)>& sleep_ms);
// Thread entry: RunWatchdog on TheCallMarker with the real clock.
void WatchdogMain(void* unused);

}  // namespace gearloft
