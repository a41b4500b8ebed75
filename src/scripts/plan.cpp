// gearloft script loading: appending plans and the record of the rows a plan inserted.
#include "scripts/scripts.h"

namespace gearloft {

template <typename T>
static void AppendList(std::vector<T>* to, const std::vector<T>& from) {
  to->insert(to->end(), from.begin(), from.end());
}

void AppendPlan(Plan* to, const Plan& from, bool with_names) {
  AppendList(&to->statements, from.statements);
  AppendList(&to->undo, from.undo);
  AppendList(&to->checks, from.checks);
  if (with_names) AppendList(&to->names, from.names);
  AppendList(&to->added_rows, from.added_rows);
}

PreviousRowIds PreviousRowIdsOf(const Plan& plan) {
  PreviousRowIds ids;
  for (const AddedRow& row : plan.added_rows) ids[row.table].push_back(row.id);
  return ids;
}

}  // namespace gearloft
