// gearloft compiler tests: look-ups the game answered badly. A failed or malformed answer must refuse the
// file, never free a row Id the game holds or measure rims from a guess.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "hostdb/hostdb.h"
#include "support/answers.h"

namespace gearloft {
namespace {

constexpr const char* kKestrel =
    "SELECT Id, MediaName FROM Data_Car WHERE MediaName = 'Kestrel_GT' COLLATE NOCASE";
constexpr const char* kRearSpacingLevel =
    "SELECT MAX(Level) FROM List_UpgradeCarBodyTrackSpacingRear WHERE CarBodyId = 7000";
constexpr const char* kRearSpacingIds =
    "SELECT Id FROM List_UpgradeCarBodyTrackSpacingRear WHERE Id BETWEEN 7000 AND 7999";
constexpr const char* kFrontRimStock =
    "SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND IsStock = 1";
constexpr const char* kFrontRimLevel = "SELECT MAX(Level) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7";
constexpr const char* kFrontRimIds = "SELECT Id FROM List_UpgradeRimSizeFront WHERE Id BETWEEN 7000 AND 7999";

// The game as the compiler asks it: these answers, and a failed call for anything else.
class BadAnswers : public ::testing::Test {
 protected:
  bool Compile(const std::string& script) {
    const QueryFn query = [this](const std::string& sql) {
      const auto found = answers_.find(sql);
      return found != answers_.end() ? found->second : QueryResult();
    };
    LevelRegistry levels;
    return CompileCarScript(script, query, levels, &plan_, &error_, PreviousRowIds());
  }

  std::map<std::string, QueryResult> answers_{
      {kKestrel, test::Answer({{test::IntegerCell(7), test::TextCell("Kestrel_GT")}})}};
  Plan plan_;
  std::string error_;
};

// The failed maximum makes the first Level 1, whose Id 7001 the game holds: the Id look-up must not take
// its own failure for a free Id, or the plan's undo would delete the game's row.
TEST_F(BadAnswers, FailedIdLookUpRefusesTheFile) {
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear gave no readable answer for row 7001");
  EXPECT_TRUE(plan_.statements.empty());
}

TEST_F(BadAnswers, IdLookUpWithTextIdsRefusesTheFile) {
  answers_[kRearSpacingIds] = test::Answer({{test::TextCell("7000")}, {test::TextCell("7001")}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear gave no readable answer for row 7001");
}

TEST_F(BadAnswers, IdLookUpWithoutCellsRefusesTheFile) {
  answers_[kRearSpacingIds] = test::Answer({{}, {}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear gave no readable answer for row 7001");
}

TEST_F(BadAnswers, ReadableIdLookUpStillFindsTheGamesRow) {
  answers_[kRearSpacingIds] = test::Answer({{test::IntegerCell(7000)}, {test::IntegerCell(7001)}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear already has a row 7001");
}

TEST_F(BadAnswers, ReadableIdLookUpFreesAnIdTheGameLacks) {
  answers_[kRearSpacingLevel] = test::Answer({{test::IntegerCell(2)}});
  answers_[kRearSpacingIds] =
      test::Answer({{test::IntegerCell(7000)}, {test::IntegerCell(7001)}, {test::IntegerCell(7002)}});
  ASSERT_TRUE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n")) << error_;
  ASSERT_EQ(plan_.added_rows.size(), 1u);
  EXPECT_EQ(plan_.added_rows[0].id, 7003);
}

// The stock diameter is what a new rim's MassDiff is measured from; a guess would be written unnoticed.
TEST_F(BadAnswers, FailedStockDiameterRefusesTheFile) {
  answers_[kFrontRimLevel] = test::Answer({{test::IntegerCell(3)}});
  answers_[kFrontRimIds] = test::Answer({{test::IntegerCell(7000)},
                                         {test::IntegerCell(7001)},
                                         {test::IntegerCell(7002)},
                                         {test::IntegerCell(7003)}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

TEST_F(BadAnswers, StockDiameterAsTextRefusesTheFile) {
  answers_[kFrontRimStock] = test::Answer({{test::TextCell("17")}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

TEST_F(BadAnswers, StockRowWithoutCellsRefusesTheFile) {
  answers_[kFrontRimStock] = test::Answer({{}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

// No stock row, or a NULL diameter, is the game's own data: the sizes are measured from the first one.
TEST_F(BadAnswers, MissingOrNullStockDiameterMeasuresFromTheFirstSize) {
  answers_[kFrontRimLevel] = test::Answer({{test::IntegerCell(3)}});
  answers_[kFrontRimIds] = test::Answer({{test::IntegerCell(7000)},
                                         {test::IntegerCell(7001)},
                                         {test::IntegerCell(7002)},
                                         {test::IntegerCell(7003)}});
  for (const QueryResult& stock : {test::Answer({}), test::Answer({{QueryCell()}})}) {
    answers_[kFrontRimStock] = stock;
    plan_ = Plan();
    ASSERT_TRUE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n")) << error_;
    ASSERT_EQ(plan_.added_rows.size(), 1u);
    EXPECT_EQ(plan_.added_rows[0].values, "7004,7,4,0,18,2000,0.0,1.0,1.0,0");
  }
}

}  // namespace
}  // namespace gearloft
