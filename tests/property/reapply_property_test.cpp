// Property test of re-apply in place in the simulated game: any generated sequence of script edits,
// each re-applied in place, ends with the tables a new process reaches by loading and applying the final
// scripts once (row Ids included), and with the same statements.

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "property_support.h"

namespace gearloft::property {
namespace {

constexpr size_t kCases = 1000;
constexpr int kFailuresShown = 3;

struct RunResult {
  GameDump tables;
  Plan plan;
  bool applied = false;
};

std::string JoinLines(const std::vector<PlanStatement>& statements) {
  std::string text;
  for (const PlanStatement& statement : statements) text += "  " + statement + "\n";
  return text;
}

TEST(ReapplyPropertyTest, EditsReappliedInPlaceEndAsAFreshApplyOfTheFinalScripts) {
  WatchedScripts folder;
  std::vector<FixtureCar> cars;
  {
    FreshGame game;
    ASSERT_TRUE(game.ok());
    cars = game.Cars();
  }
  ASSERT_GE(cars.size(), 42u);

  size_t cases = 0;
  size_t edits = 0;
  size_t kept_rows = 0;
  int failures = 0;
  for (uint64_t seed : PropertySeeds(2, kCases)) {
    ++cases;
    Rng rng(seed);
    ScriptGenerator generator(cars, &rng);
    std::vector<ScriptSet> versions{generator.NewSet()};
    const int steps = rng.Between(1, 4);
    for (int i = 0; i < steps; ++i) {
      ScriptSet next = versions.back();
      generator.Edit(&next);
      versions.push_back(next);
    }
    edits += static_cast<size_t>(steps);

    // One process living through every save.
    RunResult live;
    {
      FreshGame game;
      ASSERT_TRUE(game.ok());
      folder.Write(versions[0]);
      live.plan = LoadPlan(ListScripts(), PreviousRowIds{});
      live.applied = ApplyPlan(live.plan);
      for (size_t v = 1; v < versions.size(); ++v) {
        folder.Write(versions[v]);
        kept_rows += live.plan.added_rows.size();
        live.plan = ReapplyInPlace(live.plan, ListScripts()).plan;
        live.applied = ApplyPlan(live.plan);
      }
      live.tables = game.Dump();
    }
    // A new process: a fresh copy of the game's tables and nothing asked of them yet.
    RunResult fresh;
    {
      FreshGame game;
      ASSERT_TRUE(game.ok());
      folder.Write(versions.back());
      fresh.plan = LoadPlan(ListScripts(), PreviousRowIds{});
      fresh.applied = ApplyPlan(fresh.plan);
      fresh.tables = game.Dump();
    }

    std::string problems = DumpDifferences(fresh.tables, live.tables);
    if (live.plan.statements != fresh.plan.statements) {
      problems += "statements differ; in place:\n" + JoinLines(live.plan.statements) + "fresh:\n" +
                  JoinLines(fresh.plan.statements);
    }
    if (live.applied != fresh.applied) {
      problems += std::string("the final apply ") + (live.applied ? "read back" : "missed") +
                  " in place but " + (fresh.applied ? "read back" : "missed") + " fresh\n";
    }
    if (problems.empty()) continue;
    std::string history;
    for (size_t v = 0; v < versions.size(); ++v) {
      history += "=== save " + std::to_string(v) + "\n" + DescribeSet(versions[v]);
    }
    ADD_FAILURE() << "re-applied in place differs from a fresh apply, " << ReplayHint(seed) << "\n"
                  << history << "differences (expected = fresh):\n"
                  << problems << "log:\n"
                  << folder.LogTail(16);
    if (++failures == kFailuresShown) break;
  }
  std::printf("re-apply property: %zu case(s), %zu edit(s), %zu added row(s) carried into re-applies\n",
              cases, edits, kept_rows);
  if (cases >= 100) {
    EXPECT_GE(kept_rows, cases) << "too few added rows reached a re-apply for the property to say much";
  }
}

// What the property found, each as the smallest script history that showed it.

GeneratedFile Script(const std::string& name, const std::string& car,
                     std::vector<std::pair<std::string, std::string>> keys) {
  GeneratedFile file;
  file.name = name;
  file.sections.push_back(GeneratedSection{car, std::move(keys)});
  return file;
}

// Car 7 has front rim Levels 1 to 3. Its new front rim lands at Level 4 (Id 7004); a later save that
// re-sizes four levels must be refused as a new process refuses it, not re-size the row the plan added
// (whose cached answer would then outlive the row and miss on every read-back).
TEST(ReapplyRimLevelsTest, RimLevelsNeverResizeARowThePlanAdded) {
  WatchedScripts folder;
  FreshGame game;
  ASSERT_TRUE(game.ok());
  const GameDump before = game.Dump();

  folder.Write({Script("kestrel.ini", "7", {{"rim_sizes_front", "21"}})});
  Plan plan = LoadPlan(ListScripts(), PreviousRowIds{});
  ASSERT_TRUE(ApplyPlan(plan));
  ASSERT_EQ(plan.added_rows.size(), 1u);
  ASSERT_EQ(plan.added_rows[0].id, 7004);

  folder.Write({Script("kestrel.ini", "7", {{"rim_levels_front", "18, 19, 20, 21"}})});
  plan = ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_NE(folder.LogTail(3).find("ERROR kestrel.ini: [7]: no stock-DB List_UpgradeRimSizeFront level 4 to "
                                   "re-size - file skipped"),
            std::string::npos)
      << folder.LogTail(3);
  EXPECT_TRUE(plan.statements.empty());
  EXPECT_TRUE(ApplyPlan(plan));
  EXPECT_EQ(DumpDifferences(before, game.Dump()), "");
}

// The same through two files of one load: the rows one file adds are not levels the other may re-size.
TEST(ReapplyRimLevelsTest, RimLevelsOfOneFileNeverResizeRowsAnotherFileAdded) {
  WatchedScripts folder;
  GameDump fresh_tables;
  {
    FreshGame game;
    ASSERT_TRUE(game.ok());
    folder.Write({Script("a.ini", "7", {{"rim_sizes_front", "21"}}),
                  Script("b.ini", "7", {{"rim_levels_front", "18, 19, 20, 21"}, {"rim_stock", "18"}})});
    ASSERT_TRUE(ApplyPlan(LoadPlan(ListScripts(), PreviousRowIds{})));
    fresh_tables = game.Dump();
  }
  FreshGame game;
  ASSERT_TRUE(game.ok());
  folder.Write({Script("a.ini", "7", {{"rim_sizes_front", "21"}})});
  Plan plan = LoadPlan(ListScripts(), PreviousRowIds{});
  ASSERT_TRUE(ApplyPlan(plan));
  folder.Write({Script("a.ini", "7", {{"rim_sizes_front", "21"}}),
                Script("b.ini", "7", {{"rim_levels_front", "18, 19, 20, 21"}, {"rim_stock", "18"}})});
  plan = ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_TRUE(ApplyPlan(plan));
  EXPECT_EQ(DumpDifferences(fresh_tables, game.Dump()), "");
}

}  // namespace
}  // namespace gearloft::property
