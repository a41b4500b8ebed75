// gearloft script tests: the compiler frame (key and name checks, car resolution, all-or-nothing files)
// and the new-row handlers with their Level and Id allocation, against an in-memory game database.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "compiler/compiler.h"
#include "fixture_db.h"

namespace gearloft {
namespace {

using testing::FixtureDb;

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db_.ok()) << db_.error(); }

  // Compiles with this test's registry and previous rows; the error is kept in error_.
  bool Compile(const std::string& content, Plan* out) {
    error_.clear();
    const QueryFn query = db_.Query();
    return CompileCarScript(content, query, levels_, out, &error_, previous_);
  }
  Plan MustCompile(const std::string& content) {
    Plan plan;
    EXPECT_TRUE(Compile(content, &plan)) << error_;
    return plan;
  }
  std::string CompileError(const std::string& content) {
    Plan plan;
    EXPECT_FALSE(Compile(content, &plan));
    EXPECT_TRUE(plan.statements.empty() && plan.names.empty() && plan.added_rows.empty());
    return error_;
  }
  bool Asked(const std::string& sql) const {
    return std::find(db_.asked().begin(), db_.asked().end(), sql) != db_.asked().end();
  }

  FixtureDb db_;
  LevelRegistry levels_;
  PreviousRowIds previous_;
  std::string error_;
};

const char* const kRimFrontColumns =
    "Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,"
    "RequiresGraphics";

TEST_F(CompilerTest, CarSevenFrontRimsGetLevelsFourAndFive) {
  const Plan plan = MustCompile("[7]\nrim_sizes_front = 18, 19\n");
  EXPECT_EQ(plan.names, (std::vector<std::string>{"Kestrel_GT"}));
  EXPECT_EQ(plan.statements, (std::vector<PlanStatement>{
                                 std::string("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (") +
                                     kRimFrontColumns + ") VALUES (7004,7,4,0,18,2000,1.36,1.0,1.0,0)",
                                 std::string("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (") +
                                     kRimFrontColumns + ") VALUES (7005,7,5,0,19,2200,2.72,1.0,1.0,0)"}));
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{"DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004",
                                                   "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7005"}));
  ASSERT_EQ(plan.checks.size(), 2u);
  EXPECT_EQ(plan.checks[0].sql, "SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004");
  EXPECT_EQ(plan.checks[0].want, 1.0);
  EXPECT_EQ(plan.checks[1].sql, "SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7005");
  ASSERT_EQ(plan.added_rows.size(), 2u);
  EXPECT_EQ(plan.added_rows[0].table, "List_UpgradeRimSizeFront");
  EXPECT_EQ(plan.added_rows[0].columns, kRimFrontColumns);
  EXPECT_EQ(plan.added_rows[0].values, "7004,7,4,0,18,2000,1.36,1.0,1.0,0");
  EXPECT_EQ(plan.added_rows[0].id, 7004);
  EXPECT_EQ(plan.added_rows[1].values, "7005,7,5,0,19,2200,2.72,1.0,1.0,0");
  EXPECT_TRUE(
      Asked("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND IsStock = 1"));
  EXPECT_TRUE(Asked("SELECT MAX(Level) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7"));
}

TEST_F(CompilerTest, PlainRimKeyAddsOneRowPerAxleAtEachTablesLevel) {
  const Plan plan = MustCompile("[Kestrel_GT]\nrim_sizes = 16\n");
  ASSERT_EQ(plan.added_rows.size(), 2u);
  EXPECT_EQ(plan.added_rows[0].table, "List_UpgradeRimSizeFront");
  EXPECT_EQ(plan.added_rows[0].values, "7004,7,4,0,16,1600,-1.36,1.0,1.0,0");
  EXPECT_EQ(plan.added_rows[1].table, "List_UpgradeRimSizeRear");
  EXPECT_EQ(plan.added_rows[1].columns,
            "Id,Ordinal,Level,IsStock,RearWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,"
            "RequiresGraphics");
  EXPECT_EQ(plan.added_rows[1].values, "7003,7,3,0,16,1600,-1.36,1.0,1.0,0");
}

TEST_F(CompilerTest, DiameterIsTruncated) {
  const Plan plan = MustCompile("[7]\nrim_sizes_front = 18.9\n");
  ASSERT_EQ(plan.added_rows.size(), 1u);
  EXPECT_EQ(plan.added_rows[0].values, "7004,7,4,0,18,2000,1.36,1.0,1.0,0");
}

TEST_F(CompilerTest, WithoutStockRowMassIsMeasuredFromTheFirstValue) {
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (901, 'Bare_Car', 'x', 2020)"));
  const Plan plan = MustCompile("[Bare_Car]\nrim_sizes_rear = 18, 20\n");
  ASSERT_EQ(plan.added_rows.size(), 2u);
  EXPECT_EQ(plan.added_rows[0].values, "901001,901,1,0,18,2000,0.0,1.0,1.0,0");
  EXPECT_EQ(plan.added_rows[1].values, "901002,901,2,0,20,2400,2.72,1.0,1.0,0");
}

TEST_F(CompilerTest, WithoutStockRowAFractionalFirstValueIsTheStock) {
  const Plan plan = MustCompile("[Orca_Coupe]\nrim_sizes_front = 18.9, 20\n");
  ASSERT_EQ(plan.added_rows.size(), 2u);
  EXPECT_NE(plan.added_rows[0].values.find(",18,2000,-1.22,1.0,1.0,0"), std::string::npos);
  EXPECT_NE(plan.added_rows[1].values.find(",20,2400,1.5,1.0,1.0,0"), std::string::npos);
}

TEST_F(CompilerTest, TyreProfileIsWrittenAsARealAndPricedByLevel) {
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (900, 'Fresh_Car', 'x', 2020)"));
  ASSERT_TRUE(db_.Exec(
      "INSERT INTO List_UpgradeCarBodyTireAspectRatioFront VALUES (900001, 900000, -2.5, 0, 1, 100, 0)"));
  const Plan plan = MustCompile("[Fresh_Car]\ntire_profiles_front = -5\n");
  ASSERT_EQ(plan.statements.size(), 1u);
  EXPECT_EQ(plan.statements[0],
            "INSERT OR IGNORE INTO List_UpgradeCarBodyTireAspectRatioFront "
            "(Id,CarBodyId,FrontTireAspectRatioOffset,IsStock,Level,Price,releaseOrder) "
            "VALUES (900002,900000,-5.0,0,2,200,0)");
  EXPECT_TRUE(
      Asked("SELECT MAX(Level) FROM List_UpgradeCarBodyTireAspectRatioFront WHERE CarBodyId = 900000"));
}

TEST_F(CompilerTest, RearTrackSpacingsOnACarWithoutRowsStartAtLevelOne) {
  const Plan plan = MustCompile("[8]\ntrack_spacings_rear = 1.25, 1.5\n");
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_EQ(plan.statements[0],
            "INSERT OR IGNORE INTO List_UpgradeCarBodyTrackSpacingRear "
            "(Id,CarBodyId,Spacing,IsStock,Level,Price,releaseOrder) VALUES (8001,8000,1.25,0,1,100,0)");
  EXPECT_EQ(plan.added_rows[1].values, "8002,8000,1.5,0,2,200,0");
}

TEST_F(CompilerTest, HandlersRunInTheirFixedOrderFrontBeforeRear) {
  const Plan plan = MustCompile(
      "[7]\ntrack_spacings_rear = 1.6\ntire_profiles = 2\nrim_sizes_rear = 18\nrim_sizes_front = 21\n");
  std::vector<std::string> tables;
  for (const AddedRow& row : plan.added_rows) tables.push_back(row.table);
  EXPECT_EQ(tables, (std::vector<std::string>{"List_UpgradeRimSizeFront", "List_UpgradeRimSizeRear",
                                              "List_UpgradeCarBodyTireAspectRatioFront",
                                              "List_UpgradeCarBodyTireAspectRatioRear",
                                              "List_UpgradeCarBodyTrackSpacingRear"}));
}

TEST_F(CompilerTest, EmptyValueAddsNothingAndAsksNothing) {
  const Plan plan = MustCompile("[7]\nrim_sizes =\n");
  EXPECT_TRUE(plan.statements.empty());
  EXPECT_EQ(db_.asked(), (std::vector<std::string>{"SELECT Id, MediaName FROM Data_Car WHERE Id = 7"}));
}

TEST_F(CompilerTest, TwoFilesOfOneLoadTakeConsecutiveLevels) {
  const Plan first = MustCompile("[7]\nrim_sizes_front = 18, 19\n");
  const Plan second = MustCompile("[kestrel_gt]\nrim_sizes_front = 20, 21\n");
  ASSERT_EQ(second.added_rows.size(), 2u);
  EXPECT_EQ(first.added_rows[1].id, 7005);
  EXPECT_EQ(second.added_rows[0].values, "7006,7,6,0,20,2400,4.08,1.0,1.0,0");
  EXPECT_EQ(second.added_rows[1].values, "7007,7,7,0,21,2600,5.44,1.0,1.0,0");
  EXPECT_EQ(levels_.at("List_UpgradeRimSizeFront|7"), 8);
}

TEST_F(CompilerTest, FailedFileLeavesTheRegistryAsItWas) {
  MustCompile("[7]\nrim_sizes_front = 18\n");
  const LevelRegistry before = levels_;
  EXPECT_EQ(CompileError("[7]\nrim_sizes_front = 19\ntrack_spacings_rear = 1.5\n[Nope]\n"),
            "[Nope]: no such car in Data_Car");
  EXPECT_EQ(levels_, before);
  const Plan next = MustCompile("[7]\nrim_sizes_front = 19\n");
  EXPECT_EQ(next.added_rows[0].id, 7005);
}

TEST_F(CompilerTest, ReapplyLeavesThePreviousRowsOutOfTheMaximum) {
  const Plan first = MustCompile("[7]\nrim_sizes_front = 18, 19\n");
  // The first plan applied: its rows are now in the game's table.
  for (const PlanStatement& statement : first.statements) ASSERT_TRUE(db_.Exec(statement)) << db_.error();
  previous_ = PreviousRowIdsOf(first);
  levels_.clear();
  db_.ClearAsked();
  const Plan again = MustCompile("[7]\nrim_sizes_front = 18, 19\n");
  EXPECT_TRUE(
      Asked("SELECT MAX(Level) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND Id NOT IN (7004,7005)"));
  EXPECT_EQ(again.statements, first.statements);
  EXPECT_EQ(again.added_rows[1].id, 7005);
}

TEST_F(CompilerTest, GameRowWithTheNewIdFailsTheFile) {
  // A row of another car that happens to hold the Id car 7's next front rim would take.
  ASSERT_TRUE(db_.Exec("INSERT INTO List_UpgradeRimSizeFront VALUES (7005, 99, 1, 0, 18, 2000, 0, 1, 1, 0)"));
  EXPECT_EQ(CompileError("[7]\nrim_sizes_front = 18, 19\n"),
            "[7]: List_UpgradeRimSizeFront already has a row 7005");
  EXPECT_TRUE(Asked("SELECT Id FROM List_UpgradeRimSizeFront WHERE Id BETWEEN 7000 AND 7999"));
}

TEST_F(CompilerTest, PreviousPlansRowWithTheNewIdIsNoCollision) {
  ASSERT_TRUE(db_.Exec("INSERT INTO List_UpgradeRimSizeFront VALUES (7005, 99, 1, 0, 18, 2000, 0, 1, 1, 0)"));
  previous_ = {{"List_UpgradeRimSizeFront", {7005}}};
  const Plan plan = MustCompile("[7]\nrim_sizes_front = 18, 19\n");
  EXPECT_EQ(plan.added_rows[1].id, 7005);
}

TEST_F(CompilerTest, CollisionInAnotherTableIsNotCountedForThisOne) {
  ASSERT_TRUE(db_.Exec("INSERT INTO List_UpgradeRimSizeRear VALUES (7004, 99, 1, 0, 18, 2000, 0, 1, 1, 0)"));
  previous_ = {{"List_UpgradeRimSizeRear", {1}}, {"List_UpgradeRimSizeFrontX", {7004}}};
  EXPECT_EQ(MustCompile("[7]\nrim_sizes_front = 18\n").added_rows[0].id, 7004);
}

TEST_F(CompilerTest, UnknownKeyIsNamedInMapOrderBeforeTheName) {
  EXPECT_EQ(CompileError("[Some Car]\nzz = 1\naa = 2\nrim_sizes = 17\n"), "[Some Car]: unknown key aa");
  EXPECT_EQ(CompileError("[7]\nrim_size = 17\n"), "[7]: unknown key rim_size");
  EXPECT_EQ(CompileError("[7]\ntrack_stock = 1.5\n"), "[7]: unknown key track_stock");
}

TEST_F(CompilerTest, EmptyKeyIsNamedAsEmptyBeforeAnyUnknownKey) {
  EXPECT_EQ(CompileError("[7]\n= 5\n"), "[7]: empty key before '=' or ':'");
  EXPECT_EQ(CompileError("[Some Car]\naa = 1\n : 5\n"), "[Some Car]: empty key before '=' or ':'");
}

TEST_F(CompilerTest, NameWithOtherBytesIsABadCarName) {
  EXPECT_EQ(CompileError("[Some Car]\n"), "[Some Car]: bad car name");
  EXPECT_EQ(CompileError("[-5]\n"), "[-5]: bad car name");
  EXPECT_EQ(CompileError("[Kestrel_GT']\n"), "[Kestrel_GT']: bad car name");
  EXPECT_TRUE(db_.asked().empty());
}

TEST_F(CompilerTest, DigitNameIsLookedUpWithItsZeros) {
  const Plan plan = MustCompile("[0042]\n");
  EXPECT_TRUE(Asked("SELECT Id, MediaName FROM Data_Car WHERE Id = 0042"));
  const QueryResult car = devhost::QueryRows(db_.db(), "SELECT MediaName FROM Data_Car WHERE Id = 42");
  ASSERT_EQ(car.rows.size(), 1u);
  EXPECT_EQ(plan.names, (std::vector<std::string>{car.rows[0][0].text}));
  EXPECT_TRUE(plan.statements.empty());
}

TEST_F(CompilerTest, MediaNameIsLookedUpWithoutCase) {
  const Plan plan = MustCompile("[kestrel_GT]\n");
  EXPECT_TRUE(Asked("SELECT Id, MediaName FROM Data_Car WHERE MediaName = 'kestrel_GT' COLLATE NOCASE"));
  EXPECT_EQ(plan.names, (std::vector<std::string>{"Kestrel_GT"}));
}

TEST_F(CompilerTest, MissingCarFailsTheFile) {
  EXPECT_EQ(CompileError("[]\n"), "[]: no such car in Data_Car");
  EXPECT_TRUE(Asked("SELECT Id, MediaName FROM Data_Car WHERE MediaName = '' COLLATE NOCASE"));
  EXPECT_EQ(CompileError("[9999]\n"), "[9999]: no such car in Data_Car");
}

TEST_F(CompilerTest, UnreachableDatabaseFailsEveryFileWithASection) {
  const QueryFn refuse = [](const std::string&) { return QueryResult(); };
  Plan plan;
  std::string error;
  EXPECT_FALSE(CompileCarScript("[7]\n", refuse, levels_, &plan, &error, previous_));
  EXPECT_EQ(error, "[7]: no such car in Data_Car");
  EXPECT_TRUE(CompileCarScript("; nothing here\n", refuse, levels_, &plan, &error, previous_));
}

TEST_F(CompilerTest, CarWhoseMediaNameIsNotTextAddsNoName) {
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (77, NULL, 'x', 2000), (78, X'4142', 'y', 2001)"));
  EXPECT_TRUE(MustCompile("[77]\n[78]\n").names.empty());
}

TEST_F(CompilerTest, CarIdBeyondTheIdArithmeticIsNoCar) {
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (2000000000000000, 'Huge_Car', 'x', 2000)"));
  EXPECT_EQ(CompileError("[Huge_Car]\nrim_sizes = 18\n"), "[Huge_Car]: no such car in Data_Car");
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (-2000000000000000, 'Deep_Car', 'x', 2000)"));
  EXPECT_EQ(CompileError("[Deep_Car]\n"), "[Deep_Car]: no such car in Data_Car");
  const QueryFn no_id = [](const std::string&) {
    QueryResult result;
    result.ok = true;
    result.rows.push_back({});
    return result;
  };
  Plan plan;
  std::string error;
  EXPECT_FALSE(CompileCarScript("[7]\n", no_id, levels_, &plan, &error, previous_));
  EXPECT_EQ(error, "[7]: no such car in Data_Car");
}

TEST_F(CompilerTest, NegativeCarIdIsWrittenWithItsSign) {
  ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (-3, 'Minus_Car', 'x', 2000)"));
  const Plan plan = MustCompile("[Minus_Car]\ntrack_spacings_front = 1.5\n");
  ASSERT_EQ(plan.added_rows.size(), 1u);
  EXPECT_EQ(plan.added_rows[0].values, "-2999,-3000,1.5,0,1,100,0");
  EXPECT_TRUE(Asked("SELECT Id FROM List_UpgradeCarBodyTrackSpacingFront WHERE Id BETWEEN -3000 AND -2001"));
}

TEST_F(CompilerTest, DiameterWhosePriceOverflowsIsNotANumberList) {
  const Plan largest = MustCompile("[7]\nrim_sizes_front = 10737426.9\n");
  EXPECT_EQ(largest.added_rows[0].values, "7004,7,4,0,10737426,2147483600,14602876.24,1.0,1.0,0");
  levels_.clear();
  EXPECT_EQ(CompileError("[7]\nrim_sizes_front = 10737427\n"), "[7]: rim_sizes is not a number list");
  EXPECT_EQ(CompileError("[7]\nrim_sizes_rear = -10737411\n"), "[7]: rim_sizes is not a number list");
  EXPECT_EQ(CompileError("[7]\nrim_sizes = 1e300\n"), "[7]: rim_sizes is not a number list");
}

TEST_F(CompilerTest, BadItemIsFoundBeforeTheDatabaseIsAsked) {
  EXPECT_EQ(CompileError("[7]\nrim_sizes = 18, nan\n"), "[7]: rim_sizes is not a number list");
  EXPECT_EQ(CompileError("[7]\ntire_profiles_rear = inf\n"), "[7]: tire_profiles is not a number list");
  EXPECT_EQ(CompileError("[7]\ntrack_spacings = Infinity\n"), "[7]: track_spacings is not a number list");
  EXPECT_EQ(db_.asked(), (std::vector<std::string>(3, "SELECT Id, MediaName FROM Data_Car WHERE Id = 7")));
}

TEST_F(CompilerTest, HugeValuesThatStayRealsAreAccepted) {
  const Plan plan = MustCompile("[8]\ntrack_spacings_rear = 1e300\n");
  EXPECT_EQ(plan.added_rows[0].values, "8001,8000,1e+300,0,1,100,0");
}

TEST_F(CompilerTest, LevelNineHundredNinetyNineIsTheLastInTheCarsBlock) {
  ASSERT_TRUE(
      db_.Exec("INSERT INTO List_UpgradeCarBodyTrackSpacingRear VALUES (8998, 8000, 1.5, 0, 998, 0, 0)"));
  const Plan plan = MustCompile("[8]\ntrack_spacings_rear = 1.6\n");
  ASSERT_EQ(plan.added_rows.size(), 1u);
  EXPECT_EQ(plan.added_rows[0].values, "8999,8000,1.6,0,999,99900,0");
  // Level 1000 would be Id 9000, the stock row of car 9.
  EXPECT_EQ(CompileError("[8]\ntrack_spacings_rear = 1.7\n"),
            "[8]: track_spacings_rear Level 1000 is past List_UpgradeCarBodyTrackSpacingRear's limit of 999 "
            "per car");
  levels_.clear();
  EXPECT_EQ(
      CompileError("[8]\ntrack_spacings = 1.6, 1.7\n"),
      "[8]: track_spacings Level 1000 is past List_UpgradeCarBodyTrackSpacingRear's limit of 999 per car");
}

TEST_F(CompilerTest, ListReachingIntoTheNextCarsBlockFailsTheFile) {
  std::string spacings;
  for (int i = 0; i < 999; ++i) spacings += (i == 0 ? "" : ", ") + std::to_string(1.0 + i / 1000.0);
  const std::string error = CompileError("[Kestrel_GT]\ntrack_spacings_rear = " + spacings + "\n");
  EXPECT_EQ(
      error,
      "[Kestrel_GT]: track_spacings_rear Level 1000 is past List_UpgradeCarBodyTrackSpacingRear's limit "
      "of 999 per car");
  // The next car's first new row is its own, and nothing of the failed file holds its Level.
  EXPECT_EQ(MustCompile("[Orca_Coupe]\ntrack_spacings_rear = 1.5\n").added_rows[0].id, 8001);
  std::string rims;
  for (int i = 0; i < 1500; ++i) rims += (i == 0 ? "" : ",") + std::to_string(15 + i % 10);
  EXPECT_EQ(CompileError("[48]\nrim_sizes = " + rims + "\n"),
            "[48]: rim_sizes Level 1000 is past List_UpgradeRimSizeFront's limit of 999 per car");
}

TEST_F(CompilerTest, GamesOwnLevelPastTheBlockFailsTheFile) {
  ASSERT_TRUE(
      db_.Exec("INSERT INTO List_UpgradeRimSizeFront VALUES (7500, 7, 2147483647, 0, 18, 0, 0, 1, 1, 0)"));
  EXPECT_EQ(CompileError("[7]\nrim_sizes_front = 18\n"),
            "[7]: rim_sizes_front Level 2147483648 is past List_UpgradeRimSizeFront's limit of 999 per car");
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeRimSizeFront SET Level = 1e300 WHERE Id = 7500"));
  EXPECT_EQ(CompileError("[7]\nrim_sizes = 18\n"),
            "[7]: rim_sizes Level 1000000000000001 is past List_UpgradeRimSizeFront's limit of 999 per car");
}

// A negative highest Level would put the first new row on the stock row's Id, or into car 7's block.
TEST_F(CompilerTest, LevelBelowOneFailsTheFile) {
  ASSERT_TRUE(
      db_.Exec("INSERT INTO List_UpgradeCarBodyTrackSpacingRear VALUES (8500, 8000, 1.5, 0, -1, 0, 0)"));
  EXPECT_EQ(CompileError("[8]\ntrack_spacings_rear = 1.6\n"),
            "[8]: track_spacings_rear Level 0 is below List_UpgradeCarBodyTrackSpacingRear's lowest of 1 per "
            "car");
  ASSERT_TRUE(db_.Exec("UPDATE List_UpgradeCarBodyTrackSpacingRear SET Level = -5 WHERE Id = 8500"));
  EXPECT_EQ(
      CompileError("[8]\ntrack_spacings_rear = 1.6\n"),
      "[8]: track_spacings_rear Level -4 is below List_UpgradeCarBodyTrackSpacingRear's lowest of 1 per "
      "car");
}

TEST_F(CompilerTest, EveryCarKeyActsOnAFixtureCar) {
  // Car 7 has every row the keys change; a value each key accepts there.
  const std::map<std::string, std::string> values = {
      {"ride_drop_front", "0.01"}, {"ride_drop_rear", "0.01"},    {"whitewall_level", "1"},
      {"hood_options", "2"},       {"track_front_stock", "0.01"}, {"track_rear_stock", "0.01"}};
  for (const std::string& key : CarKeys()) {
    levels_.clear();
    const auto special = values.find(key);
    const std::string value = special == values.end() ? "18" : special->second;
    Plan plan;
    EXPECT_TRUE(Compile("[7]\n" + key + " = " + value + "\n", &plan)) << key << ": " << error_;
    EXPECT_FALSE(plan.statements.empty()) << key << " compiled to nothing";
    EXPECT_EQ(plan.statements.size(), plan.undo.size()) << key;
    EXPECT_EQ(plan.statements.size(), plan.checks.size()) << key;
  }
}

TEST_F(CompilerTest, EveryStatementIsGivenTheSectionAndKeyThatMadeIt) {
  Plan plan;
  std::vector<ChangeOrigin> origins;
  ASSERT_TRUE(
      CompileCarScript("[7]\nrim_sizes = 18\nrim_sizes_rear = 19\nrim_stock = 17\nrim_front_stock = 18\n"
                       "ride_drop_rear = 0.01\n[Orca_Coupe]\nhood_options = 2, 3\n",
                       db_.Query(), levels_, &plan, &error_, previous_, nullptr, &origins))
      << error_;
  ASSERT_EQ(origins.size(), plan.statements.size());
  // Car 7 has two rear spring/damper physics rows.
  std::vector<std::string> made_by;
  for (const ChangeOrigin& origin : origins) made_by.push_back(origin.section + " " + origin.key);
  EXPECT_EQ(made_by, (std::vector<std::string>{"7 rim_sizes", "7 rim_sizes_rear", "7 rim_front_stock",
                                               "7 rim_stock", "7 ride_drop_rear", "7 ride_drop_rear",
                                               "Orca_Coupe hood_options", "Orca_Coupe hood_options"}));
  // A file that fails gives none.
  std::vector<ChangeOrigin> none;
  EXPECT_FALSE(CompileCarScript("[7]\nrim_stock = 17\n[nobody]\n", db_.Query(), levels_, &plan, &error_,
                                previous_, nullptr, &none));
  EXPECT_TRUE(none.empty());
}

TEST_F(CompilerTest, SecondSectionFailingDropsTheWholeFile) {
  Plan out;
  out.statements.push_back("kept");
  out.names.push_back("kept");
  const LevelRegistry before = levels_;
  EXPECT_FALSE(Compile("[7]\nrim_sizes_front = 18\n[8]\nrim_sizes_front = 18, x\n", &out));
  EXPECT_EQ(error_, "[8]: rim_sizes is not a number list");
  EXPECT_EQ(out.statements, (std::vector<PlanStatement>{"kept"}));
  EXPECT_EQ(out.names, (std::vector<std::string>{"kept"}));
  EXPECT_TRUE(out.undo.empty() && out.checks.empty() && out.added_rows.empty());
  EXPECT_EQ(levels_, before);
}

TEST_F(CompilerTest, CompiledFileIsAppendedAfterWhatOutHeld) {
  Plan out;
  out.statements.push_back("earlier");
  ASSERT_TRUE(Compile("[7]\ntrack_spacings_front = 1.5\n[8]\n", &out)) << error_;
  ASSERT_EQ(out.statements.size(), 2u);
  EXPECT_EQ(out.statements[0], "earlier");
  EXPECT_EQ(out.names, (std::vector<std::string>{"Kestrel_GT", "Orca_Coupe"}));
}

TEST_F(CompilerTest, ParserMessageStands) {
  EXPECT_EQ(CompileError("[7]\nrim_sizes = 18\n[x"), "line 3: bad section header");
  EXPECT_TRUE(db_.asked().empty());
}

TEST_F(CompilerTest, EmptyOrCommentOnlyFileCompilesToNothing) {
  EXPECT_TRUE(MustCompile("").statements.empty());
  EXPECT_TRUE(MustCompile("; just a note\n").names.empty());
}

TEST(QueryNumberTest, FirstCellOrTheFallback) {
  FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  const QueryFn query = db.Query();
  EXPECT_EQ(QueryNumber(query, "SELECT 2.5", -1.0), 2.5);
  EXPECT_EQ(QueryNumber(query, "SELECT 7", -1.0), 7.0);
  EXPECT_EQ(QueryNumber(query, "SELECT NULL", -1.0), -1.0);
  EXPECT_EQ(QueryNumber(query, "SELECT 'text'", -1.0), -1.0);
  EXPECT_EQ(QueryNumber(query, "SELECT 1 WHERE 0", -1.0), -1.0);
  EXPECT_EQ(QueryNumber(query, "SELECT FROM nowhere", -1.0), -1.0);
  EXPECT_EQ(QueryNumber(query, "SELECT MAX(Level) FROM List_UpgradeRimSizeRear WHERE Ordinal = 99999", 0.0),
            0.0);
}

// Notepad's "Unicode" saves two bytes a character; read as UTF-8 the first line looks like no key at all.
TEST_F(CompilerTest, Utf16FileSaysHowToSaveIt) {
  const std::string little = std::string(
      "\xFF\xFE[\0"
      "7\0]\0",
      8);
  EXPECT_EQ(CompileError(little), "file is saved as UTF-16 - save it as UTF-8");
  const std::string big = std::string(
      "\xFE\xFF\0[\0"
      "7\0]",
      8);
  EXPECT_EQ(CompileError(big), "file is saved as UTF-16 - save it as UTF-8");
  // Two such bytes anywhere but at the start are only bytes of a line.
  EXPECT_EQ(CompileError("[7]\n\xFF\xFE\n"), "line 2: expected key = value inside a [car]");
}

TEST(NextLevelTest, AsksOncePerTableAndOwner) {
  FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  const QueryFn query = db.Query();
  LevelRegistry levels;
  const PreviousRowIds previous = {{"List_UpgradeRimSizeFront", {}}};
  IdContext ids{levels, previous, query};
  int64_t level = 0;
  ASSERT_TRUE(NextLevel(ids, "List_UpgradeRimSizeFront", "Ordinal", 7, &level));
  EXPECT_EQ(level, 4);
  ASSERT_TRUE(NextLevel(ids, "List_UpgradeRimSizeFront", "Ordinal", 7, &level));
  EXPECT_EQ(level, 5);
  ASSERT_TRUE(NextLevel(ids, "List_UpgradeRimSizeRear", "Ordinal", 7, &level));
  EXPECT_EQ(level, 3);
  EXPECT_EQ(db.asked(),
            (std::vector<std::string>{"SELECT MAX(Level) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7",
                                      "SELECT MAX(Level) FROM List_UpgradeRimSizeRear WHERE Ordinal = 7"}));
  EXPECT_EQ(levels, (LevelRegistry{{"List_UpgradeRimSizeFront|7", 6}, {"List_UpgradeRimSizeRear|7", 3 + 1}}));
}

TEST(NextLevelTest, RealMaximumIsTruncated) {
  const QueryFn query = [](const std::string&) {
    QueryResult result;
    result.ok = true;
    QueryCell cell;
    cell.kind = QueryCell::Kind::kReal;
    cell.real = -0.5;
    result.rows.push_back({cell});
    return result;
  };
  LevelRegistry levels;
  const PreviousRowIds previous;
  IdContext ids{levels, previous, query};
  int64_t level = 0;
  ASSERT_TRUE(NextLevel(ids, "T", "CarBodyId", 9000, &level));
  EXPECT_EQ(level, 1);
}

}  // namespace
}  // namespace gearloft
