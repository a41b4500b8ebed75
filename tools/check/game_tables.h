// gearloft-check: the in-memory copy of the game's tables the checker works on, the test that a
// database holds them, and the row-by-row comparison of two moments of the copy.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devhost/query_rows.h"
#include "hostdb/hostdb.h"

struct sqlite3;

namespace gearloft::check {

// A table the car scripts change, with every column the compiler reads or writes in it.
struct GameTable {
  const char* name;
  std::vector<const char*> columns;
};
const std::vector<GameTable>& GameTables();

// A path ending in ".sql" (any letter case): the worker's snapshot, SQL text rather than a database.
bool IsSnapshotFile(const std::string& path);

// A private in-memory database: a copy of the SQLite file `path`, the tables a snapshot `path` builds,
// or the bundled fixture when `path` is empty. Null and `error` when the file cannot be opened or read.
sqlite3* OpenGameCopy(const std::string& path, std::string* error);

// The rows of `sql` on `db`, each cell as the game's bridge copies it; `ok` false when SQLite refuses it.
using devhost::QueryRows;

// Empty when `db` holds every game table with its columns; otherwise what is missing, e.g.
// "no table Data_Car; List_UpgradeCarBodyHood has no column Sequence".
std::string MissingGameTables(sqlite3* db);

// Every row of one game table, by rowid.
struct TableRows {
  std::string table;
  std::string key_column;  // the column the rowid is known by (the INTEGER PRIMARY KEY), else "rowid"
  std::vector<std::string> columns;
  std::vector<std::pair<int64_t, std::vector<QueryCell>>> rows;  // ascending rowid
};
using Snapshot = std::vector<TableRows>;  // in GameTables() order

bool TakeSnapshot(sqlite3* db, Snapshot* snapshot, std::string* error);

struct CellChange {
  int64_t row = 0;
  std::string column;
  QueryCell before;
  QueryCell after;
};

struct TableChanges {
  std::string table;
  std::string key_column;
  std::vector<std::string> columns;
  std::vector<CellChange> changed;  // row order, then column order
  std::vector<std::pair<int64_t, std::vector<QueryCell>>> added;
  std::vector<std::pair<int64_t, std::vector<QueryCell>>> removed;
};

// The tables whose rows differ between two snapshots of the same database, in snapshot order.
std::vector<TableChanges> DiffSnapshots(const Snapshot& before, const Snapshot& after);

}  // namespace gearloft::check
