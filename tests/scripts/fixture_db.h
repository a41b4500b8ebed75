// gearloft script tests: the simulated game's fixture in an in-memory SQLite database and a query
// function answering from it, as CachedQuery answers the compiler in the game. Built where the
// simulated game is (not in the Windows cross build).
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "devhost/query_rows.h"

namespace gearloft::testing {

class FixtureDb {
 public:
  // Opens an in-memory database holding the default fixture; ok() says whether that worked.
  FixtureDb();
  ~FixtureDb();
  FixtureDb(const FixtureDb&) = delete;
  FixtureDb& operator=(const FixtureDb&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  sqlite3* db() const { return db_; }

  // Runs statements that change the database; false (and error()) when one fails.
  bool Exec(const std::string& sql);
  // The query function the compiler is given; every text it runs is kept in asked().
  QueryFn Query();
  const std::vector<std::string>& asked() const { return asked_; }
  void ClearAsked() { asked_.clear(); }

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
  std::vector<std::string> asked_;
};

}  // namespace gearloft::testing
