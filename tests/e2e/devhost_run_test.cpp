// gearloft end-to-end tests: the real library loaded by the simulated game (gearloft-devhost) in a
// fresh game folder, run as a child process; what it did is read from its log.
#include <gtest/gtest.h>

#if defined(GEARLOFT_DEVHOST_EXE) && defined(GEARLOFT_LIBRARY_FILE)

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace gearloft {
namespace {

namespace fs = std::filesystem;

// A game folder holding copies of the game and the library, with short timings in its settings.
class GameFolder {
 public:
  explicit GameFolder(const std::string& name) {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("gearloft-e2e-" + name + "-" + std::to_string(random()));
    fs::create_directories(folder_ / "scripts");
    const fs::path game = GEARLOFT_DEVHOST_EXE;
    const fs::path library = GEARLOFT_LIBRARY_FILE;
    executable_ = folder_ / game.filename();
    fs::copy_file(game, executable_);
    fs::copy_file(library, folder_ / library.filename());
    std::ofstream settings(folder_ / "scripts" / "gearloft.ini", std::ios::binary);
    settings << "[gearloft]\r\ngarage_lod = 0\r\nfirst_call_age = 0\r\nresend = 1\r\npoll_ms = 200\r\n";
  }
  ~GameFolder() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  // Runs the game until a log line contains `exit_when` (at most 60 s); true when it exited with 0.
  bool Run(const std::string& exit_when, std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--run-seconds", "60", "--exit-when", exit_when});
    return RunWith(flags);
  }

  // The log's messages without their time and age prefix.
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    std::ifstream log(folder_ / "scripts" / "tunebay" / "gearloft.log", std::ios::binary);
    std::string line;
    while (std::getline(log, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t cut = line.find("] ");
      messages.push_back(cut == std::string::npos ? line : line.substr(cut + 2));
    }
    return messages;
  }

  // Runs the game with exactly these arguments; true when it exited with 0.
  bool RunWith(const std::vector<std::string>& arguments) {
    std::string command = Quote(executable_.string());
    for (const std::string& argument : arguments) command += " " + Quote(argument);
    command += " > " + Quote((folder_ / "output.txt").string()) + " 2>&1";
    return std::system(command.c_str()) == 0;
  }

  std::string Output() const {
    std::ifstream output(folder_ / "output.txt", std::ios::binary);
    std::stringstream text;
    text << output.rdbuf();
    return text.str();
  }

 private:
  static std::string Quote(const std::string& text) { return "\"" + text + "\""; }
  fs::path folder_;
  fs::path executable_;
};

// Index of the first message at or after `from` that begins with `prefix`; -1 when there is none.
int Find(const std::vector<std::string>& messages, const std::string& prefix, int from = 0) {
  for (size_t i = static_cast<size_t>(from); i < messages.size(); ++i) {
    if (messages[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

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

TEST(DevhostRunTest, UnknownOptionIsRefused) {
  GameFolder game("usage");
  EXPECT_FALSE(game.RunWith({"--no-such-option"}));
  EXPECT_EQ(
      game.Output().rfind("gearloft-devhost: unknown option --no-such-option\nusage: gearloft-devhost", 0),
      0u)
      << game.Output();
}

TEST(DevhostRunTest, OptionWithoutItsValueIsRefused) {
  GameFolder game("value");
  EXPECT_FALSE(game.RunWith({"--block-seconds", "soon"}));
  EXPECT_EQ(game.Output().rfind("gearloft-devhost: option --block-seconds needs a valid value\n", 0), 0u)
      << game.Output();
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
