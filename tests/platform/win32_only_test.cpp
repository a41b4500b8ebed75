// gearloft platform tests, Windows build only: what the Windows side must get right beyond the shared
// behaviour - exceptions the system raises, share modes, text-mode line ends, short names, the
// 260-character environment buffer. Everything goes through the platform seam.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scratch.h"

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
