// gearloft apply and verify: the comparison of the rows an old and a new plan insert, telling which old
// rows go, which stay as they are and which are rewritten in place.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "apply/apply.h"

namespace gearloft {
namespace {

constexpr const char kDeletePrefix[] = "DELETE FROM ";

std::string DeleteTextOf(const AddedRow& row) {
  return kDeletePrefix + row.table + " WHERE Id = " + std::to_string(row.id);
}

// Column and value lists hold no quoted commas (text values are letters, digits and '_' only); a
// trailing comma adds no empty entry.
std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

}  // namespace

InPlaceDiff DiffAddedRows(const Plan& old_plan, const Plan& new_plan, bool rewrite_unchanged) {
  InPlaceDiff diff;

  std::set<std::string> kept_texts;
  for (const AddedRow& row : new_plan.added_rows) kept_texts.insert(DeleteTextOf(row));
  for (auto it = old_plan.undo.rbegin(); it != old_plan.undo.rend(); ++it) {
    if (it->compare(0, sizeof(kDeletePrefix) - 1, kDeletePrefix) == 0 && kept_texts.count(*it) == 0) {
      diff.removed.push_back(*it);
    }
  }

  std::map<std::string, const AddedRow*> old_rows;
  for (const AddedRow& row : old_plan.added_rows) {
    old_rows[row.table + "|" + std::to_string(row.id)] = &row;
  }
  for (const AddedRow& row : new_plan.added_rows) {
    auto found = old_rows.find(row.table + "|" + std::to_string(row.id));
    if (found == old_rows.end()) continue;
    ++diff.kept;
    const AddedRow& old_row = *found->second;
    if (!rewrite_unchanged && old_row.columns == row.columns && old_row.values == row.values) continue;

    std::vector<std::string> columns = SplitAtCommas(row.columns);
    std::vector<std::string> values = SplitAtCommas(row.values);
    std::string set_list;
    std::string conditions;
    // Position 0 is the Id, which the row keeps.
    for (size_t i = 1; i < columns.size() && i < values.size(); ++i) {
      if (!set_list.empty()) set_list += ", ";
      set_list += columns[i] + " = " + values[i];
      conditions += columns[i] + " = " + values[i] + " AND ";
    }
    std::string id = std::to_string(row.id);
    diff.updated.push_back("UPDATE " + row.table + " SET " + set_list + " WHERE Id = " + id);
    ReadBackCheck check;
    check.sql = "SELECT COUNT(*) FROM " + row.table + " WHERE " + conditions + "Id = " + id;
    check.want = 1.0;
    diff.extra_checks.push_back(check);
  }
  return diff;
}

}  // namespace gearloft
