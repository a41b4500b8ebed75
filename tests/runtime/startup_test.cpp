// gearloft runtime tests: the worker's start-up on a temporary game folder, up to the banner.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "runtime_test_support.h"

namespace gearloft {
namespace {

using test::FileExists;
using test::GameFolder;
using test::LogMessages;

class PrepareWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    deps_.fix_garage_lod = [this] {
      ++fixes_;
      log_open_at_fix_ = LogIsOpen() || FileExists(folder_.paths().log_file);
      return garage_message_;
    };
  }
  void TearDown() override { CloseLog(); }

  std::string Banner(int first_call_age, int boot_until) const {
    return "gearloft 0.1.0 - watching " + folder_.paths().watched_folder + " (first DB call at " +
           std::to_string(first_call_age) + "s, boot re-send until " + std::to_string(boot_until) + "s)";
  }
  std::vector<std::string> Messages() const { return LogMessages(folder_.paths().log_file); }

  GameFolder folder_;
  WorkerDeps deps_;
  std::string garage_message_ = "garage LOD forced to 100%d";
  int fixes_ = 0;
  bool log_open_at_fix_ = false;
};

TEST_F(PrepareWorkerTest, PollOnlySettingsGiveDefaultsForTheRest) {
  folder_.WriteSettings("[gearloft]\npoll_ms = 500\n");
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(settings.garage_lod, 1);
  EXPECT_EQ(settings.first_call_age, 60);
  EXPECT_EQ(settings.boot_until, 150);
  EXPECT_EQ(settings.resend, 5);
  EXPECT_EQ(settings.poll_ms, 500);
}

TEST_F(PrepareWorkerTest, BannerNamesVersionWatchedFolderAndTimes) {
  folder_.WriteSettings("[gearloft]\ngarage_lod = 0\nfirst_call_age = 12\nboot_until = 345\n");
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(Messages(), std::vector<std::string>{Banner(12, 345)});
}

const char kByteOrderMarkWarning[] =
    "WARNING: scripts\\gearloft.ini begins with a UTF-8 byte-order mark; Windows does not see the section on "
    "its first line - save it without one";

// Windows' reader takes the mark as part of the first line, so the section there is lost (the reader's
// own tests show that); the log says so right after the banner, before the garage message.
TEST_F(PrepareWorkerTest, ByteOrderMarkIsWarnedOfRightAfterTheBanner) {
  folder_.WriteSettings("\xEF\xBB\xBF[gearloft]\nboot_until = 345\n");
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{Banner(60, settings.boot_until), kByteOrderMarkWarning,
                                                  "garage LOD forced to 100%d"}));
}

TEST_F(PrepareWorkerTest, SettingsWithoutAMarkGiveNoWarning) {
  folder_.WriteSettings("[gearloft]\ngarage_lod = 0\n\xEF\xBB\xBF\n");
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(Messages(), std::vector<std::string>{Banner(60, 150)});
}

// A comment first, as in the shipped file: the mark hides nothing, and is still pointed out.
TEST_F(PrepareWorkerTest, ByteOrderMarkBeforeACommentLineKeepsTheSettings) {
  folder_.WriteSettings("\xEF\xBB\xBF; settings\n[gearloft]\ngarage_lod = 0\nfirst_call_age = 12\n");
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(settings.first_call_age, 12);
  EXPECT_EQ(Messages(), (std::vector<std::string>{Banner(12, 150), kByteOrderMarkWarning}));
}

TEST_F(PrepareWorkerTest, GarageLodZeroSkipsTheFix) {
  folder_.WriteSettings("[gearloft]\ngarage_lod = 0\n");
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(fixes_, 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{Banner(60, 150)});
}

TEST_F(PrepareWorkerTest, GarageFixRunsBeforeTheLogAndItsMessageFollowsTheBanner) {
  folder_.WriteSettings("[gearloft]\ngarage_lod = 2\n");
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(fixes_, 1);
  EXPECT_FALSE(log_open_at_fix_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{Banner(60, 150), "garage LOD forced to 100%d"}));
}

TEST_F(PrepareWorkerTest, EmptyGarageMessageIsNotLogged) {
  folder_.MakeScriptsFolder(false);
  garage_message_.clear();
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(fixes_, 1);
  EXPECT_EQ(Messages(), std::vector<std::string>{Banner(60, 150)});
}

TEST_F(PrepareWorkerTest, WatchedFolderIsCreatedAndKept) {
  folder_.MakeScriptsFolder(false);
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_TRUE(FileExists(folder_.paths().watched_folder));
  EXPECT_EQ(WatchedFolder(), folder_.paths().watched_folder);
}

TEST_F(PrepareWorkerTest, ExistingWatchedFolderAndLogAreKeptAndRotated) {
  folder_.MakeScriptsFolder(true);
  PrepareWorker(folder_.ExecutablePath(), deps_);
  CloseLog();
  PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(LogMessages(folder_.paths().previous_log),
            (std::vector<std::string>{Banner(60, 150), "garage LOD forced to 100%d"}));
  EXPECT_EQ(Messages(), (std::vector<std::string>{Banner(60, 150), "garage LOD forced to 100%d"}));
}

// A player who copied only the library still gets a folder for scripts and a log.
TEST_F(PrepareWorkerTest, MissingScriptsFolderIsCreatedWithTheWatchedFolder) {
  ASSERT_FALSE(FileExists(folder_.path() + platform::PathSeparator() + "scripts"));
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_TRUE(LogIsOpen());
  EXPECT_TRUE(FileExists(folder_.paths().watched_folder));
  EXPECT_EQ(fixes_, 1);
  EXPECT_EQ(settings.first_call_age, 60);
  EXPECT_EQ(settings.poll_ms, 2000);
  EXPECT_EQ(Messages(), (std::vector<std::string>{Banner(60, 150), "garage LOD forced to 100%d"}));
}

TEST_F(PrepareWorkerTest, WatchedFolderThatCannotBeMadeLeavesLoggingOff) {
  // A file where the scripts folder belongs: neither level can be made.
  std::ofstream(folder_.path() + platform::PathSeparator() + "scripts", std::ios::binary) << "not a folder";
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_FALSE(LogIsOpen());
  EXPECT_EQ(settings.poll_ms, 2000);
}

TEST_F(PrepareWorkerTest, SettingsThatWouldSpinAreRaisedWithAWarningEach) {
  folder_.WriteSettings("[gearloft]\nfirst_call_age = -5\nboot_until = -1\nresend = 0\npoll_ms = 0\n");
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(settings.first_call_age, 0);
  EXPECT_EQ(settings.boot_until, 0);
  EXPECT_EQ(settings.resend, 1);
  EXPECT_EQ(settings.poll_ms, 50);
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{Banner(0, 0), "garage LOD forced to 100%d",
                                      "WARNING: first_call_age = -5 in scripts\\gearloft.ini is used as 0",
                                      "WARNING: boot_until = -1 in scripts\\gearloft.ini is used as 0",
                                      "WARNING: resend = 0 in scripts\\gearloft.ini is used as 1",
                                      "WARNING: poll_ms = 0 in scripts\\gearloft.ini is used as 50"}));
}

TEST_F(PrepareWorkerTest, SettingsAtTheirFloorsAreKeptWithoutWarning) {
  folder_.WriteSettings(
      "[gearloft]\ngarage_lod = 0\nfirst_call_age = 0\nboot_until = 0\nresend = 1\npoll_ms = 50\n");
  const Settings settings = PrepareWorker(folder_.ExecutablePath(), deps_);
  EXPECT_EQ(settings.resend, 1);
  EXPECT_EQ(settings.poll_ms, 50);
  EXPECT_EQ(Messages(), std::vector<std::string>{Banner(0, 0)});
}

}  // namespace
}  // namespace gearloft
