// gearloft runtime: the real worker thread, with every collaborator of the loop bound to its subsystem.
// Part of the worker and runtime layer; linked only into the library the game loads.
#include <exception>
#include <string>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "garage/garage.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "scripts/scripts.h"

namespace gearloft {

WorkerDeps DefaultWorkerDeps() {
  WorkerDeps deps;
  deps.tick_ms = platform::TickCountMs;
  deps.sleep_ms = platform::SleepMs;
  deps.process_age = ProcessAge;
  deps.fix_garage_lod = FixGarageLod;
  deps.scan_for_candidates = ScanForCandidates;
  deps.candidate_count = CandidateCount;
  deps.has_current = HasCurrent;
  deps.describe_candidates = DescribeCandidates;
  deps.probe_candidates = ProbeCandidates;
  deps.list_scripts = ListScripts;
  deps.load_plan = LoadPlan;
  deps.reapply_in_place = ReapplyInPlace;
  deps.apply_plan = ApplyPlan;
  deps.clear_current = ClearCurrent;
  deps.start_watchdog = [] { return platform::StartThread(WatchdogMain, nullptr); };
  deps.take_snapshot = TakeSnapshot;
  return deps;
}

void WorkerMain(void* /*unused*/) {
  // Nothing may leave a thread entry: inside the game an escaping exception would end the process.
  try {
    const WorkerDeps deps = DefaultWorkerDeps();
    const Settings settings = PrepareWorker(platform::ExecutablePath(), deps);
    RunWorker(settings, deps);
  } catch (const std::exception& error) {
    LogLine("ERROR: %s", error.what());
  } catch (...) {
    LogLine("ERROR: unknown exception");
  }
}

}  // namespace gearloft
