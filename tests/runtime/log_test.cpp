// gearloft runtime tests: the log file's rotation, its line format, and the process age it shows.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "runtime/log.h"
#include "runtime_test_support.h"
#include "support/support.h"

namespace gearloft {
namespace {

using test::FileExists;
using test::FolderEntries;
using test::GameFolder;
using test::LogMessages;
using test::ReadWhole;

TEST(LogPrefix, AgeIsRoundedToWholeSecondsFourWide) {
  EXPECT_EQ(FormatLogPrefix(9, 5, 3, 7.6), "09:05:03 [   8s] ");
}

TEST(LogPrefix, FourDigitAgeFillsTheField) {
  EXPECT_EQ(FormatLogPrefix(23, 59, 0, 1234.4), "23:59:00 [1234s] ");
}

TEST(LogPrefix, LongerAgeWidensTheField) {
  EXPECT_EQ(FormatLogPrefix(0, 0, 0, 123456.0), "00:00:00 [123456s] ");
}

// One start of the game: the log opened as the worker opens it, one line written, the log closed.
void StartOnce(const GameFolder& folder, const char* message) {
  OpenLog(folder.paths());
  LogLine("%s", message);
  CloseLog();
}

const char* g_refused_operation = "";

bool RefuseLogFile(const char* operation, const std::string& path) {
  return std::string(operation) == g_refused_operation && path.find("gearloft.log") != std::string::npos;
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { folder_.MakeScriptsFolder(true); }
  void TearDown() override {
    platform::SetRefuseHook(nullptr);
    CloseLog();
  }
  GameFolder folder_;
};

TEST_F(LogFile, LineIsPrefixThenMessageThenLineEnd) {
  OpenLog(folder_.paths());
  LogLine("count %d of %s", 3, "cars");
  const double age = ProcessAge();
  CloseLog();
  const std::string text = ReadWhole(std::filesystem::u8path(folder_.paths().log_file));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match,
                               std::regex("(\\d\\d):(\\d\\d):(\\d\\d) \\[ *(\\d+)s\\] count 3 of cars\r?\n")))
      << text;
  EXPECT_LT(std::stoi(match[1].str()), 24);
  EXPECT_LT(std::stoi(match[2].str()), 60);
  EXPECT_LT(std::stoi(match[3].str()), 61);
  EXPECT_LE(std::abs(std::stod(match[4].str()) - age), 1.0) << text;
}

TEST_F(LogFile, LineIsOnDiskBeforeTheLogIsClosed) {
  OpenLog(folder_.paths());
  LogLine("flushed");
  EXPECT_EQ(LogMessages(folder_.paths().log_file), std::vector<std::string>{"flushed"});
}

TEST_F(LogFile, SecondStartKeepsTheFirstLogAsThePreviousOne) {
  StartOnce(folder_, "first run");
  StartOnce(folder_, "second run");
  EXPECT_EQ(LogMessages(folder_.paths().log_file), std::vector<std::string>{"second run"});
  EXPECT_EQ(LogMessages(folder_.paths().previous_log), std::vector<std::string>{"first run"});
  EXPECT_EQ(FolderEntries(folder_.paths().watched_folder),
            (std::vector<std::string>{"gearloft.log", "gearloft.log.1"}));
}

TEST_F(LogFile, ThirdStartReplacesThePreviousLog) {
  StartOnce(folder_, "first run");
  StartOnce(folder_, "second run");
  StartOnce(folder_, "third run");
  EXPECT_EQ(LogMessages(folder_.paths().log_file), std::vector<std::string>{"third run"});
  EXPECT_EQ(LogMessages(folder_.paths().previous_log), std::vector<std::string>{"second run"});
  EXPECT_EQ(FolderEntries(folder_.paths().watched_folder),
            (std::vector<std::string>{"gearloft.log", "gearloft.log.1"}));
}

TEST_F(LogFile, RefusedRotationStartsTheLogAfresh) {
  StartOnce(folder_, "first run");
  g_refused_operation = "move";
  platform::SetRefuseHook(RefuseLogFile);
  StartOnce(folder_, "second run");
  EXPECT_EQ(LogMessages(folder_.paths().log_file), std::vector<std::string>{"second run"});
  EXPECT_FALSE(FileExists(folder_.paths().previous_log));
}

TEST_F(LogFile, LogThatCannotBeOpenedLeavesLoggingOff) {
  g_refused_operation = "open";
  platform::SetRefuseHook(RefuseLogFile);
  OpenLog(folder_.paths());
  EXPECT_FALSE(LogIsOpen());
  LogLine("nowhere to go");
  EXPECT_FALSE(FileExists(folder_.paths().log_file));
}

TEST_F(LogFile, MissingWatchedFolderLeavesLoggingOff) {
  GameFolder bare;
  OpenLog(bare.paths());
  EXPECT_FALSE(LogIsOpen());
  LogLine("nowhere to go");
  EXPECT_TRUE(FolderEntries(bare.path()).empty());
}

TEST_F(LogFile, ClosedLogWritesNothingMore) {
  OpenLog(folder_.paths());
  LogLine("kept");
  CloseLog();
  EXPECT_FALSE(LogIsOpen());
  LogLine("after close");
  EXPECT_EQ(LogMessages(folder_.paths().log_file), std::vector<std::string>{"kept"});
}

TEST(ProcessAge, IsTheAgeOfThisTestProcess) {
  const double first = ProcessAge();
  const double second = ProcessAge();
  EXPECT_GT(first, 0.0);
  EXPECT_LT(first, 24.0 * 3600.0);
  EXPECT_GE(second, first);
}

}  // namespace
}  // namespace gearloft
