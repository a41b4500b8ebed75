// gearloft script tests: the stock and level edits (track, rim, profile and width stock, rim levels)
// against the simulated game's fixture, with the undo statements that take them back exactly.
#include <gtest/gtest.h>

#include <cmath>

#include "compile_case.h"

namespace gearloft {
namespace {

using testing::AnswerOneQuery;
using testing::IntegerCell;
using testing::OneRow;
using testing::RealCell;
using testing::TextCell;

class StockEditTest : public testing::CompileCase {};

TEST_F(StockEditTest, PlainRimKeyChangesTheStockRowOfBothAxles) {
  const Plan plan = MustCompile("[7]\nrim_stock = 18\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000",
                "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 18 WHERE Id = 7000"}));
  // The diameter is stored as the integer 17 and goes back as a real literal.
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{
                           "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 17.0 WHERE Id = 7000",
                           "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 17.0 WHERE Id = 7000"}));
  ASSERT_EQ(plan.checks.size(), 2u);
  EXPECT_EQ(plan.checks[0].sql, "SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000");
  EXPECT_EQ(plan.checks[0].want, 18.0);
  EXPECT_EQ(plan.checks[1].sql, "SELECT RearWheelDiameter FROM List_UpgradeRimSizeRear WHERE Id = 7000");
  EXPECT_EQ(plan.checks[1].want, 18.0);
  EXPECT_TRUE(plan.added_rows.empty());
  EXPECT_TRUE(
      Asked("SELECT Id, FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND IsStock = 1"));
  EXPECT_TRUE(
      Asked("SELECT Id, RearWheelDiameter FROM List_UpgradeRimSizeRear WHERE Ordinal = 7 AND IsStock = 1"));
}

TEST_F(StockEditTest, AxleKeyOverridesThePlainKeyForItsAxle) {
  const Plan plan = MustCompile("[7]\nrim_stock = 18\nrim_front_stock = 19\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19 WHERE Id = 7000",
                "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 18 WHERE Id = 7000"}));
}

TEST_F(StockEditTest, ValueThatIsNotOneNumberNamesTheKeyFound) {
  EXPECT_EQ(CompileError("[7]\nrim_front_stock = 18, 19\n"), "[7]: rim_front_stock takes one number");
  EXPECT_EQ(CompileError("[7]\nrim_stock = 18, 19\n"), "[7]: rim_stock takes one number");
  EXPECT_EQ(CompileError("[7]\nrim_stock =\n"), "[7]: rim_stock takes one number");
  EXPECT_EQ(CompileError("[7]\ntrack_rear_stock = wide\n"), "[7]: track_rear_stock takes one number");
  EXPECT_EQ(CompileError("[7]\nprofile_stock = 2,3\n"), "[7]: profile_stock takes one number");
  EXPECT_EQ(CompileError("[7]\nwidth_rear_stock = 245 mm\n"), "[7]: width_rear_stock takes one number");
}

TEST_F(StockEditTest, WholeNumberBeyondThirtyTwoBitsIsABadItem) {
  EXPECT_EQ(CompileError("[7]\nwidth_stock = 2147483648\n"), "[7]: width_stock takes one number");
  EXPECT_EQ(CompileError("[7]\nrim_rear_stock = -2147483649\n"), "[7]: rim_rear_stock takes one number");
  const Plan plan = MustCompile("[7]\nwidth_front_stock = 2147483647.9\n");
  EXPECT_EQ(plan.statements[0],
            "UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 2147483647 WHERE Id = 7000");
  // Reals that stay reals have no such bound.
  EXPECT_EQ(MustCompile("[7]\nprofile_front_stock = 1e300\n").statements[0],
            "UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = 1e+300 WHERE Id "
            "= 7000");
}

TEST_F(StockEditTest, WidthIsTruncatedAndCheckedAsAWholeNumber) {
  const Plan plan = MustCompile("[7]\nwidth_front_stock = 245.7\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 245 WHERE Id = 7000"}));
  EXPECT_EQ(plan.undo,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 255.0 WHERE Id = 7000"}));
  ASSERT_EQ(plan.checks.size(), 1u);
  EXPECT_EQ(plan.checks[0].sql,
            "SELECT FrontTireWidth FROM List_UpgradeCarBodyTireWidthFront WHERE Id = 7000");
  EXPECT_EQ(plan.checks[0].want, 245.0);
  EXPECT_TRUE(
      Asked("SELECT Id, FrontTireWidth FROM List_UpgradeCarBodyTireWidthFront WHERE CarBodyId = 7000 "
            "AND IsStock = 1"));
}

TEST_F(StockEditTest, ProfileOffsetIsWrittenAsAReal) {
  const Plan plan = MustCompile("[7]\nprofile_rear_stock = 2.5\n");
  EXPECT_EQ(plan.statements, (std::vector<PlanStatement>{"UPDATE List_UpgradeCarBodyTireAspectRatioRear SET "
                                                         "RearTireAspectRatioOffset = 2.5 WHERE Id = 7000"}));
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{"UPDATE List_UpgradeCarBodyTireAspectRatioRear SET "
                                                   "RearTireAspectRatioOffset = 0.0 WHERE Id = 7000"}));
  EXPECT_EQ(plan.checks[0].sql,
            "SELECT RearTireAspectRatioOffset FROM List_UpgradeCarBodyTireAspectRatioRear WHERE Id = 7000");
  EXPECT_EQ(plan.checks[0].want, 2.5);
  EXPECT_EQ(
      MustCompile("[7]\nprofile_stock = -3\n").statements[0],
      "UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = -3.0 WHERE Id = 7000");
}

TEST_F(StockEditTest, TrackStockReadsTheSpacingOfTheCarBodyRow) {
  const Plan plan = MustCompile("[7]\ntrack_front_stock = 0.015\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 0.015 WHERE Id = 7000"}));
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{
                           "UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 0.0 WHERE Id = 7000"}));
  EXPECT_EQ(plan.checks[0].sql, "SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id = 7000");
  EXPECT_EQ(plan.checks[0].want, 0.015);
  EXPECT_TRUE(Asked("SELECT Spacing FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id = 7000"));
  // Only the front key was given: nothing is asked of the rear table.
  for (const std::string& sql : db_.asked())
    EXPECT_EQ(sql.find("TrackSpacingRear"), std::string::npos) << sql;
}

// The cell holds what the statement's literal says; a check wanting the digits beyond it would miss.
TEST_F(StockEditTest, RealStockValueIsCheckedAsItsStatementWritesIt) {
  const Plan track = MustCompile("[7]\ntrack_front_stock = 123456.1234567\n");
  EXPECT_EQ(track.statements[0],
            "UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = 123456.1235 WHERE Id = 7000");
  EXPECT_EQ(track.checks[0].want, 123456.1235);
  const Plan profile = MustCompile("[7]\nprofile_stock = 2.123456789012\n");
  ASSERT_EQ(profile.checks.size(), 2u);
  EXPECT_EQ(
      profile.statements[1],
      "UPDATE List_UpgradeCarBodyTireAspectRatioRear SET RearTireAspectRatioOffset = 2.123456789 WHERE Id = "
      "7000");
  EXPECT_EQ(profile.checks[0].want, 2.123456789);
  EXPECT_EQ(profile.checks[1].want, 2.123456789);
}

TEST_F(StockEditTest, TrackStockWithoutARowNamesTheTable) {
  EXPECT_EQ(CompileError("[8]\ntrack_rear_stock = 0.01\n"),
            "[8]: no stock List_UpgradeCarBodyTrackSpacingRear row to change");
  // A spacing that is no number reads like a missing row.
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeCarBodyTrackSpacingFront SET Spacing = NULL WHERE Id = 7000"));
  EXPECT_EQ(CompileError("[7]\ntrack_front_stock = 0.01\n"),
            "[7]: no stock List_UpgradeCarBodyTrackSpacingFront row to change");
}

TEST_F(StockEditTest, CarWithoutAStockRowFailsTheFile) {
  EXPECT_EQ(CompileError("[8]\nrim_stock = 18\n"), "[8]: no stock List_UpgradeRimSizeFront row to change");
  EXPECT_EQ(CompileError("[8]\nrim_rear_stock = 18\n"),
            "[8]: no stock List_UpgradeRimSizeRear row to change");
  ASSERT_TRUE(db_.Exec("DELETE FROM List_UpgradeCarBodyTireWidthRear WHERE Id = 7000"));
  EXPECT_EQ(CompileError("[7]\nwidth_stock = 245\n"),
            "[7]: no stock List_UpgradeCarBodyTireWidthRear row to change");
  const QueryFn refuse = [](const std::string& sql) {
    QueryResult result;
    if (sql.rfind("SELECT Id, MediaName", 0) == 0) result = OneRow({IntegerCell(7), TextCell("Kestrel_GT")});
    return result;
  };
  EXPECT_EQ(CompileError("[7]\nprofile_front_stock = 1\n", &refuse),
            "[7]: no stock List_UpgradeCarBodyTireAspectRatioFront row to change");
}

TEST_F(StockEditTest, OnlyTheFirstStockRowIsChanged) {
  ASSERT_TRUE(db_.Exec("INSERT INTO List_UpgradeRimSizeFront VALUES (7500, 7, 0, 1, 16, 0, 0, 1, 1, 0)"));
  const Plan plan = MustCompile("[7]\nrim_front_stock = 18\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000"}));
}

TEST_F(StockEditTest, UndoRestoresTheIdenticalDouble) {
  ASSERT_TRUE(
      db_.Exec("UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = "
               "0.15000000596046448 WHERE Id = 7000"));
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeCarBodyTrackSpacingRear SET Spacing = 0.1 + 0.2 WHERE Id = 7000"));
  const Plan plan = MustCompile("[7]\nprofile_front_stock = 2.5\ntrack_rear_stock = 0.02\n");
  EXPECT_EQ(
      plan.undo,
      (std::vector<PlanStatement>{
          "UPDATE List_UpgradeCarBodyTrackSpacingRear SET Spacing = 0.30000000000000004 WHERE Id = 7000",
          "UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = "
          "0.15000000596046448 WHERE Id = 7000"}));
  // New values keep their ten significant digits.
  EXPECT_EQ(MustCompile("[7]\nprofile_front_stock = 0.15000000596046448\n").statements[0],
            "UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = 0.150000006 "
            "WHERE Id = 7000");
}

TEST_F(StockEditTest, NullOldValueIsRestoredAsNull) {
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = NULL WHERE Id = 7000"));
  const Plan plan = MustCompile("[7]\nrim_front_stock = 18\n");
  EXPECT_EQ(plan.statements[0],
            "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000");
  EXPECT_EQ(plan.undo[0], "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = NULL WHERE Id = 7000");
}

TEST_F(StockEditTest, OldValueThatIsNeitherNumberNorNullFailsTheFile) {
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeCarBodyTireWidthRear SET RearTireWidth = 'wide' WHERE Id = 7000"));
  EXPECT_EQ(CompileError("[7]\nwidth_rear_stock = 245\n"),
            "[7]: no stock List_UpgradeCarBodyTireWidthRear row to change");
  const std::string sql =
      "SELECT Id, FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND IsStock = 1";
  const QueryFn nan_value = AnswerOneQuery(db_, sql, OneRow({IntegerCell(7000), RealCell(std::nan(""))}));
  EXPECT_EQ(CompileError("[7]\nrim_front_stock = 18\n", &nan_value),
            "[7]: no stock List_UpgradeRimSizeFront row to change");
  const QueryFn one_cell = AnswerOneQuery(db_, sql, OneRow({IntegerCell(7000)}));
  EXPECT_EQ(CompileError("[7]\nrim_front_stock = 18\n", &one_cell),
            "[7]: no stock List_UpgradeRimSizeFront row to change");
}

TEST_F(StockEditTest, RowIdIsTruncatedAndOneBeyondSixtyFourBitsIsNoRow) {
  const std::string sql =
      "SELECT Id, FrontTireWidth FROM List_UpgradeCarBodyTireWidthFront WHERE CarBodyId = 7000 AND IsStock = "
      "1";
  const QueryFn real_id = AnswerOneQuery(db_, sql, OneRow({RealCell(-7000.9), IntegerCell(255)}));
  Plan plan;
  ASSERT_TRUE(Compile("[7]\nwidth_front_stock = 245\n", &plan, &real_id)) << error_;
  EXPECT_EQ(plan.statements[0],
            "UPDATE List_UpgradeCarBodyTireWidthFront SET FrontTireWidth = 245 WHERE Id = -7000");
  const QueryFn big_integer =
      AnswerOneQuery(db_, sql, OneRow({IntegerCell(9007199254740993), IntegerCell(255)}));
  plan = Plan();
  ASSERT_TRUE(Compile("[7]\nwidth_front_stock = 245\n", &plan, &big_integer)) << error_;
  EXPECT_EQ(plan.checks[0].sql,
            "SELECT FrontTireWidth FROM List_UpgradeCarBodyTireWidthFront WHERE Id = 9007199254740993");
  for (const QueryCell& id : {RealCell(9.3e18), RealCell(-1e300), RealCell(std::nan("")), TextCell("7000")}) {
    const QueryFn bad_id = AnswerOneQuery(db_, sql, OneRow({id, IntegerCell(255)}));
    EXPECT_EQ(CompileError("[7]\nwidth_front_stock = 245\n", &bad_id),
              "[7]: no stock List_UpgradeCarBodyTireWidthFront row to change");
  }
}

TEST_F(StockEditTest, RimLevelsResizeTheAftermarketLevelsInListOrder) {
  const Plan plan = MustCompile("[7]\nrim_levels_front = 18, 19, 20\n");
  EXPECT_EQ(
      plan.statements,
      (std::vector<PlanStatement>{
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18, Price = 2000 WHERE Id = 7001",
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19, Price = 2200 WHERE Id = 7002",
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 20, Price = 2400 WHERE Id = 7003"}));
  EXPECT_EQ(
      plan.undo,
      (std::vector<PlanStatement>{
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18.0, Price = 400.0 WHERE Id = 7001",
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19.0, Price = 800.0 WHERE Id = 7002",
          "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 20.0, Price = 1100.0 WHERE Id = 7003"}));
  ASSERT_EQ(plan.checks.size(), 3u);
  EXPECT_EQ(plan.checks[2].sql, "SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7003");
  EXPECT_EQ(plan.checks[2].want, 20.0);
  EXPECT_TRUE(
      Asked("SELECT Id, FrontWheelDiameter, Price FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND "
            "Level = 3 AND IsStock = 0"));
}

TEST_F(StockEditTest, RimLevelBeyondTheCarsLevelsFailsTheFile) {
  // Car 7 has two aftermarket rear rims.
  EXPECT_EQ(CompileError("[7]\nrim_levels_rear = 18, 19, 20\n"),
            "[7]: no stock-DB List_UpgradeRimSizeRear level 3 to re-size");
  EXPECT_EQ(CompileError("[7]\nrim_stock = 18\nrim_levels = 18, 19, 20\n"),
            "[7]: no stock-DB List_UpgradeRimSizeRear level 3 to re-size");
}

TEST_F(StockEditTest, PlainRimLevelsKeyResizesBothAxles) {
  const Plan plan = MustCompile("[7]\nrim_levels = 18.9\n");
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18, Price = 2000 WHERE Id = 7001",
                "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 18, Price = 2000 WHERE Id = 7001"}));
  EXPECT_TRUE(MustCompile("[7]\nrim_levels =\n").statements.empty());
}

TEST_F(StockEditTest, RimLevelsThatDoNotReadAsNumbersNameTheBaseKey) {
  EXPECT_EQ(CompileError("[7]\nrim_levels_rear = 18, big\n"), "[7]: rim_levels is not a number list");
  // The price (d - 8) * 200 must stay inside 32 bits.
  EXPECT_EQ(CompileError("[7]\nrim_levels_front = 10737427\n"), "[7]: rim_levels is not a number list");
  EXPECT_EQ(MustCompile("[7]\nrim_levels_front = -10737410\n").statements[0],
            "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = -10737410, Price = -2147483600 WHERE "
            "Id = 7001");
}

TEST_F(StockEditTest, RimLevelOldValuesFollowTheUndoRules) {
  ASSERT_TRUE(db_.Exec(
      "UPDATE List_UpgradeRimSizeFront SET Price = NULL, FrontWheelDiameter = 18.25 WHERE Id = 7001"));
  EXPECT_EQ(MustCompile("[7]\nrim_levels_front = 17\n").undo[0],
            "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18.25, Price = NULL WHERE Id = 7001");
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeRimSizeFront SET Price = 'free' WHERE Id = 7002"));
  EXPECT_EQ(CompileError("[7]\nrim_levels_front = 17, 18\n"),
            "[7]: no stock-DB List_UpgradeRimSizeFront level 2 to re-size");
}

TEST_F(StockEditTest, HandlersRunInTheirFixedOrderFrontBeforeRear) {
  const Plan plan = MustCompile(
      "[7]\nwidth_stock = 245\nprofile_stock = 1\nrim_levels = 18\nrim_stock = 17\ntrack_rear_stock = 0.01\n"
      "track_front_stock = 0.01\n");
  std::vector<std::string> heads;
  for (const PlanStatement& statement : plan.statements)
    heads.push_back(statement.substr(0, statement.find(" SET")));
  EXPECT_EQ(
      heads,
      (std::vector<std::string>{
          "UPDATE List_UpgradeCarBodyTrackSpacingFront", "UPDATE List_UpgradeCarBodyTrackSpacingRear",
          "UPDATE List_UpgradeRimSizeFront", "UPDATE List_UpgradeRimSizeRear",
          "UPDATE List_UpgradeRimSizeFront", "UPDATE List_UpgradeRimSizeRear",
          "UPDATE List_UpgradeCarBodyTireAspectRatioFront", "UPDATE List_UpgradeCarBodyTireAspectRatioRear",
          "UPDATE List_UpgradeCarBodyTireWidthFront", "UPDATE List_UpgradeCarBodyTireWidthRear"}));
  EXPECT_EQ(plan.statements[3], "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 17 WHERE Id = 7000");
  EXPECT_EQ(plan.statements[4],
            "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18, Price = 2000 WHERE Id = 7001");
}

TEST_F(StockEditTest, SecondAxleFailingDropsTheFirstAxlesEdit) {
  EXPECT_EQ(CompileError("[8]\ntrack_front_stock = 0.01\ntrack_rear_stock = 0.01\n"),
            "[8]: no stock List_UpgradeCarBodyTrackSpacingRear row to change");
}

}  // namespace
}  // namespace gearloft
