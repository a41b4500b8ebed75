// Tests of ApplyPlan against the simulated game: what reaches the database, the read-back with its
// tolerance and generation comment, and the exact log line of each failure.

#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "game_fixture.h"
#include "hostdb/hostdb.h"
#include "runtime/log.h"
#include "support/support.h"

namespace gearloft {
namespace {

using ApplyPlanTest = testing::GameTest;

constexpr const char kRimColumns[] = "Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price";

std::string RimInsert(int64_t id, int diameter) {
  return std::string("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (") + kRimColumns + ") VALUES (" +
         std::to_string(id) + ",7,9," + "0," + std::to_string(diameter) + ",900)";
}

ReadBackCheck RimExists(int64_t id) {
  return {"SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(id), 1.0};
}

Plan ChecksOnly(const std::vector<ReadBackCheck>& checks) {
  Plan plan;
  plan.checks = checks;
  return plan;
}

TEST_F(ApplyPlanTest, EmptyPlanReadsBackWithoutCallingTheGame) {
  const uint64_t calls = devhost::CallCount(database_);
  EXPECT_TRUE(ApplyPlan(Plan{}));
  EXPECT_EQ(devhost::CallCount(database_), calls);
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ApplyPlanTest, InsertsGoInBatchesAndAreReadBackWithOneQueryPerTable) {
  Plan plan;
  for (int i = 0; i < 250; ++i) {
    plan.statements.push_back(RimInsert(900000 + i, 18));
    plan.checks.push_back(RimExists(900000 + i));
  }
  PlanGeneration = 7;
  const uint64_t calls = devhost::CallCount(database_);

  EXPECT_TRUE(ApplyPlan(plan));
  EXPECT_EQ(devhost::CallCount(database_) - calls, 4u);
  std::vector<std::string> sent = TakeStatements();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].rfind("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (", 0), 0u);
  EXPECT_EQ(sent[2].rfind("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (", 0), 0u);
  EXPECT_EQ(
      sent[3].rfind("SELECT /*g7*/ COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id IN (900000,900001,", 0),
      0u);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id BETWEEN 900000 AND 900249"),
            "250");
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ApplyPlanTest, GenerationCommentCarriesTheSign) {
  PlanGeneration = -3;
  EXPECT_TRUE(ApplyPlan(ChecksOnly({{"SELECT COUNT(*) FROM Data_Car", 48.0}})));
  EXPECT_EQ(TakeStatements(), std::vector<std::string>{"SELECT /*g-3*/ COUNT(*) FROM Data_Car"});
}

TEST_F(ApplyPlanTest, AnswerWithinOneMillionthMatches) {
  EXPECT_TRUE(ApplyPlan(ChecksOnly({{"SELECT 2.0000005", 2.0}, {"SELECT 1.9999995", 2.0}})));
}

TEST_F(ApplyPlanTest, AnswerFurtherOffMisses) {
  EXPECT_FALSE(ApplyPlan(ChecksOnly({{"SELECT 2.000002", 2.0}})));
  EXPECT_EQ(LogMessages(),
            std::vector<std::string>{"read-back miss: SELECT 2.000002 -> 2.000002, want 2 (ok=1 rows=1)"});
}

TEST_F(ApplyPlanTest, IntegerCountIsComparedAsDouble) {
  QueryResult count = Query("SELECT COUNT(*) FROM Data_Car");
  ASSERT_EQ(count.rows.size(), 1u);
  ASSERT_EQ(count.rows[0][0].kind, QueryCell::Kind::kInteger);
  EXPECT_TRUE(ApplyPlan(ChecksOnly({{"SELECT COUNT(*) FROM Data_Car", 48.0}})));
  EXPECT_FALSE(ApplyPlan(ChecksOnly({{"SELECT COUNT(*) FROM Data_Car", 47.0}})));
  EXPECT_EQ(LogMessages(),
            std::vector<std::string>{
                "read-back miss: SELECT COUNT(*) FROM Data_Car -> 48.000000, want 47 (ok=1 rows=1)"});
}

TEST_F(ApplyPlanTest, MissingAnswersReadAsNothing) {
  const std::vector<ReadBackCheck> misses = {
      {"SELECT Price FROM NoSuchTable WHERE Id = 1", 5.0},     // the statement fails
      {"SELECT Year FROM Data_Car WHERE Id = 99999", 2000.0},  // no row
      {"SELECT NULL", 0.0},                                    // a Null cell
      {"SELECT MediaName FROM Data_Car WHERE Id = 7", 1.0},    // a Text cell
  };
  for (const ReadBackCheck& check : misses) EXPECT_FALSE(ApplyPlan(ChecksOnly({check}))) << check.sql;
  EXPECT_EQ(
      LogMessages(),
      (std::vector<std::string>{
          "read-back miss: SELECT Price FROM NoSuchTable WHERE Id = 1 -> nothing, want 5 (ok=0 rows=0)",
          "read-back miss: SELECT Year FROM Data_Car WHERE Id = 99999 -> nothing, want 2000 (ok=1 rows=0)",
          "read-back miss: SELECT NULL -> nothing, want 0 (ok=1 rows=1)",
          "read-back miss: SELECT MediaName FROM Data_Car WHERE Id = 7 -> nothing, want 1 (ok=1 rows=1)",
      }));
}

TEST_F(ApplyPlanTest, MissShowsAnswerWithSixDecimalsAndWantWithTenDigits) {
  EXPECT_FALSE(ApplyPlan(ChecksOnly({{"SELECT 0.1", 0.15000000596046448}})));
  EXPECT_EQ(LogMessages(), std::vector<std::string>{
                               "read-back miss: SELECT 0.1 -> 0.100000, want 0.150000006 (ok=1 rows=1)"});
}

TEST_F(ApplyPlanTest, NumbersUseAPointInACommaLocale) {
  bool applied = false;
  {
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal locale is installed";
    applied = ApplyPlan(ChecksOnly({{"SELECT 2.5", 0.25}}));
  }
  EXPECT_FALSE(applied);
  EXPECT_EQ(LogMessages(),
            std::vector<std::string>{"read-back miss: SELECT 2.5 -> 2.500000, want 0.25 (ok=1 rows=1)"});
}

TEST_F(ApplyPlanTest, FirstMissEndsTheReadBack) {
  EXPECT_FALSE(ApplyPlan(ChecksOnly({{"SELECT 1", 1.0}, {"SELECT 2", 3.0}, {"SELECT 3", 4.0}})));
  EXPECT_EQ(TakeStatements(), (std::vector<std::string>{"SELECT /*g0*/ 1", "SELECT /*g0*/ 2"}));
  EXPECT_EQ(LogMessages().size(), 1u);
}

TEST_F(ApplyPlanTest, GroupedMissNamesTheInCheck) {
  Plan plan = ChecksOnly({RimExists(7001), RimExists(990001)});
  EXPECT_FALSE(ApplyPlan(plan));
  EXPECT_EQ(LogMessages(), std::vector<std::string>{
                               "read-back miss: SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id IN "
                               "(7001,990001) -> 1.000000, want 2 (ok=1 rows=1)"});
}

TEST_F(ApplyPlanTest, FailedStatementIsLoggedCutAndStopsTheApply) {
  const std::string failing =
      "UPDATE Data_Car SET DisplayName = 'FAULT_HERE' WHERE Id = 8 AND '" + std::string(400, 'x') + "' <> ''";
  Plan plan;
  plan.statements = {"UPDATE Data_Car SET Year = 1999 WHERE Id = 7", failing,
                     "UPDATE Data_Car SET Year = 2001 WHERE Id = 9"};
  plan.checks = {{"SELECT Year FROM Data_Car WHERE Id = 7", 1999.0}};
  const std::string year_of_9 = Scalar("SELECT Year FROM Data_Car WHERE Id = 9");
  devhost::Knobs knobs;
  knobs.fault_on = "FAULT_HERE";
  devhost::SetKnobs(database_, knobs);

  EXPECT_FALSE(ApplyPlan(plan));
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"exec failed: " + failing.substr(0, 300)});
  // What ran before the failure stays; nothing after it is sent, no check is read.
  EXPECT_EQ(Scalar("SELECT Year FROM Data_Car WHERE Id = 7"), "1999");
  EXPECT_EQ(Scalar("SELECT Year FROM Data_Car WHERE Id = 9"), year_of_9);
  for (const std::string& sent : TakeStatements())
    EXPECT_EQ(sent.find("SELECT /*g"), std::string::npos) << sent;
}

TEST_F(ApplyPlanTest, NoDatabaseObjectFailsTheFirstStatement) {
  SetCurrentForTest(0);
  Plan plan;
  plan.statements = {RimInsert(990001, 18)};
  EXPECT_FALSE(ApplyPlan(plan));
  EXPECT_EQ(LogMessages(),
            std::vector<std::string>{
                "exec failed: INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Ordinal,Level,IsStock,"
                "FrontWheelDiameter,Price) SELECT 990001,7,9,0,18,900"});
}

TEST_F(ApplyPlanTest, TwoChangesToOneCellReadBackTheLastValue) {
  Plan plan;
  plan.statements = {"UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 1.5 WHERE Id = 7000",
                     "UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 1.6 WHERE Id = 7000"};
  plan.checks = {{"SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id = 7000", 1.5},
                 {"SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id = 7000", 1.6}};
  EXPECT_TRUE(ApplyPlan(plan));
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ApplyPlanTest, RowInsertedTwiceReadsBack) {
  Plan plan;
  plan.statements = {RimInsert(990001, 18), RimInsert(990002, 19), RimInsert(990001, 18)};
  plan.checks = {RimExists(990001), RimExists(990002), RimExists(990001)};
  EXPECT_TRUE(ApplyPlan(plan));
  EXPECT_TRUE(LogMessages().empty());
}

}  // namespace
}  // namespace gearloft
