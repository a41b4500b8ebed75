// gearloft script loading: the cells one load's statements set, so that a change that sets a cell an
// earlier change of the same load set to another value is told, with both places that set it.
#include <cstddef>

#include "scripts/scripts.h"

namespace gearloft {

namespace {

// One cell (or, for an added row, the whole row) a statement sets.
struct CellSet {
  std::string key;  // table + "|" + row condition + "|" + column ("" for a row)
  std::string column;
  std::string value;
};

struct StatementCells {
  bool row = false;  // an added row rather than cells of an existing one
  std::string table;
  std::string where;  // the row condition, e.g. "Id = 7000"
  std::vector<CellSet> cells;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The cells of "UPDATE T SET a = x, b = y WHERE cond" or of "INSERT OR IGNORE INTO T (cols) VALUES
// (vals)", as the compiler writes them. False for any other text. No value holds ", " or " WHERE ":
// numbers, and model names of letters, digits and '_' only.
bool CellsOf(const PlanStatement& statement, StatementCells* cells) {
  static const std::string kUpdate = "UPDATE ";
  static const std::string kSet = " SET ";
  static const std::string kWhere = " WHERE ";
  static const std::string kInsert = "INSERT OR IGNORE INTO ";
  static const std::string kValues = ") VALUES (";
  if (StartsWith(statement, kUpdate)) {
    const size_t set = statement.find(kSet, kUpdate.size());
    const size_t where = set == std::string::npos ? set : statement.find(kWhere, set);
    if (where == std::string::npos) return false;
    cells->table = statement.substr(kUpdate.size(), set - kUpdate.size());
    cells->where = statement.substr(where + kWhere.size());
    const std::string list = statement.substr(set + kSet.size(), where - set - kSet.size());
    for (size_t begin = 0; begin <= list.size();) {
      size_t end = list.find(", ", begin);
      if (end == std::string::npos) end = list.size();
      const std::string item = list.substr(begin, end - begin);
      const size_t equals = item.find(" = ");
      if (equals == std::string::npos) return false;
      const std::string column = item.substr(0, equals);
      cells->cells.push_back(
          CellSet{cells->table + "|" + cells->where + "|" + column, column, item.substr(equals + 3)});
      begin = end + 2;
    }
    return true;
  }
  if (StartsWith(statement, kInsert)) {
    const size_t open = statement.find(" (", kInsert.size());
    const size_t values = statement.find(kValues);
    if (open == std::string::npos || values == std::string::npos || statement.back() != ')') return false;
    cells->row = true;
    cells->table = statement.substr(kInsert.size(), open - kInsert.size());
    const size_t first = values + kValues.size();
    const std::string row_values = statement.substr(first, statement.size() - 1 - first);
    // Every added row's first column is its Id.
    cells->where = "Id = " + row_values.substr(0, row_values.find(','));
    cells->cells.push_back(CellSet{cells->table + "|" + cells->where + "|", "", row_values});
    return true;
  }
  return false;
}

// "Id = 7000" as "Id 7000".
std::string RowName(const std::string& where) {
  const size_t equals = where.find(" = ");
  return equals == std::string::npos ? where : where.substr(0, equals) + " " + where.substr(equals + 3);
}

std::string Place(const std::string& file, const ChangeOrigin& origin) {
  return file + ": [" + origin.section + "]: " + origin.key;
}

}  // namespace

std::vector<std::string> NoteCellWrites(CellWrites* writes, const std::string& file,
                                        const std::vector<PlanStatement>& statements,
                                        const std::vector<ChangeOrigin>& origins) {
  std::vector<std::string> clashes;
  for (size_t i = 0; i < statements.size(); ++i) {
    StatementCells cells;
    if (!CellsOf(statements[i], &cells)) continue;
    const ChangeOrigin origin = i < origins.size() ? origins[i] : ChangeOrigin();
    std::string columns;
    const CellWrite* earlier = nullptr;
    for (const CellSet& cell : cells.cells) {
      const auto found = writes->find(cell.key);
      if (found == writes->end()) {
        (*writes)[cell.key] = CellWrite{cell.value, file, origin};
        continue;
      }
      if (found->second.value == cell.value) continue;
      if (earlier == nullptr) earlier = &found->second;
      columns += (columns.empty() ? "" : ", ") + cell.column;
    }
    if (earlier == nullptr) continue;
    const std::string first = Place(earlier->file, earlier->origin);
    if (cells.row) {
      // INSERT OR IGNORE keeps the row that came first; the later one is never written.
      clashes.push_back(Place(file, origin) + " adds " + cells.table + " row " + RowName(cells.where) +
                        " again with other values (first added by " + first + ") - the first one stays");
      continue;
    }
    clashes.push_back(Place(file, origin) + " sets " + cells.table + " " + columns + " of " +
                      RowName(cells.where) + " again (first set by " + first + ") - the later value wins");
    // A third change to the cell is told against this one, whose value the cell now holds.
    for (const CellSet& cell : cells.cells) (*writes)[cell.key] = CellWrite{cell.value, file, origin};
  }
  return clashes;
}

}  // namespace gearloft
