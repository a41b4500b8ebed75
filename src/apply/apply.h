// gearloft apply and verify: executing a plan with batched inserts, reading every change back, and
// re-applying in place after a folder change.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "scripts/scripts.h"

namespace gearloft {

// Insert batching: consecutive inserts with the same head share one statement, at most 100 rows each.
std::vector<std::string> BatchStatements(const std::vector<PlanStatement>& statements);
// The checks as they are read back: ungrouped ones in plan order, then one COUNT(*) ... IN check per table
// (in table-name order) whose want is the number of distinct Ids. A check whose text equals that of a
// later check is left out: the later change is the one the table holds.
std::vector<ReadBackCheck> FinalChecks(const std::vector<ReadBackCheck>& checks);

// Number of plan loads so far: the worker loop counts them, ApplyPlan reads it for its generation
// comment.
extern std::atomic<int32_t> PlanGeneration;

// The number in the first row's first cell of a read-back answer; NaN when it holds none.
double ReadBackAnswer(const QueryResult& result);
// Whether a read-back answer is the check's want, within the tolerance a REAL column's stored double needs.
bool ReadsBack(double answer, double want);

// Sends the batched statements through Execute, then reads the final checks back through Query. false at
// the first statement that fails or the first check that misses, each with its log line.
bool ApplyPlan(const Plan& plan);

struct InPlaceDiff {
  std::vector<std::string> removed;         // the old plan's own deletes of the rows the new one drops
  std::vector<std::string> updated;         // UPDATEs rewriting kept rows whose contents changed
  std::vector<ReadBackCheck> extra_checks;  // one per updated row
  int32_t kept = 0;                         // new rows whose table and Id the old plan added too
};

// `rewrite_unchanged` rewrites (and checks) every kept row, also one whose contents did not change: after
// a re-apply that could not be taken back, a kept row may hold anything.
InPlaceDiff DiffAddedRows(const Plan& old_plan, const Plan& new_plan, bool rewrite_unchanged = false);

struct ReapplyResult {
  Plan plan;             // the plan in force afterwards: the new one, or the old one when it did not land
  bool landed = true;    // every statement of the re-apply was sent and read back
  bool restored = true;  // when it did not land: the old plan is back in the tables, read back
};

// Undoes the old plan's edits (not its inserts), loads the new plan reusing the old rows' Ids, deletes
// the dropped rows and rewrites the changed ones; gives the new plan with the rewrites' checks appended.
// Everything it sends is read back: the undone edits before the new plan is loaded, the deletes and
// rewrites after. When a statement fails or does not read back, the old plan is put back in the tables
// and read back, a WARNING says which statement did not land, and the result gives the old plan.
// `rewrite_kept` rewrites every kept row: the tables are not known to hold the old plan's rows as it
// wrote them (a re-apply before this one could not be taken back).
ReapplyResult ReapplyInPlace(const Plan& old_plan, const ScriptListing& listing, bool rewrite_kept = false);

// ---- Snapshot of the game's tables ------------------------------------------------------------------

// "CREATE TABLE" with the answer's column names, then one "INSERT INTO" per row: integers in decimal,
// reals in the fewest digits that read back as the same double, texts quoted with '' doubled, NULL.
std::string SnapshotTableSql(const std::string& table, const QueryResult& result);
// "Id  MediaName" a car a line, sorted by MediaName (letter case aside).
std::string SnapshotCarList(const QueryResult& cars);

// The first line of gearloft.tables.sql says when it was written: this prefix, then the time as
// "YYYY-MM-DD HH:MM:SS UTC" (`filetime`: 100-ns units since 1601-01-01 UTC).
constexpr const char* kSnapshotWritten = "-- gearloft snapshot written ";
std::string SnapshotWrittenLine(uint64_t filetime);

struct SnapshotOutcome {
  size_t tables = 0;                 // tables that answered and are in the file
  size_t rows = 0;                   // their rows
  size_t bytes = 0;                  // of gearloft.tables.sql
  std::vector<std::string> missing;  // tables that did not answer, left out
  bool written = false;              // both files are in place
};

// Reads Data_Car and the tables the car keys touch through `query` and writes gearloft.tables.sql and
// gearloft.cars.txt in `folder`, each through a temporary file moved over the old one.
SnapshotOutcome WriteSnapshot(const std::string& folder,
                              const std::function<QueryResult(const std::string&)>& query);
// WriteSnapshot of the watched folder through Query, with its log lines.
void TakeSnapshot();

}  // namespace gearloft
