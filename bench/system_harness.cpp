// gearloft benchmarks: everything but the scan, measured on the large fixture through the real bridge into
// the simulated game, printed as `name: value` lines, one section per process.

// Usage: gearloft_bench_system compile|apply|idle|reload|reload1000|memory|snapshot [--quick]
// compile: LoadPlan of 1,000 scripts, cold (empty query cache) and warm; apply: ApplyPlan of 10,000 new
// rows against one statement per row; idle, reload, memory: the real worker loop running in this process;
// snapshot: the snapshot of the game's tables.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apply/apply.h"
#include "bench/bench_support.h"
#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/runtime.h"

namespace gearloft::bench {
namespace {

constexpr int kCompileScripts = 1000;  // ten rows each: a 10,000-row plan
constexpr int kIdleScripts = 100;
constexpr int kPollMs = 100;

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

void Print(const char* name, double value, const char* format = "%.2f") {
  std::printf("%s: ", name);
  std::printf(format, value);
  std::printf("\n");
}

void PrintCount(const char* name, uint64_t value) {
  std::printf("%s: %llu\n", name, static_cast<unsigned long long>(value));
}

bool Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  return false;
}

// The large fixture, `scripts` scripts of `kind` in the watched folder, and (when `resolve`) the bridge's
// current object found by the real scan and probe.
bool SetUp(int scripts, ScriptKind kind, bool resolve, Game* game) {
  std::string error;
  const Clock::time_point begin = Clock::now();
  if (!OpenGame(devhost::kLargeFixtureCars, game, &error)) return Fail(error);
  std::fprintf(stderr, "bench: large fixture (%d cars) made in %.0f ms\n", devhost::kLargeFixtureCars,
               MsSince(begin));
  if (!WriteScripts(game->folder, scripts, kind)) return Fail("cannot write the scripts");
  if (resolve && !ResolveDatabase(&error)) return Fail(error);
  return true;
}

Settings WorkerSettings() {
  Settings settings;
  settings.garage_lod = 0;
  settings.first_call_age = 0;
  settings.boot_until = 0;  // no boot re-sends: an idle pass is one with nothing to send
  settings.resend = 1;
  settings.poll_ms = kPollMs;
  return settings;
}

// ---- compile ---------------------------------------------------------------------------------------------

bool RunCompile(bool quick) {
  Game game;
  if (!SetUp(kCompileScripts, ScriptKind::kOneTable, true, &game)) return false;
  const ScriptListing listing = ListScripts();
  if (listing.size() != static_cast<size_t>(kCompileScripts)) return Fail("the listing misses scripts");
  const int rounds = quick ? 2 : 5;
  std::vector<double> cold_ms;
  std::vector<double> warm_ms;
  uint64_t cold_calls = 0;
  uint64_t warm_calls = 0;
  size_t rows = 0;
  for (int round = 0; round < rounds; ++round) {
    ResetQueryCacheForTest();
    uint64_t calls = devhost::CallCount(game.database);
    Clock::time_point begin = Clock::now();
    Plan plan = LoadPlan(listing, PreviousRowIds());
    cold_ms.push_back(MsSince(begin));
    cold_calls = devhost::CallCount(game.database) - calls;
    rows = plan.added_rows.size();

    calls = devhost::CallCount(game.database);
    begin = Clock::now();
    plan = LoadPlan(listing, PreviousRowIds());
    warm_ms.push_back(MsSince(begin));
    warm_calls = std::max(warm_calls, devhost::CallCount(game.database) - calls);
  }
  Print("compile.cold_ms_1000_scripts", Median(cold_ms));
  PrintCount("compile.cold_host_calls", cold_calls);
  Print("compile.warm_ms_1000_scripts", Median(warm_ms));
  PrintCount("compile.warm_host_calls", warm_calls);
  PrintCount("compile.rows", rows);
  CloseGame(&game);
  return rows == 10000;
}

// ---- apply -----------------------------------------------------------------------------------------------

// ApplyPlan without its batching and grouping: each statement and each check is its own call.
bool ApplyOnePerRow(const Plan& plan) {
  for (const std::string& statement : plan.statements) {
    if (!Execute(statement)) return false;
  }
  for (const ReadBackCheck& check : plan.checks) {
    const QueryResult result = Query(check.sql);
    if (!result.ok || result.rows.empty() || result.rows[0].empty() ||
        CellAsDouble(&result.rows[0][0]) != check.want) {
      return false;
    }
  }
  return true;
}

struct ApplyFigures {
  double batched_ms = 0;
  uint64_t batched_calls = 0;
  double resend_ms = 0;
  uint64_t resend_calls = 0;
  double one_per_row_ms = 0;
  uint64_t one_per_row_calls = 0;
  size_t readback_queries = 0;
  size_t tables = 0;
  size_t rows = 0;
};

bool MeasureApply(Game* game, int rounds, ApplyFigures* figures) {
  const ScriptListing listing = ListScripts();
  const Plan plan = LoadPlan(listing, PreviousRowIds());
  figures->rows = plan.added_rows.size();
  std::vector<std::string> tables;
  for (const AddedRow& row : plan.added_rows) {
    if (std::find(tables.begin(), tables.end(), row.table) == tables.end()) tables.push_back(row.table);
  }
  figures->tables = tables.size();
  figures->readback_queries = FinalChecks(plan.checks).size();
  std::string error;
  std::vector<double> batched;
  std::vector<double> resend;
  std::vector<double> single;
  for (int round = 0; round < rounds; ++round) {
    uint64_t calls = devhost::CallCount(game->database);
    Clock::time_point begin = Clock::now();
    if (!ApplyPlan(plan)) return Fail("ApplyPlan missed");
    batched.push_back(MsSince(begin));
    figures->batched_calls = devhost::CallCount(game->database) - calls;

    // The boot window sends the same plan again onto rows that are already there.
    calls = devhost::CallCount(game->database);
    begin = Clock::now();
    if (!ApplyPlan(plan)) return Fail("the re-send missed");
    resend.push_back(MsSince(begin));
    figures->resend_calls = devhost::CallCount(game->database) - calls;
    if (!UndoDirectly(game->database, plan, &error)) return Fail(error);

    calls = devhost::CallCount(game->database);
    begin = Clock::now();
    if (!ApplyOnePerRow(plan)) return Fail("one statement per row missed");
    single.push_back(MsSince(begin));
    figures->one_per_row_calls = devhost::CallCount(game->database) - calls;
    if (!UndoDirectly(game->database, plan, &error)) return Fail(error);
  }
  figures->batched_ms = Median(batched);
  figures->resend_ms = Median(resend);
  figures->one_per_row_ms = Median(single);
  return true;
}

bool RunApply(bool quick) {
  const int rounds = quick ? 2 : 5;
  ApplyFigures one_table;
  {
    Game game;
    if (!SetUp(kCompileScripts, ScriptKind::kOneTable, true, &game)) return false;
    if (!MeasureApply(&game, rounds, &one_table)) return false;
    CloseGame(&game);
  }
  ApplyFigures four_tables;
  {
    Game game;
    if (!SetUp(kCompileScripts, ScriptKind::kFourTables, false, &game)) return false;
    if (!MeasureApply(&game, rounds, &four_tables)) return false;
    CloseGame(&game);
  }
  PrintCount("apply.rows", one_table.rows);
  PrintCount("apply.host_calls_10000_rows", one_table.batched_calls);
  Print("apply.ms_10000_rows", one_table.batched_ms);
  PrintCount("apply.host_calls_one_per_row", one_table.one_per_row_calls);
  Print("apply.ms_one_per_row", one_table.one_per_row_ms);
  Print("apply.call_reduction",
        static_cast<double>(one_table.one_per_row_calls) / static_cast<double>(one_table.batched_calls),
        "%.1f");
  PrintCount("apply.tables_written", one_table.tables);
  PrintCount("apply.readback_queries", one_table.readback_queries);
  PrintCount("apply.resend_host_calls", one_table.resend_calls);
  Print("apply.resend_ms", one_table.resend_ms);
  PrintCount("apply.four_tables.rows", four_tables.rows);
  PrintCount("apply.four_tables.host_calls", four_tables.batched_calls);
  Print("apply.four_tables.ms", four_tables.batched_ms);
  PrintCount("apply.four_tables.host_calls_one_per_row", four_tables.one_per_row_calls);
  Print("apply.four_tables.ms_one_per_row", four_tables.one_per_row_ms);
  Print("apply.four_tables.call_reduction",
        static_cast<double>(four_tables.one_per_row_calls) / static_cast<double>(four_tables.batched_calls),
        "%.1f");
  PrintCount("apply.four_tables.readback_queries", four_tables.readback_queries);
  return one_table.rows == 10000 && four_tables.rows == 10000;
}

// ---- the worker loop in this process ---------------------------------------------------------------------

// The real collaborators, with the watchdog left out (it only sleeps) and `apply_plan` reporting to
// `on_applied` each time a plan reads back.
WorkerDeps RealDeps(std::function<void(const Plan&)> on_applied) {
  WorkerDeps deps = DefaultWorkerDeps();
  deps.start_watchdog = [] { return true; };
  deps.apply_plan = [on_applied](const Plan& plan) {
    const bool ok = ApplyPlan(plan);
    if (ok) on_applied(plan);
    return ok;
  };
  return deps;
}

bool RunIdle(bool quick) {
  Game game;
  if (!SetUp(kIdleScripts, ScriptKind::kOneTable, false, &game)) return false;
  const int passes = quick ? 500 : 3000;
  bool applied = false;
  bool counting = false;
  std::clock_t last_cpu = 0;
  Clock::time_point last_wall;
  std::vector<double> cpu_us;
  std::vector<double> wall_us;
  WorkerDeps deps = RealDeps([&](const Plan&) { applied = true; });
  // Once the plan is applied, every poll sleep ends one idle pass; the sleep itself is skipped so the
  // passes run back to back, and the CPU time between two of them is one pass's.
  deps.sleep_ms = [&](uint32_t milliseconds) {
    if (!applied) {
      platform::SleepMs(milliseconds);
      return;
    }
    const std::clock_t cpu = std::clock();
    const Clock::time_point wall = Clock::now();
    if (counting) {
      cpu_us.push_back(static_cast<double>(cpu - last_cpu) * 1e6 / CLOCKS_PER_SEC);
      wall_us.push_back(std::chrono::duration<double, std::micro>(wall - last_wall).count());
      if (cpu_us.size() == static_cast<size_t>(passes)) RequestWorkerStop();
    }
    counting = true;
    last_cpu = cpu;
    last_wall = wall;
  };
  const uint64_t calls_before = devhost::CallCount(game.database);
  RunWorker(WorkerSettings(), deps);
  ResetWorkerStop();
  double total_cpu = 0;
  for (double value : cpu_us) total_cpu += value;
  Print("idle.pass_cpu_us", cpu_us.empty() ? 0.0 : total_cpu / static_cast<double>(cpu_us.size()), "%.1f");
  Print("idle.pass_cpu_us_median", Median(cpu_us), "%.1f");
  Print("idle.pass_wall_us_median", Median(wall_us), "%.1f");
  PrintCount("idle.passes", cpu_us.size());
  PrintCount("idle.scripts", kIdleScripts);
  // The worker's calls: the probe, the plan's look-ups and its one apply; an idle pass adds none.
  PrintCount("idle.host_calls_total", devhost::CallCount(game.database) - calls_before);
  CloseGame(&game);
  return cpu_us.size() == static_cast<size_t>(passes);
}

// The time from a save to the saved rows read back, in the running worker with poll_ms = 100. The save
// is made as a pass begins its poll sleep, right after it listed the folder: the worst moment, so the
// latency is one poll plus the work of the reload, and the figure over the poll is that work alone.
bool RunReload(bool quick, int scripts, const std::string& prefix) {
  Game game;
  if (!SetUp(scripts, ScriptKind::kOneTable, false, &game)) return false;
  const int saves = quick ? 5 : 20;
  int64_t heap_before_first = 0;
  int64_t heap_after_first = 0;
  std::mutex mutex;
  std::condition_variable changed;
  bool applied_once = false;
  bool save_wanted = false;
  bool save_pending = false;
  int variant = 0;
  Clock::time_point saved_at;
  Clock::time_point reload_begin;
  double reload_ms = 0;
  std::vector<double> latency_ms;
  std::vector<double> reapply_ms;
  std::vector<double> apply_ms;
  Clock::time_point apply_begin;

  WorkerDeps deps = RealDeps([&](const Plan&) {
    std::lock_guard<std::mutex> lock(mutex);
    applied_once = true;
    if (save_pending) {
      latency_ms.push_back(MsSince(saved_at));
      reapply_ms.push_back(reload_ms);
      apply_ms.push_back(MsSince(apply_begin));
      save_pending = false;
    }
    changed.notify_all();
  });
  const WorkerDeps real = deps;
  deps.reapply_in_place = [&](const Plan& old_plan, const ScriptListing& listing, bool rewrite_kept) {
    reload_begin = Clock::now();
    ReapplyResult result = real.reapply_in_place(old_plan, listing, rewrite_kept);
    reload_ms = MsSince(reload_begin);
    apply_begin = Clock::now();
    return result;
  };
  deps.sleep_ms = [&](uint32_t milliseconds) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (save_wanted) {
        save_wanted = false;
        variant = 1 - variant;
        WriteScript(game.folder, 0, ScriptKind::kOneTable, variant);
        saved_at = Clock::now();
        save_pending = true;
      }
    }
    platform::SleepMs(milliseconds);
  };

  std::thread worker([&] { RunWorker(WorkerSettings(), deps); });
  bool ok = true;
  {
    std::unique_lock<std::mutex> lock(mutex);
    ok = changed.wait_for(lock, std::chrono::seconds(120), [&] { return applied_once; });
    for (int i = 0; ok && i < saves; ++i) {
      if (i == 0) heap_before_first = LiveHeapBytes();
      if (i == 1) heap_after_first = LiveHeapBytes();
      save_wanted = true;
      const size_t before = latency_ms.size();
      ok = changed.wait_for(lock, std::chrono::seconds(60), [&] { return latency_ms.size() > before; });
    }
  }
  const int64_t heap_after_last = LiveHeapBytes();
  RequestWorkerStop();
  worker.join();
  ResetWorkerStop();
  if (!ok) return Fail("the worker did not read a saved script back within 60 s");
  const double median = Median(latency_ms);
  auto name = [&](const char* suffix) { return prefix + suffix; };
  Print(name("latency_ms").c_str(), median);
  Print(name("latency_ms_over_poll").c_str(), median - kPollMs);
  Print(name("latency_ms_first").c_str(), latency_ms.front());
  Print(name("latency_ms_max").c_str(), *std::max_element(latency_ms.begin(), latency_ms.end()));
  Print(name("reapply_ms").c_str(), Median(reapply_ms));
  Print(name("apply_ms").c_str(), Median(apply_ms));
  // What the process keeps from the first reload and from each later one (the query cache never forgets).
  Print(name("heap_growth_kib_first_reload").c_str(),
        static_cast<double>(heap_after_first - heap_before_first) / 1024.0, "%.0f");
  Print(name("heap_growth_kib_per_reload").c_str(),
        static_cast<double>(heap_after_last - heap_after_first) / 1024.0 / static_cast<double>(saves - 1),
        "%.1f");
  PrintCount(name("poll_ms").c_str(), kPollMs);
  PrintCount(name("saves").c_str(), latency_ms.size());
  PrintCount(name("scripts").c_str(), static_cast<uint64_t>(scripts));
  CloseGame(&game);
  return true;
}

bool RunMemory() {
  Game game;
  if (!SetUp(kCompileScripts, ScriptKind::kOneTable, false, &game)) return false;
  const long rss_before = ResidentKib();
  const int64_t heap_before = LiveHeapBytes();
  std::mutex mutex;
  std::condition_variable changed;
  size_t rows = 0;
  WorkerDeps deps = RealDeps([&](const Plan& plan) {
    std::lock_guard<std::mutex> lock(mutex);
    rows = plan.added_rows.size();
    changed.notify_all();
  });
  std::thread worker([&] { RunWorker(WorkerSettings(), deps); });
  bool ok = false;
  {
    std::unique_lock<std::mutex> lock(mutex);
    ok = changed.wait_for(lock, std::chrono::seconds(120), [&] { return rows != 0; });
  }
  // A few idle passes, so nothing of the load is still on its way out.
  platform::SleepMs(3 * kPollMs);
  const long rss_holding = ResidentKib();
  const int64_t heap_holding = LiveHeapBytes();
  RequestWorkerStop();
  worker.join();
  ResetWorkerStop();
  if (!ok) return Fail("the worker did not apply the plan within 120 s");
  const int64_t heap_after_worker = LiveHeapBytes();

  // The plan alone: a load answered wholly by the query cache keeps nothing but the plan it returns.
  const ScriptListing listing = ListScripts();
  const int64_t heap_without_plan = LiveHeapBytes();
  const Plan plan = LoadPlan(listing, PreviousRowIds());
  const int64_t plan_bytes = LiveHeapBytes() - heap_without_plan;

  PrintCount("memory.plan_rows", plan.added_rows.size());
  Print("memory.plan_10000_rows_kib", static_cast<double>(plan_bytes) / 1024.0, "%.0f");
  Print("memory.worker_heap_kib", static_cast<double>(heap_holding - heap_before) / 1024.0, "%.0f");
  Print("memory.worker_heap_after_stop_kib", static_cast<double>(heap_after_worker - heap_before) / 1024.0,
        "%.0f");
  if (rss_before >= 0 && rss_holding >= 0) {
    std::printf("memory.worker_rss_kib: %ld\n", rss_holding);
    std::printf("memory.worker_rss_growth_kib: %ld\n", rss_holding - rss_before);
  } else {
    std::printf("memory.worker_rss_kib: n/a\n");
  }
  CloseGame(&game);
  return rows == 10000;
}

// ---- snapshot --------------------------------------------------------------------------------------------

// The snapshot of the game's tables on the large fixture, as the worker writes it once per game start.
bool RunSnapshot(bool quick) {
  Game game;
  if (!SetUp(0, ScriptKind::kOneTable, true, &game)) return false;
  const int rounds = quick ? 2 : 5;
  std::vector<double> ms;
  uint64_t calls = 0;
  SnapshotOutcome outcome;
  for (int round = 0; round < rounds; ++round) {
    const uint64_t before = devhost::CallCount(game.database);
    const Clock::time_point begin = Clock::now();
    outcome = WriteSnapshot(game.folder.string(), Query);
    ms.push_back(MsSince(begin));
    calls = devhost::CallCount(game.database) - before;
    if (!outcome.written || !outcome.missing.empty()) return Fail("the snapshot was not written whole");
  }
  Print("snapshot.ms_5000_cars", Median(ms));
  PrintCount("snapshot.host_calls", calls);
  PrintCount("snapshot.tables", outcome.tables);
  PrintCount("snapshot.rows", outcome.rows);
  PrintCount("snapshot.bytes", outcome.bytes);
  std::error_code ignored;
  PrintCount("snapshot.cars_txt_bytes",
             std::filesystem::file_size(game.folder / "gearloft.cars.txt", ignored));
  CloseGame(&game);
  return outcome.tables == 13;
}

}  // namespace
}  // namespace gearloft::bench

int main(int argc, char** argv) {
  using namespace gearloft::bench;
  const std::string section = argc > 1 ? argv[1] : "";
  const bool quick = argc > 2 && std::strcmp(argv[2], "--quick") == 0;
  bool ok = false;
  if (section == "compile") {
    ok = RunCompile(quick);
  } else if (section == "apply") {
    ok = RunApply(quick);
  } else if (section == "idle") {
    ok = RunIdle(quick);
  } else if (section == "reload") {
    ok = RunReload(quick, 100, "reload.");
  } else if (section == "reload1000") {
    ok = RunReload(quick, 1000, "reload.scripts_1000.");
  } else if (section == "memory") {
    ok = RunMemory();
  } else if (section == "snapshot") {
    ok = RunSnapshot(quick);
  } else {
    std::fprintf(stderr, "usage: %s compile|apply|idle|reload|reload1000|memory|snapshot [--quick]\n",
                 argv[0]);
    return 2;
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
