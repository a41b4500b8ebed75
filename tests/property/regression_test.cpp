// Regression tests for what the undo and re-apply properties found, each the smallest script history
// that showed it, in the simulated game.
#if defined(GEARLOFT_TEST_HAVE_DEVHOST)

#include <string>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "property_support.h"

namespace gearloft::property {
namespace {

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
TEST(PropertyRegressionTest, RimLevelsNeverResizeARowThePlanAdded) {
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
TEST(PropertyRegressionTest, RimLevelsOfOneFileNeverResizeRowsAnotherFileAdded) {
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

#endif  // GEARLOFT_TEST_HAVE_DEVHOST
