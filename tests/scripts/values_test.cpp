// gearloft script tests: the key vocabulary, number lists, per-axle and single-number reading, and the
// SQL text of numbers, in the C locale and in a comma-decimal one.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "compiler/compiler.h"
#include "scripts/scripts.h"
#include "support/support.h"

namespace gearloft {
namespace {

std::vector<double> MustList(const std::string& value) {
  std::vector<double> numbers;
  EXPECT_TRUE(ParseNumberList(value, &numbers)) << value;
  return numbers;
}

bool Parses(const std::string& value) {
  std::vector<double> numbers;
  return ParseNumberList(value, &numbers);
}

CarSection Section(const std::string& name, const std::map<std::string, std::string>& keys) {
  return CarSection{name, keys, 0, {}};
}

TEST(CarKeysTest, HoldsTheTwentySevenKeys) {
  const std::set<std::string> expected = {
      "rim_sizes",           "rim_sizes_front",    "rim_sizes_rear",      "tire_profiles",
      "tire_profiles_front", "tire_profiles_rear", "track_spacings",      "track_spacings_front",
      "track_spacings_rear", "track_front_stock",  "track_rear_stock",    "hood_options",
      "rim_stock",           "rim_front_stock",    "rim_rear_stock",      "ride_drop_front",
      "ride_drop_rear",      "profile_stock",      "profile_front_stock", "profile_rear_stock",
      "rim_levels",          "rim_levels_front",   "rim_levels_rear",     "whitewall_level",
      "width_stock",         "width_front_stock",  "width_rear_stock"};
  EXPECT_EQ(CarKeys(), expected);
  EXPECT_EQ(CarKeys().count("track_stock"), 0u);
  EXPECT_EQ(CarKeys().count("rim_size"), 0u);
}

TEST(ParseNumberListTest, EmptyValueGivesEmptyList) {
  EXPECT_TRUE(MustList("").empty());
}

TEST(ParseNumberListTest, EmptyItemsAreSkipped) {
  EXPECT_EQ(MustList("17,,18,"), (std::vector<double>{17, 18}));
  EXPECT_EQ(MustList(" , 17 ,\t18.5 "), (std::vector<double>{17, 18.5}));
}

TEST(ParseNumberListTest, ItemsMustBeConsumedWhole) {
  EXPECT_FALSE(Parses("17 18"));
  EXPECT_FALSE(Parses("17mm"));
  EXPECT_FALSE(Parses("abc"));
  EXPECT_FALSE(Parses("17, x"));
  EXPECT_FALSE(Parses("1e"));
  EXPECT_FALSE(Parses("1e+"));
  EXPECT_FALSE(Parses("."));
  EXPECT_FALSE(Parses("-"));
  EXPECT_FALSE(Parses("+-1"));
  EXPECT_FALSE(Parses("17\v"));
  EXPECT_FALSE(Parses("1.2.3"));
}

TEST(ParseNumberListTest, AcceptsStrtodDecimalForms) {
  EXPECT_EQ(MustList("1e3, 1E+2, 2.5e-1, .5, 5., +7, -3"),
            (std::vector<double>{1000, 100, 0.25, 0.5, 5, 7, -3}));
  // strtod skips every C-locale space before a number, not only the ones trimmed off the item.
  EXPECT_EQ(MustList("\v17"), (std::vector<double>{17}));
}

TEST(ParseNumberListTest, AcceptsHexadecimalForms) {
  EXPECT_EQ(MustList("0x1A, 0x1.8p1, -0X.8P-1, 0xAp0, 0x10."), (std::vector<double>{26, 3, -0.25, 10, 16}));
}

TEST(ParseNumberListTest, RejectsBrokenHexadecimalForms) {
  EXPECT_FALSE(Parses("0x"));
  EXPECT_FALSE(Parses("0xg"));
  EXPECT_FALSE(Parses("0x1p"));
  EXPECT_FALSE(Parses("0x1e+1"));
  EXPECT_FALSE(Parses("0x.p1"));
}

TEST(ParseNumberListTest, RoundsAsStrtodDoes) {
  EXPECT_EQ(MustList("0.1000000000000000055511151231257827021181583404541015625")[0], 0.1);
  EXPECT_EQ(MustList("9007199254740993")[0], 9007199254740992.0);
  EXPECT_EQ(MustList("4.9e-324")[0], std::numeric_limits<double>::denorm_min());
}

TEST(ParseNumberListTest, UnderflowIsZeroAndOverflowIsBad) {
  const std::vector<double> tiny = MustList("1e-400, -1e-400, 0x1p-1200, 0.0000001e-320");
  ASSERT_EQ(tiny.size(), 4u);
  EXPECT_EQ(tiny[0], 0.0);
  EXPECT_TRUE(std::signbit(tiny[1]));
  EXPECT_EQ(tiny[2], 0.0);
  EXPECT_EQ(tiny[3], 0.0);
  EXPECT_FALSE(Parses("1e999"));
  EXPECT_FALSE(Parses("-1e400"));
  EXPECT_FALSE(Parses("0x1p2000"));
  EXPECT_FALSE(Parses("1000000000000000000000000000000000000000e300"));
  EXPECT_EQ(MustList("0e99999999999999999999")[0], 0.0);
}

TEST(ParseNumberListTest, NonFiniteSpellingsAreBadItems) {
  for (const char* item : {"nan", "NaN", "inf", "-inf", "+INF", "infinity", "Infinity", "nan(123)", "-nan"}) {
    EXPECT_FALSE(Parses(item)) << item;
    EXPECT_FALSE(Parses(std::string("17, ") + item)) << item;
  }
}

TEST(ParseNumberListTest, NumbersOutOfTheRangeAreBadItems) {
  const NumberRange range{-5.0, 5.0};
  std::vector<double> numbers;
  EXPECT_TRUE(ParseNumberList("5.9, -5.9, 0", &numbers, range));
  EXPECT_EQ(numbers, (std::vector<double>{5.9, -5.9, 0}));
  numbers.clear();
  EXPECT_FALSE(ParseNumberList("1, 6", &numbers, range));
  numbers.clear();
  EXPECT_FALSE(ParseNumberList("-6", &numbers, range));
}

TEST(ReadAxleListsTest, AxleKeyOverridesThePlainKeyForItsAxleOnly) {
  AxleLists lists;
  std::string error;
  ASSERT_TRUE(ReadAxleLists(Section("7", {{"rim_sizes", "17, 18"}, {"rim_sizes_rear", "19"}}), "rim_sizes",
                            &lists, &error));
  EXPECT_EQ(lists, (AxleLists{{"front", {17, 18}}, {"rear", {19}}}));
}

TEST(ReadAxleListsTest, AxleWithoutKeyGetsNoEntry) {
  AxleLists lists;
  std::string error;
  ASSERT_TRUE(ReadAxleLists(Section("7", {{"track_spacings_front", "1.5"}, {"rim_sizes", "17"}}),
                            "track_spacings", &lists, &error));
  EXPECT_EQ(lists, (AxleLists{{"front", {1.5}}}));
}

TEST(ReadAxleListsTest, EmptyValueGivesBothAxlesEmptyLists) {
  AxleLists lists;
  std::string error;
  ASSERT_TRUE(ReadAxleLists(Section("7", {{"rim_sizes", ""}}), "rim_sizes", &lists, &error));
  EXPECT_EQ(lists, (AxleLists{{"front", {}}, {"rear", {}}}));
}

TEST(ReadAxleListsTest, BadAxleValueNamesTheBaseKey) {
  AxleLists lists;
  std::string error;
  EXPECT_FALSE(ReadAxleLists(Section("1234", {{"rim_sizes_front", "17, x"}}), "rim_sizes", &lists, &error));
  EXPECT_EQ(error, "[1234]: rim_sizes is not a number list");
}

TEST(ReadAxleListsTest, ValueOutOfRangeIsNotANumberList) {
  AxleLists lists;
  std::string error;
  EXPECT_FALSE(ReadAxleLists(Section("a", {{"rim_sizes_rear", "3, 300"}}), "rim_sizes", &lists, &error,
                             NumberRange{0, 100}));
  EXPECT_EQ(error, "[a]: rim_sizes is not a number list");
}

TEST(ReadSingleNumberTest, AxleKeyComesBeforeThePlainKey) {
  const CarSection section = Section("7", {{"rim_stock", "17"}, {"rim_front_stock", "18"}});
  SingleNumber front;
  SingleNumber rear;
  std::string error;
  ASSERT_TRUE(ReadSingleNumber(section, "rim_front_stock", "rim_stock", kAnyFiniteNumber, &front, &error));
  ASSERT_TRUE(ReadSingleNumber(section, "rim_rear_stock", "rim_stock", kAnyFiniteNumber, &rear, &error));
  EXPECT_TRUE(front.present);
  EXPECT_EQ(front.key, "rim_front_stock");
  EXPECT_EQ(front.value, 18);
  EXPECT_TRUE(rear.present);
  EXPECT_EQ(rear.key, "rim_stock");
  EXPECT_EQ(rear.value, 17);
}

TEST(ReadSingleNumberTest, KeyWithoutPlainFormSetsOnlyItsAxle) {
  const CarSection section = Section("7", {{"track_front_stock", "1.6"}});
  SingleNumber rear;
  std::string error;
  ASSERT_TRUE(ReadSingleNumber(section, "track_rear_stock", "", kAnyFiniteNumber, &rear, &error));
  EXPECT_FALSE(rear.present);
}

TEST(ReadSingleNumberTest, TwoNumbersOrNoneTakeOneNumber) {
  SingleNumber number;
  std::string error;
  EXPECT_FALSE(ReadSingleNumber(Section("1234", {{"rim_stock", "17, 18"}}), "rim_front_stock", "rim_stock",
                                kAnyFiniteNumber, &number, &error));
  EXPECT_EQ(error, "[1234]: rim_stock takes one number");
  error.clear();
  EXPECT_FALSE(ReadSingleNumber(Section("1234", {{"rim_stock", ""}}), "rim_front_stock", "rim_stock",
                                kAnyFiniteNumber, &number, &error));
  EXPECT_EQ(error, "[1234]: rim_stock takes one number");
  error.clear();
  EXPECT_FALSE(ReadSingleNumber(Section("1234", {{"rim_front_stock", "18, 19"}, {"rim_stock", "17"}}),
                                "rim_front_stock", "rim_stock", kAnyFiniteNumber, &number, &error));
  EXPECT_EQ(error, "[1234]: rim_front_stock takes one number");
}

TEST(ReadSingleNumberTest, BadItemOrNumberOutOfRangeTakesOneNumber) {
  SingleNumber number;
  std::string error;
  EXPECT_FALSE(ReadSingleNumber(Section("7", {{"whitewall_level", "inf"}}), "whitewall_level", "",
                                kAnyFiniteNumber, &number, &error));
  EXPECT_EQ(error, "[7]: whitewall_level takes one number");
  error.clear();
  EXPECT_FALSE(ReadSingleNumber(Section("7", {{"whitewall_level", "3e9"}}), "whitewall_level", "",
                                NumberRange{-2147483648.0, 2147483647.0}, &number, &error));
  EXPECT_EQ(error, "[7]: whitewall_level takes one number");
}

TEST(FormatSqlNumberTest, WritesRealLiterals) {
  EXPECT_EQ(FormatSqlNumber(17), "17.0");
  EXPECT_EQ(FormatSqlNumber(-3), "-3.0");
  EXPECT_EQ(FormatSqlNumber(0.5), "0.5");
  EXPECT_EQ(FormatSqlNumber(2.25), "2.25");
  EXPECT_EQ(FormatSqlNumber(1.36), "1.36");
  EXPECT_EQ(FormatSqlNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatSqlNumber(-0.0), "-0.0");
}

TEST(FormatSqlNumberTest, UsesTenSignificantDigitsAndTwoDigitExponents) {
  EXPECT_EQ(FormatSqlNumber(1e20), "1e+20");
  EXPECT_EQ(FormatSqlNumber(1234567890), "1234567890.0");
  EXPECT_EQ(FormatSqlNumber(12345678901), "1.23456789e+10");
  EXPECT_EQ(FormatSqlNumber(123456789012), "1.23456789e+11");
  EXPECT_EQ(FormatSqlNumber(0.00001), "1e-05");
  EXPECT_EQ(FormatSqlNumber(0.0001), "0.0001");
  EXPECT_EQ(FormatSqlNumber(1e100), "1e+100");
  EXPECT_EQ(FormatSqlNumber(-2.5e-300), "-2.5e-300");
}

TEST(FormatSqlNumberTest, NonFiniteValuesGiveSqlThatReadsThemBack) {
  EXPECT_EQ(FormatSqlNumber(std::numeric_limits<double>::quiet_NaN()), "NULL");
  EXPECT_EQ(FormatSqlNumber(std::numeric_limits<double>::infinity()), "9e999");
  EXPECT_EQ(FormatSqlNumber(-std::numeric_limits<double>::infinity()), "-9e999");
}

// Switches the process to a locale whose decimal separator is a comma, as the game may, and back.
class CommaLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!comma_.active()) GTEST_SKIP() << "no comma-decimal locale is installed";
  }

 private:
  test::CommaLocale comma_;
};

TEST(SqlNumberValueTest, GivesWhatTheLiteralReadsAs) {
  EXPECT_EQ(SqlNumberValue(123456.1234567), 123456.1235);
  EXPECT_EQ(SqlNumberValue(0.1 - 0.02), 0.08);
  EXPECT_EQ(SqlNumberValue(-3.0), -3.0);
  EXPECT_EQ(SqlNumberValue(123456789012.0), 123456789000.0);
  EXPECT_EQ(SqlNumberValue(std::numeric_limits<double>::max()), 1.797693134e308);
  EXPECT_EQ(SqlNumberValue(-std::numeric_limits<double>::infinity()),
            -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(SqlNumberValue(std::nan(""))));
}

TEST_F(CommaLocaleTest, NumbersAreReadWithAPoint) {
  EXPECT_EQ(MustList("2.25, 1e-2, 0x1.8p1"), (std::vector<double>{2.25, 0.01, 3}));
  EXPECT_FALSE(Parses("2,25x"));
}

TEST_F(CommaLocaleTest, WrittenNumbersReadBackWithAPoint) {
  EXPECT_EQ(SqlNumberValue(2.25), 2.25);
  EXPECT_EQ(SqlNumberValue(123456.1234567), 123456.1235);
}

TEST_F(CommaLocaleTest, NumbersAreWrittenWithAPoint) {
  EXPECT_EQ(FormatSqlNumber(2.25), "2.25");
  EXPECT_EQ(FormatSqlNumber(1.36), "1.36");
  EXPECT_EQ(FormatSqlNumber(0.00001), "1e-05");
  EXPECT_EQ(FormatSqlNumber(17), "17.0");
}

// The one number a printed text reads back as; NaN when it is not exactly one number.
double ReadBackOne(const std::string& text) {
  std::vector<double> numbers;
  if (!ParseNumberList(text, &numbers) || numbers.size() != 1) return std::nan("");
  return numbers[0];
}

// Ten digits round the largest doubles to 1.797693135e+308, past the largest double: SQL read that
// text as an infinity, and the read-back of a track spacing of 1.7976931348e308 could never match.
TEST(LargestDoublesTest, PrintedTextStaysAFiniteNumber) {
  EXPECT_EQ(FormatSqlNumber(DBL_MAX), "1.797693134e+308");
  EXPECT_EQ(FormatSqlNumber(-DBL_MAX), "-1.797693134e+308");
  EXPECT_EQ(FormatSqlNumber(1.7976931345e308), "1.797693134e+308");
  EXPECT_EQ(FormatSqlNumber(1.7976931344e308), "1.797693134e+308");
  for (double value : {DBL_MAX, -DBL_MAX, 1.7976931345e308, std::nextafter(DBL_MAX, 0.0)}) {
    const std::string text = FormatSqlNumber(value);
    const double back = ReadBackOne(text);
    EXPECT_TRUE(std::isfinite(back)) << text;
    EXPECT_EQ(FormatSqlNumber(back), text);
  }
}

TEST(LargestDoublesTest, ExactTextOfTheLargestDoubleReadsBackIdentical) {
  EXPECT_EQ(ReadBackOne(FormatExactSqlNumber(DBL_MAX)), DBL_MAX);
  EXPECT_EQ(ReadBackOne(FormatExactSqlNumber(-DBL_MAX)), -DBL_MAX);
}

}  // namespace
}  // namespace gearloft
