// gearloft script tests: a test fixture that compiles car scripts against the simulated game's fixture
// database, for the suites of the edit, ride-drop, whitewall and bonnet keys.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fixture_db.h"
#include "support/answers.h"

namespace gearloft::testing {

class CompileCase : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db_.ok()) << db_.error(); }

  // Compiles with `query` (the fixture's by default); the error is kept in error_.
  bool Compile(const std::string& content, Plan* out, const QueryFn* query = nullptr) {
    error_.clear();
    const QueryFn fixture = db_.Query();
    return CompileCarScript(content, query != nullptr ? *query : fixture, levels_, out, &error_, previous_);
  }
  Plan MustCompile(const std::string& content) {
    Plan plan;
    EXPECT_TRUE(Compile(content, &plan)) << error_;
    EXPECT_EQ(plan.statements.size(), plan.undo.size());
    EXPECT_EQ(plan.statements.size(), plan.checks.size());
    return plan;
  }
  // The error of a file that must fail, after checking that nothing of it reached the plan.
  std::string CompileError(const std::string& content, const QueryFn* query = nullptr) {
    Plan plan;
    EXPECT_FALSE(Compile(content, &plan, query));
    EXPECT_TRUE(plan.statements.empty() && plan.undo.empty() && plan.checks.empty() && plan.names.empty() &&
                plan.added_rows.empty());
    return error_;
  }
  bool Asked(const std::string& sql) const {
    return std::find(db_.asked().begin(), db_.asked().end(), sql) != db_.asked().end();
  }
  // First cell of the first row of `sql` on the fixture, as SQLite spells it ("" for none or NULL).
  std::string Cell(const std::string& sql) {
    const QueryResult result = devhost::QueryRows(db_.db(), sql);
    if (!result.ok || result.rows.empty() || result.rows[0].empty()) return "";
    const QueryCell& cell = result.rows[0][0];
    switch (cell.kind) {
      case QueryCell::Kind::kInteger:
        return std::to_string(cell.integer);
      case QueryCell::Kind::kReal:
        return FormatExactSqlNumber(cell.real);
      case QueryCell::Kind::kText:
        return cell.text;
      default:
        return "";
    }
  }

  FixtureDb db_;
  LevelRegistry levels_;
  PreviousRowIds previous_;
  std::string error_;
};

// A query function that answers `sql` with `answer` and everything else from `db`.
inline QueryFn AnswerOneQuery(FixtureDb& db, const std::string& sql, const QueryResult& answer) {
  const QueryFn fixture = db.Query();
  return [fixture, sql, answer](const std::string& asked) { return asked == sql ? answer : fixture(asked); };
}

using test::IntegerCell;
using test::RealCell;
using test::TextCell;

inline QueryResult OneRow(const std::vector<QueryCell>& row) {
  QueryResult result;
  result.ok = true;
  result.rows.push_back(row);
  return result;
}

}  // namespace gearloft::testing
