// gearloft robustness tests: the real worker loop with its real collaborators, on a fake clock, inside
// the simulated game, run through a sequence of script folder states while the game misbehaves.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devhost/devhost.h"

struct sqlite3;

namespace gearloft::robust {

// File name to content.
using ScriptSet = std::map<std::string, std::string>;

// examples/tunebay/*.ini as committed.
ScriptSet ExampleScripts();
// The examples after a user's edit: kept, changed, dropped and new rows, a changed stock value, a
// deleted file and a new one.
ScriptSet EditedScripts();

// The load + apply, edit + re-apply, delete-all sequence over the examples.
std::vector<ScriptSet> ExampleSequence();

// A whole-database dump, one line per row, tables by name and rows by rowid, each cell with its storage
// class ("integer:7", "real:0.10000000000000001", "text:Sport_A", "null").
std::string DumpTables(sqlite3* connection);
// What PRAGMA integrity_check answers, its rows joined by "\n" ("ok" for a sound database).
std::string IntegrityCheck(sqlite3* connection);
// The first lines where two dumps differ, for a failure message.
std::string DumpDifference(const std::string& want, const std::string& got);
// Each row of a dump as "table: cells", for comparing two dumps whatever their row order.
std::set<std::string> RowSet(const std::string& dump);

struct InjectedFault {
  devhost::CallFault kind = devhost::CallFault::kNone;
  uint64_t call = 0;     // the host call that misbehaves first (1 = the first call)
  bool onwards = false;  // and every later one until the sequence ends
};

// How a run is driven. The worker gets `sleeps_per_step` sleeps after each folder change, then the
// next state is saved; after the last one, faults stop and `recovery_sleeps` more follow.
struct RunOptions {
  std::vector<ScriptSet> steps = ExampleSequence();
  InjectedFault fault;
  int sleeps_per_step = 8;
  int recovery_sleeps = 8;
  bool record_calls = false;  // keep each call's statement text (for the clean run)
  // When the faults stop, the player saves once more (a comment-only script is added): a worker that
  // held after three misses takes the folder up again only on a change.
  bool save_after_faults = false;
  bool snapshot = false;  // the snapshot of the game's tables after the first probe that answers
  // When set, the bridge reaches the game through this global instead of the game's own one (a test
  // may put an object of its own in front of the game's).
  uintptr_t global_override = 0;
  // Called on the worker's thread at every sleep, with the number of sleeps so far, before the
  // sequence moves on.
  std::function<void(int sleep)> on_sleep;
  // Called on the worker's thread after each save of a folder state, with the step's index.
  std::function<void(size_t step)> on_step;
  // Called on the worker's thread just before the worker loop starts.
  std::function<void()> on_start;
};

struct RunResult {
  std::vector<std::string> step_tables;  // a dump at the end of each step's sleeps
  std::string final_tables;              // after the recovery sleeps
  std::string integrity;
  std::vector<std::string> log;    // the worker's messages, without their time and age prefix
  std::vector<std::string> calls;  // with record_calls: the statement of each call, in call order
  uint64_t sequence_calls = 0;     // host calls made before the recovery sleeps began
  uint64_t faults_injected = 0;
  bool watched_call_blocked = false;  // a blocked call was one the watchdog watches
};

// Runs the worker loop (RunWorker with DefaultWorkerDeps, its clock, sleep and process age replaced,
// the signature scan answered by the candidate list set here) over a fresh copy of the fixture in a
// fresh watched folder, as a fresh process would. A blocked call passes its time on the fake clock,
// the watchdog checking every 5 s of it.
RunResult RunSequence(const RunOptions& options);

// The database of the run in progress (null outside a run), for checks made from `on_sleep`.
sqlite3* RunningConnection();
devhost::Database* RunningDatabase();
// Writes `scripts` into the watched folder of the run in progress as a user saves them: files whose
// content changed are rewritten, missing ones deleted, each save stamped one second after the last.
void SaveScripts(const ScriptSet& scripts);
// The watched folder of the run in progress.
std::string RunningFolder();
// The next save stamp, for a test that writes files itself.
void StampAsSaved(const std::string& path);

// True for the lines the worker writes when something failed.
bool IsFailureLine(const std::string& message);

}  // namespace gearloft::robust
