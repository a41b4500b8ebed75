// gearloft apply and verify: executing a plan with batched inserts, reading every change back, and
// re-applying in place after a folder change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scripts/scripts.h"

namespace gearloft {

// Insert batching: consecutive inserts with the same head share one statement, at most 100 rows each.
std::vector<std::string> BatchStatements(const std::vector<PlanStatement>& statements);
// The checks as they are read back: ungrouped ones in plan order, then one COUNT(*) ... IN check per table.
std::vector<ReadBackCheck> FinalChecks(const std::vector<ReadBackCheck>& checks);

bool ApplyPlan(const Plan& plan);

struct InPlaceDiff {
  std::vector<std::string> removed;
  std::vector<std::string> updated;
  std::vector<ReadBackCheck> extra_checks;
  int32_t kept = 0;
};

InPlaceDiff DiffAddedRows(const Plan& old_plan, const Plan& new_plan);
Plan ReapplyInPlace(const Plan& old_plan, const ScriptListing& listing);

}  // namespace gearloft
