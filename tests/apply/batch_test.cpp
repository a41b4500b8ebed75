// Tests of insert batching: which statements share one call into the game and how they are joined.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"

namespace gearloft {
namespace {

std::string RimInsert(int id, int diameter) {
  return "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) VALUES (" +
         std::to_string(id) + "," + std::to_string(id % 1000) + "," + std::to_string(diameter) + ")";
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(BatchStatementsTest, EmptyPlanGivesNothing) {
  EXPECT_TRUE(BatchStatements({}).empty());
}

TEST(BatchStatementsTest, ConsecutiveInsertsWithOneHeadShareAStatement) {
  std::vector<std::string> batched = BatchStatements({RimInsert(7004, 21), RimInsert(7005, 22)});
  ASSERT_EQ(batched.size(), 1u);
  EXPECT_EQ(batched[0],
            "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) SELECT 7004,4,21 "
            "UNION ALL SELECT 7005,5,22");
}

TEST(BatchStatementsTest, SingleInsertBecomesSelectForm) {
  EXPECT_EQ(
      BatchStatements({RimInsert(7004, 21)}),
      std::vector<std::string>{
          "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) SELECT 7004,4,21"});
}

TEST(BatchStatementsTest, TwoHundredFiftyInsertsBecomeHundredHundredFifty) {
  std::vector<std::string> statements;
  for (int i = 0; i < 250; ++i) statements.push_back(RimInsert(100000 + i, 17));
  std::vector<std::string> batched = BatchStatements(statements);
  ASSERT_EQ(batched.size(), 3u);
  EXPECT_EQ(CountOf(batched[0], " UNION ALL SELECT ") + 1, 100u);
  EXPECT_EQ(CountOf(batched[1], " UNION ALL SELECT ") + 1, 100u);
  EXPECT_EQ(CountOf(batched[2], " UNION ALL SELECT ") + 1, 50u);
  // Every row once, in plan order across the batches.
  EXPECT_NE(batched[0].find("SELECT 100000,0,17 UNION ALL SELECT 100001,1,17"), std::string::npos);
  EXPECT_NE(batched[0].find("SELECT 100099,99,17"), std::string::npos);
  EXPECT_NE(batched[1].find(") SELECT 100100,100,17 UNION ALL"), std::string::npos);
  EXPECT_NE(batched[2].find(") SELECT 100200,200,17 UNION ALL"), std::string::npos);
  EXPECT_EQ(batched[2].substr(batched[2].size() - 20), "SELECT 100249,249,17");
}

TEST(BatchStatementsTest, UpdateBetweenInsertsSplitsTheBatch) {
  const std::string update = "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000";
  std::vector<std::string> batched = BatchStatements({RimInsert(7004, 21), update, RimInsert(7005, 22)});
  ASSERT_EQ(batched.size(), 3u);
  EXPECT_EQ(CountOf(batched[0], "SELECT "), 1u);
  EXPECT_EQ(batched[1], update);
  EXPECT_EQ(batched[2],
            "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) SELECT 7005,5,22");
}

TEST(BatchStatementsTest, DifferentColumnListsNeverMerge) {
  const std::string other = "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level) VALUES (7006,6)";
  std::vector<std::string> batched =
      BatchStatements({RimInsert(7004, 21), other, RimInsert(7005, 22), RimInsert(7007, 23)});
  ASSERT_EQ(batched.size(), 3u);
  EXPECT_EQ(batched[1], "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level) SELECT 7006,6");
  // A batch joins only the batch in progress, not an earlier one with the same head.
  EXPECT_EQ(CountOf(batched[2], " UNION ALL SELECT "), 1u);
  EXPECT_NE(batched[2].find("SELECT 7005,5,22 UNION ALL SELECT 7007,7,23"), std::string::npos);
}

TEST(BatchStatementsTest, DifferentTablesNeverMerge) {
  std::string rear = RimInsert(7004, 21);
  rear.replace(rear.find("Front"), 5, "Rear");
  EXPECT_EQ(BatchStatements({RimInsert(7004, 21), rear}).size(), 2u);
}

TEST(BatchStatementsTest, StatementsThatCannotBatchAreCopiedAndEndTheBatch) {
  const std::vector<std::string> unbatchable = {
      "INSERT INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) VALUES (7008,8,24)",
      "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) SELECT 7008,8,24",
      "INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Level,FrontWheelDiameter) VALUES (7008,8,24) ",
      "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7008",
      "",
  };
  for (const std::string& statement : unbatchable) {
    std::vector<std::string> batched = BatchStatements({RimInsert(7004, 21), statement, RimInsert(7005, 22)});
    ASSERT_EQ(batched.size(), 3u) << statement;
    EXPECT_EQ(batched[1], statement);
    EXPECT_EQ(CountOf(batched[2], " UNION ALL SELECT "), 0u) << statement;
  }
}

TEST(BatchStatementsTest, HeadEndsAtTheFirstValuesMark) {
  // A text value holding the mark again stays part of the values.
  std::vector<std::string> batched =
      BatchStatements({"INSERT OR IGNORE INTO T (Id,A) VALUES (1,') VALUES (')"});
  EXPECT_EQ(batched, std::vector<std::string>{"INSERT OR IGNORE INTO T (Id,A) SELECT 1,') VALUES ('"});
}

}  // namespace
}  // namespace gearloft
