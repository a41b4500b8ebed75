// gearloft test support: rows and whole-table dumps of a SQLite database, one cell encoding for all.
#include "support/tables.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "devhost/fixture.h"
#include "support/support.h"

namespace gearloft::test {

std::string Integer(int64_t value) {
  return "integer:" + std::to_string(value);
}

std::string Real(double value) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.17g", value);
  return std::string("real:") + text;
}

std::string Text(const std::string& value) {
  return "text:" + value;
}

std::string CellText(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return Integer(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return Real(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
      return Text(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                              static_cast<size_t>(sqlite3_column_bytes(statement, column))));
    case SQLITE_NULL:
      return "null";
    default:
      return "blob";
  }
}

std::string Row(const std::vector<std::string>& cells) {
  std::string row;
  for (const std::string& cell : cells) row += (row.empty() ? "" : "|") + cell;
  return row;
}

GameDatabase::GameDatabase(const std::filesystem::path& file) {
  if (sqlite3_open_v2(file.u8string().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error_ = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    return;
  }
  sqlite3_busy_timeout(db_, 10000);
}

GameDatabase::~GameDatabase() {
  sqlite3_close(db_);
}

bool GameDatabase::CreateFixture() {
  return error_.empty() && devhost::CreateFixture(db_, devhost::FixtureOptions{}, &error_);
}

bool GameDatabase::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error_.empty()) error_ = sql + ": " + (message != nullptr ? message : "failed");
  sqlite3_free(message);
  return false;
}

std::vector<std::string> GameDatabase::Rows(const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    if (error_.empty()) error_ = sql + ": " + sqlite3_errmsg(db_);
    return rows;
  }
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    std::vector<std::string> cells;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) cells.push_back(CellText(statement, i));
    rows.push_back(Row(cells));
  }
  if (step != SQLITE_DONE && error_.empty()) error_ = sql + ": " + sqlite3_errmsg(db_);
  sqlite3_finalize(statement);
  return rows;
}

std::string GameDatabase::RowWithId(const std::string& table, int64_t id) {
  std::vector<std::string> rows = Rows("SELECT * FROM " + table + " WHERE Id = " + std::to_string(id));
  return rows.empty() ? std::string() : rows[0];
}

TableDump GameDatabase::Dump() {
  TableDump dump;
  if (!Exec("BEGIN")) return dump;
  for (const std::string& row : Rows("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name")) {
    dump["sqlite_master"].emplace_back(0, row);
  }
  for (const std::string& name : Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
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

bool RequestTables(const std::filesystem::path& dump, const std::string& sql,
                   const std::function<bool()>& running) {
  std::error_code ignored;
  if (!running()) return std::filesystem::exists(dump, ignored) && sql.empty();
  std::filesystem::path request = dump;
  request += ".request";
  std::filesystem::path part = request;
  part += ".part";
  // Renamed into place whole, so the game never reads half a request.
  if (!WriteWhole(part, sql)) return false;
  std::filesystem::rename(part, request, ignored);
  if (ignored) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::filesystem::exists(request, ignored) && running() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !std::filesystem::exists(request, ignored) && std::filesystem::exists(dump, ignored);
}

std::vector<std::string> DumpLines(const TableDump& dump) {
  std::vector<std::string> lines;
  for (const auto& [table, rows] : dump) {
    if (table == "sqlite_master") continue;
    for (const auto& row : rows) lines.push_back(table + "|" + row.second);
  }
  return lines;
}

TableDump WithRow(TableDump dump, const std::string& table, int64_t id, const std::string& row) {
  std::vector<std::pair<int64_t, std::string>>& rows = dump[table];
  auto at = rows.begin();
  while (at != rows.end() && at->first < id) ++at;
  if (at != rows.end() && at->first == id) at = rows.erase(at);
  if (!row.empty()) rows.insert(at, {id, row});
  return dump;
}

std::string FirstDifference(const TableDump& want, const TableDump& got) {
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

}  // namespace gearloft::test
