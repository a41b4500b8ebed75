// gearloft apply and verify: bringing the live tables from the plan in force to a freshly loaded one
// without deleting and re-inserting the rows both of them add.
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "runtime/log.h"

namespace gearloft {
namespace {

// What an undo sent: per row (table and condition), each column with the value the last undo sent for
// it gave it. "UPDATE " + table + " SET " + col = value, ... + " WHERE " + condition, as the compiler
// writes them; a text of another shape is not read back.
std::vector<ReadBackCheck> UndoChecks(const std::vector<std::string>& sent) {
  std::map<std::pair<std::string, std::string>, std::map<std::string, std::string>> rows;
  for (const std::string& statement : sent) {
    const size_t set = statement.find(" SET ");
    const size_t where = statement.find(" WHERE ", set == std::string::npos ? 0 : set);
    if (statement.compare(0, 7, "UPDATE ") != 0 || set == std::string::npos || where == std::string::npos) {
      continue;
    }
    std::map<std::string, std::string> columns;
    const std::string assignments = statement.substr(set + 5, where - set - 5);
    bool readable = true;
    for (size_t begin = 0; readable && begin <= assignments.size();) {
      size_t end = assignments.find(", ", begin);
      if (end == std::string::npos) end = assignments.size();
      const std::string assignment = assignments.substr(begin, end - begin);
      const size_t equals = assignment.find(" = ");
      readable = equals != std::string::npos;
      if (readable) columns[assignment.substr(0, equals)] = assignment.substr(equals + 3);
      begin = end + 2;
    }
    if (!readable) continue;
    std::map<std::string, std::string>& row =
        rows[{statement.substr(7, set - 7), statement.substr(where + 7)}];
    for (const auto& column : columns) row[column.first] = column.second;
  }
  std::vector<ReadBackCheck> checks;
  for (const auto& row : rows) {
    // IS compares NULL with NULL too; a row the game no longer has counts as undone.
    std::string values;
    for (const auto& column : row.second) {
      values += (values.empty() ? "" : " AND ") + column.first + " IS " + column.second;
    }
    checks.push_back(ReadBackCheck{"SELECT COUNT(*) FROM " + row.first.first + " WHERE (" + row.first.second +
                                       ") AND NOT (" + values + ")",
                                   0.0});
  }
  return checks;
}

// The rows the diff deleted must be gone: one check per table. "DELETE FROM " + table + " WHERE Id = "
// + id, as the compiler writes its undo deletes.
std::vector<ReadBackCheck> RemovalChecks(const std::vector<std::string>& removed) {
  const std::string head = "DELETE FROM ";
  const std::string where = " WHERE Id = ";
  std::map<std::string, std::string> ids;
  for (const std::string& statement : removed) {
    const size_t at = statement.find(where);
    if (statement.compare(0, head.size(), head) != 0 || at == std::string::npos) continue;
    std::string& list = ids[statement.substr(head.size(), at - head.size())];
    list += (list.empty() ? "" : ",") + statement.substr(at + where.size());
  }
  std::vector<ReadBackCheck> checks;
  for (const auto& table : ids) {
    checks.push_back(
        ReadBackCheck{"SELECT COUNT(*) FROM " + table.first + " WHERE Id IN (" + table.second + ")", 0.0});
  }
  return checks;
}

// The first check whose answer is missing or off, as text for the log; empty when all read back.
std::string FirstMiss(const std::vector<ReadBackCheck>& checks) {
  for (const ReadBackCheck& check : checks) {
    if (!ReadsBack(ReadBackAnswer(Query(check.sql)), check.want)) return check.sql;
  }
  return std::string();
}

// A re-apply that did not land puts the plan in force back: rows only the new plan has go (the attempt
// may have put some in), rows the new plan rewrote get their old contents again, rows it deleted come
// back through the plan's own inserts, its edits are sent again, and all of it is read back. What the
// log then says is in force is what the tables hold; when even that does not read back, the caller
// knows the tables are uncertain. `new_plan` is null when the new plan was never loaded.
ReapplyResult NotLanded(const Plan& old_plan, const Plan* new_plan, const std::string& what,
                        bool rewrite_kept) {
  const InPlaceDiff back = DiffAddedRows(new_plan != nullptr ? *new_plan : old_plan, old_plan, rewrite_kept);
  for (const std::string& statement : back.removed) Execute(statement);
  for (const std::string& statement : back.updated) Execute(statement);
  // The plan's inserts first: a rewritten row the attempt deleted must be there to be read back.
  const bool restored = ApplyPlan(old_plan) && FirstMiss(RemovalChecks(back.removed)).empty() &&
                        FirstMiss(back.extra_checks).empty();
  if (restored) {
    LogLine("WARNING: re-apply did not land (%.300s) - the earlier scripts stay in force, all read back",
            what.c_str());
  } else {
    LogLine("WARNING: re-apply did not land (%.300s) - the earlier scripts did not read back either",
            what.c_str());
  }
  return ReapplyResult{old_plan, false, restored};
}

// "INSERT OR IGNORE INTO " + table + " (" + columns + ") VALUES (" + values + ")" of every row of the
// new plan that the old plan added too.
std::vector<std::string> KeptRowInserts(const Plan& old_plan, const Plan& new_plan) {
  std::set<std::pair<std::string, int64_t>> old_rows;
  for (const AddedRow& row : old_plan.added_rows) old_rows.insert({row.table, row.id});
  std::vector<std::string> inserts;
  for (const AddedRow& row : new_plan.added_rows) {
    if (old_rows.count({row.table, row.id}) == 0) continue;
    inserts.push_back("INSERT OR IGNORE INTO " + row.table + " (" + row.columns + ") VALUES (" + row.values +
                      ")");
  }
  return inserts;
}

}  // namespace

ReapplyResult ReapplyInPlace(const Plan& old_plan, const ScriptListing& listing, bool rewrite_kept) {
  // Take back the old edits but keep the old rows: the new plan reuses their Ids, and rows the new plan
  // drops are deleted below once the diff knows which they are.
  std::string failed;
  std::vector<std::string> undone;
  for (auto it = old_plan.undo.rbegin(); it != old_plan.undo.rend(); ++it) {
    if (it->compare(0, 12, "DELETE FROM ") == 0) continue;
    if (!Execute(*it) && failed.empty()) failed = *it;
    undone.push_back(*it);
  }
  // Read back before the new plan compiles: its look-ups read the values these statements put back.
  if (failed.empty()) failed = FirstMiss(UndoChecks(undone));
  if (!failed.empty()) return NotLanded(old_plan, nullptr, failed, rewrite_kept);

  Plan new_plan = LoadPlan(listing, PreviousRowIdsOf(old_plan));
  InPlaceDiff diff = DiffAddedRows(old_plan, new_plan, rewrite_kept);
  for (const std::string& statement : diff.removed) {
    if (!Execute(statement) && failed.empty()) failed = statement;
  }
  // Rows the tables are not sure of may be gone: put them back before they are rewritten.
  if (rewrite_kept) {
    for (const std::string& statement : KeptRowInserts(old_plan, new_plan)) {
      if (!Execute(statement) && failed.empty()) failed = statement;
    }
  }
  for (const std::string& statement : diff.updated) {
    if (!Execute(statement) && failed.empty()) failed = statement;
  }
  // ApplyPlan reads the rewrites back again but never sends them: one that did not land is sent again
  // only by a re-apply.
  if (failed.empty()) failed = FirstMiss(RemovalChecks(diff.removed));
  if (failed.empty()) failed = FirstMiss(diff.extra_checks);
  if (!failed.empty()) return NotLanded(old_plan, &new_plan, failed, rewrite_kept);
  new_plan.checks.insert(new_plan.checks.end(), diff.extra_checks.begin(), diff.extra_checks.end());

  LogLine("re-apply: %d added row(s) kept in place (%zu updated), %zu removed", diff.kept,
          diff.updated.size(), diff.removed.size());
  return ReapplyResult{std::move(new_plan), true, true};
}

}  // namespace gearloft
