// gearloft script tests: the simulated game's fixture database in memory and the query function over it.
#include "fixture_db.h"
#include "devhost/fixture.h"
#include "devhost/query_rows.h"

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
    return devhost::QueryRows(db_, sql);
  };
}

}  // namespace gearloft::testing
