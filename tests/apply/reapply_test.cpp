// Tests of ReapplyInPlace against the simulated game with real scripts: old edits taken back, kept rows
// left in place or rewritten, dropped rows deleted, and the log line.

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "game_fixture.h"
#include "runtime/log.h"

namespace gearloft {
namespace {

class ReapplyInPlaceTest : public testing::GameTest {
 protected:
  void WriteScript(const std::string& name, const std::string& text) {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    out << text;
  }

  // Loads and applies the folder as the worker does on its first pass.
  Plan LoadAndApply() {
    Plan plan = LoadPlan(ListScripts(), PreviousRowIds{});
    EXPECT_TRUE(ApplyPlan(plan));
    TakeStatements();
    return plan;
  }

  std::string LastLogMessage() const {
    std::vector<std::string> messages = LogMessages();
    return messages.empty() ? std::string() : messages.back();
  }

  std::string RimDiameter(int64_t id) {
    return Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(id));
  }
};

TEST_F(ReapplyInPlaceTest, EditsAreUndoneLastFirstAndOldDeletesWaitForTheDiff) {
  Plan old_plan;
  old_plan.undo = {"UPDATE Data_Car SET Year = 1990 WHERE Id = 7",
                   "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7003",
                   "UPDATE Data_Car SET Year = 1980 WHERE Id = 7"};
  Plan new_plan = ReapplyInPlace(old_plan, ScriptListing{}).plan;

  EXPECT_EQ(TakeStatements(true),
            (std::vector<std::string>{"UPDATE Data_Car SET Year = 1980 WHERE Id = 7",
                                      "UPDATE Data_Car SET Year = 1990 WHERE Id = 7",
                                      "DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7003"}));
  EXPECT_EQ(Scalar("SELECT Year FROM Data_Car WHERE Id = 7"), "1990");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7003"), "0");
  EXPECT_TRUE(new_plan.statements.empty());
  EXPECT_TRUE(new_plan.checks.empty());
  EXPECT_EQ(LastLogMessage(), "re-apply: 0 added row(s) kept in place (0 updated), 1 removed");
}

TEST_F(ReapplyInPlaceTest, UnchangedScriptsSendNothing) {
  WriteScript("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  Plan old_plan = LoadAndApply();
  ASSERT_EQ(old_plan.added_rows.size(), 2u);

  Plan new_plan = ReapplyInPlace(old_plan, ListScripts()).plan;
  // The old plan's undo holds only its deletes, and both rows stay: not one write.
  EXPECT_EQ(TakeStatements(true), std::vector<std::string>{});
  EXPECT_EQ(LastLogMessage(), "re-apply: 2 added row(s) kept in place (0 updated), 0 removed");
  EXPECT_EQ(new_plan.checks.size(), old_plan.checks.size());
  EXPECT_TRUE(ApplyPlan(new_plan));
}

TEST_F(ReapplyInPlaceTest, ChangedScriptRewritesKeptRowAndDeletesDroppedOne) {
  WriteScript("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  Plan old_plan = LoadAndApply();
  ASSERT_EQ(old_plan.added_rows.size(), 2u);
  const int64_t kept_id = old_plan.added_rows[0].id;
  const int64_t dropped_id = old_plan.added_rows[1].id;
  ASSERT_EQ(RimDiameter(kept_id), "21");
  ASSERT_EQ(RimDiameter(dropped_id), "22");

  WriteScript("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 23\n");
  Plan new_plan = ReapplyInPlace(old_plan, ListScripts()).plan;

  ASSERT_EQ(new_plan.added_rows.size(), 1u);
  EXPECT_EQ(new_plan.added_rows[0].id, kept_id);
  std::vector<std::string> writes = TakeStatements(true);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], "DELETE FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(dropped_id));
  EXPECT_EQ(writes[1].rfind("UPDATE List_UpgradeRimSizeFront SET ", 0), 0u) << writes[1];
  EXPECT_NE(writes[1].find("FrontWheelDiameter = 23"), std::string::npos) << writes[1];
  EXPECT_EQ(LastLogMessage(), "re-apply: 1 added row(s) kept in place (1 updated), 1 removed");
  EXPECT_EQ(RimDiameter(kept_id), "23");
  EXPECT_EQ(RimDiameter(dropped_id), "");

  // The rewrite's check comes last and is read back with the rest.
  ASSERT_FALSE(new_plan.checks.empty());
  EXPECT_EQ(new_plan.checks.back().sql.rfind("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE ", 0), 0u);
  EXPECT_NE(new_plan.checks.back().sql.find(" AND Id = " + std::to_string(kept_id)), std::string::npos);
  EXPECT_TRUE(ApplyPlan(new_plan));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(kept_id)),
            "1");
}

TEST_F(ReapplyInPlaceTest, EmptyFolderDeletesEveryAddedRow) {
  WriteScript("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  Plan old_plan = LoadAndApply();
  ASSERT_EQ(old_plan.added_rows.size(), 2u);

  Plan new_plan = ReapplyInPlace(old_plan, ScriptListing{}).plan;
  EXPECT_EQ(
      TakeStatements(true),
      (std::vector<std::string>{
          "DELETE FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(old_plan.added_rows[1].id),
          "DELETE FROM List_UpgradeRimSizeFront WHERE Id = " + std::to_string(old_plan.added_rows[0].id)}));
  EXPECT_EQ(LastLogMessage(), "re-apply: 0 added row(s) kept in place (0 updated), 2 removed");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id IN (" +
                   std::to_string(old_plan.added_rows[0].id) + "," +
                   std::to_string(old_plan.added_rows[1].id) + ")"),
            "0");
  EXPECT_TRUE(new_plan.statements.empty());
}

}  // namespace
}  // namespace gearloft
