// gearloft re-apply tests: a re-apply whose statements did not all land must say so, put the plan in
// force back and be taken up again from it, in the simulated game with the call that misbehaves chosen.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "apply/apply.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "devhost/devhost.h"
#include "game_fixture.h"
#include "hostdb/hostdb.h"

namespace gearloft {
namespace {

using devhost::CallFault;

// The simulated game's database made current, a watched folder and the log, as the worker has them.
class ReapplyLanding : public testing::GameTest {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  Plan LoadAndApply() {
    Plan plan = LoadPlan(ListScripts(), PreviousRowIds());
    EXPECT_TRUE(ApplyPlan(plan));
    return plan;
  }
  // The next call into the game misbehaves, once.
  void FaultNextCall(CallFault kind, uint64_t after = 0) {
    devhost::Knobs knobs;
    knobs.call_fault = kind;
    knobs.fault_at_call = devhost::CallCount(database_) + 1 + after;
    devhost::SetKnobs(database_, knobs);
  }
  std::string LastLogMessage() const {
    const std::vector<std::string> messages = LogMessages();
    return messages.empty() ? std::string() : messages.back();
  }
};

constexpr const char* kBackInForce = " - the earlier scripts stay in force, all read back";

TEST_F(ReapplyLanding, DroppedUndoIsReadBackAndTheOldPlanPutBack) {
  Write("kestrel.ini", "[Kestrel_GT]\nrim_front_stock = 18\nrim_sizes_front = 21\n");
  const Plan plan = LoadAndApply();
  ASSERT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), "18");

  FaultNextCall(CallFault::kDropWrite);
  const ReapplyResult kept = ReapplyInPlace(plan, ScriptListing());
  EXPECT_FALSE(kept.landed);
  EXPECT_TRUE(kept.restored);
  EXPECT_EQ(LastLogMessage(),
            std::string("WARNING: re-apply did not land (SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE "
                        "(Id = 7000) AND NOT (FrontWheelDiameter IS 17.0))") +
                kBackInForce);
  EXPECT_EQ(kept.plan.statements, plan.statements);
  EXPECT_EQ(kept.plan.undo, plan.undo);
  // The plan in force holds again: its edit and its row.
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), "18");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "1");

  const ReapplyResult emptied = ReapplyInPlace(kept.plan, ScriptListing());
  EXPECT_TRUE(emptied.landed);
  EXPECT_TRUE(emptied.plan.statements.empty());
  EXPECT_EQ(LastLogMessage(), "re-apply: 0 added row(s) kept in place (0 updated), 1 removed");
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), "17");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "0");
}

TEST_F(ReapplyLanding, FaultedDeleteIsNamedAndTheEditsOfTheOldPlanSentAgain) {
  Write("kestrel.ini", "[Kestrel_GT]\nrim_front_stock = 18\nrim_sizes_front = 21\n");
  const Plan plan = LoadAndApply();

  FaultNextCall(CallFault::kAccessViolation, 2);  // the undo and its read-back land, the delete faults
  const ReapplyResult kept = ReapplyInPlace(plan, ScriptListing());
  EXPECT_FALSE(kept.landed);
  EXPECT_EQ(
      LastLogMessage(),
      std::string("WARNING: re-apply did not land (DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004)") +
          kBackInForce);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "1");
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), "18");

  EXPECT_TRUE(ReapplyInPlace(kept.plan, ScriptListing()).landed);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "0");
}

TEST_F(ReapplyLanding, DroppedDeleteIsReadBack) {
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21\n");
  const Plan plan = LoadAndApply();

  FaultNextCall(CallFault::kDropWrite);
  const ReapplyResult kept = ReapplyInPlace(plan, ScriptListing());
  EXPECT_FALSE(kept.landed);
  EXPECT_EQ(
      LastLogMessage(),
      std::string("WARNING: re-apply did not land (SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id "
                  "IN (7004))") +
          kBackInForce);
}

TEST_F(ReapplyLanding, DroppedRewriteBringsTheDeletedRowBack) {
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  const Plan plan = LoadAndApply();
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 23\n");

  // The re-apply's calls: the Id look-up of the changed file, the delete of 7005, then the rewrite of 7004.
  FaultNextCall(CallFault::kDropWrite, 2);
  const ReapplyResult kept = ReapplyInPlace(plan, ListScripts());
  EXPECT_FALSE(kept.landed);
  EXPECT_EQ(
      LastLogMessage(),
      std::string("WARNING: re-apply did not land (SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE "
                  "Ordinal = 7 AND Level = 4 AND IsStock = 0 AND FrontWheelDiameter = 23 AND Price = 3000 "
                  "AND MassDiff = 8.16 AND DragScale = 1.0 AND WindInstabilityScale = 1.0 AND "
                  "RequiresGraphics = 0 AND Id = 7004)") +
          kBackInForce);
  // Both rows of the plan in force, as it wrote them: the deleted one is back.
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "21");
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7005"), "22");

  const ReapplyResult next = ReapplyInPlace(kept.plan, ListScripts());
  EXPECT_TRUE(next.landed);
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "23");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7005"), "0");
  EXPECT_TRUE(ApplyPlan(next.plan));
}

TEST_F(ReapplyLanding, LandedRewriteThatCannotBeTakenBackIsRewrittenByTheNextReapply) {
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  const Plan plan = LoadAndApply();
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 23\n");

  // The look-up, the delete of 7005 and the rewrite of 7004 land; every call after them faults.
  devhost::Knobs knobs;
  knobs.call_fault = CallFault::kAccessViolation;
  knobs.fault_at_call = devhost::CallCount(database_) + 4;
  knobs.fault_onwards = true;
  devhost::SetKnobs(database_, knobs);
  const ReapplyResult stuck = ReapplyInPlace(plan, ListScripts());
  EXPECT_FALSE(stuck.landed);
  EXPECT_FALSE(stuck.restored);
  EXPECT_NE(LastLogMessage().find("did not read back either"), std::string::npos) << LastLogMessage();
  ASSERT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "23");
  ASSERT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id = 7005"), "0");

  // The fault ends and the script goes back to what the plan in force says: nothing differs between the
  // two plans, yet both rows are put back as that plan wrote them.
  devhost::SetKnobs(database_, devhost::Knobs{});
  Write("kestrel.ini", "[Kestrel_GT]\nrim_sizes_front = 21, 22\n");
  const ReapplyResult mended = ReapplyInPlace(stuck.plan, ListScripts(), true);
  EXPECT_TRUE(mended.landed);
  EXPECT_EQ(LastLogMessage(), "re-apply: 2 added row(s) kept in place (2 updated), 0 removed");
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004"), "21");
  EXPECT_EQ(Scalar("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7005"), "22");
  EXPECT_TRUE(ApplyPlan(mended.plan));
}

}  // namespace
}  // namespace gearloft
