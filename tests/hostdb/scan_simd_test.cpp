// gearloft host database bridge tests: the fast search paths (SSE2, AVX2) against the first-byte reference,
// with call sites at every offset around vector blocks and range ends, near misses, more than 32 matches,
// random patterns, unreadable pages at either end of the range, and this executable's own code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
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

std::vector<size_t> Found(ScanPath path, const uint8_t* start, size_t length, const std::vector<int>& pattern,
                          size_t max = kMaxMatchesPerChunk) {
  std::vector<size_t> offsets(max + 1, 0);
  const size_t count = FindPatternWith(path, start, length, pattern, max, offsets.data());
  offsets.resize(count);
  return offsets;
}

std::vector<size_t> Reference(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                              size_t max = kMaxMatchesPerChunk) {
  return Found(ScanPath::kReference, start, length, pattern, max);
}

// Random bytes drawn like x86-64 code's most common ones, so the pattern's bytes and its filter bytes turn
// up by chance too.
std::vector<uint8_t> CodeLikeBytes(size_t length, std::mt19937* random) {
  static const uint8_t kCommon[] = {0x00, 0x48, 0x8B, 0x89, 0x24, 0xFF, 0x0F, 0x4C, 0x01, 0x8D, 0xE8,
                                    0x85, 0x90, 0x0D, 0x45, 0x55, 0x50, 0x4D, 0xC9, 0xCC, 0xC3, 0x41};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kCommon) - 1);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& byte : bytes) byte = kCommon[pick(*random)];
  return bytes;
}

void Plant(std::vector<uint8_t>* bytes, size_t at) {
  const std::vector<uint8_t> site = CallSiteBytes();
  std::copy(site.begin(), site.end(), bytes->begin() + static_cast<std::ptrdiff_t>(at));
}

class FastPathTest : public ::testing::TestWithParam<ScanPath> {
 protected:
  void SetUp() override {
    if (GetParam() == ScanPath::kAvx2 && !platform::CpuHasAvx2()) GTEST_SKIP() << "this CPU has no AVX2";
  }
  std::vector<size_t> Fast(const std::vector<uint8_t>& bytes, const std::vector<int>& pattern,
                           size_t max = kMaxMatchesPerChunk) {
    return Found(GetParam(), bytes.data(), bytes.size(), pattern, max);
  }
};

// Every range length from the pattern's own up to a few 128-start rounds, with the call site at every
// offset: the site crosses every vector block border and every tail length.
TEST_P(FastPathTest, CallSiteAtEveryOffsetOfEveryLengthIsFoundAsByTheReference) {
  std::mt19937 random(7);
  const std::vector<int> pattern = Signature();
  for (size_t length = pattern.size(); length <= 300; ++length) {
    const std::vector<uint8_t> background = CodeLikeBytes(length, &random);
    for (size_t at = 0; at + pattern.size() <= length; ++at) {
      std::vector<uint8_t> bytes = background;
      Plant(&bytes, at);
      const std::vector<size_t> expected = Reference(bytes.data(), bytes.size(), pattern);
      ASSERT_NE(std::find(expected.begin(), expected.end(), at), expected.end());
      ASSERT_EQ(Fast(bytes, pattern), expected) << "length " << length << " offset " << at;
    }
  }
}

// A site with one fixed byte changed, each in turn: the ones the filter tests and the ones only the full
// check sees.
TEST_P(FastPathTest, NearMissInAnyFixedByteIsNotFound) {
  const std::vector<int> pattern = Signature();
  std::vector<uint8_t> background(512, 0x90);
  for (size_t position = 0; position < pattern.size(); ++position) {
    if (pattern[position] < 0) continue;
    for (size_t at : {size_t{0}, size_t{31}, size_t{100}, size_t{127}, size_t{128}, background.size() - 29}) {
      std::vector<uint8_t> bytes = background;
      Plant(&bytes, at);
      bytes[at + position] = static_cast<uint8_t>(bytes[at + position] ^ 0x01);
      EXPECT_TRUE(Fast(bytes, pattern).empty()) << "position " << position << " offset " << at;
      EXPECT_TRUE(Reference(bytes.data(), bytes.size(), pattern).empty());
    }
  }
}

TEST_P(FastPathTest, MoreThanThirtyTwoSitesGiveTheFirstThirtyTwo) {
  std::mt19937 random(13);
  std::vector<uint8_t> bytes = CodeLikeBytes(4096, &random);
  for (size_t i = 0; i < 60; ++i) Plant(&bytes, 17 + 61 * i);
  const std::vector<size_t> expected = Reference(bytes.data(), bytes.size(), Signature());
  ASSERT_EQ(expected.size(), 32u);
  EXPECT_EQ(Fast(bytes, Signature()), expected);
  EXPECT_EQ(expected.back(), 17u + 61u * 31u);
}

TEST_P(FastPathTest, EveryMaximumStopsWhereTheReferenceStops) {
  // Overlapping matches at every start: each vector block is full of candidates.
  const std::vector<uint8_t> bytes(700, 0x48);
  for (size_t max : {size_t{1}, size_t{2}, size_t{31}, size_t{32}, size_t{64}, size_t{65}, size_t{200}}) {
    EXPECT_EQ(Fast(bytes, {0x48, 0x48}, max), Reference(bytes.data(), bytes.size(), {0x48, 0x48}, max))
        << "max " << max;
  }
}

TEST_P(FastPathTest, PatternsThatFindNothingWithoutReadingGiveNothing) {
  const std::vector<uint8_t> bytes = {0x48, 0x8B, 0x0D, 0x48};
  EXPECT_TRUE(Fast(bytes, {}).empty());
  EXPECT_TRUE(Fast(bytes, {-1, 0x8B}).empty());
  EXPECT_TRUE(Fast(bytes, {0x48, 0x8B, 0x0D, 0x48, 0x00}).empty());
  EXPECT_TRUE(Fast(bytes, {0x48}, 0).empty());
}

TEST_P(FastPathTest, SingleFixedByteAndOneBytePatternsMatchAsTheReference) {
  std::mt19937 random(17);
  const std::vector<uint8_t> bytes = CodeLikeBytes(1000, &random);
  for (const std::vector<int>& pattern :
       {std::vector<int>{0x55}, std::vector<int>{0xC9, -1, -1}, std::vector<int>{0x48, -1, -1, -1, -1}}) {
    EXPECT_EQ(Fast(bytes, pattern, 1000), Reference(bytes.data(), bytes.size(), pattern, 1000));
  }
}

// Pattern values outside 0-255 count by their low byte, as the reference's compare and memchr take them.
TEST_P(FastPathTest, PatternValuesAboveAByteCountByTheirLowByte) {
  const std::vector<uint8_t> bytes = {0x00, 0x48, 0x8B, 0x01, 0x48, 0x8B};
  const std::vector<int> pattern = {0x148, 0x28B};
  EXPECT_EQ(Fast(bytes, pattern), Reference(bytes.data(), bytes.size(), pattern));
  EXPECT_EQ(Fast(bytes, pattern), (std::vector<size_t>{1, 4}));
}

// Random patterns (first byte fixed, wildcards anywhere else) over bytes from a small alphabet, so that
// matches, filter hits and near misses are all common.
TEST_P(FastPathTest, RandomPatternsOnRandomBytesMatchTheReference) {
  std::mt19937 random(19);
  std::uniform_int_distribution<int> symbol(0, 3);
  std::uniform_int_distribution<int> coin(0, 3);
  std::uniform_int_distribution<size_t> pattern_length(1, 40);
  std::uniform_int_distribution<size_t> range_length(0, 600);
  for (int round = 0; round < 3000; ++round) {
    std::vector<int> pattern(pattern_length(random));
    for (size_t i = 0; i < pattern.size(); ++i)
      pattern[i] = (i > 0 && coin(random) == 0) ? -1 : symbol(random);
    std::vector<uint8_t> bytes(range_length(random));
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(symbol(random));
    for (size_t max : {size_t{3}, kMaxMatchesPerChunk, size_t{1000}}) {
      ASSERT_EQ(Fast(bytes, pattern, max), Reference(bytes.data(), bytes.size(), pattern, max))
          << "round " << round << " max " << max;
    }
  }
}

// The range ends where an unreadable page begins, for every tail length: a path that read one byte too
// far would fault and take the test down.
TEST_P(FastPathTest, RangeEndingAtAnUnreadablePageIsSearchedToItsLastStart) {
  const size_t page = platform::PageSize();
  Pages pages(2 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, platform::kPageNoAccess));
  std::mt19937 random(23);
  const std::vector<int> pattern = Signature();
  const std::vector<uint8_t> site = CallSiteBytes();
  for (size_t length = pattern.size(); length <= 400; ++length) {
    uint8_t* start = pages.bytes() + page - length;
    const std::vector<uint8_t> background = CodeLikeBytes(length, &random);
    std::memcpy(start, background.data(), length);
    std::memcpy(start + length - site.size(), site.data(), site.size());
    if (length >= 2 * site.size()) std::memcpy(start, site.data(), site.size());
    const std::vector<size_t> expected = Reference(start, length, pattern);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(expected.back(), length - site.size());
    ASSERT_EQ(Found(GetParam(), start, length, pattern), expected) << "length " << length;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, FastPathTest, ::testing::Values(ScanPath::kSse2, ScanPath::kAvx2),
                         [](const ::testing::TestParamInfo<ScanPath>& param_info) {
                           return std::string(param_info.param == ScanPath::kAvx2 ? "Avx2" : "Sse2");
                         });

// ---- The guarded search: on a fault, what the reference would have recorded ---------------------------

class GuardedFastSearchTest : public ::testing::Test {
 protected:
  static std::vector<size_t> Guarded(const uint8_t* start, size_t length, const std::vector<int>& pattern) {
    std::vector<size_t> offsets(kMaxMatchesPerChunk, 0);
    offsets.resize(FindPatternGuarded(start, length, pattern, kMaxMatchesPerChunk, offsets.data()));
    return offsets;
  }
  static std::vector<size_t> GuardedReference(const uint8_t* start, size_t length,
                                              const std::vector<int>& pattern) {
    std::vector<size_t> offsets(kMaxMatchesPerChunk, 0);
    offsets.resize(FindPatternReferenceGuarded(start, length, pattern, kMaxMatchesPerChunk, offsets.data()));
    return offsets;
  }
};

// The range runs on into an unreadable page: the matches are those the reference records before its
// fault, whatever offset the last readable site has.
TEST_F(GuardedFastSearchTest, RangeRunningIntoAnUnreadablePageGivesTheReferenceMatches) {
  const size_t page = platform::PageSize();
  Pages pages(3 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  std::mt19937 random(29);
  const std::vector<uint8_t> background = CodeLikeBytes(2 * page, &random);
  std::memcpy(pages.bytes(), background.data(), background.size());
  const std::vector<uint8_t> site = CallSiteBytes();
  std::memcpy(pages.bytes() + 100, site.data(), site.size());
  std::memcpy(pages.bytes() + page + 500, site.data(), site.size());
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + 2 * page, page, platform::kPageNoAccess));
  for (size_t last_site = 2 * page - 200; last_site + site.size() <= 2 * page; ++last_site) {
    std::memcpy(pages.bytes() + last_site, site.data(), site.size());
    const std::vector<size_t> expected = GuardedReference(pages.bytes(), 3 * page, Signature());
    ASSERT_GE(expected.size(), 2u);
    ASSERT_EQ(Guarded(pages.bytes(), 3 * page, Signature()), expected) << "last site " << last_site;
    std::memcpy(pages.bytes() + last_site, background.data() + last_site, site.size());
  }
}

// Only the first few bytes of the range are unreadable: the reference faults on them before anything
// else, so the sites after them count for nothing.
TEST_F(GuardedFastSearchTest, UnreadableFirstBytesGiveNothingAsForTheReference) {
  const size_t page = platform::PageSize();
  Pages pages(2 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const std::vector<uint8_t> site = CallSiteBytes();
  std::memcpy(pages.bytes() + page + 64, site.data(), site.size());
  ASSERT_TRUE(platform::ProtectPages(pages.bytes(), page, platform::kPageNoAccess));
  for (size_t unreadable = 1; unreadable <= 40; ++unreadable) {
    const uint8_t* start = pages.bytes() + page - unreadable;
    EXPECT_TRUE(GuardedReference(start, page + unreadable, Signature()).empty());
    EXPECT_TRUE(Guarded(start, page + unreadable, Signature()).empty()) << "unreadable " << unreadable;
  }
}

// Only the last few bytes of the range are unreadable, too few to hold a match of their own.
TEST_F(GuardedFastSearchTest, UnreadableLastBytesGiveTheReferenceMatches) {
  const size_t page = platform::PageSize();
  Pages pages(2 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const std::vector<uint8_t> site = CallSiteBytes();
  std::memcpy(pages.bytes() + 64, site.data(), site.size());
  std::memcpy(pages.bytes() + page - 40, site.data(), site.size());
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, platform::kPageNoAccess));
  for (size_t unreadable = 1; unreadable <= 40; ++unreadable) {
    const std::vector<size_t> expected = GuardedReference(pages.bytes(), page + unreadable, Signature());
    EXPECT_EQ(Guarded(pages.bytes(), page + unreadable, Signature()), expected)
        << "unreadable " << unreadable;
  }
}

TEST_F(GuardedFastSearchTest, ReadableRangeGivesWhatTheUnguardedSearchGives) {
  std::mt19937 random(31);
  std::vector<uint8_t> bytes = CodeLikeBytes(5000, &random);
  for (size_t at : {size_t{0}, size_t{1000}, size_t{4971}}) Plant(&bytes, at);
  EXPECT_EQ(Guarded(bytes.data(), bytes.size(), Signature()), (std::vector<size_t>{0, 1000, 4971}));
}

// ---- Real code: this executable's own, chunk by chunk as the region walk cuts it ------------------------

std::vector<std::pair<uintptr_t, uintptr_t>>& WalkedChunks() {
  static std::vector<std::pair<uintptr_t, uintptr_t>> chunks;
  return chunks;
}

void RecordWalkedChunk(uintptr_t begin, uintptr_t end) {
  WalkedChunks().emplace_back(begin, end);
}

// XINUSE (XGETBV with ECX = 1), bit 2: the upper halves of the YMM registers hold something, and every
// SSE instruction pays a state transition until a vzeroupper. False in *known where the CPU cannot say.
bool UpperHalvesInUse(bool* known) {
  uint32_t eax = 0xD;
  uint32_t ebx = 0;
  uint32_t ecx = 1;
  uint32_t edx = 0;
  __asm__ volatile("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
  *known = (eax & 4) != 0;
  if (!*known) return false;
  uint32_t low = 0;
  uint32_t high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
  return (low & 4) != 0;
}

// The AVX2 loop faults on an unreadable page in the middle of the range (its edges read): the fault path
// must end with vzeroupper as the loop's own end does.
TEST_F(GuardedFastSearchTest, FaultInsideTheAvx2LoopLeavesNoUpperHalvesInUse) {
  if (FastScanPath() != ScanPath::kAvx2) GTEST_SKIP() << "this CPU has no AVX2";
  bool known = false;
  UpperHalvesInUse(&known);
  if (!known) GTEST_SKIP() << "this CPU does not report the registers in use";
  const size_t page = platform::PageSize();
  Pages pages(3 * page, platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  std::memset(pages.bytes(), 0x90, 3 * page);
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, platform::kPageNoAccess));
  const std::vector<size_t> found = Guarded(pages.bytes(), 3 * page, Signature());
  const bool in_use = UpperHalvesInUse(&known);
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(in_use);
}

TEST(RealCodeTest, EveryPathFindsWhatTheReferenceFindsInThisExecutable) {
  platform::ModuleRange module{};
  ASSERT_TRUE(platform::MainModuleRange(&module));
  WalkedChunks().clear();
  SetChunkObserverForTest(&RecordWalkedChunk);
  std::vector<uintptr_t> globals;
  ScanRange(module.base, module.end, Signature(), &globals);
  SetChunkObserverForTest(nullptr);
  ASSERT_FALSE(WalkedChunks().empty());
  // Common instruction sequences as well as the call site, so that the cap and the order are put to the
  // test on real code: mov rax,[rip+?]; test rax,rax / mov [rsp+?],rbx / call; mov.
  const std::vector<std::vector<int>> patterns = {Signature(), ParsePattern("48 8B 05 ? ? ? ? 48 85 C0"),
                                                  ParsePattern("48 89 5C 24 ?"),
                                                  ParsePattern("E8 ? ? ? ? 48 8B")};
  std::vector<ScanPath> paths = {ScanPath::kSse2};
  if (platform::CpuHasAvx2()) paths.push_back(ScanPath::kAvx2);
  for (const auto& chunk : WalkedChunks()) {
    const uint8_t* start = reinterpret_cast<const uint8_t*>(chunk.first);
    const size_t length = chunk.second - chunk.first;
    for (const std::vector<int>& pattern : patterns) {
      for (size_t max : {kMaxMatchesPerChunk, size_t{100000}}) {
        const std::vector<size_t> expected = Reference(start, length, pattern, max);
        for (ScanPath path : paths) {
          EXPECT_EQ(Found(path, start, length, pattern, max), expected)
              << "path " << static_cast<int>(path) << " max " << max;
        }
      }
    }
  }
}

}  // namespace
}  // namespace gearloft
