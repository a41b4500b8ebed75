// gearloft Windows end-to-end tests of what the real DLL does with the system inside the game's process:
// the log's share mode and line ends, a log someone else holds, the log rotation and the garage fix's
// replacing moves, the region walk over the game's image, and the game started with its arguments whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

const char kKestrelScript[] = "[Kestrel_GT]\r\nrim_sizes_front = 18\r\n";

// True when every line of `bytes` ends in CR LF and there is at least one.
bool EveryLineEndsInCrLf(const std::string& bytes) {
  if (bytes.empty() || bytes.back() != '\n') return false;
  for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1)) {
    if (at == 0 || bytes[at - 1] != '\r') return false;
  }
  return true;
}

TEST(WindowsFilesTest, LogIsReadableButNotWritableByOthersAndEndsItsLinesInCrLf) {
  WindowsGame game("share");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  game.WriteScript("kestrel.ini", kKestrelScript);
  game.Start({});
  ASSERT_GE(game.WaitFor("applied 1 statement(s) from 1 file(s), all read back"), 0) << game.Output();

  const std::string log = game.LogFile().u8string();
  std::FILE* reader = platform::OpenFile(log, "rb", platform::Share::kDenyNone);
  EXPECT_NE(reader, nullptr);
  if (reader != nullptr) std::fclose(reader);
  std::FILE* writer = platform::OpenFile(log, "ab", platform::Share::kDenyNone);
  EXPECT_EQ(writer, nullptr);
  if (writer != nullptr) std::fclose(writer);
  EXPECT_EQ(platform::OpenFile(log, "r+b", platform::Share::kDenyNone), nullptr);

  EXPECT_EQ(game.Stop(), 0) << game.Output();
  EXPECT_TRUE(EveryLineEndsInCrLf(ReadWhole(game.LogFile()))) << ReadWhole(game.LogFile());
  const std::string plan = ReadWhole(game.PlanFile());
  EXPECT_TRUE(EveryLineEndsInCrLf(plan)) << plan;
  EXPECT_EQ(plan.rfind("-- kestrel.ini\r\nINSERT OR IGNORE INTO List_UpgradeRimSizeFront ", 0), 0u) << plan;
}

TEST(WindowsFilesTest, LogHeldOpenForWritingLeavesLoggingOffAndTheWorkerRunning) {
  WindowsGame game("held");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  game.WriteScript("kestrel.ini", kKestrelScript);
  // A second open with write access: the library can neither move the log aside nor open it.
  std::FILE* holder = platform::OpenFile(game.LogFile().u8string(), "wb", platform::Share::kDenyNone);
  ASSERT_NE(holder, nullptr);
  const std::string stop_line = "wine e2e: the holder's own line";
  game.StartWith({"--run-seconds", "120", "--exit-when", stop_line});

  // With no log to follow, the worker's work shows in the game's tables.
  std::vector<std::string> rows;
  for (int wait = 0; wait < 600 && rows.empty(); ++wait) {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    rows = db.Rows("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004");
    if (rows.empty()) platform::SleepMs(100);
  }
  EXPECT_EQ(rows, std::vector<std::string>{"integer:18"});
  // The game's echo of the log ends the game once it sees this line.
  std::fputs((stop_line + "\n").c_str(), holder);
  std::fflush(holder);
  EXPECT_EQ(game.Wait(), 0) << game.Output();
  std::fclose(holder);

  EXPECT_EQ(ReadWhole(game.LogFile()), stop_line + "\n");
  EXPECT_FALSE(fs::exists(game.ScriptsFolder() / "gearloft.log.1"));
  EXPECT_EQ(ReadWhole(game.PlanFile())
                .rfind("-- kestrel.ini\r\nINSERT OR IGNORE INTO List_UpgradeRimSizeFront ", 0),
            0u)
      << ReadWhole(game.PlanFile());
}

TEST(WindowsFilesTest, GarageFixReplacesTheConfigAndASecondStartKeepsTheFirstLog) {
  WindowsGame game("garage");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  game.WriteSettings(
      "garage_lod = 1\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 200\r\n");
  const fs::path local = game.Folder() / "Local App Data";
  const fs::path folder = local / "VelatrixRally" / "LocalStorage_Shared" / "VelatrixUserConfigSelections";
  fs::create_directories(folder);
  const fs::path config = folder / "UserConfigSelections";
  ASSERT_TRUE(WriteWhole(config,
                         "<selections>\r\n"
                         "  <CarFocusLODMinMax isDynamic=\"1\" dynamicValue=\"Low\"/>\r\n"
                         "  <UseDynamicOptimization value=\"1\"/>\r\n"
                         "  <option id=\"CarLOD\" value=\"2\"/>\r\n"
                         "</selections>\r\n"));
  // LOCALAPPDATA for the games this test starts; the test process's own value comes back afterwards.
  test::ScopedEnvironment local_app_data("LOCALAPPDATA", local.u8string());
  ASSERT_TRUE(local_app_data.Set());

  ASSERT_EQ(game.Run({"--run-seconds", "60", "--exit-when", "DB live"}), 0) << game.Output();
  std::vector<std::string> messages = game.Messages();
  ASSERT_GE(messages.size(), 2u) << game.Output();
  EXPECT_EQ(messages[1], "garage LOD: forced Extreme (CarLOD=4, garage focus car Extreme, dynamic off)");
  EXPECT_EQ(ReadWhole(config),
            "<selections>\r\n"
            "  <CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>\r\n"
            "  <UseDynamicOptimization value=\"0\"/>\r\n"
            "  <option id=\"CarLOD\" value=\"4\"/>\r\n"
            "  <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
            "  </selections>\r\n");
  EXPECT_FALSE(fs::exists(folder / "UserConfigSelections.gearloft"));
  const std::string first_log = ReadWhole(game.LogFile());

  // A banner of its own: the game's echo tells the new log from the earlier one by its first line.
  game.WriteSettings(
      "garage_lod = 1\r\nfirst_call_age = 0\r\nboot_until = 1\r\nresend = 1\r\npoll_ms = 200\r\n");
  ASSERT_EQ(game.Run({"--run-seconds", "60", "--exit-when", "DB live"}), 0) << game.Output();
  messages = game.Messages();
  ASSERT_GE(messages.size(), 2u) << game.Output();
  EXPECT_EQ(messages[1], "garage LOD: already Extreme (CarLOD=4, CarFocusLODMinMax=Extreme, dynamic off)");
  EXPECT_EQ(ReadWhole(game.ScriptsFolder() / "gearloft.log.1"), first_log);
}

// The region walk searches only pages that can run: while the call site's page is readable but not
// executable the worker waits, and it finds the site once the page can run.
TEST(WindowsFilesTest, CallSiteOnAPageThatCannotRunIsFoundOnlyOnceItCan) {
  WindowsGame game("noexec");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  ASSERT_EQ(game.Run({"--run-seconds", "60", "--exit-when", "DB live", "--code-ready-after", "3",
                      "--code-hide", "noexec"}),
            0)
      << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int waiting =
      Find(messages, "waiting for the ExecuteQuery call-site signature (code not decrypted yet)");
  EXPECT_EQ(waiting, 1) << game.Output();
  EXPECT_GT(Find(messages, "CDatabase global resolved (1)"), waiting) << game.Output();
}

// A loader that unloads the library right after loading it: the pin keeps in place the code the worker
// runs. The worker finds no call site in the loader and sleeps 2 s between its tries, so it comes back
// into the library's code twice before the loader ends.
TEST(WindowsFilesTest, LibraryUnloadedByItsLoaderStaysAndItsWorkerRunsOn) {
  WindowsGame game("pin");
  const fs::path loader = game.Folder() / "loader.exe";
  fs::copy_file(fs::path(GEARLOFT_UNLOADING_LOADER_EXE), loader);
  const fs::path output = game.Folder() / "loader.txt";
  EXPECT_EQ(platform::RunProgram(loader.u8string(), {(game.Folder() / "gearloft.dll").u8string(), "5"},
                                 output.u8string()),
            0)
      << ReadWhole(output);
  EXPECT_EQ(ReadWhole(output), "gearloft-unloading-loader: still running\r\n");
  const std::vector<std::string> messages = game.Messages();
  ASSERT_EQ(messages.size(), 2u) << ReadWhole(game.LogFile());
  EXPECT_EQ(messages[1], "waiting for the ExecuteQuery call-site signature (code not decrypted yet)");
}

TEST(WindowsFilesTest, GameGetsEachArgumentWhole) {
  WindowsGame game("arguments");
  const std::string odd = "--say \"hi\" to C:\\games\\ and \\\"x\\\\\" ";
  const std::string refused = "gearloft-devhost: The following argument was not expected: ";
  EXPECT_EQ(game.Run({odd}), 2);
  EXPECT_EQ(game.Output().rfind(refused + odd + "\r\n", 0), 0u) << game.Output();
  EXPECT_EQ(game.Run({"", "--run-seconds", "1"}), 2);
  EXPECT_EQ(game.Output().rfind(refused + "\r\n", 0), 0u) << game.Output();
  EXPECT_EQ(game.Run({"--help"}), 0);
  EXPECT_NE(game.Output().find("\r\nUsage: gearloft-devhost [OPTIONS]\r\n"), std::string::npos)
      << game.Output();
}

}  // namespace
}  // namespace gearloft::wine_e2e
