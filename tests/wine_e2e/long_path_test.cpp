// gearloft Windows long-path test: a game installed deep enough that its script folder, log, scripts and
// plan file have paths of 260 characters or more still gets every one of them, and its log rotated.
// (Wine starts no program whose own path is that long, so the game's executable stays just under it.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(LongPathTest, ScriptFolderLogAndPlanBeyond260CharactersAreAllReached) {
  // The executable's path is 259 characters; the watched folder's 254, past the 248 of folder creation,
  // and the listing's pattern, the log, the plan and every script 260 or more.
  WindowsGame game("deep", 259 - std::string("\\gearloft-devhost.exe").size());
  ASSERT_EQ(game.WatchedFolderText().size(), 254u) << game.WatchedFolderText();
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  const std::vector<std::string> scripts = game.CopyExamples();
  ASSERT_FALSE(scripts.empty());
  // The log of an earlier start, for the rotation to move aside.
  ASSERT_TRUE(WriteWhole(game.LogFile(), "earlier run\r\n"));

  game.Start({});
  const int applied = game.WaitFor("applied ");
  ASSERT_GE(applied, 0) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  EXPECT_EQ(messages[0], "gearloft 0.1.0 - watching " + game.WatchedFolderText() +
                             " (first DB call at 0s, boot re-send until 0s)");
  int loaded = 0;
  for (const std::string& message : messages) loaded += message.rfind("loaded ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(loaded, static_cast<int>(scripts.size())) << Joined(messages);
  EXPECT_EQ(messages[static_cast<size_t>(applied)].rfind("applied ", 0), 0u);
  EXPECT_NE(ReadWhole(game.PlanFile()).find("INSERT OR IGNORE INTO "), std::string::npos);
  EXPECT_EQ(ReadWhole(game.ScriptsFolder() / "gearloft.log.1"), "earlier run\r\n");
  EXPECT_EQ(game.Stop(), 0) << game.Output();
}

}  // namespace
}  // namespace gearloft::wine_e2e
