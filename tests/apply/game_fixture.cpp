// Test support for the apply suites: the simulated game's database over a fresh fixture, made current
// for the bridge, with its statements recorded through SQLite's trace hook and the log in a temp folder.
#include "game_fixture.h"

#include <sqlite3.h>

#include <fstream>
#include <random>

#include "apply/apply.h"
#include "hostdb/hostdb.h"
#include "runtime/log.h"

namespace gearloft::testing {
namespace {

int RecordStatement(unsigned kind, void* context, void*, void* text) {
  const char* sql = static_cast<const char*>(text);
  // Trigger bodies arrive as comments; only statements the bridge sent count.
  if (kind == SQLITE_TRACE_STMT && sql != nullptr && std::string(sql).rfind("--", 0) != 0) {
    static_cast<std::vector<std::string>*>(context)->push_back(sql);
  }
  return 0;
}

}  // namespace

void GameTest::SetUp() {
  std::string error;
  database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
  ASSERT_NE(database_, nullptr) << error;
  devhost::SetGameDatabase(database_);
  SetCandidatesForTest({devhost::GameGlobalAddress()});
  SetCurrentForTest(devhost::GameGlobalAddress());
  // Every test starts from a fresh fixture; look-ups cached by an earlier test must not answer for it.
  ResetQueryCacheForTest();
  ASSERT_EQ(
      sqlite3_trace_v2(devhost::Connection(database_), SQLITE_TRACE_STMT, RecordStatement, &statements_),
      SQLITE_OK);

  std::random_device random;
  folder_ =
      std::filesystem::temp_directory_path() /
      ("gearloft-apply-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
       "-" + std::to_string(random()));
  std::filesystem::create_directories(folder_);
  SetWatchedFolder(folder_.string());
  Paths paths;
  paths.log_file = (folder_ / "gearloft.log").string();
  paths.previous_log = paths.log_file + ".1";
  OpenLog(paths);
  ASSERT_TRUE(LogIsOpen());
  PlanGeneration = 0;
}

void GameTest::TearDown() {
  CloseLog();
  SetCurrentForTest(0);
  SetCandidatesForTest({});
  devhost::SetGameDatabase(nullptr);
  if (database_ != nullptr) devhost::CloseDatabase(database_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> GameTest::TakeStatements(bool writes_only) {
  std::vector<std::string> taken;
  for (const std::string& sql : statements_) {
    if (!writes_only || sql.rfind("SELECT", 0) != 0) taken.push_back(sql);
  }
  statements_.clear();
  return taken;
}

std::vector<std::string> GameTest::LogMessages() const {
  std::vector<std::string> messages;
  std::ifstream in(folder_ / "gearloft.log", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    // The log is written in text mode: its lines end in CR LF on Windows.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "hh:mm:ss [ageS] " comes first.
    size_t end = line.find("s] ");
    messages.push_back(end == std::string::npos ? line : line.substr(end + 3));
  }
  return messages;
}

std::string GameTest::Scalar(const std::string& sql) {
  // The test's own look-ups are not statements the bridge sent.
  const size_t recorded = statements_.size();
  sqlite3_stmt* statement = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(devhost::Connection(database_), sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  }
  sqlite3_finalize(statement);
  statements_.resize(recorded);
  return value;
}

}  // namespace gearloft::testing
