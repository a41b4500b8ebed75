// gearloft end-to-end test support: the simulated game's tables (its database file, or the dump it writes)
// read from outside the game, as whole-table dumps whose cells carry their storage class.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devhost/fixture.h"

namespace gearloft::e2e {

// A cell as its storage class and value: "integer:7004", "real:1.3600000000000001", "text:Kestrel_GT",
// "null". Reals are written with 17 significant digits, so two cells read the same only when their
// doubles are equal.
inline std::string Integer(int64_t value) {
  return "integer:" + std::to_string(value);
}
inline std::string Real(double value) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.17g", value);
  return std::string("real:") + text;
}
inline std::string Text(const std::string& value) {
  return "text:" + value;
}

// Cells joined by "|".
inline std::string Row(const std::vector<std::string>& cells) {
  std::string row;
  for (const std::string& cell : cells) row += (row.empty() ? "" : "|") + cell;
  return row;
}

// An open connection to the game's file; it waits for the game's own writes instead of failing on them.
class GameDatabase {
 public:
  explicit GameDatabase(const std::filesystem::path& file) {
    if (sqlite3_open_v2(file.string().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      error_ = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      return;
    }
    sqlite3_busy_timeout(db_, 10000);
  }
  ~GameDatabase() { sqlite3_close(db_); }
  GameDatabase(const GameDatabase&) = delete;
  GameDatabase& operator=(const GameDatabase&) = delete;

  // Empty when everything went well, else what failed.
  const std::string& Error() const { return error_; }

  bool CreateFixture() {
    return error_.empty() && devhost::CreateFixture(db_, devhost::FixtureOptions{}, &error_);
  }

  bool Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error_ = sql + ": " + (message != nullptr ? message : "failed");
    sqlite3_free(message);
    return false;
  }

  // Every row the statement answers, each as Row of its cells.
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      error_ = sql + ": " + sqlite3_errmsg(db_);
      return rows;
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      std::vector<std::string> cells;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) cells.push_back(Cell(statement, i));
      rows.push_back(Row(cells));
    }
    if (step != SQLITE_DONE) error_ = sql + ": " + sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return rows;
  }

  // The row of `table` with this Id; empty when there is none.
  std::string RowWithId(const std::string& table, int64_t id) {
    std::vector<std::string> rows = Rows("SELECT * FROM " + table + " WHERE Id = " + std::to_string(id));
    return rows.empty() ? std::string() : rows[0];
  }

  // The schema and every row of every table, in one read transaction: table name to its rows in rowid
  // order, each row with its rowid. The schema is kept under "sqlite_master".
  std::map<std::string, std::vector<std::pair<int64_t, std::string>>> Dump() {
    std::map<std::string, std::vector<std::pair<int64_t, std::string>>> dump;
    if (!Exec("BEGIN")) return dump;
    for (const std::string& row : Rows("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name")) {
      dump["sqlite_master"].emplace_back(0, row);
    }
    for (const std::string& name :
         Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
      const std::string table = name.substr(std::string("text:").size());
      std::vector<std::pair<int64_t, std::string>>& rows = dump[table];
      for (const std::string& row : Rows("SELECT rowid, * FROM " + table + " ORDER BY rowid")) {
        const size_t cut = row.find('|');
        rows.emplace_back(std::stoll(row.substr(std::string("integer:").size())), row.substr(cut + 1));
      }
    }
    Exec("COMMIT");
    return dump;
  }

 private:
  static std::string Cell(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_INTEGER:
        return Integer(sqlite3_column_int64(statement, column));
      case SQLITE_FLOAT:
        return Real(sqlite3_column_double(statement, column));
      case SQLITE_TEXT:
        return Text(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
      case SQLITE_NULL:
        return "null";
      default:
        return "blob";
    }
  }

  sqlite3* db_ = nullptr;
  std::string error_;
};

using TableDump = std::map<std::string, std::vector<std::pair<int64_t, std::string>>>;

// `dump` with a row put in its rowid place (replacing a row with the same rowid) or, with an empty row,
// taken out.
inline TableDump WithRow(TableDump dump, const std::string& table, int64_t id, const std::string& row) {
  std::vector<std::pair<int64_t, std::string>>& rows = dump[table];
  auto at = rows.begin();
  while (at != rows.end() && at->first < id) ++at;
  if (at != rows.end() && at->first == id) at = rows.erase(at);
  if (!row.empty()) rows.insert(at, {id, row});
  return dump;
}

// The first place where two dumps differ, as text; empty when they are equal.
inline std::string FirstDifference(const TableDump& want, const TableDump& got) {
  for (const auto& [table, rows] : want) {
    auto other = got.find(table);
    if (other == got.end()) return "table " + table + " is missing";
    for (size_t i = 0; i < rows.size() || i < other->second.size(); ++i) {
      if (i >= other->second.size()) return table + ": row " + std::to_string(rows[i].first) + " is missing";
      if (i >= rows.size()) return table + ": extra row " + std::to_string(other->second[i].first);
      if (rows[i] != other->second[i]) {
        return table + ": want row " + std::to_string(rows[i].first) + " " + rows[i].second + ", got row " +
               std::to_string(other->second[i].first) + " " + other->second[i].second;
      }
    }
  }
  for (const auto& table : got) {
    if (want.count(table.first) == 0) return "extra table " + table.first;
  }
  return "";
}

}  // namespace gearloft::e2e
