// gearloft car script compiler: values read from the game as edits need them, the old value an undo
// statement puts back, written so it reads back as the identical double, and a row's Id.
#include <charconv>
#include <cmath>
#include <system_error>

#include "compiler/compiler.h"

namespace gearloft {

std::string FormatExactSqlNumber(double value) {
  if (std::isnan(value)) return "NULL";
  if (std::isinf(value)) return value > 0 ? "9e999" : "-9e999";
  // Without a precision to_chars gives the fewest digits that convert back to `value`, in the C locale's
  // spelling and with the two-digit exponent "%e" writes, on every runtime.
  char buffer[64];
  std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) {
    // 17 significant digits always read back too; the shortest form never needs more room than this.
    result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
  }
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  return text;
}

bool OldValueSql(const QueryCell* cell, std::string* literal) {
  if (cell == nullptr) return false;
  switch (cell->kind) {
    case QueryCell::Kind::kNull:
      *literal = "NULL";
      return true;
    case QueryCell::Kind::kInteger:
    case QueryCell::Kind::kReal: {
      const double value = CellAsDouble(cell);
      // A NaN handed over as a real is no value the game could take back.
      if (std::isnan(value)) return false;
      *literal = FormatExactSqlNumber(value);
      return true;
    }
    default:
      return false;
  }
}

bool ReadRowId(const QueryCell* cell, int64_t* id) {
  if (cell == nullptr) return false;
  if (cell->kind == QueryCell::Kind::kInteger) {
    *id = cell->integer;
    return true;
  }
  if (cell->kind != QueryCell::Kind::kReal) return false;
  const double whole = std::trunc(cell->real);
  // [-2^63, 2^63): every double in it converts to a 64-bit integer exactly.
  if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) return false;
  *id = static_cast<int64_t>(whole);
  return true;
}

}  // namespace gearloft
