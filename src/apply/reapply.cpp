// gearloft apply and verify: bringing the live tables from the plan in force to a freshly loaded one
// without deleting and re-inserting the rows both of them add.
#include <string>
#include <vector>

#include "apply/apply.h"
#include "hostdb/hostdb.h"
#include "runtime/runtime.h"

namespace gearloft {

Plan ReapplyInPlace(const Plan& old_plan, const ScriptListing& listing) {
  // Take back the old edits but keep the old rows: the new plan reuses their Ids, and rows the new plan
  // drops are deleted below once the diff knows which they are.
  for (auto it = old_plan.undo.rbegin(); it != old_plan.undo.rend(); ++it) {
    if (it->compare(0, 12, "DELETE FROM ") == 0) continue;
    Execute(*it);  // a rewrite that did not land is caught by the next read-back
  }

  Plan new_plan = LoadPlan(listing, PreviousRowIdsOf(old_plan));
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan);
  for (const std::string& statement : diff.removed) Execute(statement);
  for (const std::string& statement : diff.updated) Execute(statement);
  new_plan.checks.insert(new_plan.checks.end(), diff.extra_checks.begin(), diff.extra_checks.end());

  LogLine("re-apply: %d added row(s) kept in place (%zu updated), %zu removed", diff.kept,
          diff.updated.size(), diff.removed.size());
  return new_plan;
}

}  // namespace gearloft
