// gearloft fuzz target: number lists in and numbers out. ParseNumberList must accept exactly what the C
// library's strtod (C locale) converts whole and finite, with the same doubles, and honour a range. For
// each number read, and for the double whose bits are the input's first eight bytes, the text
// FormatSqlNumber prints must read back as a number whose text is the same again (ten digits lose some,
// never more than half a unit of the tenth), and the undo's FormatExactSqlNumber text must read back as
// the identical double.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "scripts/scripts.h"

namespace {

using gearloft::FormatExactSqlNumber;
using gearloft::FormatSqlNumber;
using gearloft::NumberRange;
using gearloft::ParseNumberList;

[[noreturn]] void Fail(const char* what, const std::string& text, double number) {
  std::fprintf(stderr, "%s: \"%s\" (%.17g)\n", what, text.c_str(), number);
  std::abort();
}

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The list as strtod reads it: items split at ',', trimmed, empty ones skipped, each converted whole.
bool ReferenceList(const std::string& value, std::vector<double>* numbers) {
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t end = value.find(',', begin);
    if (end == std::string::npos) end = value.size();
    const std::string item = gearloft::Trim(value.substr(begin, end - begin));
    if (!item.empty()) {
      char* stop = nullptr;
      const double number = std::strtod(item.c_str(), &stop);
      // A NUL byte inside the item ends strtod's reading early, which makes the item bad as it should.
      if (stop != item.c_str() + item.size() || !std::isfinite(number)) return false;
      numbers->push_back(number);
    }
    begin = end + 1;
  }
  return true;
}

double OneNumber(const std::string& text, const char* what) {
  std::vector<double> numbers;
  if (!ParseNumberList(text, &numbers) || numbers.size() != 1) Fail(what, text, 0.0);
  return numbers[0];
}

void CheckPrinted(double number) {
  const std::string text = FormatSqlNumber(number);
  if (text.find_first_of(".eE") == std::string::npos) Fail("printed without '.' or exponent", text, number);
  const double back = OneNumber(text, "printed number does not read back");
  if (FormatSqlNumber(back) != text) Fail("printed number prints differently once read back", text, number);
  // Ten significant digits: off by at most half a unit of the tenth, plus the subnormal spacing.
  if (std::fabs(back - number) > 5.0000001e-10 * std::fabs(number) + 5e-324) {
    Fail("printed number reads back too far off", text, number);
  }

  const std::string exact = FormatExactSqlNumber(number);
  if (exact.find_first_of(".eE") == std::string::npos)
    Fail("exact text without '.' or exponent", exact, number);
  const double restored = OneNumber(exact, "exact text does not read back");
  if (!SameBits(restored, number)) Fail("exact text reads back as another double", exact, number);
  if (FormatExactSqlNumber(restored) != exact)
    Fail("exact text prints differently once read back", exact, number);
}

void CheckRange(const std::string& value, const std::vector<double>& numbers, const NumberRange& range) {
  bool inside = true;
  for (double number : numbers) {
    const double whole = std::trunc(number);
    inside = inside && whole >= range.lowest && whole <= range.highest;
  }
  std::vector<double> ranged;
  if (ParseNumberList(value, &ranged, range) != inside) Fail("range bound misjudged", value, range.lowest);
  if (inside && ranged.size() != numbers.size()) Fail("range changed the numbers", value, range.lowest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first eight bytes as a double's bits reach every double, the ones no text in a script would
  // spell included.
  if (size >= sizeof(double)) {
    double bits_number = 0.0;
    std::memcpy(&bits_number, data, sizeof bits_number);
    if (std::isfinite(bits_number)) CheckPrinted(bits_number);
  }
  const std::string value(reinterpret_cast<const char*>(data), size);
  std::vector<double> numbers;
  const bool ok = ParseNumberList(value, &numbers);
  std::vector<double> reference;
  const bool reference_ok = ReferenceList(value, &reference);
  if (ok != reference_ok)
    Fail(ok ? "accepted what strtod refuses" : "refused what strtod accepts", value, 0.0);
  if (!ok) return 0;
  if (numbers.size() != reference.size()) Fail("another count of numbers than strtod", value, 0.0);
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (!SameBits(numbers[i], reference[i])) Fail("another double than strtod", value, reference[i]);
    CheckPrinted(numbers[i]);
  }
  CheckRange(value, numbers, gearloft::kInt32Range);
  CheckRange(value, numbers, gearloft::kRimDiameterRange);
  return 0;
}
