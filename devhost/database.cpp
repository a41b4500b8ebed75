// gearloft simulated game: the CDatabase object. ExecuteQuery runs exactly the SQL it is sent on SQLite
// and answers in the game's result layout, misbehaving on demand through the knobs.
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "devhost/devhost.h"
#include "devhost/host_layout.h"
#include "platform/testing.h"

// dirty_cpu_x64.S
extern "C" void GEARLOFT_HOSTCALL gearloft_devhost_dirty_fault(volatile uint8_t* page);
extern "C" uint64_t GEARLOFT_HOSTCALL gearloft_devhost_cpu_state();

namespace gearloft::devhost {

struct DatabaseState {
  sqlite3* connection = nullptr;
  bool owns_connection = false;
  std::atomic<uint64_t> calls{0};
  std::atomic<uint64_t> faults_injected{0};
  // Serialises SQLite work, the knobs and the result store: the game's own thread and the worker
  // thread call the same object.
  std::mutex mutex;
  Knobs knobs;
  bool blocked = false;
  uint64_t fault_on_hits = 0;  // matching statements faulted since the knobs were set
  // The direction flag, MXCSR and x87 control word each calling thread brought to its first call, and
  // how many later calls brought other ones: a caller that caught a fault and kept the faulting state.
  std::map<std::thread::id, uint64_t> first_cpu_state;
  uint64_t cpu_state_changes = 0;
  // Each thread's last result stays alive until that thread's next call, so a caller can copy it.
  std::map<std::thread::id, std::unique_ptr<BuiltResult>> results;
};

struct Database {
  const HostVtable* vtable;  // first, as in every object of the game's classes
  DatabaseState* state;
};

namespace {

constexpr uint8_t kTagBlob = 5;  // the game has no blob cells; any unknown tag reads as NULL
constexpr size_t kOversizeColumns = 4096;
constexpr size_t kOversizeRows = 1000000;

enum class Fault { kNone, kAccessViolation, kDirtyCpu, kThrow };

// What one call must do besides running its SQL; plain data, so a fault raised afterwards leaves
// nothing to unwind.
struct Decision {
  uint32_t block_seconds;
  Fault fault;
  bool oversize;
  Oversize oversize_kind;
  bool huge_text;
  CallFault call_fault;
  uint32_t call_block_ms;
  void (*block_wait)(uint32_t milliseconds);
};

bool Matches(const std::string& pattern, const char* sql) {
  return !pattern.empty() && std::string(sql).find(pattern) != std::string::npos;
}

// Appends one received statement to the trace file; the byte count keeps a statement with a line
// break in it whole.
void Trace(const std::string& path, const char* sql) {
  std::FILE* file = platform::OpenFile(path, "ab", platform::Share::kDenyNone);
  if (file == nullptr) return;
  const size_t length = std::char_traits<char>::length(sql);
  const std::string count = std::to_string(length) + " ";
  std::fwrite(count.data(), 1, count.size(), file);
  std::fwrite(sql, 1, length, file);
  std::fputc('\n', file);
  std::fclose(file);
}

Decision Decide(DatabaseState* state, const char* sql, uint64_t call, uint64_t cpu_state) {
  std::lock_guard<std::mutex> lock(state->mutex);
  const auto first = state->first_cpu_state.emplace(std::this_thread::get_id(), cpu_state).first;
  if (first->second != cpu_state) ++state->cpu_state_changes;
  const Knobs& knobs = state->knobs;
  if (!knobs.trace_path.empty()) Trace(knobs.trace_path, sql);
  Decision decision{
      0, Fault::kNone, false, knobs.oversize, false, CallFault::kNone, knobs.call_block_ms, knobs.block_wait};
  if (knobs.call_fault != CallFault::kNone && knobs.fault_at_call != 0 &&
      (call == knobs.fault_at_call || (knobs.fault_onwards && call > knobs.fault_at_call))) {
    decision.call_fault = knobs.call_fault;
    state->faults_injected.fetch_add(1);
  }
  if (knobs.block_seconds != 0 && !state->blocked &&
      (knobs.block_on.empty() || Matches(knobs.block_on, sql))) {
    state->blocked = true;
    decision.block_seconds = knobs.block_seconds;
  }
  if (Matches(knobs.fault_on, sql) &&
      (knobs.fault_on_times == 0 || state->fault_on_hits < knobs.fault_on_times)) {
    ++state->fault_on_hits;
    decision.fault = knobs.fault_kind == CallFault::kThrow ? Fault::kThrow : Fault::kAccessViolation;
  }
  if (Matches(knobs.fault_dirty_cpu, sql)) decision.fault = Fault::kDirtyCpu;
  decision.oversize = Matches(knobs.oversize_on, sql);
  decision.huge_text = Matches(knobs.huge_text_on, sql);
  return decision;
}

// A page that can never be written; the game's crash is a store into it.
volatile uint8_t* UnwritablePage() {
  static volatile uint8_t* const page =
      static_cast<volatile uint8_t*>(platform::AllocatePages(platform::PageSize(), platform::kPageReadOnly));
  return page;
}

HostValue ColumnValue(sqlite3_stmt* statement, int column, bool huge_text, bool numbers_as_text) {
  const int type = sqlite3_column_type(statement, column);
  if (numbers_as_text && (type == SQLITE_INTEGER || type == SQLITE_FLOAT)) {
    return TextValue(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
  }
  switch (type) {
    case SQLITE_INTEGER:
      return IntegerValue(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return RealValue(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_column_text(statement, column);
      HostValue value = TextValue(std::string(reinterpret_cast<const char*>(text),
                                              static_cast<size_t>(sqlite3_column_bytes(statement, column))));
      if (huge_text) value.claimed_length = kHugeTextLength;
      return value;
    }
    case SQLITE_BLOB:
      return NullValue(kTagBlob);
    default:
      return NullValue();
  }
}

// Runs every statement of `sql` in turn; the answer is the last one that has columns. Null when
// SQLite refuses a statement: the game then leaves the result slot empty.
std::unique_ptr<BuiltResult> RunSql(DatabaseState* state, const char* sql, const Decision& decision) {
  if (decision.oversize) {
    return decision.oversize_kind == Oversize::kColumns ? BuildWideOrLongResult(kOversizeColumns, 0)
                                                        : BuildWideOrLongResult(1, kOversizeRows);
  }
  std::vector<std::string> columns;
  std::vector<std::vector<HostValue>> rows;
  const bool drop_writes = decision.call_fault == CallFault::kDropWrite;
  const bool numbers_as_text = decision.call_fault == CallFault::kWrongCellType;
  const char* next = sql;
  while (*next != '\0') {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(state->connection, next, -1, &statement, &tail) != SQLITE_OK) return nullptr;
    const bool advanced = tail != nullptr && tail != next;
    next = advanced ? tail : next + std::char_traits<char>::length(next);
    if (statement == nullptr) continue;  // only blanks or a comment were left
    if (drop_writes && !sqlite3_stmt_readonly(statement)) {
      sqlite3_finalize(statement);
      continue;
    }
    const int width = sqlite3_column_count(statement);
    if (width > 0) {
      columns.clear();
      rows.clear();
      for (int j = 0; j < width; ++j) columns.push_back(sqlite3_column_name(statement, j));
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      std::vector<HostValue> row;
      for (int j = 0; j < width; ++j) {
        row.push_back(ColumnValue(statement, j, decision.huge_text, numbers_as_text));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE) return nullptr;
  }
  // The builder leaves out the cells beyond the last column.
  if (decision.call_fault == CallFault::kWrongColumnCount && !columns.empty()) columns.pop_back();
  return BuildHostResult(columns, rows);
}

void* Answer(DatabaseState* state, void** result_slot, const char* sql, const Decision& decision) {
  std::lock_guard<std::mutex> lock(state->mutex);
  std::unique_ptr<BuiltResult>& kept = state->results[std::this_thread::get_id()];
  kept = RunSql(state, sql, decision);
  void* answer =
      kept && decision.call_fault != CallFault::kNullResult ? static_cast<void*>(&kept->host) : nullptr;
  if (result_slot != nullptr) *result_slot = answer;
  return answer;
}

void* GEARLOFT_HOSTCALL ExecuteQuery(void* self, void** result_slot, const char* sql) {
  // Read before anything here can change it.
  const uint64_t cpu_state = gearloft_devhost_cpu_state();
  DatabaseState* state = static_cast<Database*>(self)->state;
  const uint64_t call = state->calls.fetch_add(1) + 1;
  const Decision decision = Decide(state, sql, call, cpu_state);
  if (decision.block_seconds != 0) platform::SleepMs(decision.block_seconds * 1000);
  switch (decision.call_fault) {
    case CallFault::kAccessViolation:
      *UnwritablePage() = 1;
      break;
    case CallFault::kThrow:
      throw std::runtime_error("CDatabase::ExecuteQuery failed");
    case CallFault::kBlock:
      if (decision.block_wait != nullptr) {
        decision.block_wait(decision.call_block_ms);
      } else {
        platform::SleepMs(decision.call_block_ms);
      }
      break;
    case CallFault::kGlobalGone:
      // The game tore its database down while the call was on its way in.
      SetGameDatabase(nullptr);
      if (result_slot != nullptr) *result_slot = nullptr;
      return nullptr;
    default:
      break;
  }
  if (decision.fault == Fault::kAccessViolation) *UnwritablePage() = 1;
  if (decision.fault == Fault::kDirtyCpu) gearloft_devhost_dirty_fault(UnwritablePage());
  if (decision.fault == Fault::kThrow) throw std::runtime_error("CDatabase::ExecuteQuery failed");
  return Answer(state, result_slot, sql, decision);
}

const HostVtable kVtable = {{}, &ExecuteQuery};

}  // namespace

Database* WrapDatabase(sqlite3* connection) {
  DatabaseState* state = new DatabaseState;
  state->connection = connection;
  return new Database{&kVtable, state};
}

namespace {

sqlite3* OpenConnection(const std::string& path, std::string* error) {
  sqlite3* connection = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &connection, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path + ": " + (connection ? sqlite3_errmsg(connection) : "out of memory");
    sqlite3_close(connection);
    return nullptr;
  }
  // Tests may read a file from their own process while the game runs: the game's statements wait out
  // their short read locks instead of failing as if the game had refused them.
  sqlite3_busy_timeout(connection, 10000);
  return connection;
}

// Copies the whole main database of `from` over that of `to`.
bool CopyDatabase(sqlite3* from, sqlite3* to, const std::string& what, std::string* error) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (backup == nullptr) {
    *error = "cannot copy " + what + ": " + sqlite3_errmsg(to);
    return false;
  }
  const int step = sqlite3_backup_step(backup, -1);
  const int finish = sqlite3_backup_finish(backup);
  if (step != SQLITE_DONE || finish != SQLITE_OK) {
    *error = "cannot copy " + what + ": " + sqlite3_errstr(step != SQLITE_DONE ? step : finish);
    return false;
  }
  return true;
}

// Opens `path`, giving it the fixture when it has no table.
sqlite3* OpenWithFixture(const std::string& path, const FixtureOptions& fixture, std::string* error) {
  sqlite3* connection = OpenConnection(path, error);
  if (connection == nullptr) return nullptr;
  sqlite3_stmt* statement = nullptr;
  int tables = -1;
  if (sqlite3_prepare_v2(connection, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'", -1,
                         &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    tables = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  if (tables < 0) {
    *error = path + " is not a database: " + sqlite3_errmsg(connection);
    sqlite3_close(connection);
    return nullptr;
  }
  if (tables == 0 && !CreateFixture(connection, fixture, error)) {
    sqlite3_close(connection);
    return nullptr;
  }
  return connection;
}

Database* OwnedDatabase(sqlite3* connection) {
  Database* database = WrapDatabase(connection);
  database->state->owns_connection = true;
  return database;
}

}  // namespace

Database* OpenDatabase(const std::string& path, const FixtureOptions& fixture, std::string* error) {
  sqlite3* connection = OpenWithFixture(path, fixture, error);
  return connection != nullptr ? OwnedDatabase(connection) : nullptr;
}

Database* LoadDatabase(const std::string& path, const FixtureOptions& fixture, std::string* error) {
  sqlite3* file = OpenWithFixture(path, fixture, error);
  if (file == nullptr) return nullptr;
  sqlite3* memory = OpenConnection(":memory:", error);
  const bool loaded = memory != nullptr && CopyDatabase(file, memory, path, error);
  sqlite3_close(file);
  if (!loaded) {
    sqlite3_close(memory);
    return nullptr;
  }
  return OwnedDatabase(memory);
}

bool DumpDatabase(Database* database, const std::string& path, std::string* error) {
  const std::string part = path + ".part";
  platform::DeleteFilePath(part);
  sqlite3* file = OpenConnection(part, error);
  if (file == nullptr) return false;
  bool copied = false;
  {
    std::lock_guard<std::mutex> lock(database->state->mutex);
    copied = CopyDatabase(database->state->connection, file, "the tables to " + path, error);
  }
  const bool closed = sqlite3_close(file) == SQLITE_OK;
  if (copied && !closed) *error = "cannot close " + part;
  uint32_t code = 0;
  if (copied && closed && !platform::ReplaceMove(part, path, &code)) {
    *error = "cannot move " + part + " to " + path + " (error " + std::to_string(code) + ")";
    copied = false;
  }
  if (!copied || !closed) platform::DeleteFilePath(part);
  return copied && closed;
}

bool ChangeDatabase(Database* database, const std::string& sql, std::string* error) {
  std::lock_guard<std::mutex> lock(database->state->mutex);
  char* message = nullptr;
  if (sqlite3_exec(database->state->connection, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
    return true;
  }
  *error = sql + ": " + (message != nullptr ? message : "failed");
  sqlite3_free(message);
  return false;
}

void CloseDatabase(Database* database) {
  if (database == nullptr) return;
  if (database->state->owns_connection) sqlite3_close(database->state->connection);
  delete database->state;
  delete database;
}

void SetKnobs(Database* database, const Knobs& knobs) {
  std::lock_guard<std::mutex> lock(database->state->mutex);
  database->state->knobs = knobs;
  database->state->blocked = false;
  database->state->fault_on_hits = 0;
}

uint64_t CallCount(const Database* database) {
  return database->state->calls.load();
}

uint64_t CallsWithChangedCpuState(Database* database) {
  std::lock_guard<std::mutex> lock(database->state->mutex);
  return database->state->cpu_state_changes;
}

uint64_t CallFaultsInjected(const Database* database) {
  return database->state->faults_injected.load();
}

sqlite3* Connection(Database* database) {
  return database->state->connection;
}

bool SetProbeTableEmpty(Database* database, bool empty, std::string* error) {
  std::lock_guard<std::mutex> lock(database->state->mutex);
  // A temporary table of the same name hides the real one from every unqualified statement.
  const char* sql = empty ? "CREATE TEMP TABLE IF NOT EXISTS List_UpgradeRimSizeFront AS "
                            "SELECT * FROM main.List_UpgradeRimSizeFront WHERE 0"
                          : "DROP TABLE IF EXISTS temp.List_UpgradeRimSizeFront";
  char* message = nullptr;
  if (sqlite3_exec(database->state->connection, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = std::string("cannot ") + (empty ? "empty" : "restore") +
             " List_UpgradeRimSizeFront: " + (message ? message : "unknown error");
    sqlite3_free(message);
    return false;
  }
  return true;
}

}  // namespace gearloft::devhost
