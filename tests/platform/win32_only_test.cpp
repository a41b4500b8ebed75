// gearloft platform tests, Windows build only: what the Windows side must get right beyond the shared
// behaviour - exceptions the system raises, share modes, text-mode line ends, short names, the
// 260-character environment buffer. Everything goes through the platform seam.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/scratch.h"
#include "platform/testing.h"

namespace gearloft::platform {
namespace {

using testing_support::Join;
using testing_support::ReadText;
using testing_support::ScratchFolder;
using testing_support::WriteText;

// kernel32's RaiseException, the way the game's own code (or its C++ runtime) raises an exception.
using RaiseExceptionFn = void (*)(uint32_t code, uint32_t flags, uint32_t argument_count,
                                  const uintptr_t* arguments);

RaiseExceptionFn RaiseExceptionOfKernel() {
  return reinterpret_cast<RaiseExceptionFn>(LibrarySymbol(LoadLibraryFile("kernel32.dll"), "RaiseException"));
}

constexpr uint32_t kCustomCode = 0xE0474C46;
constexpr uint32_t kNonContinuable = 1;

void RaiseCustom(void* flags) {
  RaiseExceptionOfKernel()(kCustomCode, *static_cast<uint32_t*>(flags), 0, nullptr);
}

TEST(GuardedRunOnWindows, RaisedExceptionGivesFalse) {
  ASSERT_NE(RaiseExceptionOfKernel(), nullptr);
  uint32_t flags = 0;
  EXPECT_FALSE(GuardedRun(RaiseCustom, &flags));
}

TEST(GuardedRunOnWindows, NonContinuableExceptionGivesFalse) {
  ASSERT_NE(RaiseExceptionOfKernel(), nullptr);
  uint32_t flags = kNonContinuable;
  EXPECT_FALSE(GuardedRun(RaiseCustom, &flags));
}

void* GEARLOFT_HOSTCALL RaiseFromMethod(void* self, void** result_slot, const char*) {
  *result_slot = self;
  RaiseExceptionOfKernel()(kCustomCode, 0, 0, nullptr);
  *result_slot = nullptr;
  return self;
}

TEST(GuardedCallOnWindows, MethodThatRaisesGivesFalseAndStopsThere) {
  ASSERT_NE(RaiseExceptionOfKernel(), nullptr);
  int object = 0;
  void* slot = nullptr;
  EXPECT_FALSE(GuardedCall(reinterpret_cast<uintptr_t>(&RaiseFromMethod), &object, &slot, "SELECT 1"));
  EXPECT_EQ(slot, &object);
}

// The scanner skips guard pages by their guard bit; touching one would disarm the game's own guard.
TEST(QueryMemoryOnWindows, GuardPageKeepsItsGuardBit) {
  void* page = AllocatePages(PageSize(), kPageReadWrite | kPageGuard);
  ASSERT_NE(page, nullptr);
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(reinterpret_cast<uintptr_t>(page), &region));
  EXPECT_EQ(region.protect, kPageReadWrite | kPageGuard);
  FreePages(page, PageSize());
}

// The log and the plan file are written in text mode, so the files hold CR LF line ends.
void ReadFirstByte(void* page) {
  const volatile unsigned char* byte = static_cast<const volatile unsigned char*>(page);
  (void)*byte;
}

// A guard page a guarded body touched (the game's, or another thread's stack guard) is armed again.
TEST(GuardedRunOnWindows, TouchedGuardPageGetsItsGuardBack) {
  void* page = AllocatePages(PageSize(), kPageReadWrite | kPageGuard);
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(GuardedRun(ReadFirstByte, page));
  EXPECT_EQ(LastGuardExceptionCode(), kExceptionGuardPage);
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(reinterpret_cast<uintptr_t>(page), &region));
  EXPECT_EQ(region.protect, kPageReadWrite | kPageGuard);
  // Armed, not merely reported so: the next touch fires again.
  EXPECT_FALSE(GuardedRun(ReadFirstByte, page));
  EXPECT_EQ(LastGuardExceptionCode(), kExceptionGuardPage);
  FreePages(page, PageSize());
}

// Reads the memory manager refuses are never tried, so no handler of the game's sees an exception.
TEST(GuardedReadOnWindows, UnreadablePagesFailWithoutRaisingAnException) {
  ASSERT_TRUE(StartCountingExceptions());
  void* hole = AllocatePages(PageSize(), kPageNoAccess);
  void* guard = AllocatePages(PageSize(), kPageReadWrite | kPageGuard);
  ASSERT_NE(hole, nullptr);
  ASSERT_NE(guard, nullptr);
  unsigned char bytes[8] = {};
  const uint64_t before = ExceptionsCounted();
  EXPECT_FALSE(GuardedRead(hole, bytes, sizeof bytes));
  EXPECT_FALSE(GuardedRead(guard, bytes, sizeof bytes));
  EXPECT_FALSE(GuardedRead(nullptr, bytes, sizeof bytes));
  EXPECT_EQ(ExceptionsCounted(), before);
  MemoryRegion region{0, 0, 0, 0};
  ASSERT_TRUE(QueryMemory(reinterpret_cast<uintptr_t>(guard), &region));
  EXPECT_EQ(region.protect, kPageReadWrite | kPageGuard);
  // The count does count: a fault that is really taken shows.
  EXPECT_FALSE(GuardedRun(ReadFirstByte, hole));
  EXPECT_EQ(ExceptionsCounted(), before + 1);
  FreePages(hole, PageSize());
  FreePages(guard, PageSize());
}

// Recurses until the stack runs out; the frame stays live after the call, so it is no tail call.
void (*volatile g_recurse)(void*) = nullptr;
void RecurseForever(void* depth) {
  volatile unsigned char frame[16];
  frame[0] = static_cast<unsigned char>(++*static_cast<volatile int*>(depth));
  g_recurse(depth);
  frame[1] = frame[0];
}

// Whether the stack below this frame still has a guard page before its reserved end.
bool StackHasGuard() {
  volatile unsigned char here = 0;
  uintptr_t at = reinterpret_cast<uintptr_t>(&here);
  for (int step = 0; step < 64; ++step) {
    MemoryRegion region{0, 0, 0, 0};
    if (!QueryMemory(at, &region)) return false;
    if ((region.protect & kPageGuard) != 0) return true;
    if (region.state != kMemCommit || region.base == 0) return false;
    at = region.base - 1;
  }
  return false;
}

struct OverflowRun {
  std::atomic<int> done{0};
  bool guard_before = false;
  bool first_caught = false;
  uint32_t first_code = 0;
  bool guard_after = false;
  bool second_caught = false;
  uint32_t second_code = 0;
  bool guard_at_end = false;
};

void OverflowTwice(void* context) {
  auto* run = static_cast<OverflowRun*>(context);
  g_recurse = RecurseForever;
  run->guard_before = StackHasGuard();
  int depth = 0;
  run->first_caught = !GuardedRun(RecurseForever, &depth);
  run->first_code = LastGuardExceptionCode();
  run->guard_after = StackHasGuard();
  // Without a new guard this one would end the process without a word.
  depth = 0;
  run->second_caught = !GuardedRun(RecurseForever, &depth);
  run->second_code = LastGuardExceptionCode();
  run->guard_at_end = StackHasGuard();
  run->done.store(1);
}

// Wine (8.0) dispatches an overflow on the stack's last page and ends the thread when the dispatch and
// unwind need more than that page, so there is nothing to see under it; Windows keeps room for both.
bool UnderWine() {
  void* ntdll = LoadLibraryFile("ntdll.dll");
  return ntdll != nullptr && LibrarySymbol(ntdll, "wine_get_version") != nullptr;
}

TEST(GuardedRunOnWindows, StackOverflowIsCaughtAndTheStackGetsItsGuardBack) {
  if (UnderWine()) GTEST_SKIP() << "Wine ends a thread whose overflow handling needs more than one page";
  static OverflowRun& run = *new OverflowRun;
  // A small stack of its own, so the overflow comes quickly and leaves the test's thread alone.
  ASSERT_TRUE(StartThread(OverflowTwice, &run, 256 * 1024));
  for (int i = 0; i < 60000 && run.done.load() == 0; ++i) SleepMs(1);
  ASSERT_EQ(run.done.load(), 1);
  EXPECT_TRUE(run.guard_before);
  EXPECT_TRUE(run.first_caught);
  EXPECT_EQ(run.first_code, kExceptionStackOverflow);
  EXPECT_TRUE(run.guard_after);
  EXPECT_TRUE(run.second_caught);
  EXPECT_EQ(run.second_code, kExceptionStackOverflow);
  EXPECT_TRUE(run.guard_at_end);
}

TEST(OpenFileOnWindows, TextModeWritesCrLf) {
  const std::string path = Join(ScratchFolder(), "gearloft.log");
  std::FILE* file = OpenFile(path, "w", Share::kDenyWrite);
  ASSERT_NE(file, nullptr);
  std::fputs("first\nsecond\n", file);
  std::fclose(file);
  EXPECT_EQ(ReadText(path), "first\r\nsecond\r\n");
}

// The log is open for the whole run: a player may read it, no one may write to it.
TEST(OpenFileOnWindows, DenyWriteLetsReadersInAndTurnsEveryWriterAway) {
  const std::string path = Join(ScratchFolder(), "gearloft.log");
  std::FILE* log = OpenFile(path, "wb", Share::kDenyWrite);
  ASSERT_NE(log, nullptr);
  std::fputs("line\n", log);
  std::fflush(log);

  std::FILE* reader = OpenFile(path, "rb", Share::kDenyNone);
  EXPECT_NE(reader, nullptr);
  if (reader != nullptr) std::fclose(reader);
  EXPECT_EQ(OpenFile(path, "ab", Share::kDenyNone), nullptr);
  EXPECT_EQ(OpenFile(path, "ab", Share::kExclusive), nullptr);
  std::fclose(log);
  EXPECT_EQ(ReadText(path), "line\n");
}

// The plan file and the scripts are opened shared for reading and writing: an editor holding a script
// open does not keep it from being read.
TEST(OpenFileOnWindows, DenyNoneLetsASecondWriterIn) {
  const std::string path = Join(ScratchFolder(), "car.ini");
  ASSERT_TRUE(WriteText(path, "[Car]\n"));
  std::FILE* editor = OpenFile(path, "ab", Share::kDenyNone);
  ASSERT_NE(editor, nullptr);
  std::FILE* second = OpenFile(path, "ab", Share::kDenyNone);
  EXPECT_NE(second, nullptr);
  if (second != nullptr) std::fclose(second);
  std::fclose(editor);
}

TEST(ReplaceMoveOnWindows, TargetHeldOpenIsLeftAsItWas) {
  const std::string folder = ScratchFolder();
  const std::string from = Join(folder, "UserConfigSelections.gearloft");
  const std::string to = Join(folder, "UserConfigSelections");
  ASSERT_TRUE(WriteText(from, "new"));
  ASSERT_TRUE(WriteText(to, "old"));
  std::FILE* held = OpenFile(to, "ab", Share::kDenyWrite);
  ASSERT_NE(held, nullptr);
  uint32_t error = 0;
  EXPECT_FALSE(ReplaceMove(from, to, &error));
  EXPECT_NE(error, 0u);
  std::fclose(held);
  EXPECT_EQ(ReadText(to), "old");
  EXPECT_EQ(ReadText(from), "new");
}

// "*.ini" also matches a short name such as "B~1.INI" of "b.inix"; only names that end in the suffix
// are entries.
TEST(ListFolderOnWindows, NameMatchedOnlyThroughItsShortNameIsLeftOut) {
  const std::string folder = ScratchFolder();
  ASSERT_TRUE(WriteText(Join(folder, "b.inix"), "x"));
  ASSERT_TRUE(WriteText(Join(folder, "a rather long name.ini2"), "x"));
  ASSERT_TRUE(WriteText(Join(folder, "c.ini"), "x"));
  const std::vector<DirEntry> entries = ListFolder(folder, ".ini");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "c.ini");
}

// The game reads LOCALAPPDATA into 260 wide characters, its terminating NUL included.
TEST(GetEnvironmentOnWindows, ValueOf259CharactersFits) {
  const std::string value = "C:\\" + std::string(256, 'a');
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", value));
  std::string read;
  EXPECT_TRUE(GetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", &read));
  EXPECT_EQ(read, value);
  SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", "");
}

TEST(GetEnvironmentOnWindows, ValueOf260CharactersCountsAsMissing) {
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", "C:\\" + std::string(257, 'a')));
  std::string read = "untouched";
  EXPECT_FALSE(GetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", &read));
  EXPECT_EQ(read, "untouched");
  SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", "");
}

TEST(GetEnvironmentOnWindows, NonAsciiValueComesBackAsUtf8) {
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", "C:\\Users\\J\xC3\xBCrgen"));
  std::string read;
  EXPECT_TRUE(GetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", &read));
  EXPECT_EQ(read, "C:\\Users\\J\xC3\xBCrgen");
  SetEnvironment("GEARLOFT_PLATFORM_TEST_LONG", "");
}

TEST(LibrarySymbolOnWindows, MissingExportOrLibraryGivesNull) {
  void* kernel = LoadLibraryFile("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(LibrarySymbol(kernel, "NoSuchExportInKernel32"), nullptr);
  EXPECT_EQ(LoadLibraryFile(Join(ScratchFolder(), "absent.dll")), nullptr);
}

}  // namespace
}  // namespace gearloft::platform
