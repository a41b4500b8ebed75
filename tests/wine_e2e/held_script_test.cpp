// gearloft Windows end-to-end tests: a script saved while another program holds it open exclusively for
// 3 s, as an editor or a virus scanner may, while the game runs. The worker must read the saved script
// once it is free and end with the tables a fresh start on the final scripts makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

using Clock = std::chrono::steady_clock;

const char kSaved[] = "[Kestrel_GT]\r\nrim_sizes_front = 20\r\ntrack_spacings_rear = 1.7\r\n";

int CountLine(const std::vector<std::string>& messages, const std::string& line) {
  int count = 0;
  for (const std::string& message : messages) count += message == line ? 1 : 0;
  return count;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(HeldScriptTest, ScriptHeldOpenExclusivelyForThreeSecondsIsReadWholeOnceFree) {
  // The tables a game started on the final scripts ends with.
  std::vector<std::string> want;
  {
    WindowsGame fresh("held-fresh");
    std::string error;
    ASSERT_TRUE(fresh.MakeDatabase(&error)) << error;
    fresh.CopyExamples();
    fresh.WriteScript("kestrel_gt.ini", kSaved);
    fresh.Start({});
    ASSERT_GE(fresh.WaitFor("applied "), 0) << fresh.Output();
    // Read while the game runs: the stop script is one more change, and the game ends in its re-apply.
    {
      ASSERT_TRUE(fresh.RequestTables()) << fresh.Output();
      GameDatabase db(fresh.TablesFile());
      want = DumpLines(db.Dump());
      ASSERT_EQ(db.Error(), "");
    }
    EXPECT_EQ(fresh.Stop(), 0) << fresh.Output();
  }

  WindowsGame game("held");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  game.CopyExamples();
  game.Start({});
  ASSERT_GE(game.WaitFor("applied "), 0) << game.Output();

  // The editor writes the script in place and keeps it to itself for 3 s.
  const std::string path = (game.ScriptsFolder() / "kestrel_gt.ini").u8string();
  std::FILE* holder = platform::OpenFile(path, "wb", platform::Share::kDenyAll);
  ASSERT_NE(holder, nullptr);
  std::fputs(kSaved, holder);
  std::fflush(holder);
  EXPECT_EQ(platform::OpenFile(path, "rb", platform::Share::kDenyNone), nullptr)
      << "the hold is not exclusive";
  const Clock::time_point held_until = Clock::now() + std::chrono::seconds(3);
  const int changed = game.WaitFor("folder changed - re-applying in place", 0, 3);
  while (Clock::now() < held_until) platform::SleepMs(20);
  std::fclose(holder);
  // The worker saw the change while the script was held, so its read met the hold.
  EXPECT_GE(changed, 0) << Joined(game.Messages());

  ASSERT_GE(game.WaitFor("re-apply: ", changed < 0 ? 0 : changed, 30), 0) << Joined(game.Messages());
  ASSERT_GE(game.WaitFor("applied ", changed < 0 ? 0 : changed, 30), 0) << Joined(game.Messages());
  std::vector<std::string> got;
  {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    got = DumpLines(db.Dump());
    ASSERT_EQ(db.Error(), "");
  }
  EXPECT_EQ(game.Stop(), 0) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  // Read whole once free (and again when the stop script is added).
  EXPECT_GE(CountLine(messages, "loaded kestrel_gt.ini: Kestrel_GT, 2 statement(s)"), 1) << Joined(messages);
  EXPECT_EQ(CountLine(messages, "loaded kestrel_gt.ini: , 0 statement(s)"), 0) << Joined(messages);
  std::string difference;
  for (const std::string& row : want) {
    if (std::find(got.begin(), got.end(), row) == got.end()) difference += "  missing " + row + "\n";
  }
  for (const std::string& row : got) {
    if (std::find(want.begin(), want.end(), row) == want.end()) difference += "  extra   " + row + "\n";
  }
  EXPECT_EQ(difference, "") << Joined(messages);
}

}  // namespace
}  // namespace gearloft::wine_e2e
