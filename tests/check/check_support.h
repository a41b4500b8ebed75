// Test support for the checker's suite: one in-process run of gearloft-check, a scratch folder for
// scripts and databases, and direct reads of the game's tables in a SQLite database.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "check/check.h"
#include "devhost/fixture.h"

namespace gearloft::testing {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline ToolRun RunTool(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  ToolRun run;
  run.status = check::RunCheck(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The report's lines after its first, which names the data the scripts were checked against.
inline std::vector<std::string> ReportLines(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  if (!lines.empty() && lines[0].rfind("checking against ", 0) == 0) lines.erase(lines.begin());
  return lines;
}

// That first line when no --db is given and no snapshot lies beside the scripts.
constexpr const char* kSampleDataLine =
    "checking against the bundled sample database (not your game's cars)\n";

inline std::string ExamplesFolder() {
  return std::string(GEARLOFT_SOURCE_DIR) + "/examples/tunebay";
}

// A folder of its own for one test, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("gearloft-check-test-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
    return Path(name);
  }
  std::string Folder() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Runs `sql` (one or more statements) on a database file; false with the error in the test's output.
inline bool ExecOnFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK;
  char* message = nullptr;
  ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
  if (message != nullptr) ADD_FAILURE() << message << " in " << sql;
  sqlite3_free(message);
  sqlite3_close(db);
  return ok;
}

// A SQLite file holding the bundled fixture.
inline std::string WriteFixtureFile(const ScratchFolder& folder, const std::string& name) {
  const std::string path = folder.Path(name);
  sqlite3* db = nullptr;
  std::string error;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_TRUE(devhost::CreateFixture(db, devhost::FixtureOptions{}, &error)) << error;
  sqlite3_close(db);
  return path;
}

using Json = nlohmann::ordered_json;

inline Json CellJson(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return Json(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return Json(sqlite3_column_double(statement, column));
    case SQLITE_NULL:
      return Json(nullptr);
    default:
      return Json(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column))));
  }
}

// table -> rowid -> column -> value, for every table of `db`.
using TableDump = std::map<std::string, std::map<int64_t, Json>>;

inline TableDump DumpTables(sqlite3* db) {
  TableDump dump;
  std::vector<std::string> tables;
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &statement, nullptr);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    tables.push_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
  }
  sqlite3_finalize(statement);
  for (const std::string& table : tables) {
    std::map<int64_t, Json>& rows = dump[table];
    sqlite3_prepare_v2(db, ("SELECT rowid, * FROM " + table).c_str(), -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      Json cells = Json::object();
      for (int c = 1; c < sqlite3_column_count(statement); ++c) {
        cells[sqlite3_column_name(statement, c)] = CellJson(statement, c);
      }
      rows[sqlite3_column_int64(statement, 0)] = cells;
    }
    sqlite3_finalize(statement);
  }
  return dump;
}

}  // namespace gearloft::testing
