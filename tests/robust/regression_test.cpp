// gearloft robustness tests: the faults the call-N sweep found, each pinned down on its own. A look-up the
// game answered badly must not free a row Id the game holds or measure rims from a guess, and a re-apply
// whose statements did not all land must say so and be taken up again from the plan in force.
#if defined(GEARLOFT_TEST_HAVE_DEVHOST)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "apply/apply.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "devhost/devhost.h"
#include "hostdb/hostdb.h"
#include "robust_run.h"
#include "runtime/log.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;
using devhost::CallFault;

// ---- Look-ups the game answered badly ------------------------------------------------------------------

QueryCell Integer(int64_t value) {
  QueryCell cell;
  cell.kind = QueryCell::Kind::kInteger;
  cell.integer = value;
  return cell;
}

QueryCell Text(const std::string& value) {
  QueryCell cell;
  cell.kind = QueryCell::Kind::kText;
  cell.text = value;
  return cell;
}

QueryResult Answer(const std::vector<std::vector<QueryCell>>& rows) {
  QueryResult result;
  result.ok = true;
  result.rows = rows;
  return result;
}

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

  std::map<std::string, QueryResult> answers_{{kKestrel, Answer({{Integer(7), Text("Kestrel_GT")}})}};
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
  answers_[kRearSpacingIds] = Answer({{Text("7000")}, {Text("7001")}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear gave no readable answer for row 7001");
}

TEST_F(BadAnswers, IdLookUpWithoutCellsRefusesTheFile) {
  answers_[kRearSpacingIds] = Answer({{}, {}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear gave no readable answer for row 7001");
}

TEST_F(BadAnswers, ReadableIdLookUpStillFindsTheGamesRow) {
  answers_[kRearSpacingIds] = Answer({{Integer(7000)}, {Integer(7001)}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeCarBodyTrackSpacingRear already has a row 7001");
}

TEST_F(BadAnswers, ReadableIdLookUpFreesAnIdTheGameLacks) {
  answers_[kRearSpacingLevel] = Answer({{Integer(2)}});
  answers_[kRearSpacingIds] = Answer({{Integer(7000)}, {Integer(7001)}, {Integer(7002)}});
  ASSERT_TRUE(Compile("[Kestrel_GT]\ntrack_spacings_rear = 1.62\n")) << error_;
  ASSERT_EQ(plan_.added_rows.size(), 1u);
  EXPECT_EQ(plan_.added_rows[0].id, 7003);
}

// The stock diameter is what a new rim's MassDiff is measured from; a guess would be written unnoticed.
TEST_F(BadAnswers, FailedStockDiameterRefusesTheFile) {
  answers_[kFrontRimLevel] = Answer({{Integer(3)}});
  answers_[kFrontRimIds] = Answer({{Integer(7000)}, {Integer(7001)}, {Integer(7002)}, {Integer(7003)}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

TEST_F(BadAnswers, StockDiameterAsTextRefusesTheFile) {
  answers_[kFrontRimStock] = Answer({{Text("17")}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

TEST_F(BadAnswers, StockRowWithoutCellsRefusesTheFile) {
  answers_[kFrontRimStock] = Answer({{}});
  EXPECT_FALSE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n"));
  EXPECT_EQ(error_, "[Kestrel_GT]: List_UpgradeRimSizeFront gave no readable stock FrontWheelDiameter");
}

// No stock row, or a NULL diameter, is the game's own data: the sizes are measured from the first one.
TEST_F(BadAnswers, MissingOrNullStockDiameterMeasuresFromTheFirstSize) {
  answers_[kFrontRimLevel] = Answer({{Integer(3)}});
  answers_[kFrontRimIds] = Answer({{Integer(7000)}, {Integer(7001)}, {Integer(7002)}, {Integer(7003)}});
  for (const QueryResult& stock : {Answer({}), Answer({{QueryCell()}})}) {
    answers_[kFrontRimStock] = stock;
    plan_ = Plan();
    ASSERT_TRUE(Compile("[Kestrel_GT]\nrim_sizes_front = 18\n")) << error_;
    ASSERT_EQ(plan_.added_rows.size(), 1u);
    EXPECT_EQ(plan_.added_rows[0].values, "7004,7,4,0,18,2000,0.0,1.0,1.0,0");
  }
}

// ---- A re-apply that did not land ----------------------------------------------------------------------

// The simulated game's database made current, a watched folder and the log, as the worker has them.
class ReapplyLanding : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
    ASSERT_NE(database_, nullptr) << error;
    devhost::SetGameDatabase(database_);
    SetCandidatesForTest({devhost::GameGlobalAddress()});
    SetCurrentForTest(devhost::GameGlobalAddress());
    ResetQueryCacheForTest();
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("gearloft-landing-" + std::to_string(random()));
    fs::create_directories(folder_);
    SetWatchedFolder(folder_.string());
    Paths paths;
    paths.log_file = (folder_ / "gearloft.log").string();
    paths.previous_log = paths.log_file + ".1";
    OpenLog(paths);
    PlanGeneration = 0;
  }
  void TearDown() override {
    CloseLog();
    SetCurrentForTest(0);
    SetCandidatesForTest({});
    devhost::SetGameDatabase(nullptr);
    devhost::CloseDatabase(database_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

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
  std::string Scalar(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(devhost::Connection(database_), sql.c_str(), -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return value;
  }
  std::string LastLogMessage() const {
    std::ifstream in(folder_ / "gearloft.log", std::ios::binary);
    std::string line;
    std::string last;
    while (std::getline(in, line)) last = line;
    // The log is written in text mode: its lines end in CR LF on Windows.
    if (!last.empty() && last.back() == '\r') last.pop_back();
    const size_t end = last.find("s] ");
    return end == std::string::npos ? last : last.substr(end + 3);
  }

  devhost::Database* database_ = nullptr;
  fs::path folder_;
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

// The worker loop: a re-apply that did not land keeps the plan in force, the next pass re-applies from
// it, and the tables end as a run without the fault leaves them.
TEST(ReapplyLandingLoop, NextPassReappliesFromThePlanInForce) {
  robust::RunOptions clean_options;
  clean_options.steps = {robust::ExampleScripts(), robust::ScriptSet()};
  clean_options.record_calls = true;
  const robust::RunResult clean = robust::RunSequence(clean_options);
  // The first call of the delete-all re-apply is the first after the load and apply's calls.
  uint64_t first_reapply_call = 0;
  for (size_t i = 0; i < clean.calls.size() && first_reapply_call == 0; ++i) {
    if (clean.calls[i].rfind("UPDATE ", 0) == 0 && i > 0 &&
        clean.calls[i - 1].rfind("SELECT /*g1*/", 0) == 0) {
      first_reapply_call = i + 1;
    }
  }
  ASSERT_NE(first_reapply_call, 0u);

  robust::RunOptions options = clean_options;
  options.record_calls = false;
  options.fault = robust::InjectedFault{CallFault::kDropWrite, first_reapply_call, false};
  const robust::RunResult run = robust::RunSequence(options);
  std::vector<std::string> reapply_lines;
  for (const std::string& line : run.log) {
    if (line.rfind("folder changed", 0) == 0 || line.rfind("WARNING: re-apply", 0) == 0 ||
        line.rfind("re-apply: ", 0) == 0) {
      reapply_lines.push_back(line.substr(0, line.find(" (")));
    }
  }
  EXPECT_EQ(reapply_lines,
            (std::vector<std::string>{
                "folder changed - re-applying in place", "WARNING: re-apply did not land",
                "folder changed - re-applying in place", "re-apply: 0 added row(s) kept in place"}));
  EXPECT_NE(std::find(run.log.begin(), run.log.end(),
                      "rows not visible after apply - re-probing CDatabase (attempt 1/3)"),
            run.log.end());
  EXPECT_EQ(run.final_tables, clean.final_tables)
      << robust::DumpDifference(clean.final_tables, run.final_tables);
}

}  // namespace
}  // namespace gearloft

#endif  // GEARLOFT_TEST_HAVE_DEVHOST
