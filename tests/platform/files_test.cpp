// gearloft platform tests: executable path, folder creation, replace-move, delete, opens with share
// modes, the refuse hook, the folder listing and the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/scratch.h"
#include "platform/testing.h"

namespace gearloft::platform {
namespace {

using testing_support::Exists;
using testing_support::Join;
using testing_support::ReadText;
using testing_support::ScratchFolder;
using testing_support::WriteText;

TEST(ExecutablePath, NamesTheTestExecutable) {
  const std::string path = ExecutablePath();
  EXPECT_NE(path.find("gearloft_platform_test"), std::string::npos) << path;
  std::FILE* file = OpenFile(path, "rb", Share::kDenyNone);
  ASSERT_NE(file, nullptr) << path;
  std::fclose(file);
}

TEST(CreateDirectoryOneLevel, CreatesTheLastLevel) {
  const std::string folder = Join(ScratchFolder(), "made");
  EXPECT_TRUE(CreateDirectoryOneLevel(folder));
  EXPECT_TRUE(WriteText(Join(folder, "inside.txt"), "x"));
}

TEST(CreateDirectoryOneLevel, ExistingFolderGivesFalse) {
  const std::string folder = Join(ScratchFolder(), "made");
  ASSERT_TRUE(CreateDirectoryOneLevel(folder));
  EXPECT_FALSE(CreateDirectoryOneLevel(folder));
}

TEST(CreateDirectoryOneLevel, MissingParentIsNotCreated) {
  const std::string parent = Join(ScratchFolder(), "parent");
  EXPECT_FALSE(CreateDirectoryOneLevel(Join(parent, "child")));
  EXPECT_FALSE(Exists(parent));
}

TEST(ReplaceMove, ReplacesAnExistingTarget) {
  const std::string folder = ScratchFolder();
  const std::string from = Join(folder, "gearloft.log");
  const std::string to = Join(folder, "gearloft.log.1");
  ASSERT_TRUE(WriteText(from, "new run"));
  ASSERT_TRUE(WriteText(to, "older run, longer text"));
  uint32_t error = 12345;
  EXPECT_TRUE(ReplaceMove(from, to, &error));
  EXPECT_EQ(ReadText(to), "new run");
  EXPECT_FALSE(Exists(from));
}

TEST(ReplaceMove, MovesOntoAFreeName) {
  const std::string folder = ScratchFolder();
  const std::string from = Join(folder, "a.txt");
  const std::string to = Join(folder, "b.txt");
  ASSERT_TRUE(WriteText(from, "moved"));
  EXPECT_TRUE(ReplaceMove(from, to));
  EXPECT_EQ(ReadText(to), "moved");
  EXPECT_FALSE(Exists(from));
}

// "File not found" has the code 2 on both systems.
TEST(ReplaceMove, MissingSourceGivesFileNotFound) {
  const std::string folder = ScratchFolder();
  uint32_t error = 0;
  EXPECT_FALSE(ReplaceMove(Join(folder, "absent.log"), Join(folder, "absent.log.1"), &error));
  EXPECT_EQ(error, 2u);
}

TEST(DeleteFilePath, DeletesAFile) {
  const std::string path = Join(ScratchFolder(), "doomed.txt");
  ASSERT_TRUE(WriteText(path, "x"));
  EXPECT_TRUE(DeleteFilePath(path));
  EXPECT_FALSE(Exists(path));
}

TEST(DeleteFilePath, MissingFileGivesFalse) {
  EXPECT_FALSE(DeleteFilePath(Join(ScratchFolder(), "absent.txt")));
}

TEST(OpenFile, MissingFileForReadingGivesNull) {
  EXPECT_EQ(OpenFile(Join(ScratchFolder(), "absent.txt"), "rb", Share::kExclusive), nullptr);
}

// The log is opened deny-write: a second writer with the same mode (another game instance) is turned
// away without truncating it, while readers still see what was written.
TEST(OpenFile, DenyWriteTurnsAwayASecondWriter) {
  const std::string path = Join(ScratchFolder(), "gearloft.log");
  std::FILE* log = OpenFile(path, "wb", Share::kDenyWrite);
  ASSERT_NE(log, nullptr);
  ASSERT_GE(std::fputs("first line\n", log), 0);
  ASSERT_EQ(std::fflush(log), 0);

  EXPECT_EQ(OpenFile(path, "wb", Share::kDenyWrite), nullptr);
  EXPECT_EQ(ReadText(path), "first line\n");
  std::fclose(log);

  std::FILE* again = OpenFile(path, "wb", Share::kDenyWrite);
  EXPECT_NE(again, nullptr);
  if (again != nullptr) std::fclose(again);
  EXPECT_EQ(ReadText(path), "");
}

TEST(OpenFile, DenyWriteAppendKeepsContent) {
  const std::string path = Join(ScratchFolder(), "kept.txt");
  ASSERT_TRUE(WriteText(path, "a"));
  std::FILE* file = OpenFile(path, "ab", Share::kDenyWrite);
  ASSERT_NE(file, nullptr);
  std::fputs("b", file);
  std::fclose(file);
  EXPECT_EQ(ReadText(path), "ab");
}

class RefuseHookTest : public ::testing::Test {
 protected:
  void TearDown() override { SetRefuseHook(nullptr); }

  static std::string& LastOperation() {
    static std::string& operation = *new std::string;
    return operation;
  }

  // Refuses every path that ends in "blocked" and notes which operation asked.
  static bool RefuseBlocked(const char* operation, const std::string& path) {
    const std::string suffix = "blocked";
    const bool refuse =
        path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (refuse) LastOperation() = operation;
    return refuse;
  }
};

TEST_F(RefuseHookTest, RefusedOpenGivesNull) {
  const std::string folder = ScratchFolder();
  SetRefuseHook(RefuseBlocked);
  EXPECT_EQ(OpenFile(Join(folder, "blocked"), "wb", Share::kDenyWrite), nullptr);
  EXPECT_EQ(LastOperation(), "open");
  EXPECT_FALSE(Exists(Join(folder, "blocked")));
  std::FILE* allowed = OpenFile(Join(folder, "allowed"), "wb", Share::kDenyWrite);
  EXPECT_NE(allowed, nullptr);
  if (allowed != nullptr) std::fclose(allowed);
}

TEST_F(RefuseHookTest, RefusedMoveLeavesBothFiles) {
  const std::string folder = ScratchFolder();
  const std::string from = Join(folder, "from");
  const std::string to = Join(folder, "to.blocked");
  ASSERT_TRUE(WriteText(from, "source"));
  ASSERT_TRUE(WriteText(to, "target"));
  SetRefuseHook(RefuseBlocked);
  uint32_t error = 0;
  EXPECT_FALSE(ReplaceMove(from, to, &error));
  EXPECT_NE(error, 0u);
  EXPECT_EQ(LastOperation(), "move");
  SetRefuseHook(nullptr);
  EXPECT_EQ(ReadText(from), "source");
  EXPECT_EQ(ReadText(to), "target");
}

TEST_F(RefuseHookTest, MoveFromARefusedPathIsRefused) {
  const std::string folder = ScratchFolder();
  const std::string from = Join(folder, "from.blocked");
  ASSERT_TRUE(WriteText(from, "source"));
  SetRefuseHook(RefuseBlocked);
  EXPECT_FALSE(ReplaceMove(from, Join(folder, "to")));
  EXPECT_EQ(LastOperation(), "move");
  SetRefuseHook(nullptr);
  EXPECT_EQ(ReadText(from), "source");
}

TEST_F(RefuseHookTest, RefusedFolderIsNotCreated) {
  const std::string folder = Join(ScratchFolder(), "tunebay.blocked");
  SetRefuseHook(RefuseBlocked);
  EXPECT_FALSE(CreateDirectoryOneLevel(folder));
  EXPECT_EQ(LastOperation(), "mkdir");
  EXPECT_FALSE(Exists(folder));
}

TEST_F(RefuseHookTest, ClearedHookRefusesNothing) {
  const std::string folder = Join(ScratchFolder(), "tunebay.blocked");
  SetRefuseHook(RefuseBlocked);
  SetRefuseHook(nullptr);
  EXPECT_TRUE(CreateDirectoryOneLevel(folder));
}

std::vector<DirEntry> SortedByName(std::vector<DirEntry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return entries;
}

TEST(ListFolder, SuffixMatchesWithoutCaseAndFoldersAreFlagged) {
  const std::string folder = ScratchFolder();
  ASSERT_TRUE(WriteText(Join(folder, "a.ini"), "abc"));
  ASSERT_TRUE(WriteText(Join(folder, "B.INI"), "12345"));
  ASSERT_TRUE(WriteText(Join(folder, "c.txt"), "x"));
  ASSERT_TRUE(WriteText(Join(folder, "e.ini.bak"), "x"));
  ASSERT_TRUE(CreateDirectoryOneLevel(Join(folder, "d.Ini")));

  const std::vector<DirEntry> entries = SortedByName(ListFolder(folder, ".ini"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "B.INI");
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_EQ(entries[0].size, 5u);
  EXPECT_EQ(entries[1].name, "a.ini");
  EXPECT_FALSE(entries[1].is_directory);
  EXPECT_EQ(entries[1].size, 3u);
  EXPECT_EQ(entries[2].name, "d.Ini");
  EXPECT_TRUE(entries[2].is_directory);
  EXPECT_EQ(entries[2].size, 0u);
}

TEST(ListFolder, WriteTimeIsCloseToNow) {
  const std::string folder = ScratchFolder();
  const uint64_t before = SystemTimeNow();
  ASSERT_TRUE(WriteText(Join(folder, "fresh.ini"), "x"));
  const uint64_t after = SystemTimeNow();
  const std::vector<DirEntry> entries = ListFolder(folder, ".ini");
  ASSERT_EQ(entries.size(), 1u);
  // File systems keep coarser stamps than the clock; a few seconds either way allow for that.
  const uint64_t slack = 5ULL * 10000000ULL;
  EXPECT_GE(entries[0].write_time + slack, before);
  EXPECT_LE(entries[0].write_time, after + slack);
}

TEST(ListFolder, MissingFolderGivesNothing) {
  EXPECT_TRUE(ListFolder(Join(ScratchFolder(), "absent"), ".ini").empty());
}

TEST(ListFolder, EmptyFolderGivesNothing) {
  EXPECT_TRUE(ListFolder(ScratchFolder(), ".ini").empty());
}

TEST(GetEnvironment, SetVariableIsRead) {
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_VALUE", "C:/Users/player/AppData/Local"));
  std::string value;
  EXPECT_TRUE(GetEnvironment("GEARLOFT_PLATFORM_TEST_VALUE", &value));
  EXPECT_EQ(value, "C:/Users/player/AppData/Local");
}

TEST(GetEnvironment, UnsetVariableGivesFalse) {
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_VALUE", "set for a moment"));
  ASSERT_TRUE(SetEnvironment("GEARLOFT_PLATFORM_TEST_VALUE", ""));
  std::string value;
  EXPECT_FALSE(GetEnvironment("GEARLOFT_PLATFORM_TEST_VALUE", &value));
}

}  // namespace
}  // namespace gearloft::platform
