// gearloft end-to-end tests: the real library loaded by the simulated game (gearloft-devhost) in a
// fresh game folder, run as a child process; what it did is read from its log.
#include <gtest/gtest.h>

#if defined(GEARLOFT_DEVHOST_EXE) && defined(GEARLOFT_LIBRARY_FILE)

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e/game_folder.h"

namespace gearloft {
namespace {

using e2e::Find;
using e2e::GameFolder;

TEST(DevhostRunTest, ResolvesTheGlobalAndGoesLive) {
  GameFolder game("live");
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int resolved = Find(messages, "CDatabase global resolved (1)");
  ASSERT_GE(resolved, 0) << game.Output();
  EXPECT_GT(Find(messages, "DB live", resolved), resolved) << game.Output();
  EXPECT_EQ(Find(messages, "waiting for the ExecuteQuery call-site signature"), -1);
  EXPECT_NE(game.Output().find("devhost: the game's own query answered: 48 car(s)"), std::string::npos)
      << game.Output();
}

TEST(DevhostRunTest, WaitsForCodeThatIsNotReadyAtStart) {
  GameFolder game("code");
  ASSERT_TRUE(game.Run("DB live", {"--code-ready-after", "4", "--code-hide", "scramble"})) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int waiting =
      Find(messages, "waiting for the ExecuteQuery call-site signature (code not decrypted yet)");
  ASSERT_GE(waiting, 0) << game.Output();
  const int resolved = Find(messages, "CDatabase global resolved (1)", waiting);
  EXPECT_GT(resolved, waiting) << game.Output();
  EXPECT_GT(Find(messages, "DB live", resolved), resolved) << game.Output();
}

TEST(DevhostRunTest, SecondCallSiteGivesTwoCandidatesAndTheLiveOneIsChosen) {
  GameFolder game("second");
  ASSERT_TRUE(game.Run("DB live", {"--second-call-site", "--global-after", "4"})) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int resolved = Find(messages, "CDatabase global resolved (2)");
  ASSERT_GE(resolved, 0) << game.Output();
  EXPECT_GT(
      Find(messages, "DB not answering yet (2 global(s), 0 holding an object, none answered a probe SELECT)",
           resolved),
      resolved)
      << game.Output();
  EXPECT_GT(Find(messages, "DB live", resolved), resolved) << game.Output();
}

TEST(DevhostRunTest, BlockedProbeIsReportedStuck) {
  GameFolder game("stuck");
  // Long enough that a watchdog check, every 5 s, falls after the first 10 s of the call.
  ASSERT_TRUE(game.Run("DB live", {"--block-on", "List_UpgradeRimSizeFront", "--block-seconds", "17"}))
      << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const std::string stuck = "STUCK: probe SELECT (select_live) has not returned after ";
  const int line = Find(messages, stuck);
  ASSERT_GE(line, 0) << game.Output();
  const int seconds = std::atoi(messages[static_cast<size_t>(line)].substr(stuck.size()).c_str());
  EXPECT_GE(seconds, 10);
  EXPECT_LE(seconds, 17);
  EXPECT_EQ(messages[static_cast<size_t>(line)], stuck + std::to_string(seconds) + " s");
  EXPECT_GT(Find(messages, "DB live", line), line) << game.Output();
}

TEST(DevhostRunTest, SecondStartInTheSameSecondFollowsItsOwnLog) {
  GameFolder game("again");
  // Both starts early in one wall-clock second, so both logs begin with the same banner line.
  while (std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(1) >
         std::chrono::milliseconds(50)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  EXPECT_NE(game.Output().find("] DB live\n"), std::string::npos) << game.Output();
}

TEST(DevhostRunTest, UnknownOptionIsRefused) {
  GameFolder game("usage");
  EXPECT_FALSE(game.RunWith({"--no-such-option"}));
  EXPECT_EQ(game.Output(),
            "gearloft-devhost: The following argument was not expected: --no-such-option\n"
            "Run with --help for more information.\n")
      << game.Output();
}

TEST(DevhostRunTest, OptionWithoutItsValueIsRefused) {
  GameFolder game("value");
  EXPECT_FALSE(game.RunWith({"--block-seconds", "soon"}));
  EXPECT_EQ(
      game.Output(),
      "gearloft-devhost: Could not convert: --block-seconds = soon\nRun with --help for more information.\n");
}

TEST(DevhostRunTest, LibraryThatCannotBeLoadedIsReported) {
  GameFolder game("library");
  EXPECT_FALSE(
      game.RunWith({"--library", "/nonexistent-gearloft-folder/libgearloft.so", "--run-seconds", "5"}));
  EXPECT_NE(game.Output().find("gearloft-devhost: cannot load /nonexistent-gearloft-folder/libgearloft.so\n"),
            std::string::npos)
      << game.Output();
}

}  // namespace
}  // namespace gearloft

#endif  // GEARLOFT_DEVHOST_EXE && GEARLOFT_LIBRARY_FILE
