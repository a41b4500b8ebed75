// gearloft robustness tests: std::bad_alloc at allocation n of the worker's load + apply (and of a
// re-apply in place), for n = 1, 2, ... until the pass completes; once, and as memory that stays
// exhausted until the worker sleeps. GEARLOFT_ROBUST_FULL=1 runs every n; otherwise every 499th. Run under
// AddressSanitizer, whose leak check at exit covers every case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "allocation_failure.h"
#include "devhost/host_layout.h"
#include "robust_run.h"

namespace gearloft::robust {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kCiStride = 499;

bool FullRun() {
  const char* full = std::getenv("GEARLOFT_ROBUST_FULL");
  return full != nullptr && std::string(full) == "1";
}

// The game's object behind a front of the test's own: the same ExecuteQuery, with the game's own
// allocations (SQLite's, its result objects) left out of the count. Only the worker's allocations fail.
struct GameFront {
  const devhost::HostVtable* vtable;
  devhost::Database* game;
};

void* GEARLOFT_HOSTCALL UncountedExecuteQuery(void* self, void** result_slot, const char* sql) {
  UncountedAllocations game_side;
  devhost::Database* game = static_cast<GameFront*>(self)->game;
  const auto* object = reinterpret_cast<const devhost::HostObject*>(game);
  return object->vtable->execute_query(game, result_slot, sql);
}

const devhost::HostVtable kFrontTable = {{}, &UncountedExecuteQuery};
GameFront g_front = {&kFrontTable, nullptr};
void* g_front_global = &g_front;

// What the process holds open (files, folders, pipes), where the system lists it; empty where it does not.
// Only what a case adds counts: a handle the runtime closes meanwhile is no leak.
std::vector<std::string> OpenHandles() {
  std::vector<std::string> handles;
  std::error_code error;
  for (fs::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code unreadable;
    const fs::path target = fs::read_symlink(entry->path(), unreadable);
    // The listing's own handle is new each time.
    if (target.parent_path().filename() != "fd") handles.push_back(target.string());
  }
  std::sort(handles.begin(), handles.end());
  return handles;
}

struct Outcome {
  RunResult run;
  bool thrown = false;
  uint64_t counted = 0;
};

// One run of `steps` whose allocation `fail_at` (0: none) throws, and with `onwards` every later one,
// counted from the moment the worker starts (`window_step` 0) or from the save of that step, up to the
// worker's next sleep.
Outcome RunFailingAt(const std::vector<ScriptSet>& steps, size_t window_step, uint64_t fail_at,
                     bool onwards) {
  Outcome outcome;
  bool armed = false;
  RunOptions options;
  options.steps = steps;
  options.global_override = reinterpret_cast<uintptr_t>(&g_front_global);
  options.on_start = [&] {
    g_front.game = RunningDatabase();
    if (window_step == 0) {
      ArmAllocationFailure(fail_at, onwards);
      armed = true;
    }
  };
  options.on_step = [&](size_t step) {
    if (step != 0 && step == window_step) {
      ArmAllocationFailure(fail_at, onwards);
      armed = true;
    }
  };
  options.on_sleep = [&](int) {
    if (!armed) return;
    DisarmAllocationFailure();
    armed = false;
    outcome.thrown = AllocationFailureThrown();
    outcome.counted = CountedAllocations();
  };
  outcome.run = RunSequence(options);
  return outcome;
}

int Count(const std::vector<std::string>& log, const std::string& line) {
  int count = 0;
  for (const std::string& message : log) count += message == line ? 1 : 0;
  return count;
}

// n = 1, 1 + stride, ... until a run gets through its pass without the allocation n happening. The
// number of allocations in a pass varies by a few from run to run (the bridge reads the process's memory
// map, which grows and shrinks), so the end is found, not computed.
void FailEveryAllocation(const char* what, const std::vector<ScriptSet>& steps, size_t window_step,
                         bool onwards) {
  const Outcome clean = RunFailingAt(steps, window_step, 0, false);
  ASSERT_EQ(clean.run.integrity, "ok");
  ASSERT_GT(clean.counted, 0u);
  const uint64_t stride = FullRun() ? 1 : kCiStride;
  const std::vector<std::string> handles = OpenHandles();
  int run_cases = 0;
  int survived = 0;
  uint64_t completed_at = 0;
  for (uint64_t n = 1; completed_at == 0 && n <= 2 * clean.counted + 100; n += stride) {
    const Outcome outcome = RunFailingAt(steps, window_step, n, onwards);
    ++run_cases;
    std::string problems;
    if (!outcome.thrown) {
      completed_at = n;
    } else {
      // Out of memory inside one script fails that script by name, and it is read again next pass;
      // anywhere else the pass ends with one ERROR line and is run again.
      int in_a_script = 0;
      for (const std::string& line : outcome.run.log) {
        const std::string tail = ": out of memory while loading it - file skipped";
        if (line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
          ++in_a_script;
      }
      const int whole_pass = Count(outcome.run.log, "ERROR: std::bad_alloc");
      if (whole_pass > 1 || (whole_pass == 0 && in_a_script == 0)) {
        problems += "no single \"ERROR: std::bad_alloc\" line and no script named as out of memory\n";
      }
    }
    if (outcome.run.integrity != "ok") problems += "integrity_check: " + outcome.run.integrity + "\n";
    if (outcome.run.final_tables != clean.run.final_tables) {
      problems += "the next passes did not bring the tables to where a run without the failure does:\n" +
                  DumpDifference(clean.run.final_tables, outcome.run.final_tables);
    }
    std::string left_open;
    for (const std::string& handle : OpenHandles()) {
      if (std::find(handles.begin(), handles.end(), handle) == handles.end()) left_open += " " + handle;
    }
    if (!left_open.empty()) problems += "left open:" + left_open + "\n";
    if (problems.empty()) {
      ++survived;
      continue;
    }
    std::string log;
    for (const std::string& line : outcome.run.log) log += "    " + line + "\n";
    ADD_FAILURE() << what << (onwards ? ", every allocation from " : ", allocation ") << n << ":\n"
                  << problems << "  log:\n"
                  << log;
  }
  EXPECT_NE(completed_at, 0u) << "no run got through the pass";
  std::printf(
      "[ robust   ] out of memory in %s (%s): about %llu allocation(s) in the pass; %d case(s) run "
      "(n = 1..%llu, stride %llu), %d survived\n",
      what, onwards ? "allocation n and every later one fail" : "allocation n fails",
      static_cast<unsigned long long>(clean.counted), run_cases,
      static_cast<unsigned long long>(completed_at), static_cast<unsigned long long>(stride), survived);
  EXPECT_EQ(survived, run_cases);
}

TEST(OutOfMemory, EveryAllocationOfALoadAndApplyIsSurvived) {
  FailEveryAllocation("a load and an apply", {ExampleScripts()}, 0, false);
}

TEST(OutOfMemory, ExhaustedMemoryFromAnyAllocationOfALoadAndApplyIsSurvived) {
  FailEveryAllocation("a load and an apply", {ExampleScripts()}, 0, true);
}

TEST(OutOfMemory, EveryAllocationOfAReapplyInPlaceIsSurvived) {
  FailEveryAllocation("a re-apply in place", {ExampleScripts(), EditedScripts()}, 1, false);
}

TEST(OutOfMemory, ExhaustedMemoryFromAnyAllocationOfAReapplyInPlaceIsSurvived) {
  FailEveryAllocation("a re-apply in place", {ExampleScripts(), EditedScripts()}, 1, true);
}

}  // namespace
}  // namespace gearloft::robust
