// gearloft script tests: the ride drop against the simulated game's fixture: the four heights shifted,
// the travel-floor refusal, the undo that restores the heights exactly, and heights that are not numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "compile_case.h"
#include "support/support.h"

namespace gearloft {
namespace {

using testing::AnswerOneQuery;
using testing::IntegerCell;
using testing::OneRow;
using testing::RealCell;
using testing::TextCell;

std::string PhysicsQuery(const std::string& column, const std::string& car) {
  return "SELECT SpringDamperPhysicsID, DefRideHeight, MinRideHeight, MaxRideHeight, MaxCompressHeight FROM "
         "List_SpringDamperPhysics WHERE SpringDamperPhysicsID IN (SELECT " +
         column + " FROM List_UpgradeSpringDamper WHERE Ordinal = " + car + ")";
}

class RideDropTest : public testing::CompileCase {
 protected:
  // A car of its own whose front spring/damper levels use the physics rows given as
  // (Id, default, minimum, maximum, compress) lists of SQL values.
  void AddFrontPhysics(const std::vector<std::string>& rows) {
    ASSERT_TRUE(db_.Exec("INSERT INTO Data_Car VALUES (950, 'Drop_Car', 'x', 2000)"));
    int level = 0;
    for (const std::string& row : rows) {
      const std::string id = row.substr(0, row.find(','));
      ASSERT_TRUE(db_.Exec("INSERT INTO List_SpringDamperPhysics VALUES (" + row + ", 70000)"))
          << db_.error();
      ASSERT_TRUE(db_.Exec("INSERT INTO List_UpgradeSpringDamper VALUES (" + std::to_string(950000 + level) +
                           ", 950, " + std::to_string(level) + ", 0, " + id + ", " + id + ", 0)"))
          << db_.error();
      ++level;
    }
  }
};

TEST_F(RideDropTest, DropShiftsAllFourHeightsOfTheFrontRow) {
  const Plan plan = MustCompile("[7]\nride_drop_front = 0.02\n");
  EXPECT_EQ(plan.statements, (std::vector<PlanStatement>{
                                 "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.08, MinRideHeight = "
                                 "0.03, MaxRideHeight = 0.13, MaxCompressHeight = 0.01 WHERE "
                                 "SpringDamperPhysicsID = 71"}));
  EXPECT_EQ(plan.undo, (std::vector<PlanStatement>{
                           "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1, MinRideHeight = "
                           "0.05, MaxRideHeight = 0.15, MaxCompressHeight = 0.03 WHERE "
                           "SpringDamperPhysicsID = 71"}));
  ASSERT_EQ(plan.checks.size(), 1u);
  EXPECT_EQ(plan.checks[0].sql,
            "SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 71");
  EXPECT_EQ(plan.checks[0].want, 0.10 - 0.02);
  EXPECT_TRUE(Asked(PhysicsQuery("FrontSpringDamperPhysicsID", "7")));
  EXPECT_TRUE(plan.added_rows.empty());
}

// The default height is written to ten digits: 0.10 - 0.0123456789012 is 0.0876543210988.
TEST_F(RideDropTest, CheckWantsTheDefaultHeightItsStatementWrites) {
  const Plan plan = MustCompile("[7]\nride_drop_front = 0.0123456789012\n");
  ASSERT_EQ(plan.statements.size(), 1u);
  EXPECT_EQ(plan.statements[0].rfind("UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.0876543211, ", 0),
            0u)
      << plan.statements[0];
  EXPECT_EQ(plan.checks[0].want, 0.0876543211);
  EXPECT_NE(plan.checks[0].want, 0.10 - 0.0123456789012);
}

TEST_F(RideDropTest, DropBelowTheTravelFloorIsRefusedWithTheFloorMessage) {
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.05\n"),
            "[7]: ride_drop_front 0.050 puts the travel floor at -0.020 m (min 0.000) - max drop 0.030");
  // The rear row 72 has a compress height of 0.035; the front edit before it is dropped with the file.
  EXPECT_EQ(
      CompileError("[Kestrel_GT]\nride_drop_front = 0.01\nride_drop_rear = 1\n"),
      "[Kestrel_GT]: ride_drop_rear 1.000 puts the travel floor at -0.965 m (min 0.000) - max drop 0.035");
}

TEST_F(RideDropTest, DropEqualToTheCompressHeightLeavesAFloorOfZero) {
  const Plan plan = MustCompile("[7]\nride_drop_front = 0.03\n");
  ASSERT_EQ(plan.statements.size(), 1u);
  EXPECT_EQ(
      plan.statements[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.07, MinRideHeight = 0.02, MaxRideHeight = 0.12, "
      "MaxCompressHeight = 0.0 WHERE SpringDamperPhysicsID = 71");
}

TEST_F(RideDropTest, NegativeDropRaisesEveryRearRow) {
  const Plan plan = MustCompile("[7]\nride_drop_rear = -0.01\n");
  // Car 7's rear levels use physics rows 72 (stock) and 74 (race), returned in Id order.
  EXPECT_EQ(plan.statements, (std::vector<PlanStatement>{
                                 "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.13, MinRideHeight = "
                                 "0.09, MaxRideHeight = 0.17, MaxCompressHeight = 0.045 WHERE "
                                 "SpringDamperPhysicsID = 72",
                                 "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.1, MinRideHeight = "
                                 "0.07, MaxRideHeight = 0.13, MaxCompressHeight = 0.04 WHERE "
                                 "SpringDamperPhysicsID = 74"}));
  EXPECT_EQ(
      plan.undo[1],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.09, MinRideHeight = 0.06, MaxRideHeight = 0.12, "
      "MaxCompressHeight = 0.03 WHERE SpringDamperPhysicsID = 74");
  EXPECT_TRUE(Asked(PhysicsQuery("RearSpringDamperPhysicsID", "7")));
  // A raise passes the floor test however far it goes.
  EXPECT_EQ(MustCompile("[7]\nride_drop_rear = -1e300\n").statements.size(), 2u);
}

TEST_F(RideDropTest, ThreeRowsGiveThreeTriplesInRowOrder) {
  AddFrontPhysics(
      {"9501, 0.1, 0.05, 0.15, 0.04", "9502, 0.2, 0.15, 0.25, 0.03", "9503, 0.3, 0.25, 0.35, 0.02"});
  const Plan plan = MustCompile("[Drop_Car]\nride_drop_front = 0.02\n");
  ASSERT_EQ(plan.statements.size(), 3u);
  EXPECT_NE(plan.statements[0].find("MaxCompressHeight = 0.02 WHERE SpringDamperPhysicsID = 9501"),
            std::string::npos);
  EXPECT_NE(plan.statements[1].find("MaxCompressHeight = 0.01 WHERE SpringDamperPhysicsID = 9502"),
            std::string::npos);
  EXPECT_EQ(
      plan.statements[2],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.28, MinRideHeight = 0.23, MaxRideHeight = 0.33, "
      "MaxCompressHeight = 0.0 WHERE SpringDamperPhysicsID = 9503");
  EXPECT_EQ(
      plan.undo[1],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.2, MinRideHeight = 0.15, MaxRideHeight = 0.25, "
      "MaxCompressHeight = 0.03 WHERE SpringDamperPhysicsID = 9502");
  EXPECT_EQ(plan.checks[2].sql,
            "SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 9503");
  // What the statement's "0.28" reads as, not 0.3 - 0.02 (0.27999999999999997).
  EXPECT_EQ(plan.checks[2].want, 0.28);
}

TEST_F(RideDropTest, ThirdRowFailingTheFloorRejectsTheFile) {
  AddFrontPhysics(
      {"9501, 0.1, 0.05, 0.15, 0.04", "9502, 0.2, 0.15, 0.25, 0.03", "9503, 0.3, 0.25, 0.35, 0.02"});
  EXPECT_EQ(
      CompileError("[Drop_Car]\nride_drop_front = 0.025\n"),
      "[Drop_Car]: ride_drop_front 0.025 puts the travel floor at -0.005 m (min 0.000) - max drop 0.020");
}

TEST_F(RideDropTest, ValueThatIsNotOneNumberTakesOneNumber) {
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.01, 0.02\n"), "[7]: ride_drop_front takes one number");
  EXPECT_EQ(CompileError("[7]\nride_drop_rear =\n"), "[7]: ride_drop_rear takes one number");
  EXPECT_EQ(CompileError("[7]\nride_drop_rear = inf\n"), "[7]: ride_drop_rear takes one number");
}

TEST_F(RideDropTest, CarWithoutSpringDamperRowsFailsTheFile) {
  EXPECT_EQ(CompileError("[8]\nride_drop_front = 0.01\n"), "[8]: no spring/damper physics rows");
  const QueryFn refuse = AnswerOneQuery(db_, PhysicsQuery("RearSpringDamperPhysicsID", "7"), QueryResult());
  EXPECT_EQ(CompileError("[7]\nride_drop_rear = 0.01\n", &refuse), "[7]: no spring/damper physics rows");
}

TEST_F(RideDropTest, RowWithoutAUsableIdFailsTheFile) {
  for (const QueryCell& id : {QueryCell(), TextCell("71"), RealCell(1e19)}) {
    const QueryFn odd =
        AnswerOneQuery(db_, PhysicsQuery("FrontSpringDamperPhysicsID", "7"),
                       OneRow({id, RealCell(0.1), RealCell(0.05), RealCell(0.15), RealCell(0.03)}));
    EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.01\n", &odd), "[7]: no spring/damper physics rows");
  }
}

TEST_F(RideDropTest, HeightThatIsNoNumberFailsTheFile) {
  ASSERT_TRUE(
      db_.Exec("UPDATE List_SpringDamperPhysics SET MinRideHeight = NULL WHERE SpringDamperPhysicsID = 71"));
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.01\n"),
            "[7]: List_SpringDamperPhysics row 71 holds no height");
  // The compress height is what the floor test reads: without it no statement may be written either.
  ASSERT_TRUE(
      db_.Exec("UPDATE List_SpringDamperPhysics SET MinRideHeight = 0.05, MaxCompressHeight = 'low' WHERE "
               "SpringDamperPhysicsID = 71"));
  EXPECT_EQ(CompileError("[7]\nride_drop_front = -0.01\n"),
            "[7]: List_SpringDamperPhysics row 71 holds no height");
  const QueryFn short_row = AnswerOneQuery(db_, PhysicsQuery("FrontSpringDamperPhysicsID", "7"),
                                           OneRow({IntegerCell(71), RealCell(0.1), RealCell(0.05)}));
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.01\n", &short_row),
            "[7]: List_SpringDamperPhysics row 71 holds no height");
}

TEST_F(RideDropTest, UndoRestoresHeightsStoredFromFloats) {
  // Car 12's front rows hold heights that went through a 32-bit float.
  const Plan plan = MustCompile("[12]\nride_drop_front = 0.02\n");
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_EQ(
      plan.statements[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.130000006, MinRideHeight = 0.0899999994, "
      "MaxRideHeight = 0.1699999976, MaxCompressHeight = 0.01500000015 WHERE SpringDamperPhysicsID = 121");
  EXPECT_EQ(
      plan.undo[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.15000000596046448, MinRideHeight = "
      "0.10999999940395355, MaxRideHeight = 0.1899999976158142, MaxCompressHeight = 0.03500000014901161 "
      "WHERE SpringDamperPhysicsID = 121");
  // What the statement's "0.130000006" reads as, not 0.15000000596046448 - 0.02 itself.
  EXPECT_EQ(plan.checks[0].want, 0.130000006);
}

TEST_F(RideDropTest, IntegerHeightsAreReadAsNumbers) {
  const QueryFn integers = AnswerOneQuery(
      db_, PhysicsQuery("FrontSpringDamperPhysicsID", "7"),
      OneRow({IntegerCell(71), IntegerCell(1), IntegerCell(0), IntegerCell(2), IntegerCell(1)}));
  Plan plan;
  ASSERT_TRUE(Compile("[7]\nride_drop_front = 0.5\n", &plan, &integers)) << error_;
  EXPECT_EQ(
      plan.statements[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.5, MinRideHeight = -0.5, MaxRideHeight = 1.5, "
      "MaxCompressHeight = 0.5 WHERE SpringDamperPhysicsID = 71");
  EXPECT_EQ(
      plan.undo[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 1.0, MinRideHeight = 0.0, MaxRideHeight = 2.0, "
      "MaxCompressHeight = 1.0 WHERE SpringDamperPhysicsID = 71");
}

TEST_F(RideDropTest, LongFloorMessageIsCutAsA200ByteBufferCutsIt) {
  const double drop = 1e300;
  char printed[1024];
  std::snprintf(printed, sizeof printed,
                "]: %s %.3f puts the travel floor at %.3f m (min %.3f) - max drop %.3f", "ride_drop_front",
                drop, 0.03 - drop, 0.0, 0.03 - 0.0);
  // A 200-byte buffer keeps the first 199 characters and the terminator.
  const std::string expected = "[7" + std::string(printed).substr(0, 199);
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 1e300\n"), expected);
  EXPECT_EQ(error_.size(), 2u + 199u);
}

TEST_F(RideDropTest, NumbersKeepTheirPointInACommaLocale) {
  test::CommaLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no comma-decimal locale is installed";
  EXPECT_EQ(CompileError("[7]\nride_drop_front = 0.05\n"),
            "[7]: ride_drop_front 0.050 puts the travel floor at -0.020 m (min 0.000) - max drop 0.030");
  const Plan plan = MustCompile("[12]\nride_drop_front = 0.02\n");
  EXPECT_EQ(
      plan.undo[0],
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 0.15000000596046448, MinRideHeight = "
      "0.10999999940395355, MaxRideHeight = 0.1899999976158142, MaxCompressHeight = 0.03500000014901161 "
      "WHERE SpringDamperPhysicsID = 121");
}

TEST_F(RideDropTest, FrontComesBeforeRear) {
  const Plan plan = MustCompile("[7]\nride_drop_rear = 0.01\nride_drop_front = 0.01\n");
  ASSERT_EQ(plan.statements.size(), 3u);
  EXPECT_NE(plan.statements[0].find("SpringDamperPhysicsID = 71"), std::string::npos);
  EXPECT_NE(plan.statements[1].find("SpringDamperPhysicsID = 72"), std::string::npos);
  EXPECT_NE(plan.statements[2].find("SpringDamperPhysicsID = 74"), std::string::npos);
}

TEST(SpringDamperUpdateSqlTest, WritesTheFourHeightsAsReals) {
  EXPECT_EQ(
      SpringDamperUpdateSql("-5", 1, 0.5, 1e-7, -0.25),
      "UPDATE List_SpringDamperPhysics SET DefRideHeight = 1.0, MinRideHeight = 0.5, MaxRideHeight = 1e-07, "
      "MaxCompressHeight = -0.25 WHERE SpringDamperPhysicsID = -5");
}

}  // namespace
}  // namespace gearloft
