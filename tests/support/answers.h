// gearloft test support: the game's answers built by hand, cell by cell, for tests that stand in for the
// game's database when the compiler or the snapshot asks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostdb/hostdb.h"

namespace gearloft::test {

inline QueryCell IntegerCell(int64_t value) {
  QueryCell cell;
  cell.kind = QueryCell::Kind::kInteger;
  cell.integer = value;
  return cell;
}

inline QueryCell RealCell(double value) {
  QueryCell cell;
  cell.kind = QueryCell::Kind::kReal;
  cell.real = value;
  return cell;
}

inline QueryCell TextCell(const std::string& value) {
  QueryCell cell;
  cell.kind = QueryCell::Kind::kText;
  cell.text = value;
  return cell;
}

// An answer that went through, with these rows (and no column names).
inline QueryResult Answer(const std::vector<std::vector<QueryCell>>& rows) {
  QueryResult result;
  result.ok = true;
  result.rows = rows;
  return result;
}

}  // namespace gearloft::test
