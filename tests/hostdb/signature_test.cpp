// gearloft host database bridge tests: the signature text, its parser and the byte search.
#include <gtest/gtest.h>

#include <vector>

#include "hostdb/hostdb.h"
#include "hostdb/test_support.h"
#include "platform/testing.h"

namespace gearloft {
namespace {

using hostdb_test::CallSiteBytes;
using hostdb_test::Pages;

std::vector<int> Signature() {
  return ParsePattern(SignaturePatterns().at(0));
}

TEST(SignatureTest, OnePatternOfTwentyNinePositionsSevenWildcards) {
  ASSERT_EQ(SignaturePatterns().size(), 1u);
  const std::vector<int> pattern = Signature();
  ASSERT_EQ(pattern.size(), 29u);
  size_t wildcards = 0;
  for (int value : pattern) wildcards += value < 0 ? 1 : 0;
  EXPECT_EQ(wildcards, 7u);
}

TEST(SignatureTest, MatchesTheCallSiteBytesByteForByte) {
  const std::vector<int> pattern = Signature();
  const std::vector<uint8_t> site = CallSiteBytes();
  ASSERT_EQ(pattern.size(), site.size());
  for (size_t i = 0; i < site.size(); ++i) {
    if (pattern[i] >= 0) {
      EXPECT_EQ(pattern[i], site[i]) << "position " << i;
    }
  }
  const std::vector<int> expected = {0x48, 0x8B, 0x0D, -1,   -1,   -1,   -1,   0x48, 0x8B, 0x01,
                                     0x4C, 0x8D, 0x45, -1,   0x48, 0x8D, 0x55, -1,   0xFF, 0x50,
                                     0x48, 0x90, 0x48, 0x8B, 0x4D, -1,   0x48, 0x85, 0xC9};
  EXPECT_EQ(pattern, expected);
}

TEST(ParsePatternTest, RunsOfSpacesAndLowerCaseHexAreRead) {
  EXPECT_EQ(ParsePattern("  4c   ? ff?0A "), (std::vector<int>{0x4C, -1, 0xFF, -1, 0x0A}));
}

TEST(ParsePatternTest, SingleDigitTokenIsOneByte) {
  EXPECT_EQ(ParsePattern("0 5 ?"), (std::vector<int>{0, 5, -1}));
}

TEST(ParsePatternTest, EmptyTextGivesEmptyPattern) {
  EXPECT_TRUE(ParsePattern("   ").empty());
}

class FindPatternTest : public ::testing::Test {
 protected:
  size_t Find(const std::vector<uint8_t>& bytes, const std::vector<int>& pattern, size_t max = 32) {
    offsets_.assign(64, 0);
    const size_t count = FindPattern(bytes.data(), bytes.size(), pattern, max, offsets_.data());
    offsets_.resize(count);
    return count;
  }
  std::vector<size_t> offsets_;
};

TEST_F(FindPatternTest, WildcardsMatchAnyByte) {
  std::vector<uint8_t> bytes(100, 0x90);
  const std::vector<uint8_t> site = CallSiteBytes();
  std::copy(site.begin(), site.end(), bytes.begin() + 40);
  bytes[43] = 0x12;
  bytes[53] = 0x7F;
  EXPECT_EQ(Find(bytes, Signature()), 1u);
  EXPECT_EQ(offsets_, std::vector<size_t>{40});
}

TEST_F(FindPatternTest, NearMissInTheLastByteIsNoMatch) {
  std::vector<uint8_t> bytes(100, 0x90);
  const std::vector<uint8_t> site = CallSiteBytes();
  std::copy(site.begin(), site.end(), bytes.begin() + 10);
  bytes[10 + 28] = 0xC8;
  EXPECT_EQ(Find(bytes, Signature()), 0u);
}

TEST_F(FindPatternTest, OverlappingMatchesAreAllFound) {
  const std::vector<uint8_t> bytes = {1, 1, 1, 1, 2};
  EXPECT_EQ(Find(bytes, {1, 1}), 3u);
  EXPECT_EQ(offsets_, (std::vector<size_t>{0, 1, 2}));
}

TEST_F(FindPatternTest, MatchEndingOnTheLastByteIsFound) {
  const std::vector<uint8_t> bytes = {0, 0, 7, 8, 9};
  EXPECT_EQ(Find(bytes, {7, -1, 9}), 1u);
  EXPECT_EQ(offsets_, std::vector<size_t>{2});
}

TEST_F(FindPatternTest, LeadingWildcardMatchesNothing) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  EXPECT_EQ(Find(bytes, {-1, 2}), 0u);
}

TEST_F(FindPatternTest, RangeShorterThanPatternMatchesNothing) {
  const std::vector<uint8_t> bytes = {7, 8};
  EXPECT_EQ(Find(bytes, {7, 8, 9}), 0u);
}

TEST_F(FindPatternTest, StopsAtTheMaximum) {
  std::vector<uint8_t> bytes(33 * 29, 0);
  const std::vector<uint8_t> site = CallSiteBytes();
  for (size_t i = 0; i < 33; ++i)
    std::copy(site.begin(), site.end(), bytes.begin() + static_cast<long>(29 * i));
  EXPECT_EQ(Find(bytes, Signature()), 32u);
  EXPECT_EQ(offsets_.back(), 31u * 29u);
}

// The range ends right before a page that cannot be read: a search that looked one byte too far
// would fault, and the unguarded search would take the test down with it.
TEST(FindPatternBoundsTest, NeverReadsPastTheEnd) {
  const size_t page = platform::PageSize();
  Pages pages(2 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, platform::kPageNoAccess));
  uint8_t* tail = pages.bytes() + page - 3;
  tail[0] = 0xAA;
  tail[1] = 0xBB;
  tail[2] = 0xAA;
  size_t offsets[4] = {};
  EXPECT_EQ(FindPattern(pages.bytes(), page, {0xAA, -1, 0xAA}, 4, offsets), 1u);
  EXPECT_EQ(offsets[0], page - 3);
  // A first byte at the very end whose pattern would run past the range.
  EXPECT_EQ(FindPattern(pages.bytes(), page, {0xAA, 0xCC, 0xDD, 0xEE}, 4, offsets), 0u);
}

TEST(FindPatternGuardedTest, FaultMidSearchReturnsMatchesSoFar) {
  const size_t page = platform::PageSize();
  Pages pages(2 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const std::vector<uint8_t> site = CallSiteBytes();
  std::copy(site.begin(), site.end(), pages.bytes() + 100);
  std::copy(site.begin(), site.end(), pages.bytes() + 900);
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, platform::kPageNoAccess));
  size_t offsets[32] = {};
  const size_t count = FindPatternGuarded(pages.bytes(), 2 * page, Signature(), 32, offsets);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(offsets[0], 100u);
  EXPECT_EQ(offsets[1], 900u);
}

TEST(FindPatternGuardedTest, FaultBeforeAnyMatchGivesNone) {
  Pages pages(platform::PageSize(), platform::kPageNoAccess);
  ASSERT_NE(pages.data, nullptr);
  size_t offsets[32] = {};
  EXPECT_EQ(FindPatternGuarded(pages.bytes(), pages.size, Signature(), 32, offsets), 0u);
}

}  // namespace
}  // namespace gearloft
