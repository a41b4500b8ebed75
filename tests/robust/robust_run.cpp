// gearloft robustness tests: runs of the real worker loop on a fake clock inside the simulated game, the
// script folder changed between passes, the tables dumped at the end of every step.
#include "robust_run.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "hostdb/hostdb.h"
#include "runtime/runtime.h"
#include "support/support.h"
#include "support/tables.h"

namespace gearloft::robust {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kClockStart = 1000000;  // the tick count of a machine that has been up a while
constexpr uint32_t kWatchdogPeriodMs = 5000;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) throw std::logic_error("the example no longer holds \"" + from + "\"");
  return text.replace(at, from.size(), to);
}

// The fixture, made once; every run starts from a copy of it.
sqlite3* FixtureTemplate() {
  static sqlite3* const connection = [] {
    sqlite3* made = nullptr;
    sqlite3_open(":memory:", &made);
    std::string error;
    if (!devhost::CreateFixture(made, devhost::FixtureOptions{}, &error)) throw std::runtime_error(error);
    return made;
  }();
  return connection;
}

sqlite3* FreshFixture() {
  sqlite3* connection = nullptr;
  sqlite3_open(":memory:", &connection);
  sqlite3_backup* backup = sqlite3_backup_init(connection, "main", FixtureTemplate(), "main");
  if (backup == nullptr || sqlite3_backup_step(backup, -1) != SQLITE_DONE) {
    throw std::runtime_error(std::string("cannot copy the fixture: ") + sqlite3_errmsg(connection));
  }
  sqlite3_backup_finish(backup);
  return connection;
}

// Only the statements the worker sent count; the test's own dumps are left out.
bool& Dumping() {
  static bool dumping = false;
  return dumping;
}

int RecordCall(unsigned kind, void* context, void*, void* text) {
  const char* sql = static_cast<const char*>(text);
  if (kind == SQLITE_TRACE_STMT && sql != nullptr && !Dumping() && std::string(sql).rfind("--", 0) != 0) {
    static_cast<std::vector<std::string>*>(context)->push_back(sql);
  }
  return 0;
}

std::vector<std::string> Column(sqlite3* connection, const std::string& sql) {
  std::vector<std::string> values;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    return {std::string("cannot run ") + sql + ": " + sqlite3_errmsg(connection)};
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    values.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  sqlite3_finalize(statement);
  return values;
}

// Everything one run shares with the hooks the worker and the game call.
struct Session {
  RunOptions options;
  RunResult result;
  sqlite3* connection = nullptr;
  devhost::Database* database = nullptr;
  fs::path folder;
  uint64_t now = kClockStart;
  uint64_t last_stuck_report = 0;
  fs::file_time_type next_stamp;
  size_t step = 0;
  int sleeps = 0;
  int sleeps_in_phase = 0;
  bool recovering = false;
};

Session*& Active() {
  static Session* active = nullptr;
  return active;
}

// A blocked call: the fake clock runs on while the worker is still inside it, and the watchdog looks
// at the call marker every 5 s as its thread would.
void BlockOnFakeClock(uint32_t milliseconds) {
  Session* session = Active();
  if (TheCallMarker().start_tick.load() != 0) session->result.watched_call_blocked = true;
  for (uint32_t passed = 0; passed < milliseconds;) {
    const uint32_t step =
        milliseconds - passed < kWatchdogPeriodMs ? milliseconds - passed : kWatchdogPeriodMs;
    session->now += step;
    passed += step;
    WatchdogCheck(TheCallMarker(), session->now, &session->last_stuck_report);
  }
}

void StopFaults(Session* session) {
  devhost::SetKnobs(session->database, devhost::Knobs{});
  devhost::SetGameDatabase(session->database);
}

void OnSleep(Session* session, uint32_t milliseconds) {
  session->now += milliseconds;
  ++session->sleeps;
  // A global the game emptied once is back by the next pass.
  if (session->options.fault.kind == devhost::CallFault::kGlobalGone && !session->options.fault.onwards &&
      !session->recovering) {
    devhost::SetGameDatabase(session->database);
  }
  if (session->options.on_sleep) session->options.on_sleep(session->sleeps);
  const int budget =
      session->recovering ? session->options.recovery_sleeps : session->options.sleeps_per_step;
  if (++session->sleeps_in_phase < budget) return;
  session->sleeps_in_phase = 0;
  if (session->recovering) {
    RequestWorkerStop();
    return;
  }
  session->result.step_tables.push_back(DumpTables(session->connection));
  if (++session->step < session->options.steps.size()) {
    SaveScripts(session->options.steps[session->step]);
    if (session->options.on_step) session->options.on_step(session->step);
    return;
  }
  session->result.sequence_calls = devhost::CallCount(session->database);
  StopFaults(session);
  session->recovering = true;
  if (session->options.save_after_faults) {
    // The recorded calls are the sequence's: a fault is injected only there.
    if (session->options.record_calls) sqlite3_trace_v2(session->connection, 0, nullptr, nullptr);
    ScriptSet saved_again = session->options.steps.back();
    saved_again["zz_saved_again.ini"] = "; saved once more after the faults ended\n";
    SaveScripts(saved_again);
  }
}

}  // namespace

ScriptSet ExampleScripts() {
  ScriptSet scripts;
  for (const auto& entry : fs::directory_iterator(fs::path(GEARLOFT_SOURCE_DIR) / "examples" / "tunebay")) {
    if (entry.path().extension() == ".ini")
      scripts[entry.path().filename().string()] = test::ReadWhole(entry.path());
  }
  return scripts;
}

ScriptSet EditedScripts() {
  ScriptSet scripts = ExampleScripts();
  // One front rim kept, one rewritten, one new; the rear track rows dropped.
  scripts["kestrel_gt.ini"] =
      Replace(Replace(scripts["kestrel_gt.ini"], "rim_sizes_front = 18, 19", "rim_sizes_front = 18, 20, 21"),
              "track_spacings_rear = 0.03, 0.04", "");
  // A changed stock value and a stock edit taken out.
  scripts["stock_wheels.ini"] =
      Replace(Replace(scripts["stock_wheels.ini"], "width_front_stock = 245", "width_front_stock = 250"),
              "profile_stock = -5", "");
  // The first bonnet row changes its Sequence, the second is dropped.
  scripts["looks.ini"] = Replace(scripts["looks.ini"], "hood_options = 2, 3", "hood_options = 3");
  scripts.erase("rim_levels.ini");
  scripts["zz_added.ini"] = "[42]\nrim_sizes = 20\ntrack_spacings_front = 0.02\n";
  return scripts;
}

std::vector<ScriptSet> ExampleSequence() {
  return {ExampleScripts(), EditedScripts(), ScriptSet()};
}

std::string DumpTables(sqlite3* connection) {
  Dumping() = true;
  std::string dump;
  for (const std::string& table :
       Column(connection, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    dump += "table " + table + "\n";
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      dump += std::string("cannot read: ") + sqlite3_errmsg(connection) + "\n";
      continue;
    }
    const int width = sqlite3_column_count(statement);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int j = 0; j < width; ++j) row += (j == 0 ? "" : "|") + test::CellText(statement, j);
      dump += row + "\n";
    }
    sqlite3_finalize(statement);
  }
  Dumping() = false;
  return dump;
}

std::set<std::string> RowSet(const std::string& dump) {
  std::set<std::string> rows;
  std::istringstream in(dump);
  std::string table;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("table ", 0) == 0) {
      table = line.substr(6);
    } else {
      rows.insert(table + ": " + line);
    }
  }
  return rows;
}

std::string IntegrityCheck(sqlite3* connection) {
  Dumping() = true;
  std::string joined;
  for (const std::string& line : Column(connection, "PRAGMA integrity_check")) {
    joined += (joined.empty() ? "" : "\n") + line;
  }
  Dumping() = false;
  return joined;
}

std::string DumpDifference(const std::string& want, const std::string& got) {
  const std::vector<std::string> a = test::TextLines(want);
  const std::vector<std::string> b = test::TextLines(got);
  std::string shown;
  int differences = 0;
  std::string table;
  for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::string left = i < a.size() ? a[i] : "<end>";
    const std::string right = i < b.size() ? b[i] : "<end>";
    if (left.rfind("table ", 0) == 0) table = left;
    if (left == right) continue;
    if (++differences > 6) break;
    shown += "  in " + table + ":\n    want " + left + "\n    got  " + right + "\n";
  }
  return shown;
}

bool IsFailureLine(const std::string& message) {
  for (const char* prefix : {"ERROR", "WARNING", "STUCK: ", "exec failed: ", "read-back miss: ",
                             "DB not answering yet (", "rows not visible after apply"}) {
    if (message.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

sqlite3* RunningConnection() {
  return Active() != nullptr ? Active()->connection : nullptr;
}

devhost::Database* RunningDatabase() {
  return Active() != nullptr ? Active()->database : nullptr;
}

std::string RunningFolder() {
  return Active() != nullptr ? Active()->folder.string() : std::string();
}

void StampAsSaved(const std::string& path) {
  Session* session = Active();
  // Saves a second apart, as a person makes them: the listing's stamp then always changes.
  session->next_stamp += std::chrono::seconds(1);
  fs::last_write_time(path, session->next_stamp);
}

void SaveScripts(const ScriptSet& scripts) {
  Session* session = Active();
  for (const auto& entry : fs::directory_iterator(session->folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".ini" && scripts.count(name) == 0) fs::remove(entry.path());
  }
  for (const auto& script : scripts) {
    const fs::path path = session->folder / script.first;
    if (fs::exists(path) && test::ReadWhole(path) == script.second) continue;
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << script.second;
    }
    StampAsSaved(path.string());
  }
}

RunResult RunSequence(const RunOptions& options) {
  Session session;
  session.options = options;
  std::random_device random;
  session.folder = fs::temp_directory_path() /
                   ("gearloft-robust-" + std::to_string(random()) + "-" + std::to_string(random()));
  fs::create_directories(session.folder);
  session.next_stamp = fs::last_write_time(session.folder);
  session.connection = FreshFixture();
  if (options.record_calls)
    sqlite3_trace_v2(session.connection, SQLITE_TRACE_STMT, RecordCall, &session.result.calls);
  session.database = devhost::WrapDatabase(session.connection);
  Active() = &session;

  devhost::Knobs knobs;
  knobs.call_fault = options.fault.kind;
  knobs.fault_at_call = options.fault.call;
  knobs.fault_onwards = options.fault.onwards;
  knobs.call_block_ms = 16000;  // past the watchdog's 10 s, seen at its check at 15 s
  knobs.block_wait = BlockOnFakeClock;
  devhost::SetKnobs(session.database, knobs);

  // A fresh process: no object chosen yet, nothing cached, no plan loaded.
  devhost::SetGameDatabase(session.database);
  const uintptr_t global =
      options.global_override != 0 ? options.global_override : devhost::GameGlobalAddress();
  SetCandidatesForTest({global});
  SetCurrentForTest(0);
  ResetQueryCacheForTest();
  PlanGeneration = 0;
  ResetWorkerStop();
  TheCallMarker().start_tick.store(0);
  SetWatchedFolder(session.folder.string());
  Paths paths;
  paths.log_file = (session.folder / "gearloft.log").string();
  paths.previous_log = paths.log_file + ".1";
  OpenLog(paths);
  SaveScripts(options.steps.empty() ? ScriptSet() : options.steps[0]);
  if (options.on_step) options.on_step(0);

  Settings settings;
  settings.garage_lod = 0;
  settings.first_call_age = 0;
  settings.boot_until = 0;  // no boot re-sends: every call of the sequence comes from a load or a change
  settings.resend = 5;
  settings.poll_ms = 2000;
  settings.snapshot = options.snapshot ? 1 : 0;
  WorkerDeps deps = DefaultWorkerDeps();
  deps.tick_ms = [&session] { return session.now; };
  deps.sleep_ms = [&session](uint32_t milliseconds) { OnSleep(&session, milliseconds); };
  deps.process_age = [] { return 1000.0; };
  // The candidate list is set above; scanning this executable's code would find the same global.
  deps.scan_for_candidates = [] { return true; };
  // The watchdog's checks run inside blocked calls, on the fake clock.
  deps.start_watchdog = [] { return true; };
  if (options.on_start) options.on_start();
  RunWorker(settings, deps);

  if (!session.recovering) session.result.sequence_calls = devhost::CallCount(session.database);
  session.result.final_tables = DumpTables(session.connection);
  session.result.integrity = IntegrityCheck(session.connection);
  session.result.faults_injected = devhost::CallFaultsInjected(session.database);
  CloseLog();
  for (const std::string& line : test::TextLines(test::ReadWhole(paths.log_file))) {
    const size_t end = line.find("s] ");
    session.result.log.push_back(end == std::string::npos ? line : line.substr(end + 3));
  }

  Active() = nullptr;
  ResetWorkerStop();
  SetCurrentForTest(0);
  SetCandidatesForTest({});
  devhost::SetGameDatabase(nullptr);
  if (options.record_calls) sqlite3_trace_v2(session.connection, 0, nullptr, nullptr);
  devhost::CloseDatabase(session.database);
  sqlite3_close(session.connection);
  std::error_code ignored;
  fs::remove_all(session.folder, ignored);
  return session.result;
}

}  // namespace gearloft::robust
