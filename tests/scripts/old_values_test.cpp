// gearloft script tests: the text undo statements restore old values with, and which cells have one.
// Runs in every build, the Windows one included, where the C runtime's own number formatting differs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "support/answers.h"
#include "support/support.h"

namespace gearloft {
namespace {

TEST(FormatExactSqlNumberTest, WritesTheShortestTextThatReadsBack) {
  EXPECT_EQ(FormatExactSqlNumber(17), "17.0");
  EXPECT_EQ(FormatExactSqlNumber(-3), "-3.0");
  EXPECT_EQ(FormatExactSqlNumber(0.1), "0.1");
  EXPECT_EQ(FormatExactSqlNumber(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(FormatExactSqlNumber(static_cast<double>(0.15f)), "0.15000000596046448");
  EXPECT_EQ(FormatExactSqlNumber(1e20), "1e+20");
  EXPECT_EQ(FormatExactSqlNumber(0.00001), "1e-05");
  EXPECT_EQ(FormatExactSqlNumber(123456789012), "123456789012.0");
  EXPECT_EQ(FormatExactSqlNumber(-0.0), "-0.0");
  EXPECT_EQ(FormatExactSqlNumber(5e-324), "5e-324");
  EXPECT_EQ(FormatExactSqlNumber(1.7976931348623157e308), "1.7976931348623157e+308");
}

TEST(FormatExactSqlNumberTest, NonFiniteValuesGiveWhatFormatSqlNumberGives) {
  EXPECT_EQ(FormatExactSqlNumber(std::nan("")), "NULL");
  EXPECT_EQ(FormatExactSqlNumber(HUGE_VAL), "9e999");
  EXPECT_EQ(FormatExactSqlNumber(-HUGE_VAL), "-9e999");
}

TEST(FormatExactSqlNumberTest, EveryTextReadsBackAsTheSameDouble) {
  // Doubles across the whole range, from a fixed bit pattern walk; ParseNumberList reads as strtod does.
  uint64_t bits = 0x3fb999999999999aULL;
  for (int i = 0; i < 20000; ++i) {
    bits = bits * 6364136223846793005ULL + 1442695040888963407ULL;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = FormatExactSqlNumber(value);
    std::vector<double> read;
    ASSERT_TRUE(ParseNumberList(text, &read)) << text;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(std::memcmp(&read[0], &value, sizeof value), 0) << text;
    EXPECT_NE(text.find_first_of(".eE"), std::string::npos) << text;
  }
}

TEST(OldValueSqlTest, NullNumbersAndNothingElse) {
  const QueryCell integer = test::IntegerCell(17);
  const QueryCell real = test::RealCell(0.25);
  const QueryCell null_cell;
  const QueryCell text = test::TextCell("17");
  const QueryCell nan = test::RealCell(std::nan(""));
  std::string literal;
  ASSERT_TRUE(OldValueSql(&integer, &literal));
  EXPECT_EQ(literal, "17.0");
  ASSERT_TRUE(OldValueSql(&real, &literal));
  EXPECT_EQ(literal, "0.25");
  ASSERT_TRUE(OldValueSql(&null_cell, &literal));
  EXPECT_EQ(literal, "NULL");
  EXPECT_FALSE(OldValueSql(&text, &literal));
  EXPECT_FALSE(OldValueSql(&nan, &literal));
  EXPECT_FALSE(OldValueSql(nullptr, &literal));
}

TEST(FormatExactSqlNumberTest, WritesAPointInACommaLocale) {
  test::CommaLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no comma-decimal locale is installed";
  EXPECT_EQ(FormatExactSqlNumber(static_cast<double>(0.15f)), "0.15000000596046448");
  EXPECT_EQ(FormatExactSqlNumber(2.5e-7), "2.5e-07");
  EXPECT_EQ(FormatExactSqlNumber(17), "17.0");
}

TEST(ReadRowIdTest, IntegersAsTheyAreRealsTruncatedNothingElse) {
  const QueryCell big = test::IntegerCell(9007199254740993);
  const QueryCell real = test::RealCell(-7000.9);
  const QueryCell lowest = test::RealCell(-9223372036854775808.0);
  const QueryCell too_big = test::RealCell(9223372036854775808.0);
  const QueryCell nan = test::RealCell(std::nan(""));
  const QueryCell text = test::TextCell("7000");
  const QueryCell null_cell;
  int64_t id = 0;
  ASSERT_TRUE(ReadRowId(&big, &id));
  EXPECT_EQ(id, 9007199254740993);
  ASSERT_TRUE(ReadRowId(&real, &id));
  EXPECT_EQ(id, -7000);
  ASSERT_TRUE(ReadRowId(&lowest, &id));
  EXPECT_EQ(id, INT64_MIN);
  id = 5;
  EXPECT_FALSE(ReadRowId(&too_big, &id));
  EXPECT_FALSE(ReadRowId(&nan, &id));
  EXPECT_FALSE(ReadRowId(&text, &id));
  EXPECT_FALSE(ReadRowId(&null_cell, &id));
  EXPECT_FALSE(ReadRowId(nullptr, &id));
  EXPECT_EQ(id, 5);
}

}  // namespace
}  // namespace gearloft
