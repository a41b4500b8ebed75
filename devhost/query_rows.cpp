// gearloft simulated game: SQLite rows copied into a QueryResult.
#include "devhost/query_rows.h"

#include <sqlite3.h>

#include <utility>
#include <vector>

namespace gearloft::devhost {

QueryCell CellOf(sqlite3_stmt* statement, int column) {
  QueryCell cell;
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      cell.kind = QueryCell::Kind::kInteger;
      cell.integer = sqlite3_column_int64(statement, column);
      break;
    case SQLITE_FLOAT:
      cell.kind = QueryCell::Kind::kReal;
      cell.real = sqlite3_column_double(statement, column);
      break;
    case SQLITE_TEXT: {
      cell.kind = QueryCell::Kind::kText;
      const unsigned char* text = sqlite3_column_text(statement, column);
      const int bytes = sqlite3_column_bytes(statement, column);
      if (text != nullptr) cell.text.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
      break;
    }
    default:  // NULL, and a blob, which the game's answer carries as a value without content
      break;
  }
  return cell;
}

QueryResult StatementRows(sqlite3_stmt* statement) {
  QueryResult result;
  const int width = sqlite3_column_count(statement);
  for (int c = 0; c < width; ++c) result.columns.push_back(sqlite3_column_name(statement, c));
  int status = SQLITE_ROW;
  while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
    std::vector<QueryCell> row;
    row.reserve(static_cast<size_t>(width));
    for (int c = 0; c < width; ++c) row.push_back(CellOf(statement, c));
    result.rows.push_back(std::move(row));
  }
  result.ok = status == SQLITE_DONE;
  return result;
}

QueryResult QueryRows(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK ||
      statement == nullptr) {
    sqlite3_finalize(statement);
    return QueryResult();
  }
  QueryResult result = StatementRows(statement);
  sqlite3_finalize(statement);
  return result;
}

}  // namespace gearloft::devhost
