// gearloft-check: the in-memory copy of the game's tables, the test that a database holds them, and the
// comparison of two snapshots of the copy, row by row and cell by cell.
#include "check/game_tables.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "devhost/fixture.h"
#include "devhost/query_rows.h"

namespace gearloft::check {

const std::vector<GameTable>& GameTables() {
  // Columns the compiler's look-ups, updates and inserts name; a game database has more, which are left
  // alone. Ordered as the tables appear in the game's upgrade screens.
  static const std::vector<GameTable>& tables = *new std::vector<GameTable>{
      {"Data_Car", {"Id", "MediaName"}},
      {"List_UpgradeRimSizeFront",
       {"Id", "Ordinal", "Level", "IsStock", "FrontWheelDiameter", "Price", "MassDiff", "DragScale",
        "WindInstabilityScale", "RequiresGraphics"}},
      {"List_UpgradeRimSizeRear",
       {"Id", "Ordinal", "Level", "IsStock", "RearWheelDiameter", "Price", "MassDiff", "DragScale",
        "WindInstabilityScale", "RequiresGraphics"}},
      {"List_UpgradeCarBodyTireAspectRatioFront",
       {"Id", "CarBodyId", "FrontTireAspectRatioOffset", "IsStock", "Level", "Price", "releaseOrder"}},
      {"List_UpgradeCarBodyTireAspectRatioRear",
       {"Id", "CarBodyId", "RearTireAspectRatioOffset", "IsStock", "Level", "Price", "releaseOrder"}},
      {"List_UpgradeCarBodyTrackSpacingFront",
       {"Id", "CarBodyId", "Spacing", "IsStock", "Level", "Price", "releaseOrder"}},
      {"List_UpgradeCarBodyTrackSpacingRear",
       {"Id", "CarBodyId", "Spacing", "IsStock", "Level", "Price", "releaseOrder"}},
      {"List_UpgradeCarBodyTireWidthFront", {"Id", "CarBodyId", "FrontTireWidth", "IsStock"}},
      {"List_UpgradeCarBodyTireWidthRear", {"Id", "CarBodyId", "RearTireWidth", "IsStock"}},
      {"List_UpgradeSpringDamper", {"Ordinal", "FrontSpringDamperPhysicsID", "RearSpringDamperPhysicsID"}},
      {"List_SpringDamperPhysics",
       {"SpringDamperPhysicsID", "DefRideHeight", "MinRideHeight", "MaxRideHeight", "MaxCompressHeight"}},
      {"List_UpgradeTireCompound",
       {"Id", "Ordinal", "Level", "IsStock", "TireModelName", "WetTireModelName"}},
      {"List_UpgradeCarBodyHood",
       {"Id", "CarBodyID", "Level", "IsStock", "Sequence", "ManufacturerId", "PartsStringId", "MassDiff",
        "WeightDistDiff", "DragScale", "WindInstabilityScale", "Price", "RequiresGraphics", "releaseOrder"}},
  };
  return tables;
}

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  const int bytes = sqlite3_column_bytes(statement, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
}

struct ColumnInfo {
  std::string name;
  std::string type;
  int primary_key = 0;  // position in the primary key, 0 for none
};

// The table's columns in declaration order; empty when there is no such table.
std::vector<ColumnInfo> TableColumns(sqlite3* db, const std::string& table) {
  std::vector<ColumnInfo> columns;
  sqlite3_stmt* statement = nullptr;
  // Table names come from GameTables(), never from the user.
  const std::string sql = "PRAGMA table_info(\"" + table + "\")";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return columns;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    columns.push_back(
        ColumnInfo{ColumnText(statement, 1), ColumnText(statement, 2), sqlite3_column_int(statement, 5)});
  }
  sqlite3_finalize(statement);
  return columns;
}

}  // namespace

bool IsSnapshotFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string suffix = path.substr(path.size() - 4);
  for (char& c : suffix) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return suffix == ".sql";
}

sqlite3* OpenGameCopy(const std::string& path, std::string* error) {
  sqlite3* copy = nullptr;
  if (sqlite3_open_v2(":memory:", &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    *error = "cannot open an in-memory database";
    sqlite3_close(copy);
    return nullptr;
  }
  if (path.empty()) {
    if (!devhost::CreateFixture(copy, devhost::FixtureOptions{}, error)) {
      sqlite3_close(copy);
      return nullptr;
    }
    return copy;
  }
  if (IsSnapshotFile(path)) {
    // The worker's snapshot: SQL text that builds the tables, run into the copy.
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    char* message = nullptr;
    if (!in || sqlite3_exec(copy, text.str().c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      *error = "cannot read " + path + (message != nullptr ? std::string(": ") + message : std::string());
      sqlite3_free(message);
      sqlite3_close(copy);
      return nullptr;
    }
    return copy;
  }
  // Read-only and copied whole: nothing the checker does can reach the player's file.
  sqlite3* file = nullptr;
  int status = sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr);
  if (status == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", file, "main");
    if (backup == nullptr) {
      status = sqlite3_errcode(copy);
    } else {
      status = sqlite3_backup_step(backup, -1);
      sqlite3_backup_finish(backup);
      if (status == SQLITE_DONE) status = SQLITE_OK;
    }
  }
  sqlite3_close(file);
  if (status != SQLITE_OK) {
    *error = "cannot read " + path + ": " + sqlite3_errstr(status);
    sqlite3_close(copy);
    return nullptr;
  }
  return copy;
}

std::string MissingGameTables(sqlite3* db) {
  std::string missing;
  for (const GameTable& table : GameTables()) {
    const std::vector<ColumnInfo> columns = TableColumns(db, table.name);
    std::string problem;
    if (columns.empty()) {
      problem = std::string("no table ") + table.name;
    } else {
      std::string absent;
      for (const char* wanted : table.columns) {
        bool found = false;
        // SQLite matches column names without regard to ASCII case, and so do the compiler's statements.
        for (const ColumnInfo& column : columns)
          found = found || LowerAscii(column.name) == LowerAscii(wanted);
        if (!found) absent += (absent.empty() ? "" : ", ") + std::string(wanted);
      }
      if (!absent.empty()) problem = std::string(table.name) + " has no column " + absent;
    }
    if (!problem.empty()) missing += (missing.empty() ? "" : "; ") + problem;
  }
  return missing;
}

bool TakeSnapshot(sqlite3* db, Snapshot* snapshot, std::string* error) {
  snapshot->clear();
  for (const GameTable& table : GameTables()) {
    TableRows rows;
    rows.table = table.name;
    rows.key_column = "rowid";
    const std::vector<ColumnInfo> columns = TableColumns(db, table.name);
    int key_parts = 0;
    for (const ColumnInfo& column : columns) {
      rows.columns.push_back(column.name);
      if (column.primary_key != 0) ++key_parts;
    }
    // A lone INTEGER PRIMARY KEY is the rowid under its own name.
    for (const ColumnInfo& column : columns) {
      if (key_parts == 1 && column.primary_key == 1 && LowerAscii(column.type) == "integer") {
        rows.key_column = column.name;
      }
    }
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT rowid, * FROM \"") + table.name + "\" ORDER BY rowid";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      *error = std::string("cannot read ") + table.name + ": " + sqlite3_errmsg(db);
      sqlite3_finalize(statement);
      return false;
    }
    const int width = sqlite3_column_count(statement);
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
      std::vector<QueryCell> cells;
      for (int column = 1; column < width; ++column) cells.push_back(devhost::CellOf(statement, column));
      rows.rows.emplace_back(sqlite3_column_int64(statement, 0), cells);
    }
    sqlite3_finalize(statement);
    if (status != SQLITE_DONE) {
      *error = std::string("cannot read ") + table.name + ": " + sqlite3_errstr(status);
      return false;
    }
    snapshot->push_back(rows);
  }
  return true;
}

std::vector<TableChanges> DiffSnapshots(const Snapshot& before, const Snapshot& after) {
  std::vector<TableChanges> changes;
  for (size_t t = 0; t < before.size() && t < after.size(); ++t) {
    const TableRows& old_rows = before[t];
    const TableRows& new_rows = after[t];
    TableChanges table{old_rows.table, old_rows.key_column, old_rows.columns, {}, {}, {}};
    std::map<int64_t, const std::vector<QueryCell>*> remaining;
    for (const auto& row : new_rows.rows) remaining[row.first] = &row.second;
    for (const auto& row : old_rows.rows) {
      auto found = remaining.find(row.first);
      if (found == remaining.end()) {
        table.removed.push_back(row);
        continue;
      }
      const std::vector<QueryCell>& now = *found->second;
      for (size_t c = 0; c < row.second.size() && c < now.size(); ++c) {
        if (!SameCell(row.second[c], now[c])) {
          table.changed.push_back(CellChange{row.first, old_rows.columns[c], row.second[c], now[c]});
        }
      }
      remaining.erase(found);
    }
    for (const auto& row : remaining) table.added.emplace_back(row.first, *row.second);
    if (!table.changed.empty() || !table.added.empty() || !table.removed.empty()) changes.push_back(table);
  }
  return changes;
}

}  // namespace gearloft::check
