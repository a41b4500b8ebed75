// Tests of the garage detail setting: the four edits on the player's configuration, the insertion rule,
// the write-and-move sequence with its failures, and the bound that keeps the regex engine's recursion
// off a thread's stack limit.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "garage/garage.h"
#include "platform/testing.h"
#include "support/support.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

constexpr const char kAlreadyExtreme[] =
    "garage LOD: already Extreme (CarLOD=4, CarFocusLODMinMax=Extreme, dynamic off)";
constexpr const char kNothingFound[] =
    "garage LOD: no garage detail settings found in UserConfigSelections; left untouched";
constexpr const char kForced[] =
    "garage LOD: forced Extreme (CarLOD=4, garage focus car Extreme, dynamic off)";

// A configuration holding all four elements in their wanted form.
const std::string kWantedFocus = "<CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>";
const std::string kWantedCarLod = "<option id=\"CarLOD\" value=\"4\"/>";

const std::string kExtremeConfig =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<UserConfig>\n"
    "  <CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>\n"
    "  <UseDynamicOptimization value=\"0\"/>\n"
    "  <selections>\n"
    "    <option id=\"CarLOD\" value=\"4\"/>\n"
    "    <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
    "  </selections>\n"
    "</UserConfig>\n";

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Each test gets its own LOCALAPPDATA with the game's folders below it.
class FixGarageLodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ =
        fs::temp_directory_path() /
        ("gearloft-garage-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "-" + std::to_string(random()));
    folder_ = root_ / "VelatrixRally" / "LocalStorage_Shared" / "VelatrixUserConfigSelections";
    fs::create_directories(folder_);
    config_ = folder_ / "UserConfigSelections";
    temporary_ = folder_ / "UserConfigSelections.gearloft";
    ASSERT_TRUE(platform::SetEnvironment("LOCALAPPDATA", root_.string()));
  }

  void TearDown() override {
    platform::SetRefuseHook(nullptr);
    platform::SetEnvironment("LOCALAPPDATA", "");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path root_;
  fs::path folder_;
  fs::path config_;
  fs::path temporary_;
};

// ---- Messages before the file is read ----

TEST_F(FixGarageLodTest, NoLocalAppDataGivesMessage) {
  ASSERT_TRUE(platform::SetEnvironment("LOCALAPPDATA", ""));
  EXPECT_EQ(FixGarageLod(), "garage LOD: no LOCALAPPDATA");
}

TEST_F(FixGarageLodTest, MissingFileCannotBeRead) {
  EXPECT_EQ(FixGarageLod(), "garage LOD: cannot read UserConfigSelections");
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, FolderInPlaceOfFileCannotBeRead) {
  fs::create_directory(config_);
  EXPECT_EQ(FixGarageLod(), "garage LOD: cannot read UserConfigSelections");
  EXPECT_TRUE(fs::is_directory(config_));
  EXPECT_FALSE(fs::exists(temporary_));
}

static std::atomic<int> refused_calls{0};

bool RefuseOpenOfConfig(const char* operation, const std::string& path) {
  if (std::string(operation) != "open" || path.size() < 20) return false;
  if (path.compare(path.size() - 20, 20, "UserConfigSelections") != 0) return false;
  ++refused_calls;
  return true;
}

TEST_F(FixGarageLodTest, RefusedOpenCannotBeRead) {
  WriteBytes(config_, kExtremeConfig);
  refused_calls = 0;
  platform::SetRefuseHook(RefuseOpenOfConfig);
  EXPECT_EQ(FixGarageLod(), "garage LOD: cannot read UserConfigSelections");
  EXPECT_EQ(refused_calls.load(), 1);
}

// ---- Files that need no change ----

TEST_F(FixGarageLodTest, AlreadyExtremeIsNotRewritten) {
  WriteBytes(config_, kExtremeConfig);
  const fs::file_time_type old_time = fs::last_write_time(config_) - std::chrono::hours(24);
  fs::last_write_time(config_, old_time);

  EXPECT_EQ(FixGarageLod(), kAlreadyExtreme);
  EXPECT_EQ(test::ReadWhole(config_), kExtremeConfig);
  EXPECT_EQ(fs::last_write_time(config_), old_time);
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, Utf16FileHasNoSettingsFound) {
  const std::string narrow = "<selections>\n  <option id=\"CarLOD\" value=\"2\"/>\n</selections>\n";
  std::string wide = "\xFF\xFE";
  for (char c : narrow) {
    wide += c;
    wide += '\0';
  }
  WriteBytes(config_, wide);
  EXPECT_EQ(FixGarageLod(), kNothingFound);
  EXPECT_EQ(test::ReadWhole(config_), wide);
}

TEST_F(FixGarageLodTest, FileWithoutAnyOfTheElementsHasNoSettingsFound) {
  const std::string other = "<UserConfig>\n  <Volume value=\"7\"/>\n</UserConfig>\n";
  WriteBytes(config_, other);
  EXPECT_EQ(FixGarageLod(), kNothingFound);
  EXPECT_EQ(test::ReadWhole(config_), other);
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, FileWithoutSelectionsOrOptionsOnlyGetsElementEdits) {
  const std::string fine =
      "<UserConfig>\n  <CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>\n</UserConfig>\n";
  WriteBytes(config_, fine);
  EXPECT_EQ(FixGarageLod(), kAlreadyExtreme);
  EXPECT_EQ(test::ReadWhole(config_), fine);

  WriteBytes(config_, "<UserConfig>\n  <UseDynamicOptimization value=\"1\" x=\"y\"/>\n</UserConfig>\n");
  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_),
            "<UserConfig>\n  <UseDynamicOptimization value=\"0\"/>\n</UserConfig>\n");
}

// ---- The edits ----

TEST_F(FixGarageLodTest, CarLodTwoBecomesFourWithExtraAttributesDropped) {
  std::string config = kExtremeConfig;
  config.replace(config.find(kWantedCarLod), kWantedCarLod.size(),
                 "<option id=\"CarLOD\" value=\"2\" min=\"0\" max=\"4\"/>");
  WriteBytes(config_, config);

  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_), kExtremeConfig);
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, EveryElementIsReplacedWhole) {
  WriteBytes(config_,
             "<UserConfig>\n"
             "  <CarFocusLODMinMax isDynamic=\"1\" dynamicValue=\"Medium\" minValue=\"Low\"/>\n"
             "  <UseDynamicOptimization value=\"1\" />\n"
             "  <selections>\n"
             "    <option id=\"CarLOD\" value=\"1\"/>\n"
             "    <option id=\"UseDynamicOptimization\" value=\"1\" hidden=\"0\"/>\n"
             "  </selections>\n"
             "</UserConfig>\n");
  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_), kExtremeConfig.substr(kExtremeConfig.find("<UserConfig>")));
}

TEST_F(FixGarageLodTest, MissingOptionsAreInsertedOnTheirOwnLinesWithBareLineFeeds) {
  WriteBytes(config_,
             "<UserConfig>\r\n"
             "  <selections>\r\n"
             "    <option id=\"Shadows\" value=\"3\"/>\r\n"
             "  </selections>\r\n"
             "  <selections>\r\n"
             "  </selections>\r\n"
             "</UserConfig>\r\n");
  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_),
            "<UserConfig>\r\n"
            "  <selections>\r\n"
            "    <option id=\"Shadows\" value=\"3\"/>\r\n"
            "    <option id=\"CarLOD\" value=\"4\"/>\n"
            "    <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
            "  </selections>\r\n"
            "  <selections>\r\n"
            "  </selections>\r\n"
            "</UserConfig>\r\n");
}

TEST_F(FixGarageLodTest, MissingElementsAreNeverAdded) {
  WriteBytes(config_, "<selections>\n  <option id=\"CarLOD\" value=\"4\"/>\n  </selections>\n");
  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_),
            "<selections>\n  <option id=\"CarLOD\" value=\"4\"/>\n"
            "    <option id=\"UseDynamicOptimization\" value=\"0\"/>\n  </selections>\n");
}

TEST_F(FixGarageLodTest, ElementWithClosingTagIsLeftAlone) {
  std::string config = kExtremeConfig;
  config.replace(config.find(kWantedFocus), kWantedFocus.size(),
                 "<CarFocusLODMinMax isDynamic=\"1\" dynamicValue=\"Low\"></CarFocusLODMinMax>");
  WriteBytes(config_, config);
  EXPECT_EQ(FixGarageLod(), kAlreadyExtreme);
  EXPECT_EQ(test::ReadWhole(config_), config);
}

TEST_F(FixGarageLodTest, OnlyTheFirstMatchIsReplaced) {
  WriteBytes(config_,
             "<selections>\n"
             "  <option id=\"CarLOD\" value=\"2\"/>\n"
             "  <option id=\"CarLOD\" value=\"3\"/>\n"
             "  <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
             "</selections>\n");
  EXPECT_EQ(FixGarageLod(), kForced);
  EXPECT_EQ(test::ReadWhole(config_),
            "<selections>\n"
            "  <option id=\"CarLOD\" value=\"4\"/>\n"
            "  <option id=\"CarLOD\" value=\"3\"/>\n"
            "  <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
            "</selections>\n");
}

// ---- Write and move failures keep the player's file ----

const std::string kCarLodTwo = "<selections>\n  <option id=\"CarLOD\" value=\"2\"/>\n</selections>\n";

bool RefuseEveryMove(const char* operation, const std::string&) {
  return std::string(operation) == "move";
}

TEST_F(FixGarageLodTest, RefusedMoveKeepsOriginalAndLeavesNoTemporaryFile) {
  WriteBytes(config_, kCarLodTwo);
  platform::SetRefuseHook(RefuseEveryMove);
  // The code the platform layer gives for a refused move, whatever the system.
  uint32_t refused_code = 0;
  ASSERT_FALSE(platform::ReplaceMove((folder_ / "a").string(), (folder_ / "b").string(), &refused_code));
  ASSERT_NE(refused_code, 0u);

  EXPECT_EQ(FixGarageLod(), "garage LOD: MoveFileEx failed err=" + std::to_string(refused_code) +
                                " (game may have the file open)");
  EXPECT_EQ(test::ReadWhole(config_), kCarLodTwo);
  EXPECT_FALSE(fs::exists(temporary_));
}

// ---- The move waits out a program holding the file for a moment ----

struct FakeMoves {
  std::vector<uint32_t> codes;  // what each try fails with; a try past the list succeeds
  size_t tries = 0;
  std::vector<uint32_t> sleeps;
};
FakeMoves g_moves;

bool FakeMove(const std::string&, const std::string&, uint32_t* error) {
  const size_t attempt = g_moves.tries++;
  if (attempt >= g_moves.codes.size()) return true;
  *error = g_moves.codes[attempt];
  return false;
}

void FakeSleep(uint32_t milliseconds) {
  g_moves.sleeps.push_back(milliseconds);
}

TEST(ReplaceMoveRetryingTest, SharingViolationsAndDenialsAreWaitedOutUpToTheFifthTry) {
  g_moves = FakeMoves{{32, 5, 32, 5}, 0, {}};
  uint32_t error = 99;
  EXPECT_TRUE(ReplaceMoveRetrying("a", "b", &error, FakeMove, FakeSleep));
  EXPECT_EQ(g_moves.tries, 5u);
  EXPECT_EQ(g_moves.sleeps, (std::vector<uint32_t>{100, 100, 100, 100}));
}

TEST(ReplaceMoveRetryingTest, FiveFailuresGiveTheLastCode) {
  g_moves = FakeMoves{{5, 5, 5, 5, 32, 32}, 0, {}};
  uint32_t error = 0;
  EXPECT_FALSE(ReplaceMoveRetrying("a", "b", &error, FakeMove, FakeSleep));
  EXPECT_EQ(g_moves.tries, 5u);
  EXPECT_EQ(error, 32u);
  EXPECT_EQ(g_moves.sleeps.size(), 4u);
}

TEST(ReplaceMoveRetryingTest, OtherCodesAreNotRetried) {
  g_moves = FakeMoves{{32, 3}, 0, {}};
  uint32_t error = 0;
  EXPECT_FALSE(ReplaceMoveRetrying("a", "b", &error, FakeMove, FakeSleep));
  EXPECT_EQ(g_moves.tries, 2u);
  EXPECT_EQ(error, 3u);
  EXPECT_EQ(g_moves.sleeps, std::vector<uint32_t>{100});
}

// Holds `path` open as a virus scanner or a sync program does: others may read it, but neither write
// nor replace it. Null where the system cannot refuse other openers (Linux): nothing to show there.
std::FILE* HoldAgainstReplacing(const fs::path& path) {
  std::FILE* held = platform::OpenFile(path.u8string(), "rb", platform::Share::kDenyWrite);
  if (held == nullptr) return nullptr;
  std::FILE* writer = platform::OpenFile(path.u8string(), "ab", platform::Share::kDenyNone);
  if (writer != nullptr) {
    std::fclose(writer);
    std::fclose(held);
    return nullptr;
  }
  return held;
}

TEST_F(FixGarageLodTest, ConfigHeldForAMomentIsStillReplaced) {
  WriteBytes(config_, kCarLodTwo);
  std::FILE* held = HoldAgainstReplacing(config_);
  if (held == nullptr) GTEST_SKIP() << "this system lets every opener in";
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::fclose(held);
  });
  const std::string message = FixGarageLod();
  release.join();
  EXPECT_EQ(message, kForced);
  EXPECT_NE(test::ReadWhole(config_).find(kWantedCarLod), std::string::npos);
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, ConfigHeldThroughEveryTryNamesTheLastCode) {
  WriteBytes(config_, kCarLodTwo);
  std::FILE* held = HoldAgainstReplacing(config_);
  if (held == nullptr) GTEST_SKIP() << "this system lets every opener in";
  // The code a single move onto the held file gets.
  WriteBytes(folder_ / "probe", "x");
  uint32_t code = 0;
  ASSERT_FALSE(platform::ReplaceMove((folder_ / "probe").u8string(), config_.u8string(), &code));
  ASSERT_TRUE(code == 32 || code == 5) << code;
  const auto start = std::chrono::steady_clock::now();
  const std::string message = FixGarageLod();
  const auto waited = std::chrono::steady_clock::now() - start;
  std::fclose(held);
  EXPECT_EQ(message,
            "garage LOD: MoveFileEx failed err=" + std::to_string(code) + " (game may have the file open)");
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_EQ(test::ReadWhole(config_), kCarLodTwo);
  EXPECT_FALSE(fs::exists(temporary_));
}

bool RefuseOpenOfTemporary(const char* operation, const std::string& path) {
  return std::string(operation) == "open" && path.size() > 9 &&
         path.compare(path.size() - 9, 9, ".gearloft") == 0;
}

TEST_F(FixGarageLodTest, UnwritableTemporaryFileKeepsOriginal) {
  WriteBytes(config_, kCarLodTwo);
  platform::SetRefuseHook(RefuseOpenOfTemporary);
  EXPECT_EQ(FixGarageLod(), "garage LOD: cannot write temp config");
  EXPECT_EQ(test::ReadWhole(config_), kCarLodTwo);
  EXPECT_FALSE(fs::exists(temporary_));
}

// A temporary path that leads to a device which is always full: writes fail for real. Only where the
// system has one.
class FullDiskTest : public FixGarageLodTest {
 protected:
  void SetUp() override {
    FixGarageLodTest::SetUp();
    std::error_code error;
    if (!fs::exists("/dev/full", error)) GTEST_SKIP() << "no always-full device here";
    fs::create_symlink("/dev/full", temporary_);
  }
};

TEST_F(FullDiskTest, ShortBlockWriteKeepsOriginal) {
  // Larger than any stream buffer, so the block write itself reaches the device and comes up short.
  std::string config = kCarLodTwo + "<!--" + std::string(1 << 16, 'x') + "-->\n";
  WriteBytes(config_, config);
  EXPECT_EQ(FixGarageLod(), "garage LOD: short write");
  EXPECT_EQ(test::ReadWhole(config_), config);
  EXPECT_FALSE(fs::exists(fs::symlink_status(temporary_)));
}

TEST_F(FullDiskTest, FailedFlushCountsAsShortWrite) {
  // Small enough to sit in the stream buffer: only the flush before the move finds the disk full.
  WriteBytes(config_, kCarLodTwo);
  EXPECT_EQ(FixGarageLod(), "garage LOD: short write");
  EXPECT_EQ(test::ReadWhole(config_), kCarLodTwo);
  EXPECT_FALSE(fs::exists(fs::symlink_status(temporary_)));
}

// ---- Elements too long to search on a small stack ----

struct StackRun {
  std::string message;
  std::atomic<bool> done{false};
};

void RunFixOnThread(void* context) {
  auto* run = static_cast<StackRun*>(context);
  run->message = FixGarageLod();
  run->done = true;
}

// FixGarageLod on a thread with the 1 MiB stack a Windows thread gets by default.
std::string FixOnSmallStack() {
  StackRun run;
  EXPECT_TRUE(platform::StartThread(RunFixOnThread, &run, 1 << 20));
  while (!run.done) platform::SleepMs(5);
  return run.message;
}

std::string LongRunMessage(const std::string& literal) {
  return "garage LOD: " + literal + " element longer than " + std::to_string(kLongestSearchedElement) +
         " characters, too long to search safely; config left untouched";
}

TEST_F(FixGarageLodTest, HugeAttributeOnSmallStackLeavesFileUntouched) {
  std::string config = kExtremeConfig;
  config.replace(config.find(kWantedFocus), kWantedFocus.size(),
                 "<CarFocusLODMinMax isDynamic=\"1\" note=\"" + std::string(100000, 'a') + "\" />");
  WriteBytes(config_, config);
  EXPECT_EQ(FixOnSmallStack(), LongRunMessage("<CarFocusLODMinMax"));
  EXPECT_EQ(test::ReadWhole(config_), config);
  EXPECT_FALSE(fs::exists(temporary_));
}

// `run` characters from the element's "<" up to, not including, its ">".
std::string CarLodOptionWithRun(size_t run) {
  std::string head = "<option id=\"CarLOD\" value=\"2\" note=\"";
  std::string tail = "\"/>";
  return head + std::string(run + 1 - head.size() - tail.size(), 'n') + tail;
}

TEST_F(FixGarageLodTest, ElementAtTheBoundIsStillEdited) {
  std::string option = CarLodOptionWithRun(kLongestSearchedElement);
  ASSERT_EQ(option.find('>'), kLongestSearchedElement);
  WriteBytes(config_, "<selections>\n  " + option + "\n</selections>\n");
  EXPECT_EQ(FixOnSmallStack(), kForced);
  EXPECT_EQ(test::ReadWhole(config_),
            "<selections>\n  <option id=\"CarLOD\" value=\"4\"/>\n"
            "  <option id=\"UseDynamicOptimization\" value=\"0\"/>\n  </selections>\n");
}

TEST_F(FixGarageLodTest, ElementOneOverTheBoundStopsEveryEdit) {
  // The first two edits would change the file; the refusal of the third keeps all of it.
  std::string config = "<UserConfig>\n  <UseDynamicOptimization value=\"1\"/>\n<selections>\n  " +
                       CarLodOptionWithRun(kLongestSearchedElement + 1) + "\n</selections>\n";
  WriteBytes(config_, config);
  EXPECT_EQ(FixOnSmallStack(), LongRunMessage("<option id=\"CarLOD\""));
  EXPECT_EQ(test::ReadWhole(config_), config);
  EXPECT_FALSE(fs::exists(temporary_));
}

TEST_F(FixGarageLodTest, UnclosedElementRunsToTheEndAndIsRefused) {
  // No '>' follows the option, so its run reaches the end of the text.
  std::string config =
      "<selections>\n  <option id=\"UseDynamicOptimization\" value=\"1\" " + std::string(5000, ' ');
  WriteBytes(config_, config);
  EXPECT_EQ(FixOnSmallStack(), LongRunMessage("<option id=\"UseDynamicOptimization\""));
  EXPECT_EQ(test::ReadWhole(config_), config);
}

// ---- EditGarageText and ReplaceOrInsert ----

TEST(EditGarageTextTest, BrokenPatternGivesRegexMessage) {
  std::vector<GarageEdit> edits = {{"<option id=\"CarLOD\"[^>", "<option id=\"CarLOD\"", "<x/>", nullptr}};
  std::string text = "<option id=\"CarLOD\" value=\"2\"/>";
  std::string reason;
  EXPECT_FALSE(EditGarageText(edits, &text, &reason));
  EXPECT_EQ(reason, "garage LOD: regular expression for <option id=\"CarLOD\" failed; config left untouched");
}

TEST(EditGarageTextTest, EditsRunInOrder) {
  // The second edit sees what the first one wrote.
  std::vector<GarageEdit> edits = {{"<a/>", "<a", "<b/>", nullptr}, {"<b/>", "<b", "<c/>", nullptr}};
  std::string text = "<a/>";
  std::string reason;
  EXPECT_TRUE(EditGarageText(edits, &text, &reason));
  EXPECT_EQ(text, "<c/>");
  EXPECT_EQ(reason, "");
}

TEST(ReplaceOrInsertTest, NonOptionReplacementIsNeverInserted) {
  std::string text = "<selections>\n  </selections>\n";
  ReplaceOrInsert(&text, std::regex("<UseDynamicOptimization\\b[^>]*/>"),
                  "<UseDynamicOptimization value=\"0\"/>");
  EXPECT_EQ(text, "<selections>\n  </selections>\n");
}

TEST(ReplaceOrInsertTest, OptionIsInsertedBeforeTheFirstClosingTagOnly) {
  std::string text = "</selections></selections>";
  ReplaceOrInsert(&text, std::regex("<option id=\"CarLOD\"[^>]*/>"), "<option id=\"CarLOD\" value=\"4\"/>");
  EXPECT_EQ(text, "  <option id=\"CarLOD\" value=\"4\"/>\n  </selections></selections>");
}

TEST(ReplaceOrInsertTest, NothingIsInsertedWithoutClosingTag) {
  std::string text = "<selections><selections/>";
  ReplaceOrInsert(&text, std::regex("<option id=\"CarLOD\"[^>]*/>"), "<option id=\"CarLOD\" value=\"4\"/>");
  EXPECT_EQ(text, "<selections><selections/>");
}

TEST(ReplaceOrInsertTest, MatchIsReplacedWithoutInsertion) {
  std::string text = "a<option id=\"CarLOD\"/>b</selections>";
  ReplaceOrInsert(&text, std::regex("<option id=\"CarLOD\"[^>]*/>"), "<option id=\"CarLOD\" value=\"4\"/>");
  EXPECT_EQ(text, "a<option id=\"CarLOD\" value=\"4\"/>b</selections>");
}

}  // namespace
}  // namespace gearloft
