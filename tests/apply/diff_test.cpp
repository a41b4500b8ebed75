// Tests of the comparison behind re-apply in place: kept, rewritten and removed rows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"

namespace gearloft {
namespace {

const char kColumns[] = "Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price";
const char kTable[] = "List_UpgradeRimSizeFront";

AddedRow Row(const std::string& table, int64_t id, const std::string& columns, const std::string& values) {
  AddedRow row;
  row.table = table;
  row.id = id;
  row.columns = columns;
  row.values = values;
  return row;
}

// A plan that inserts `rows` the way the compiler writes them: insert, delete undo, count check.
Plan PlanOf(const std::vector<AddedRow>& rows) {
  Plan plan;
  for (const AddedRow& row : rows) {
    plan.statements.push_back("INSERT OR IGNORE INTO " + row.table + " (" + row.columns + ") VALUES (" +
                              row.values + ")");
    plan.undo.push_back("DELETE FROM " + row.table + " WHERE Id = " + std::to_string(row.id));
    plan.checks.push_back(
        {"SELECT COUNT(*) FROM " + row.table + " WHERE Id = " + std::to_string(row.id), 1.0});
    plan.added_rows.push_back(row);
  }
  return plan;
}

TEST(DiffAddedRowsTest, IdenticalKeptRowGivesNothing) {
  Plan plan = PlanOf({Row(kTable, 7004, kColumns, "7004,7,4,0,21,1500")});
  InPlaceDiff diff = DiffAddedRows(plan, plan);
  EXPECT_EQ(diff.kept, 1);
  EXPECT_TRUE(diff.removed.empty());
  EXPECT_TRUE(diff.updated.empty());
  EXPECT_TRUE(diff.extra_checks.empty());
}

TEST(DiffAddedRowsTest, OneChangedValueGivesOneUpdateOfEveryColumnAndOneCheck) {
  Plan old_plan = PlanOf({Row(kTable, 7004, kColumns, "7004,7,4,0,21,1500")});
  Plan new_plan = PlanOf({Row(kTable, 7004, kColumns, "7004,7,4,0,22,1500")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.kept, 1);
  EXPECT_TRUE(diff.removed.empty());
  EXPECT_EQ(diff.updated, std::vector<std::string>{
                              "UPDATE List_UpgradeRimSizeFront SET Ordinal = 7, Level = 4, IsStock = 0, "
                              "FrontWheelDiameter = 22, Price = 1500 WHERE Id = 7004"});
  ASSERT_EQ(diff.extra_checks.size(), 1u);
  EXPECT_EQ(
      diff.extra_checks[0].sql,
      "SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7 AND Level = 4 AND IsStock = 0 AND "
      "FrontWheelDiameter = 22 AND Price = 1500 AND Id = 7004");
  EXPECT_EQ(diff.extra_checks[0].want, 1.0);
  // The rewrite's check names its columns before the Id, so it is read back on its own.
  EXPECT_EQ(FinalChecks(diff.extra_checks)[0].sql, diff.extra_checks[0].sql);
}

TEST(DiffAddedRowsTest, ChangedColumnListIsWrittenFromTheNewRow) {
  Plan old_plan = PlanOf({Row("T", 5, "Id,A", "5,1")});
  Plan new_plan = PlanOf({Row("T", 5, "Id,A,B", "5,1,2")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.updated, std::vector<std::string>{"UPDATE T SET A = 1, B = 2 WHERE Id = 5"});
}

TEST(DiffAddedRowsTest, ListsAreSplitAtEveryCommaUpToTheShorterOne) {
  // No trimming; a trailing comma adds no entry; a value list shorter than the columns ends the pairs.
  Plan old_plan = PlanOf({Row("T", -5, "Id,A, B,C,", "0,0,0,0,")});
  Plan new_plan = PlanOf({Row("T", -5, "Id,A, B,C,", "-5,1,2,")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.updated, std::vector<std::string>{"UPDATE T SET A = 1,  B = 2 WHERE Id = -5"});
  ASSERT_EQ(diff.extra_checks.size(), 1u);
  EXPECT_EQ(diff.extra_checks[0].sql, "SELECT COUNT(*) FROM T WHERE A = 1 AND  B = 2 AND Id = -5");
}

TEST(DiffAddedRowsTest, DroppedRowsAreDeletedWithTheOldUndoTextsLastFirst) {
  Plan old_plan = PlanOf({Row(kTable, 7004, kColumns, "7004,7,4,0,21,1500"),
                          Row(kTable, 7005, kColumns, "7005,7,5,0,22,1500"),
                          Row(kTable, 7006, kColumns, "7006,7,6,0,23,1500")});
  // An edit's undo sits between them and is not a delete.
  old_plan.undo.insert(old_plan.undo.begin() + 1,
                       "UPDATE List_UpgradeRimSizeFront SET Price = 9 WHERE Id = 7000");
  // The old plan's own text is sent, even where it differs from how the new plan would write it.
  old_plan.undo.back() = "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7006 ";
  Plan new_plan = PlanOf({Row(kTable, 7005, kColumns, "7005,7,5,0,22,1500")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.removed, (std::vector<std::string>{"DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7006 ",
                                                    "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004"}));
  EXPECT_EQ(diff.kept, 1);
  EXPECT_TRUE(diff.updated.empty());
}

TEST(DiffAddedRowsTest, RowOnlyInTheNewPlanIsLeftToTheInsert) {
  Plan old_plan = PlanOf({Row(kTable, 7004, kColumns, "7004,7,4,0,21,1500")});
  // Same Id in another table, and another Id in the same table: both new.
  Plan new_plan = PlanOf({Row("List_UpgradeRimSizeRear", 7004, kColumns, "7004,7,4,0,21,1500"),
                          Row(kTable, 7005, kColumns, "7005,7,5,0,21,1500")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.kept, 0);
  EXPECT_TRUE(diff.updated.empty());
  EXPECT_TRUE(diff.extra_checks.empty());
  EXPECT_EQ(diff.removed, std::vector<std::string>{"DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004"});
}

TEST(DiffAddedRowsTest, LaterOldRowWithTheSameKeyIsTheOneCompared) {
  Plan old_plan = PlanOf({Row("T", 5, "Id,A", "5,1"), Row("T", 5, "Id,A", "5,2")});
  Plan same_as_later = PlanOf({Row("T", 5, "Id,A", "5,2")});
  EXPECT_TRUE(DiffAddedRows(old_plan, same_as_later).updated.empty());
  Plan same_as_earlier = PlanOf({Row("T", 5, "Id,A", "5,1")});
  EXPECT_EQ(DiffAddedRows(old_plan, same_as_earlier).updated,
            std::vector<std::string>{"UPDATE T SET A = 1 WHERE Id = 5"});
}

TEST(DiffAddedRowsTest, OldPlanWithoutRowsGivesNothing) {
  Plan old_plan;
  old_plan.undo.push_back("UPDATE T SET A = 1 WHERE Id = 5");
  Plan new_plan = PlanOf({Row("T", 5, "Id,A", "5,1")});
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  EXPECT_EQ(diff.kept, 0);
  EXPECT_TRUE(diff.removed.empty());
  EXPECT_TRUE(diff.updated.empty());
}

}  // namespace
}  // namespace gearloft
