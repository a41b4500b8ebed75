// gearloft fuzz target: the car-script parser and compiler on arbitrary bytes, answered from the
// simulated game's fixture database. Every statement, undo statement and read-back check a file compiles
// to must prepare as exactly one SQL statement, with nothing left over, that names only the game's tables.
#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "devhost/fixture.h"
#include "devhost/query_rows.h"

namespace {

using gearloft::CompileCarScript;
using gearloft::LevelRegistry;
using gearloft::Plan;
using gearloft::PlanStatement;
using gearloft::PreviousRowIds;
using gearloft::QueryCell;
using gearloft::QueryFn;
using gearloft::QueryResult;

const std::set<std::string>& GameTables() {
  static const std::set<std::string>& tables =
      *new std::set<std::string>(std::begin(gearloft::kGameTables), std::end(gearloft::kGameTables));
  return tables;
}

[[noreturn]] void Fail(const char* what, const std::string& sql) {
  std::fprintf(stderr, "%s: %s\n", what, sql.c_str());
  std::abort();
}

// SQLite's own allocations come from size-class free lists instead of the sanitizer's allocator. SQLite
// here is the system's library, whose memory accesses the sanitizers never see anyway; its thousands of
// small allocations per input, each with a stack trace recorded and a quarantine to pass through, were
// most of the target's time. Single-threaded, as the fuzzer runs the target.
class SqlitePool {
 public:
  static void Install() {
    static sqlite3_mem_methods methods = {Malloc, Free, Realloc, Size, Roundup, Init, Shutdown, nullptr};
    if (sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) != SQLITE_OK) Fail("cannot give SQLite its pool", "");
  }

 private:
  static constexpr size_t kHeader = 16;  // keeps SQLite's 8-byte alignment, holds the block's size
  static constexpr int kClasses = 13;    // 32 bytes to 128 KiB, whole block included
  static constexpr size_t kSmallest = 32;
  static constexpr size_t kRefill = 1 << 20;

  static std::vector<void*>& FreeList(int size_class) {
    static std::vector<void*>* const lists = new std::vector<void*>[kClasses];
    return lists[size_class];
  }
  static size_t ClassBytes(int size_class) { return kSmallest << size_class; }
  static int ClassOf(size_t bytes) {
    int size_class = 0;
    while (size_class < kClasses && ClassBytes(size_class) < bytes) ++size_class;
    return size_class;  // kClasses: too large for a class, taken from malloc
  }
  static void* Carve(int size_class) {
    // A refill block is never given back: the pool only grows to the largest working set seen.
    static char* block = nullptr;
    static size_t left = 0;
    const size_t bytes = ClassBytes(size_class);
    if (left < bytes) {
      block = static_cast<char*>(std::malloc(kRefill));
      if (block == nullptr) return nullptr;
      left = kRefill;
    }
    void* carved = block;
    block += bytes;
    left -= bytes;
    return carved;
  }
  static void* Malloc(int requested) {
    if (requested <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(requested) + kHeader;
    const int size_class = ClassOf(bytes);
    void* whole = nullptr;
    if (size_class == kClasses) {
      whole = std::malloc(bytes);
    } else if (!FreeList(size_class).empty()) {
      whole = FreeList(size_class).back();
      FreeList(size_class).pop_back();
    } else {
      whole = Carve(size_class);
    }
    if (whole == nullptr) return nullptr;
    std::memcpy(whole, &bytes, sizeof bytes);
    return static_cast<char*>(whole) + kHeader;
  }
  static size_t Whole(void* user) {
    size_t bytes = 0;
    std::memcpy(&bytes, static_cast<char*>(user) - kHeader, sizeof bytes);
    return bytes;
  }
  static void Free(void* user) {
    if (user == nullptr) return;
    const int size_class = ClassOf(Whole(user));
    void* whole = static_cast<char*>(user) - kHeader;
    if (size_class == kClasses) {
      std::free(whole);
    } else {
      FreeList(size_class).push_back(whole);
    }
  }
  static void* Realloc(void* user, int requested) {
    void* moved = Malloc(requested);
    if (moved == nullptr || user == nullptr) return moved;
    const size_t kept = std::min(Whole(user) - kHeader, static_cast<size_t>(requested));
    std::memcpy(moved, user, kept);
    Free(user);
    return moved;
  }
  static int Size(void* user) { return user == nullptr ? 0 : static_cast<int>(Whole(user) - kHeader); }
  static int Roundup(int requested) { return (requested + 7) & ~7; }
  static int Init(void*) { return SQLITE_OK; }
  static void Shutdown(void*) {}
};

// Refuses, at prepare time, any statement that touches a table outside the game's, noting it in
// `*foreign`.
int OnlyGameTables(void* foreign, int action, const char* first, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_READ:
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      if (first == nullptr || GameTables().count(first) == 0) {
        *static_cast<bool*>(foreign) = true;
        return SQLITE_DENY;
      }
      return SQLITE_OK;
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
      return SQLITE_OK;
    default:
      *static_cast<bool*>(foreign) = true;
      return SQLITE_DENY;
  }
}

// Set by the authorizer when the statement being prepared names something outside the game's tables.
bool g_foreign = false;

sqlite3* FixtureDatabase() {
  static sqlite3* const db = [] {
    SqlitePool::Install();
    sqlite3* opened = nullptr;
    std::string error;
    if (sqlite3_open(":memory:", &opened) != SQLITE_OK ||
        !gearloft::devhost::CreateFixture(opened, gearloft::devhost::FixtureOptions(), &error)) {
      Fail("cannot build the fixture database", error);
    }
    // The compiler only reads; nothing a run does may change what the next run sees.
    sqlite3_exec(opened, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    // Installed once, after the fixture is built: setting an authorizer expires every prepared statement.
    sqlite3_set_authorizer(opened, OnlyGameTables, &g_foreign);
    return opened;
  }();
  return db;
}

// Prepares `sql` as one statement over the game's tables, or aborts saying why.
sqlite3_stmt* PrepareOne(const std::string& sql) {
  sqlite3* db = FixtureDatabase();
  g_foreign = false;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  const int status = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail);
  if (g_foreign) Fail("statement names something outside the game's tables", sql);
  if (status != SQLITE_OK || statement == nullptr) Fail(sqlite3_errmsg(db), sql);
  if (tail != sql.c_str() + sql.size()) Fail("statement leaves text over", sql);
  return statement;
}

void CheckStatement(const std::string& sql, bool check) {
  if (check ? sql.rfind("SELECT ", 0) != 0
            : sql.rfind("UPDATE ", 0) != 0 && sql.rfind("INSERT OR IGNORE INTO ", 0) != 0 &&
                  sql.rfind("DELETE FROM ", 0) != 0) {
    Fail("statement begins with the wrong words", sql);
  }
  sqlite3_finalize(PrepareOne(sql));
}

// A look-up prepared once is reset and run again when the same text comes back (the fixture never
// changes): PrepareOne's verdict on a text is the same every time. Emptied when it grows large.
sqlite3_stmt* PreparedLookUp(const std::string& sql) {
  static std::map<std::string, sqlite3_stmt*>& prepared = *new std::map<std::string, sqlite3_stmt*>;
  constexpr size_t kMostKept = 4096;
  const auto found = prepared.find(sql);
  if (found != prepared.end()) {
    sqlite3_reset(found->second);
    return found->second;
  }
  if (prepared.size() >= kMostKept) {
    for (const auto& entry : prepared) sqlite3_finalize(entry.second);
    prepared.clear();
  }
  return prepared.emplace(sql, PrepareOne(sql)).first->second;
}

// The compiler's own look-ups must be sound SQL too; they are answered from the fixture.
QueryResult Answer(const std::string& sql) {
  sqlite3_stmt* statement = PreparedLookUp(sql);
  QueryResult result = gearloft::devhost::StatementRows(statement);
  sqlite3_reset(statement);
  return result;
}

void CheckPlan(const Plan& plan) {
  if (plan.statements.size() != plan.undo.size() || plan.statements.size() != plan.checks.size()) {
    Fail("statement, undo and check lists differ in length", std::to_string(plan.statements.size()));
  }
  for (const PlanStatement& statement : plan.statements) CheckStatement(statement, false);
  for (const PlanStatement& statement : plan.undo) CheckStatement(statement, false);
  for (const gearloft::ReadBackCheck& check : plan.checks) CheckStatement(check.sql, true);
  for (const gearloft::AddedRow& row : plan.added_rows) {
    if (GameTables().count(row.table) == 0) Fail("row added outside the game's tables", row.table);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const QueryFn query = Answer;
  LevelRegistry levels;
  Plan plan;
  std::string error;
  if (!CompileCarScript(content, query, levels, &plan, &error, PreviousRowIds())) {
    if (!plan.statements.empty() || !plan.names.empty() || !plan.added_rows.empty()) {
      Fail("a failed file left something in the plan", error);
    }
    // Every message names its line or its section, but the one about the whole file's encoding.
    if (error.rfind("line ", 0) != 0 && error.rfind("[", 0) != 0 &&
        error != "file is saved as UTF-16 - save it as UTF-8") {
      Fail("message without its prefix", error);
    }
    return 0;
  }
  CheckPlan(plan);
  // Compiled again as a re-apply would: the applied rows are left out of the Level maximum.
  LevelRegistry again_levels;
  Plan again;
  if (!CompileCarScript(content, query, again_levels, &again, &error, gearloft::PreviousRowIdsOf(plan))) {
    Fail("a file that compiled once fails as a re-apply", error);
  }
  if (again.statements != plan.statements) Fail("a re-apply hands out other rows", content);
  return 0;
}
