// gearloft script tests: the whitewall look of a tyre-compound level and new bonnet choices, against the
// simulated game's fixture.
#include <gtest/gtest.h>

#include "compile_case.h"

namespace gearloft {
namespace {

using testing::AnswerOneQuery;
using testing::IntegerCell;
using testing::OneRow;
using testing::RealCell;
using testing::TextCell;

const char kCompoundQuery[] =
    "SELECT Id, TireModelName, WetTireModelName FROM List_UpgradeTireCompound WHERE Ordinal = 5 AND Level = "
    "2 "
    "AND IsStock = 0";
const char kHoodColumns[] =
    "Id,CarBodyID,Level,IsStock,Sequence,ManufacturerId,PartsStringId,MassDiff,WeightDistDiff,DragScale,"
    "WindInstabilityScale,Price,RequiresGraphics,releaseOrder";

class WhitewallTest : public testing::CompileCase {};

TEST_F(WhitewallTest, LevelTwoOfPicaSportGetsTheWhitewallLook) {
  const Plan plan = MustCompile("[Pica_Sport]\nwhitewall_level = 2\n");
  EXPECT_EQ(plan.statements, (std::vector<PlanStatement>{
                                 "UPDATE List_UpgradeTireCompound SET TireModelName = 'Vintage_WhiteWall', "
                                 "WetTireModelName = 'Vintage_WhiteWall' WHERE Id = 5121"}));
  EXPECT_EQ(plan.undo,
            (std::vector<PlanStatement>{"UPDATE List_UpgradeTireCompound SET TireModelName = 'Sport_A', "
                                        "WetTireModelName = 'Sport_A_Wet' WHERE Id = 5121"}));
  ASSERT_EQ(plan.checks.size(), 1u);
  EXPECT_EQ(plan.checks[0].sql,
            "SELECT COUNT(*) FROM List_UpgradeTireCompound WHERE TireModelName = 'Vintage_WhiteWall' AND Id "
            "= 5121");
  EXPECT_EQ(plan.checks[0].want, 1.0);
  EXPECT_TRUE(Asked(kCompoundQuery));
  EXPECT_TRUE(plan.added_rows.empty());
}

TEST_F(WhitewallTest, LevelIsTruncated) {
  const Plan plan = MustCompile("[5]\nwhitewall_level = 2.7\n");
  EXPECT_TRUE(Asked(kCompoundQuery));
  ASSERT_EQ(plan.statements.size(), 1u);
  EXPECT_NE(plan.statements[0].find(" WHERE Id = 5121"), std::string::npos);
}

TEST_F(WhitewallTest, ValueThatIsNotOneNumberTakesOneNumber) {
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 1, 2\n"), "[5]: whitewall_level takes one number");
  EXPECT_EQ(CompileError("[5]\nwhitewall_level =\n"), "[5]: whitewall_level takes one number");
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 2147483648\n"), "[5]: whitewall_level takes one number");
}

TEST_F(WhitewallTest, LevelWithoutAnAftermarketCompoundFailsTheFile) {
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 3\n"), "[5]: no stock-DB tyre compound level 3 to re-skin");
  // Level 0 is the stock compound, which is not re-skinned.
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 0.5\n"),
            "[5]: no stock-DB tyre compound level 0 to re-skin");
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = -2147483648\n"),
            "[5]: no stock-DB tyre compound level -2147483648 to re-skin");
}

TEST_F(WhitewallTest, OddModelNamesAreRefused) {
  // Car 6's Level 1 has no wet model name, car 9's a hyphen in its names.
  EXPECT_EQ(CompileError("[6]\nwhitewall_level = 1\n"), "[6]: tyre compound level 1 has an odd model name");
  EXPECT_EQ(CompileError("[9]\nwhitewall_level = 1\n"), "[9]: tyre compound level 1 has an odd model name");
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeTireCompound SET TireModelName = 'Street B' WHERE Id = 5111"));
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 1\n"), "[5]: tyre compound level 1 has an odd model name");
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeTireCompound SET TireModelName = 'Sport_A'';--' WHERE Id = 5121"));
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 2\n"), "[5]: tyre compound level 2 has an odd model name");
  // A name cell that is no text at all.
  const QueryFn number_name = AnswerOneQuery(
      db_, kCompoundQuery, OneRow({IntegerCell(5121), IntegerCell(17), TextCell("Sport_A_Wet")}));
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 2\n", &number_name),
            "[5]: tyre compound level 2 has an odd model name");
}

TEST_F(WhitewallTest, EmptyModelNameIsAccepted) {
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeTireCompound SET WetTireModelName = '' WHERE Id = 5121"));
  const Plan plan = MustCompile("[5]\nwhitewall_level = 2\n");
  EXPECT_EQ(plan.undo,
            (std::vector<PlanStatement>{"UPDATE List_UpgradeTireCompound SET TireModelName = 'Sport_A', "
                                        "WetTireModelName = '' WHERE Id = 5121"}));
}

TEST_F(WhitewallTest, OnlyTheFirstRowIsUsedAndItsIdMustBeANumber) {
  const QueryResult two_rows = [] {
    QueryResult result = OneRow({RealCell(5121.8), TextCell("A"), TextCell("B")});
    result.rows.push_back({IntegerCell(5122), TextCell("bad name"), TextCell("C")});
    return result;
  }();
  const QueryFn first_row = AnswerOneQuery(db_, kCompoundQuery, two_rows);
  Plan plan;
  ASSERT_TRUE(Compile("[5]\nwhitewall_level = 2\n", &plan, &first_row)) << error_;
  EXPECT_EQ(
      plan.undo[0],
      "UPDATE List_UpgradeTireCompound SET TireModelName = 'A', WetTireModelName = 'B' WHERE Id = 5121");
  const QueryFn no_id =
      AnswerOneQuery(db_, kCompoundQuery, OneRow({TextCell("x"), TextCell("A"), TextCell("B")}));
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 2\n", &no_id),
            "[5]: no stock-DB tyre compound level 2 to re-skin");
  const QueryFn short_row = AnswerOneQuery(db_, kCompoundQuery, OneRow({IntegerCell(5121), TextCell("A")}));
  EXPECT_EQ(CompileError("[5]\nwhitewall_level = 2\n", &short_row),
            "[5]: tyre compound level 2 has an odd model name");
}

TEST(ReadModelNameTest, LettersDigitsAndUnderscoresOnly) {
  QueryResult result =
      OneRow({TextCell("Sport_A9"), TextCell(""), TextCell("Rally-Mud"), QueryCell(), TextCell("a b")});
  std::string name = "unchanged";
  ASSERT_TRUE(ReadModelName(result, 0, &name));
  EXPECT_EQ(name, "Sport_A9");
  ASSERT_TRUE(ReadModelName(result, 1, &name));
  EXPECT_EQ(name, "");
  EXPECT_FALSE(ReadModelName(result, 2, &name));
  EXPECT_FALSE(ReadModelName(result, 3, &name));
  EXPECT_FALSE(ReadModelName(result, 4, &name));
  EXPECT_FALSE(ReadModelName(result, 5, &name));
  EXPECT_FALSE(ReadModelName(QueryResult(), 0, &name));
}

class HoodOptionsTest : public testing::CompileCase {};

TEST_F(HoodOptionsTest, SequencesTwoAndThreeOnCarSevenGetIdsFromTheCarBody) {
  const Plan plan = MustCompile("[Kestrel_GT]\nhood_options = 2, 3\n");
  const std::string head =
      std::string("INSERT OR IGNORE INTO List_UpgradeCarBodyHood (") + kHoodColumns + ") VALUES (";
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{head + "7001,7000,1,0,2,86,109,0.0,0.0,1.0,1.0,1000,1,0)",
                                        head + "7002,7000,1,0,3,86,109,0.0,0.0,1.0,1.0,1000,1,0)"}));
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{"DELETE FROM List_UpgradeCarBodyHood WHERE Id = 7001",
                                                   "DELETE FROM List_UpgradeCarBodyHood WHERE Id = 7002"}));
  ASSERT_EQ(plan.checks.size(), 2u);
  EXPECT_EQ(plan.checks[1].sql, "SELECT COUNT(*) FROM List_UpgradeCarBodyHood WHERE Id = 7002");
  EXPECT_EQ(plan.checks[1].want, 1.0);
  ASSERT_EQ(plan.added_rows.size(), 2u);
  EXPECT_EQ(plan.added_rows[0].table, "List_UpgradeCarBodyHood");
  EXPECT_EQ(plan.added_rows[0].columns, kHoodColumns);
  EXPECT_EQ(plan.added_rows[0].values, "7001,7000,1,0,2,86,109,0.0,0.0,1.0,1.0,1000,1,0");
  EXPECT_EQ(plan.added_rows[1].id, 7002);
  // No Level is allocated: only the Id check asks the database.
  for (const std::string& sql : db_.asked()) EXPECT_EQ(sql.find("MAX(Level)"), std::string::npos) << sql;
  EXPECT_TRUE(levels_.empty());
}

TEST_F(HoodOptionsTest, StockSequenceIsRefused) {
  EXPECT_EQ(CompileError("[7]\nhood_options = 1\n"),
            "[7]: hood_options are aftermarket Sequences (2+); 1 is stock");
  EXPECT_EQ(CompileError("[7]\nhood_options = 1.9\n"),
            "[7]: hood_options are aftermarket Sequences (2+); 1 is stock");
  EXPECT_EQ(CompileError("[7]\nhood_options = -2147483648\n"),
            "[7]: hood_options are aftermarket Sequences (2+); 1 is stock");
}

TEST_F(HoodOptionsTest, BadSecondValueRejectsTheWholeFile) {
  EXPECT_EQ(CompileError("[7]\nrim_stock = 18\nhood_options = 2, 1\n"),
            "[7]: hood_options are aftermarket Sequences (2+); 1 is stock");
}

TEST_F(HoodOptionsTest, SequenceIsTruncated) {
  const Plan plan = MustCompile("[7]\nhood_options = 2.9\n");
  ASSERT_EQ(plan.added_rows.size(), 1u);
  EXPECT_EQ(plan.added_rows[0].values, "7001,7000,1,0,2,86,109,0.0,0.0,1.0,1.0,1000,1,0");
}

TEST_F(HoodOptionsTest, RepeatedSequenceEmitsTheSameRowTwice) {
  const Plan plan = MustCompile("[7]\nhood_options = 3, 3\n");
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_EQ(plan.statements[0], plan.statements[1]);
  EXPECT_EQ(plan.added_rows[1].id, 7002);
  EXPECT_EQ(plan.undo[1], "DELETE FROM List_UpgradeCarBodyHood WHERE Id = 7002");
}

TEST_F(HoodOptionsTest, SequenceTheGameAlreadyHasIsACollision) {
  // Car 11 has a bonnet at Sequence 2 (Id 11001) of its own.
  EXPECT_EQ(CompileError("[11]\nhood_options = 3, 2\n"),
            "[11]: List_UpgradeCarBodyHood already has a row 11001");
  EXPECT_TRUE(Asked("SELECT Id FROM List_UpgradeCarBodyHood WHERE Id BETWEEN 11000 AND 11999"));
  // The row the applied plan inserted there is not the game's.
  previous_ = {{"List_UpgradeCarBodyHood", {11001}}};
  EXPECT_EQ(MustCompile("[11]\nhood_options = 2\n").added_rows[0].id, 11001);
}

TEST_F(HoodOptionsTest, SequenceOneThousandIsTheLastInTheCarsBlock) {
  const Plan plan = MustCompile("[7]\nhood_options = 1000\n");
  ASSERT_EQ(plan.added_rows.size(), 1u);
  EXPECT_EQ(plan.added_rows[0].id, 7999);
  // Sequence 1001 would be Id 8000, car 8's stock bonnet; 1002 its first aftermarket one.
  EXPECT_EQ(CompileError("[7]\nhood_options = 1001\n"),
            "[7]: hood_options Sequence 1001 is past List_UpgradeCarBodyHood's limit of 1000 per car");
  EXPECT_EQ(
      CompileError("[Kestrel_GT]\nhood_options = 1002\n"),
      "[Kestrel_GT]: hood_options Sequence 1002 is past List_UpgradeCarBodyHood's limit of 1000 per car");
  EXPECT_EQ(CompileError("[7]\nhood_options = 2, 2147483647\n"),
            "[7]: hood_options Sequence 2147483647 is past List_UpgradeCarBodyHood's limit of 1000 per car");
}

TEST_F(HoodOptionsTest, ListThatDoesNotReadAsNumbersFailsTheFile) {
  EXPECT_EQ(CompileError("[7]\nhood_options = 2, carbon\n"), "[7]: hood_options is not a number list");
  EXPECT_EQ(CompileError("[7]\nhood_options = 2147483648\n"), "[7]: hood_options is not a number list");
  EXPECT_EQ(CompileError("[7]\nhood_options = nan\n"), "[7]: hood_options is not a number list");
}

TEST_F(HoodOptionsTest, EmptyListAddsNothing) {
  EXPECT_TRUE(MustCompile("[7]\nhood_options = , ,\n").statements.empty());
  EXPECT_EQ(db_.asked(), (std::vector<std::string>{"SELECT Id, MediaName FROM Data_Car WHERE Id = 7"}));
}

TEST_F(HoodOptionsTest, WhitewallComesBeforeHoodsAndRideDropBeforeBoth) {
  const Plan plan = MustCompile("[5]\nhood_options = 4\nwhitewall_level = 1\nride_drop_front = 0.01\n");
  ASSERT_EQ(plan.statements.size(), 4u);
  EXPECT_EQ(plan.statements[0].rfind("UPDATE List_SpringDamperPhysics ", 0), 0u);
  EXPECT_EQ(plan.statements[1].rfind("UPDATE List_SpringDamperPhysics ", 0), 0u);
  EXPECT_EQ(plan.statements[2].rfind("UPDATE List_UpgradeTireCompound ", 0), 0u);
  EXPECT_EQ(plan.statements[3].rfind("INSERT OR IGNORE INTO List_UpgradeCarBodyHood ", 0), 0u);
}

TEST(TireCompoundUpdateSqlTest, QuotesBothNames) {
  EXPECT_EQ(TireCompoundUpdateSql("-12", "", "W"),
            "UPDATE List_UpgradeTireCompound SET TireModelName = '', WetTireModelName = 'W' WHERE Id = -12");
}

}  // namespace
}  // namespace gearloft
