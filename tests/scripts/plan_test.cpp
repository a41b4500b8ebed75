// gearloft script tests: appending plans and the record of the rows a plan inserted.
#include <gtest/gtest.h>

#include "scripts/scripts.h"

namespace gearloft {
namespace {

Plan OneOfEach(const std::string& tag, int64_t id) {
  Plan plan;
  plan.statements.push_back("S" + tag);
  plan.undo.push_back("U" + tag);
  plan.checks.push_back(ReadBackCheck{"C" + tag, 1.0});
  plan.names.push_back("N" + tag);
  plan.added_rows.push_back(AddedRow{"T" + tag, "Id", std::to_string(id), id});
  return plan;
}

TEST(AppendPlanTest, AppendsEveryListAfterWhatWasThere) {
  Plan to = OneOfEach("a", 1);
  AppendPlan(&to, OneOfEach("b", 2));
  EXPECT_EQ(to.statements, (std::vector<PlanStatement>{"Sa", "Sb"}));
  EXPECT_EQ(to.undo, (std::vector<PlanStatement>{"Ua", "Ub"}));
  ASSERT_EQ(to.checks.size(), 2u);
  EXPECT_EQ(to.checks[1].sql, "Cb");
  EXPECT_EQ(to.names, (std::vector<std::string>{"Na", "Nb"}));
  ASSERT_EQ(to.added_rows.size(), 2u);
  EXPECT_EQ(to.added_rows[1].id, 2);
}

TEST(AppendPlanTest, LoaderAppendLeavesNamesOut) {
  Plan to;
  AppendPlan(&to, OneOfEach("b", 2), false);
  EXPECT_TRUE(to.names.empty());
  EXPECT_EQ(to.statements.size(), 1u);
  EXPECT_EQ(to.added_rows.size(), 1u);
}

TEST(PreviousRowIdsOfTest, GroupsIdsByTableInAddedOrder) {
  Plan plan;
  plan.added_rows = {AddedRow{"B", "Id", "9", 9}, AddedRow{"A", "Id", "5", 5}, AddedRow{"B", "Id", "3", 3}};
  EXPECT_EQ(PreviousRowIdsOf(plan), (PreviousRowIds{{"A", {5}}, {"B", {9, 3}}}));
  EXPECT_TRUE(PreviousRowIdsOf(Plan()).empty());
}

}  // namespace
}  // namespace gearloft
