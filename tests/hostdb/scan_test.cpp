// gearloft host database bridge tests: the region walk over pages mapped with each protection, the
// chunk borders, the call-site decode, and the scan of this test executable's own code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "devhost/devhost.h"
#include "hostdb/hostdb.h"
#include "hostdb/test_support.h"
#include "platform/testing.h"

namespace gearloft {
namespace {

using hostdb_test::CallSiteBytes;
using hostdb_test::Pages;
using hostdb_test::WriteCallSite;
using Chunk = std::pair<uintptr_t, uintptr_t>;

std::vector<Chunk>& SeenChunks() {
  static std::vector<Chunk> chunks;
  return chunks;
}

void RecordChunk(uintptr_t begin, uintptr_t end) {
  SeenChunks().emplace_back(begin, end);
}

// Watches the chunks one test's scans search.
class ChunkWatch {
 public:
  ChunkWatch() {
    SeenChunks().clear();
    SetChunkObserverForTest(&RecordChunk);
  }
  ~ChunkWatch() { SetChunkObserverForTest(nullptr); }
  ChunkWatch(const ChunkWatch&) = delete;
  ChunkWatch& operator=(const ChunkWatch&) = delete;
  bool AnyTouches(uintptr_t begin, uintptr_t end) const {
    return std::any_of(SeenChunks().begin(), SeenChunks().end(),
                       [&](const Chunk& chunk) { return chunk.first < end && begin < chunk.second; });
  }
};

std::vector<int> Signature() {
  return ParsePattern(SignaturePatterns().at(0));
}

std::vector<uintptr_t> Scan(uintptr_t begin, uintptr_t end) {
  std::vector<uintptr_t> globals;
  ScanRange(begin, end, Signature(), &globals);
  return globals;
}

TEST(ScanRangeTest, ReadExecutePageGivesTheLoadedGlobal) {
  Pages pages(platform::PageSize(), platform::kPageReadWrite);
  ASSERT_NE(pages.data, nullptr);
  WriteCallSite(pages.bytes() + 100, pages.address() + 8);
  ASSERT_TRUE(platform::ProtectPages(pages.data, pages.size, platform::kPageExecuteRead));
  EXPECT_EQ(Scan(pages.address(), pages.address() + pages.size), std::vector<uintptr_t>{pages.address() + 8});
}

TEST(ScanRangeTest, ReadWriteExecutePageIsSearched) {
  Pages pages(platform::PageSize(), platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  WriteCallSite(pages.bytes() + 300, pages.address() + 16);
  EXPECT_EQ(Scan(pages.address(), pages.address() + pages.size),
            std::vector<uintptr_t>{pages.address() + 16});
}

// Three pages with a call site in each; the middle one gets the protection under test and must be
// neither searched nor reported, while its neighbours are.
class UnsearchedProtectionTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(UnsearchedProtectionTest, PageIsNotRead) {
  const size_t page = platform::PageSize();
  Pages pages(3 * page, platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const uintptr_t base = pages.address();
  for (size_t i = 0; i < 3; ++i) WriteCallSite(pages.bytes() + i * page + 200, base + 8 * (i + 1));
  ASSERT_TRUE(platform::ProtectPages(pages.bytes() + page, page, GetParam()));
  ChunkWatch watch;
  EXPECT_EQ(Scan(base, base + 3 * page), (std::vector<uintptr_t>{base + 8, base + 24}));
  EXPECT_FALSE(watch.AnyTouches(base + page, base + 2 * page));
  EXPECT_TRUE(watch.AnyTouches(base, base + page));
  EXPECT_TRUE(watch.AnyTouches(base + 2 * page, base + 3 * page));
}

INSTANTIATE_TEST_SUITE_P(Protections, UnsearchedProtectionTest,
                         ::testing::Values(platform::kPageExecute, platform::kPageReadOnly,
                                           platform::kPageReadWrite, platform::kPageNoAccess,
                                           platform::kPageExecuteRead | platform::kPageGuard));

TEST(ScanRangeTest, GlobalOutsideTheRangeIsPassedOver) {
  Pages pages(platform::PageSize(), platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  WriteCallSite(pages.bytes() + 64, pages.address() + pages.size);
  EXPECT_TRUE(Scan(pages.address(), pages.address() + pages.size).empty());
}

TEST(ScanRangeTest, SameGlobalFromTwoSitesGivesOneCandidate) {
  Pages pages(platform::PageSize(), platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  WriteCallSite(pages.bytes() + 100, pages.address() + 8);
  WriteCallSite(pages.bytes() + 700, pages.address() + 8);
  EXPECT_EQ(Scan(pages.address(), pages.address() + pages.size), std::vector<uintptr_t>{pages.address() + 8});
}

TEST(ScanRangeTest, GlobalsComeInOrderOfDiscoveryAfterEarlierOnes) {
  Pages pages(platform::PageSize(), platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const uintptr_t base = pages.address();
  WriteCallSite(pages.bytes() + 100, base + 40);
  WriteCallSite(pages.bytes() + 500, base + 8);
  WriteCallSite(pages.bytes() + 900, base + 24);
  std::vector<uintptr_t> globals = {base + 8};
  ScanRange(base, base + pages.size, Signature(), &globals);
  EXPECT_EQ(globals, (std::vector<uintptr_t>{base + 8, base + 40, base + 24}));
}

TEST(ScanRangeTest, ThirtyThreeMatchesInAChunkOnlyFirstThirtyTwoExamined) {
  Pages pages(platform::PageSize(), platform::kPageExecuteReadWrite);
  ASSERT_NE(pages.data, nullptr);
  const uintptr_t base = pages.address();
  for (size_t i = 0; i < 31; ++i) WriteCallSite(pages.bytes() + 64 + 32 * i, base + 8);
  WriteCallSite(pages.bytes() + 64 + 32 * 31, base + 16);
  WriteCallSite(pages.bytes() + 64 + 32 * 32, base + 24);
  EXPECT_EQ(Scan(base, base + pages.size), (std::vector<uintptr_t>{base + 8, base + 16}));
}

// One region just over one chunk: chunks [0, 32 MiB + 64) and [32 MiB, end). Mapped once for the suite.
class ChunkBorderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    size_ = kScanChunkStep + platform::PageSize();
    region_ = new Pages(size_, platform::kPageExecuteReadWrite);
  }
  static void TearDownTestSuite() {
    delete region_;
    region_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(region_->data, nullptr); }
  static uintptr_t base() { return region_->address(); }
  static uint8_t* at(uintptr_t offset) { return region_->bytes() + offset; }
  static void Clear(uintptr_t offset, size_t length) { std::memset(at(offset), 0, length); }

  static size_t size_;
  static Pages* region_;
};
size_t ChunkBorderTest::size_ = 0;
Pages* ChunkBorderTest::region_ = nullptr;

TEST_F(ChunkBorderTest, ChunksAreThirtyTwoMiBPlusSixtyFourEveryThirtyTwoMiB) {
  ChunkWatch watch;
  Scan(base(), base() + size_);
  EXPECT_EQ(SeenChunks(), (std::vector<Chunk>{{base(), base() + kScanChunkLength},
                                              {base() + kScanChunkStep, base() + size_}}));
}

TEST_F(ChunkBorderTest, CallSiteAtEveryOffsetAroundTheBorderIsFoundOnce) {
  const size_t length = CallSiteBytes().size();
  const uintptr_t global = base() + 16;
  for (uintptr_t offset = kScanChunkStep - 40; offset <= kScanChunkLength + 8; ++offset) {
    WriteCallSite(at(offset), global);
    EXPECT_EQ(Scan(base(), base() + size_), std::vector<uintptr_t>{global}) << "offset " << offset;
    Clear(offset, length);
  }
}

TEST_F(ChunkBorderTest, NearMissAroundTheBorderIsNotFound) {
  const size_t length = CallSiteBytes().size();
  for (uintptr_t offset = kScanChunkStep - 30; offset <= kScanChunkLength; offset += 7) {
    WriteCallSite(at(offset), base() + 16);
    *at(offset + length - 1) = 0xC8;
    EXPECT_TRUE(Scan(base(), base() + size_).empty()) << "offset " << offset;
    Clear(offset, length);
  }
}

// A match whose own load points outside the range, but whose wildcard bytes happen to hold a
// `mov rsi, [rip+disp32]` whose target lies inside: the later load wins.
TEST_F(ChunkBorderTest, LaterLoadInsideTheMatchWins) {
  const uintptr_t offset = 4096;
  WriteCallSite(at(offset), 0);
  // Bytes 3..6: 48 8B 35 80. Read at k = 0 they are a displacement of -0x7FCA74B8 (outside); at k = 3
  // they start `48 8B 35` whose displacement 0x018B4880 is made of byte 6 and the next instruction.
  *at(offset + 3) = 0x48;
  *at(offset + 4) = 0x8B;
  *at(offset + 5) = 0x35;
  *at(offset + 6) = 0x80;
  const uintptr_t expected = base() + offset + 3 + 7 + 0x018B4880;
  EXPECT_EQ(Scan(base(), base() + size_), std::vector<uintptr_t>{expected});
  Clear(offset, CallSiteBytes().size());
}

// The real thing: this executable links the simulated game, whose call site sits in its own code.
class ScanForCandidatesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(devhost::RevealCallSite());
    EXPECT_TRUE(devhost::SetSecondCallSiteEnabled(true));
    SetCandidatesForTest({});
  }
};

TEST_F(ScanForCandidatesTest, FindsTheGameGlobalsInThisExecutable) {
  ASSERT_TRUE(ScanForCandidates());
  const std::vector<uintptr_t> candidates = Candidates();
  EXPECT_EQ(candidates.size(), 2u);
  EXPECT_NE(std::find(candidates.begin(), candidates.end(), devhost::GameGlobalAddress()), candidates.end());
  EXPECT_NE(std::find(candidates.begin(), candidates.end(), devhost::SecondGlobalAddress()),
            candidates.end());
  EXPECT_EQ(CandidateCount(), candidates.size());
}

class HiddenCallSiteTest : public ScanForCandidatesTest,
                           public ::testing::WithParamInterface<devhost::CodeHide> {};

TEST_P(HiddenCallSiteTest, FindsNothingAndKeepsTheEarlierList) {
  ASSERT_TRUE(devhost::SetSecondCallSiteEnabled(false));
  ASSERT_TRUE(devhost::HideCallSite(GetParam()));
  SetCandidatesForTest({0x1000, 0x2000});
  EXPECT_FALSE(ScanForCandidates());
  EXPECT_EQ(Candidates(), (std::vector<uintptr_t>{0x1000, 0x2000}));
  EXPECT_EQ(CandidateCount(), 2u);
  ASSERT_TRUE(devhost::RevealCallSite());
  EXPECT_TRUE(ScanForCandidates());
  EXPECT_EQ(Candidates(), std::vector<uintptr_t>{devhost::GameGlobalAddress()});
}

INSTANTIATE_TEST_SUITE_P(Hides, HiddenCallSiteTest,
                         ::testing::Values(devhost::CodeHide::kNotExecutable, devhost::CodeHide::kScrambled));

}  // namespace
}  // namespace gearloft
