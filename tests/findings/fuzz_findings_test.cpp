// Regression tests for what the fuzz targets found: the SQL text of the largest doubles, and host results
// whose claims stay inside the column and row bounds but would still copy without end.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compiler/compiler.h"
#include "devhost/host_layout.h"
#include "hostdb/hostdb.h"
#include "scripts/scripts.h"

namespace gearloft {
namespace {

double ReadBack(const std::string& text) {
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
    const double back = ReadBack(text);
    EXPECT_TRUE(std::isfinite(back)) << text;
    EXPECT_EQ(FormatSqlNumber(back), text);
  }
}

TEST(LargestDoublesTest, ExactTextOfTheLargestDoubleReadsBackIdentical) {
  EXPECT_EQ(ReadBack(FormatExactSqlNumber(DBL_MAX)), DBL_MAX);
  EXPECT_EQ(ReadBack(FormatExactSqlNumber(-DBL_MAX)), -DBL_MAX);
}

// 4095 columns by 999,999 rows passed both bounds: over unreadable cell arrays that was four billion
// NULL cells, hundreds of gigabytes, in the game's process.
TEST(HostResultBoundsTest, AMillionCellsAreRefused) {
  auto built = devhost::BuildWideOrLongResult(1000, 1000);
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.columns.empty());
  EXPECT_TRUE(result.rows.empty());
}

TEST(HostResultBoundsTest, OneCellUnderAMillionIsCopied) {
  auto built = devhost::BuildWideOrLongResult(1000, 999);
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.columns.size(), 1000u);
  ASSERT_EQ(result.rows.size(), 999u);
  EXPECT_EQ(result.rows[998].size(), 1000u);
}

std::vector<devhost::HostValue> MebibyteTexts(size_t count) {
  devhost::HostValue text = devhost::TextValue("x");
  text.claimed_length = 1024 * 1024;
  return std::vector<devhost::HostValue>(count, text);
}

// Each text may claim 1 MiB; a million of them was a terabyte to copy.
TEST(HostResultBoundsTest, MoreThanSixteenMebibytesOfTextIsRefused) {
  auto built = devhost::BuildHostResult(std::vector<std::string>(17, ""), {MebibyteTexts(17)});
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.rows.empty());
}

TEST(HostResultBoundsTest, SixteenMebibytesOfTextAreCopied) {
  auto built = devhost::BuildHostResult(std::vector<std::string>(16, ""), {MebibyteTexts(16)});
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.rows.size(), 1u);
  ASSERT_EQ(result.rows[0].size(), 16u);
  EXPECT_EQ(result.rows[0][15].text, std::string(1024 * 1024, 'x'));
}

}  // namespace
}  // namespace gearloft
