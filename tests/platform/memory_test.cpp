// gearloft platform tests: the executable's range, region queries on real pages of every protection,
// and reads that report a fault instead of taking it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/testing.h"

namespace gearloft::platform {
namespace {

// A function of this executable, for the range and region checks.
int FunctionInThisExecutable(int x) {
  return x * 3 + 1;
}

uintptr_t AddressOf(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

// Pages that are unmapped again when the test ends, whatever happened.
struct Pages {
  Pages(size_t count, uint32_t protect) : size(count * PageSize()), base(AllocatePages(size, protect)) {}
  ~Pages() { FreePages(base, size); }
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;
  unsigned char* At(size_t offset) const { return static_cast<unsigned char*>(base) + offset; }

  size_t size;
  void* base;
};

TEST(PageSize, IsAPowerOfTwoOfAtLeast4KiB) {
  const size_t page = PageSize();
  EXPECT_GE(page, 4096u);
  EXPECT_EQ(page & (page - 1), 0u);
}

TEST(MainModuleRange, HoldsAFunctionOfThisExecutable) {
  ModuleRange range{0, 0};
  ASSERT_TRUE(MainModuleRange(&range));
  const uintptr_t function = reinterpret_cast<uintptr_t>(&FunctionInThisExecutable);
  EXPECT_LE(range.base, function);
  EXPECT_LT(function, range.end);
}

// The scanner's walk: region by region from the image base, each query moving forward, finds the
// executable code.
TEST(QueryMemory, WalkOfTheImageFindsItsCodeExecutable) {
  ModuleRange range{0, 0};
  ASSERT_TRUE(MainModuleRange(&range));
  const uintptr_t function = reinterpret_cast<uintptr_t>(&FunctionInThisExecutable);
  uint32_t code_protect = 0;
  uint32_t code_state = 0;
  for (uintptr_t at = range.base; at < range.end;) {
    MemoryRegion region{0, 0, 0, 0};
    ASSERT_TRUE(QueryMemory(at, &region));
    ASSERT_EQ(region.base, at);
    ASSERT_GT(region.size, 0u);
    if (region.base <= function && function < region.base + region.size) {
      code_protect = region.protect;
      code_state = region.state;
    }
    at = region.base + region.size;
  }
  EXPECT_EQ(code_state, kMemCommit);
  EXPECT_EQ(code_protect, kPageExecuteRead);
}

struct ProtectCase {
  uint32_t protect;
  const char* name;
};

TEST(QueryMemory, FreshPagesAnswerTheirProtection) {
  const ProtectCase cases[] = {
      {kPageNoAccess, "no access"},
      {kPageReadOnly, "read"},
      {kPageReadWrite, "read-write"},
      {kPageExecuteRead, "read-execute"},
      {kPageExecuteReadWrite, "read-write-execute"},
  };
  for (const ProtectCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pages pages(2, c.protect);
    ASSERT_NE(pages.base, nullptr);
    MemoryRegion region{0, 0, 0, 0};
    ASSERT_TRUE(QueryMemory(AddressOf(pages.At(100)), &region));
    EXPECT_EQ(region.base, AddressOf(pages.base));
    EXPECT_GE(region.size, pages.size);
    EXPECT_EQ(region.state, kMemCommit);
    EXPECT_EQ(region.protect, c.protect);
  }
}

// Windows marks a guard page with its guard bit; Linux has no guard pages and gives no access. Either
// way a scanner must leave the page alone.
TEST(QueryMemory, GuardPageIsNeverReadable) {
  Pages pages(1, kPageReadWrite | kPageGuard);
  ASSERT_NE(pages.base, nullptr);
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(pages.base), &region));
  EXPECT_EQ(region.state, kMemCommit);
  EXPECT_TRUE((region.protect & kPageGuard) != 0 || region.protect == kPageNoAccess) << region.protect;
  unsigned char byte = 0;
  EXPECT_FALSE(GuardedRead(pages.base, &byte, 1));
}

TEST(QueryMemory, RegionEndsWhereTheProtectionChanges) {
  const size_t page = PageSize();
  Pages pages(3, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  ASSERT_TRUE(ProtectPages(pages.At(page), page, kPageReadOnly));

  MemoryRegion first{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(pages.base), &first));
  EXPECT_EQ(first.size, page);
  EXPECT_EQ(first.protect, kPageReadWrite);

  MemoryRegion middle{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(pages.At(page + 5)), &middle));
  EXPECT_EQ(middle.base, AddressOf(pages.At(page)));
  EXPECT_EQ(middle.size, page);
  EXPECT_EQ(middle.protect, kPageReadOnly);

  MemoryRegion last{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(pages.At(2 * page + 7)), &last));
  EXPECT_EQ(last.base, AddressOf(pages.At(2 * page)));
  EXPECT_EQ(last.protect, kPageReadWrite);
}

TEST(QueryMemory, ProtectionChangeToExecuteReadIsSeen) {
  Pages pages(1, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  *pages.At(0) = 0xC3;
  ASSERT_TRUE(ProtectPages(pages.base, pages.size, kPageExecuteRead));
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(pages.base), &region));
  EXPECT_EQ(region.protect, kPageExecuteRead);
  unsigned char byte = 0;
  EXPECT_TRUE(GuardedRead(pages.base, &byte, 1));
  EXPECT_EQ(byte, 0xC3);
}

TEST(QueryMemory, FreedPagesAreNotCommitted) {
  void* base = AllocatePages(PageSize(), kPageReadWrite);
  ASSERT_NE(base, nullptr);
  FreePages(base, PageSize());
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(AddressOf(base), &region));
  EXPECT_NE(region.state, kMemCommit);
  EXPECT_EQ(region.base, AddressOf(base));
  EXPECT_GE(region.size, PageSize());
}

TEST(GuardedRead, ReadableMemoryIsCopied) {
  const unsigned char source[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  unsigned char destination[sizeof source] = {};
  EXPECT_TRUE(GuardedRead(source, destination, sizeof source));
  EXPECT_EQ(std::memcmp(source, destination, sizeof source), 0);
}

TEST(GuardedRead, CodeOfThisExecutableIsReadable) {
  unsigned char bytes[16] = {};
  EXPECT_TRUE(GuardedRead(reinterpret_cast<const void*>(&FunctionInThisExecutable), bytes, sizeof bytes));
}

TEST(GuardedRead, ReadOnlyPageIsReadable) {
  Pages pages(1, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  std::memset(pages.base, 0x5A, pages.size);
  ASSERT_TRUE(ProtectPages(pages.base, pages.size, kPageReadOnly));
  unsigned char bytes[8] = {};
  EXPECT_TRUE(GuardedRead(pages.At(pages.size - sizeof bytes), bytes, sizeof bytes));
  EXPECT_EQ(bytes[7], 0x5A);
}

TEST(GuardedRead, NoAccessPageFails) {
  Pages pages(1, kPageNoAccess);
  ASSERT_NE(pages.base, nullptr);
  unsigned char bytes[8] = {};
  EXPECT_FALSE(GuardedRead(pages.base, bytes, sizeof bytes));
}

TEST(GuardedRead, RangeRunningIntoANoAccessPageFails) {
  const size_t page = PageSize();
  Pages pages(2, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  ASSERT_TRUE(ProtectPages(pages.At(page), page, kPageNoAccess));
  unsigned char bytes[16] = {};
  EXPECT_TRUE(GuardedRead(pages.At(page - 8), bytes, 8));
  EXPECT_FALSE(GuardedRead(pages.At(page - 8), bytes, sizeof bytes));
}

TEST(GuardedRead, NullAddressFails) {
  unsigned char bytes[8] = {};
  EXPECT_FALSE(GuardedRead(nullptr, bytes, sizeof bytes));
}

TEST(RangeReadable, ReadWriteReadOnlyAndExecuteReadPagesRead) {
  Pages pages(3, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  const size_t page = PageSize();
  ASSERT_TRUE(ProtectPages(pages.At(page), page, kPageReadOnly));
  ASSERT_TRUE(ProtectPages(pages.At(2 * page), page, kPageExecuteRead));
  ReadableCache cache;
  EXPECT_TRUE(RangeReadable(AddressOf(pages.base), 3 * page, &cache));
}

TEST(RangeReadable, NoAccessGuardAndExecuteOnlyPagesDoNot) {
  const uint32_t refused[] = {kPageNoAccess, kPageReadWrite | kPageGuard, kPageExecute};
  for (const uint32_t protect : refused) {
    Pages pages(1, protect);
    ASSERT_NE(pages.base, nullptr) << protect;
    ReadableCache cache;
    EXPECT_FALSE(RangeReadable(AddressOf(pages.base), 1, &cache)) << protect;
  }
}

TEST(RangeReadable, RangeWhoseLastByteIsOnANoAccessPageDoesNot) {
  const size_t page = PageSize();
  Pages pages(2, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  ASSERT_TRUE(ProtectPages(pages.At(page), page, kPageNoAccess));
  ReadableCache cache;
  EXPECT_TRUE(RangeReadable(AddressOf(pages.At(page - 8)), 8, &cache));
  EXPECT_FALSE(RangeReadable(AddressOf(pages.At(page - 8)), 9, &cache));
}

TEST(RangeReadable, FreedPagesAndWrappingRangesDoNotAndAnEmptyRangeDoes) {
  void* freed = AllocatePages(PageSize(), kPageReadWrite);
  ASSERT_NE(freed, nullptr);
  FreePages(freed, PageSize());
  ReadableCache cache;
  EXPECT_FALSE(RangeReadable(AddressOf(freed), 1, &cache));
  const unsigned char byte = 1;
  EXPECT_FALSE(RangeReadable(AddressOf(&byte), SIZE_MAX, &cache));
  EXPECT_TRUE(RangeReadable(0, 0, &cache));
}

TEST(RangeReadable, ReadsInsideOneRegionAskTheSystemOnce) {
  Pages pages(4, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  ReadableCache cache;
  for (size_t offset = 0; offset < pages.size; offset += 24) {
    ASSERT_TRUE(RangeReadable(AddressOf(pages.At(offset)), 8, &cache)) << offset;
  }
  EXPECT_EQ(cache.queries, 1u);
  // A fresh cache asks again: nothing is kept from one copy to the next.
  ReadableCache fresh;
  EXPECT_TRUE(RangeReadable(AddressOf(pages.base), 8, &fresh));
  EXPECT_EQ(fresh.queries, 1u);
}

TEST(GuardedRead, ReadsOfOneCopyShareTheirRegionAnswers) {
  Pages pages(2, kPageReadWrite);
  ASSERT_NE(pages.base, nullptr);
  std::memset(pages.base, 0x33, pages.size);
  ReadableCache cache;
  unsigned char bytes[8] = {};
  for (size_t offset = 0; offset + sizeof bytes <= pages.size; offset += 512) {
    ASSERT_TRUE(GuardedRead(pages.At(offset), bytes, sizeof bytes, &cache)) << offset;
    EXPECT_EQ(bytes[0], 0x33);
  }
  EXPECT_LE(cache.queries, 1u);
}

}  // namespace
}  // namespace gearloft::platform
