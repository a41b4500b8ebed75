// gearloft script tests: the simulated game's fixture database in memory and the query function over it.
#include "fixture_db.h"
#include "devhost/fixture.h"

namespace gearloft::testing {

FixtureDb::FixtureDb() {
  if (sqlite3_open(":memory:", &db_) != SQLITE_OK) {
    error_ = "cannot open an in-memory database";
    return;
  }
  std::string error;
  if (!devhost::CreateFixture(db_, devhost::FixtureOptions(), &error)) error_ = "fixture: " + error;
}

FixtureDb::~FixtureDb() {
  sqlite3_close(db_);
}

bool FixtureDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message != nullptr ? message : "sqlite3_exec failed";
    sqlite3_free(message);
    return false;
  }
  return true;
}

QueryFn FixtureDb::Query() {
  return [this](const std::string& sql) {
    asked_.push_back(sql);
    return RunQuery(db_, sql);
  };
}

QueryResult RunQuery(sqlite3* db, const std::string& sql) {
  QueryResult result;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail) != SQLITE_OK ||
      statement == nullptr) {
    sqlite3_finalize(statement);
    return result;
  }
  const int columns = sqlite3_column_count(statement);
  for (int i = 0; i < columns; ++i) result.columns.push_back(sqlite3_column_name(statement, i));
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    std::vector<QueryCell> row(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
      QueryCell& cell = row[static_cast<size_t>(i)];
      switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER:
          cell.kind = QueryCell::Kind::kInteger;
          cell.integer = sqlite3_column_int64(statement, i);
          break;
        case SQLITE_FLOAT:
          cell.kind = QueryCell::Kind::kReal;
          cell.real = sqlite3_column_double(statement, i);
          break;
        case SQLITE_TEXT:
          cell.kind = QueryCell::Kind::kText;
          cell.text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
          break;
        default:
          break;
      }
    }
    result.rows.push_back(row);
  }
  sqlite3_finalize(statement);
  result.ok = step == SQLITE_DONE;
  return result;
}

}  // namespace gearloft::testing
