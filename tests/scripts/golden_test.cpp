// gearloft script tests: golden files. Each golden/<case>.ini is compiled against the fixture database
// and its statements, undo statements and checks are compared with golden/<case>.sql. A mismatch shows
// GoogleTest's unified diff of the two texts; GEARLOFT_UPDATE_GOLDEN=1 rewrites the expected files instead,
// for review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fixture_db.h"
#include "support/support.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

fs::path GoldenFolder() {
  return fs::path(GEARLOFT_TEST_DATA_DIR) / "scripts" / "golden";
}

// What a case compiles to, as the .sql file holds it.
std::string Render(bool compiled, const Plan& plan, const std::string& error) {
  std::string text;
  if (!compiled) return "-- error\n" + error + "\n";
  text += "-- names\n";
  for (const std::string& name : plan.names) text += name + "\n";
  text += "-- statements\n";
  for (const PlanStatement& statement : plan.statements) text += statement + ";\n";
  text += "-- undo\n";
  for (const PlanStatement& statement : plan.undo) text += statement + ";\n";
  text += "-- checks\n";
  for (const ReadBackCheck& check : plan.checks)
    text += check.sql + "; -- want " + FormatSqlNumber(check.want) + "\n";
  return text;
}

std::vector<std::string> GoldenCases() {
  std::vector<std::string> cases;
  for (const fs::directory_entry& entry : fs::directory_iterator(GoldenFolder())) {
    if (entry.path().extension() == ".ini") cases.push_back(entry.path().stem().string());
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

class GoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, CompilesToTheExpectedSql) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  const fs::path ini = GoldenFolder() / (GetParam() + ".ini");
  const fs::path sql = GoldenFolder() / (GetParam() + ".sql");
  LevelRegistry levels;
  Plan plan;
  std::string error;
  const bool compiled =
      CompileCarScript(test::ReadWhole(ini), db.Query(), levels, &plan, &error, PreviousRowIds());
  const std::string actual = Render(compiled, plan, error);
  const char* update = std::getenv("GEARLOFT_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(sql, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(fs::exists(sql)) << sql << " is missing; run with GEARLOFT_UPDATE_GOLDEN=1 and review it";
  const std::string expected = test::ReadWhole(sql);
  EXPECT_EQ(expected, actual) << GetParam() << ".sql differs";
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, ::testing::ValuesIn(GoldenCases()),
                         [](const ::testing::TestParamInfo<std::string>& golden_case) {
                           return golden_case.param;
                         });

}  // namespace
}  // namespace gearloft
