// gearloft script loading: the car-key vocabulary, per-axle reading of values, number lists and the
// text a number takes in SQL. Numbers are read and written as the C locale does, whatever locale the
// game has set, and without the C runtime's own conversions, which differ between runtimes.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>

#include "scripts/scripts.h"

namespace gearloft {

// ---- Numbers in ----------------------------------------------------------------------------------------

static bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
static bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}
static bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// One item with strtod's grammar in the C locale: the whole item must be consumed. The grammar is checked
// here and the value taken with from_chars, which rounds correctly and knows no locale. Infinity and NaN
// spellings never pass: they have no digits, and a non-finite number is never a usable value.
static bool ConvertItem(const std::string& item, double* value) {
  const char* p = item.data();
  const char* const end = p + item.size();
  while (p < end && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const bool hex = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (hex) p += 2;
  bool (*const is_digit)(char) = hex ? IsHexDigit : IsDecimalDigit;

  // Where the first significant digit stands, kept only to tell an overflow from an underflow.
  int64_t whole_digits = 0;
  int64_t fraction_zeros = 0;
  bool significant = false;
  bool any_digit = false;
  const char* q = p;
  for (; q < end && is_digit(*q); ++q) {
    any_digit = true;
    if (significant || *q != '0') {
      significant = true;
      ++whole_digits;
    }
  }
  if (q < end && *q == '.') {
    for (++q; q < end && is_digit(*q); ++q) {
      any_digit = true;
      if (!significant) {
        if (*q == '0') {
          ++fraction_zeros;
        } else {
          significant = true;
        }
      }
    }
  }
  // Without a digit strtod converts nothing; "0x" alone converts only the "0".
  if (!any_digit) return false;
  int64_t exponent = 0;
  const char exponent_letter = hex ? 'p' : 'e';
  if (q < end && (*q == exponent_letter || *q == exponent_letter - ('a' - 'A'))) {
    ++q;
    bool exponent_negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
      exponent_negative = *q == '-';
      ++q;
    }
    const char* const exponent_digits = q;
    for (; q < end && IsDecimalDigit(*q); ++q) {
      if (exponent < 1000000000) exponent = exponent * 10 + (*q - '0');
    }
    if (q == exponent_digits) return false;
    if (exponent_negative) exponent = -exponent;
  }
  if (q != end) return false;

  double magnitude = 0.0;
  const std::from_chars_result result =
      std::from_chars(p, end, magnitude, hex ? std::chars_format::hex : std::chars_format::general);
  if (result.ptr != end) return false;
  if (result.ec == std::errc::result_out_of_range) {
    // strtod overflows to an infinity (never usable) and underflows to zero, which is a good number.
    const int64_t digit_bits = hex ? 4 : 1;
    const int64_t order = (whole_digits > 0 ? whole_digits : -fraction_zeros) * digit_bits + exponent;
    if (order > 0) return false;
    magnitude = 0.0;
  } else if (result.ec != std::errc()) {
    return false;
  }
  *value = negative ? -magnitude : magnitude;
  return std::isfinite(*value);
}

bool ParseNumberList(const std::string& value, std::vector<double>* numbers, const NumberRange& range) {
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t end = value.find(',', begin);
    if (end == std::string::npos) end = value.size();
    const std::string item = Trim(value.substr(begin, end - begin));
    if (!item.empty()) {
      double number = 0.0;
      if (!ConvertItem(item, &number)) return false;
      const double whole = std::trunc(number);
      if (!(whole >= range.lowest && whole <= range.highest)) return false;
      numbers->push_back(number);
    }
    begin = end + 1;
  }
  return true;
}

// ---- Keys of a section ---------------------------------------------------------------------------------

static std::string SectionPrefix(const CarSection& section) {
  return "[" + section.name + "]: ";
}

bool ReadAxleLists(const CarSection& section, const std::string& base_key, AxleLists* lists,
                   std::string* error, const NumberRange& range) {
  for (const char* axle : kAxleWords) {
    auto found = section.keys.find(base_key + "_" + axle);
    if (found == section.keys.end()) found = section.keys.find(base_key);
    if (found == section.keys.end()) continue;
    std::vector<double>& numbers = (*lists)[axle];
    if (!ParseNumberList(found->second, &numbers, range)) {
      *error = SectionPrefix(section) + base_key + " is not a number list";
      return false;
    }
  }
  return true;
}

bool ReadSingleNumber(const CarSection& section, const std::string& axle_key, const std::string& plain_key,
                      const NumberRange& range, SingleNumber* number, std::string* error) {
  *number = SingleNumber();
  auto found = section.keys.find(axle_key);
  if (found == section.keys.end() && !plain_key.empty()) found = section.keys.find(plain_key);
  if (found == section.keys.end()) return true;
  std::vector<double> numbers;
  if (!ParseNumberList(found->second, &numbers, range) || numbers.size() != 1) {
    *error = SectionPrefix(section) + found->first + " takes one number";
    return false;
  }
  number->present = true;
  number->key = found->first;
  number->value = numbers[0];
  return true;
}

// ---- Numbers out ---------------------------------------------------------------------------------------

std::string FormatSqlNumber(double value) {
  if (std::isnan(value)) return "NULL";
  if (std::isinf(value)) return value > 0 ? "9e999" : "-9e999";
  char buffer[32];
  // The same digits "%.10g" gives in the C locale, with a two-digit exponent on every runtime.
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
  std::string text(buffer, result.ptr);
  // Ten digits round the doubles nearest the largest one up past it: "1.797693135e+308" would reach SQL
  // as an infinity. They print as the ten-digit number just below instead.
  static const char kPastLargest[] = "1.797693135e+308";
  const size_t sign = value < 0 ? 1 : 0;
  if (text.compare(sign, std::string::npos, kPastLargest) == 0) text[sign + 10] = '4';
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  return text;
}

double SqlNumberValue(double value) {
  double written = 0.0;
  if (!std::isfinite(value) || !ConvertItem(FormatSqlNumber(value), &written)) return value;
  return written;
}

}  // namespace gearloft
