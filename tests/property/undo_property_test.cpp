// Property test of undo in the simulated game: any generated script set, loaded and applied, then taken
// back by deleting every script (a re-apply in place over an empty folder), leaves every table exactly
// as it was, value for value and storage class for storage class.

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

TEST(UndoPropertyTest, DeletingEveryScriptRestoresEveryTable) {
  WatchedScripts folder;
  std::vector<FixtureCar> cars;
  GameDump before;  // every case starts from the same copy of the fixture
  {
    FreshGame game;
    ASSERT_TRUE(game.ok());
    cars = game.Cars();
    before = game.Dump();
  }
  ASSERT_GE(cars.size(), 42u);

  size_t cases = 0;
  size_t changed = 0;
  size_t statements = 0;
  int failures = 0;
  for (uint64_t seed : PropertySeeds(1, kCases)) {
    ++cases;
    FreshGame game;
    ASSERT_TRUE(game.ok());

    Rng rng(seed);
    ScriptGenerator generator(cars, &rng);
    const ScriptSet set = generator.NewSet();
    folder.Write(set);
    const Plan plan = LoadPlan(ListScripts(), PreviousRowIds{});
    ApplyPlan(plan);  // a read-back miss leaves the statements sent; they are taken back all the same
    statements += plan.statements.size();
    if (game.Dump() != before) ++changed;

    folder.Write(ScriptSet{});
    const Plan emptied = ReapplyInPlace(plan, ListScripts()).plan;
    const std::string differences = DumpDifferences(before, game.Dump());
    if (differences.empty() && emptied.statements.empty()) continue;
    ADD_FAILURE() << "deleting every script left the tables changed, " << ReplayHint(seed) << "\n"
                  << DescribeSet(set) << "differences:\n"
                  << differences << "log:\n"
                  << folder.LogTail(12);
    if (++failures == kFailuresShown) break;
  }
  std::printf("undo property: %zu case(s), %zu changed the tables, %zu statement(s) in all\n", cases, changed,
              statements);
  // The property says nothing when the generator stops reaching the tables.
  if (cases >= 100) {
    EXPECT_GE(changed * 2, cases) << "fewer than half of the generated cases changed any table";
  }
}

}  // namespace
}  // namespace gearloft::property
