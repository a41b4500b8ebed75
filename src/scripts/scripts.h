// gearloft script format: plan records, the cells a load writes, the car-script parser, the key
// vocabulary and value lists, and the printable text of a script's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace gearloft {

// ---- Plan and statement records ---------------------------------------------------------------------

// One SQL statement, UTF-8, without a terminating semicolon or line break.
using PlanStatement = std::string;

struct ReadBackCheck {
  std::string sql;  // a SELECT whose first row's first cell is a number
  double want = 0.0;
};

struct AddedRow {
  std::string table;
  std::string columns;  // as written between the INSERT's parentheses, first entry "Id"
  std::string values;
  int64_t id = 0;
};

struct Plan {
  std::vector<PlanStatement> statements;
  std::vector<PlanStatement> undo;
  std::vector<ReadBackCheck> checks;
  std::vector<std::string> names;
  std::vector<AddedRow> added_rows;
};

// Table name to the Ids of the rows the previous plan inserted there, in its added_rows order.
using PreviousRowIds = std::map<std::string, std::vector<int64_t>>;

// Appends every list of `from` to the same list of `to`, in field order; `with_names` false leaves
// `names` out (the loader's append).
void AppendPlan(Plan* to, const Plan& from, bool with_names = true);

PreviousRowIds PreviousRowIdsOf(const Plan& plan);

// The section and key a statement came from; the compiler gives one per statement of a file, in
// statement order, beside the plan rather than in it, since the apply side has no use for them.
struct ChangeOrigin {
  std::string section;
  std::string key;
};

// ---- Cells written twice in one load ----------------------------------------------------------------

// The cells a load's statements have set so far: table + "|" + row condition + "|" + column (an added
// row is one cell, with no column) to the value text and who set it.
struct CellWrite {
  std::string value;
  std::string file;
  ChangeOrigin origin;
};
using CellWrites = std::map<std::string, CellWrite>;

// Notes the cells that one compiled file's statements set, and gives one text for each statement that
// sets a cell an earlier one of the load set to another value: file + ": [" + section + "]: " + key +
// " sets " + table + " " + columns + " of " + row + " again (first set by " + earlier file + ": [" +
// earlier section + "]: " + earlier key + ") - the later value wins". An added row the load already
// added with other values gives " adds " + table + " row " + row + " again with other values (first
// added by ...) - the first one stays", as INSERT OR IGNORE keeps it. The same value twice gives nothing.
std::vector<std::string> NoteCellWrites(CellWrites* writes, const std::string& file,
                                        const std::vector<PlanStatement>& statements,
                                        const std::vector<ChangeOrigin>& origins);

// ---- Car script parser ------------------------------------------------------------------------------

struct CarSection {
  std::string name;
  std::map<std::string, std::string> keys;  // lower-cased keys, byte-wise order
  // Where the section stands, numbered as the parser numbers lines (from 1, every physical line), so a
  // message about it can point at its header or at the line of the value a key kept (the last one
  // written). Nothing compiled depends on them.
  size_t line = 0;
  std::map<std::string, size_t> key_lines;
};

struct CarScript {
  std::vector<CarSection> sections;
};

std::string Trim(const std::string& text);

// The UTF-8 byte-order mark an editor may put before a text file's first line.
inline constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool ParseCarScript(const std::string& content, CarScript* script, std::string* error);

// ---- Key vocabulary and value lists -----------------------------------------------------------------

// The axle words of the per-axle keys ("rim_sizes_front", "ride_drop_rear"), front first.
inline constexpr const char* kAxleWords[] = {"front", "rear"};

// The game's tables the car keys read and write, Data_Car (the car list) first, then as the game's upgrade
// screens order them.
inline constexpr const char* kGameTables[] = {"Data_Car",
                                              "List_UpgradeRimSizeFront",
                                              "List_UpgradeRimSizeRear",
                                              "List_UpgradeCarBodyTireAspectRatioFront",
                                              "List_UpgradeCarBodyTireAspectRatioRear",
                                              "List_UpgradeCarBodyTrackSpacingFront",
                                              "List_UpgradeCarBodyTrackSpacingRear",
                                              "List_UpgradeCarBodyTireWidthFront",
                                              "List_UpgradeCarBodyTireWidthRear",
                                              "List_UpgradeSpringDamper",
                                              "List_SpringDamperPhysics",
                                              "List_UpgradeTireCompound",
                                              "List_UpgradeCarBodyHood"};

using AxleLists = std::map<std::string, std::vector<double>>;

// Bounds on a number's integer part (the number truncated toward zero). A key family whose numbers end
// up in 32-bit arithmetic names its bounds, so an item out of them is a bad item when the list is read,
// before anything is asked of the database. Infinities and NaN are bad items for every key.
struct NumberRange {
  double lowest;
  double highest;
};
constexpr NumberRange kAnyFiniteNumber{-std::numeric_limits<double>::max(),
                                       std::numeric_limits<double>::max()};

// Splits at ',', trims each item, skips empty ones, and converts each with strtod's full syntax as in the
// C locale (signs, exponents, hexadecimal forms), whatever locale the process runs in.
bool ParseNumberList(const std::string& value, std::vector<double>* numbers,
                     const NumberRange& range = kAnyFiniteNumber);
bool ReadAxleLists(const CarSection& section, const std::string& base_key, AxleLists* lists,
                   std::string* error, const NumberRange& range = kAnyFiniteNumber);

// A single-number key as found for one axle.
struct SingleNumber {
  bool present = false;
  std::string key;  // the key that was found: the axle's own one, or else the plain one
  double value = 0.0;
};
// Looks up `axle_key` and, when it is absent and `plain_key` is not empty, `plain_key`; neither present
// gives true with `present` false. A value that is not exactly one number in `range` fails with
// "[" + section name + "]: " + the key found + " takes one number".
bool ReadSingleNumber(const CarSection& section, const std::string& axle_key, const std::string& plain_key,
                      const NumberRange& range, SingleNumber* number, std::string* error);

// "%.10g" as the C locale prints it, plus ".0" when the text has no '.', 'e' or 'E', so the value reaches
// SQL as a real literal. Non-finite values, which no SQL literal spells, give "9e999", "-9e999" (what
// SQL reads as the infinities) and "NULL" (what the database stored where a NaN was read). The doubles
// that ten digits would round past the largest double give "1.797693134e+308" (with their sign).
std::string FormatSqlNumber(double value);
// The number the literal FormatSqlNumber(value) reads as, in the C locale: `value` to ten significant
// digits. A read-back check of a written real wants this, since the cell holds what the literal said,
// not the digits the user typed beyond it. Non-finite values come back as they are.
double SqlNumberValue(double value);

// ---- Printable text ---------------------------------------------------------------------------------

// Length of the well-formed UTF-8 sequence at `at` (1 for an ASCII byte) with its code point in `point`,
// or 0: overlong forms, surrogates and code points past U+10FFFF are not well-formed, as the system's
// conversion to UTF-16 rejects them too.
size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* point);

// `text` with every byte below 0x20 but the tab, 0x7F, and every byte outside a well-formed UTF-8
// sequence written as "\xNN", so a message quoting a script stays one whole line of text.
std::string PrintableText(const std::string& text);

}  // namespace gearloft
