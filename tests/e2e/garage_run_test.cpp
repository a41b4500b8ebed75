// gearloft end-to-end tests of the garage detail fix as the worker runs it at start-up inside the
// simulated game, on a player configuration under a temporary LOCALAPPDATA given to the game's process.
#include <gtest/gtest.h>

#if defined(GEARLOFT_DEVHOST_EXE) && defined(GEARLOFT_LIBRARY_FILE)

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/game_folder.h"
#include "platform/testing.h"
#include "support/support.h"

namespace gearloft {
namespace {

using e2e::GameFolder;
namespace fs = std::filesystem;

const char kGarageSettings[] =
    "garage_lod = 1\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 100\r\n";

fs::path ConfigUnder(const fs::path& local_app_data) {
  return local_app_data / "VelatrixRally" / "LocalStorage_Shared" / "VelatrixUserConfigSelections" /
         "UserConfigSelections";
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

// The banner, then the garage message, then the signature wait's result: the fix ran before anything
// touched the database.
void ExpectGarageMessageAfterBanner(const GameFolder& game, const std::string& message) {
  const std::vector<std::string> messages = game.Messages();
  ASSERT_GE(messages.size(), 3u) << game.Output();
  EXPECT_EQ(messages[0].rfind("gearloft 0.1.0 - watching ", 0), 0u) << messages[0];
  const std::string banner_end = "tunebay (first DB call at 0s, boot re-send until 0s)";
  EXPECT_EQ(messages[0].substr(messages[0].size() - banner_end.size()), banner_end);
  EXPECT_EQ(messages[1], message);
  EXPECT_EQ(messages[2], "CDatabase global resolved (1)");
}

TEST(GarageRunTest, FixRunsAtStartAndItsMessageFollowsTheBanner) {
  GameFolder game("garage");
  game.WriteSettings(kGarageSettings);
  const fs::path local_app_data = game.Folder() / "LocalAppData";
  const fs::path config = ConfigUnder(local_app_data);
  WriteFile(config,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<selections>\r\n"
            "  <CarFocusLODMinMax isDynamic=\"1\" dynamicValue=\"Low\"/>\r\n"
            "  <UseDynamicOptimization value=\"1\"/>\r\n"
            "  <option id=\"CarLOD\" value=\"2\" hint=\"medium\"/>\r\n"
            "  </selections>\r\n");
  test::ScopedEnvironment environment("LOCALAPPDATA", local_app_data.string());
  ASSERT_TRUE(environment.Set());

  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ExpectGarageMessageAfterBanner(
      game, "garage LOD: forced Extreme (CarLOD=4, garage focus car Extreme, dynamic off)");
  EXPECT_EQ(test::ReadWhole(config),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<selections>\r\n"
            "  <CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>\r\n"
            "  <UseDynamicOptimization value=\"0\"/>\r\n"
            "  <option id=\"CarLOD\" value=\"4\"/>\r\n"
            "    <option id=\"UseDynamicOptimization\" value=\"0\"/>\n"
            "  </selections>\r\n");
  EXPECT_FALSE(fs::exists(config.string() + ".gearloft"));

  // The next start finds nothing to change and leaves the file alone.
  const std::string fixed = test::ReadWhole(config);
  const fs::file_time_type written = fs::last_write_time(config);
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ExpectGarageMessageAfterBanner(
      game, "garage LOD: already Extreme (CarLOD=4, CarFocusLODMinMax=Extreme, dynamic off)");
  EXPECT_EQ(test::ReadWhole(config), fixed);
  EXPECT_EQ(fs::last_write_time(config), written);
}

TEST(GarageRunTest, ElementTooLongToSearchLeavesTheConfigUntouchedAndTheGameRunning) {
  GameFolder game("garage-long");
  game.WriteSettings(kGarageSettings);
  const fs::path local_app_data = game.Folder() / "LocalAppData";
  const fs::path config = ConfigUnder(local_app_data);
  const std::string original = "<selections>\n  <CarFocusLODMinMax note=\"" + std::string(100000, 'x') +
                               "\"/>\n  <option id=\"CarLOD\" value=\"2\"/>\n</selections>\n";
  WriteFile(config, original);
  test::ScopedEnvironment environment("LOCALAPPDATA", local_app_data.string());
  ASSERT_TRUE(environment.Set());

  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ExpectGarageMessageAfterBanner(
      game,
      "garage LOD: <CarFocusLODMinMax element longer than 256 characters, too long "
      "to search safely; config left untouched");
  EXPECT_EQ(test::ReadWhole(config), original);
  EXPECT_FALSE(fs::exists(config.string() + ".gearloft"));
}

TEST(GarageRunTest, MissingConfigIsReportedAfterTheBanner) {
  GameFolder game("garage-missing");
  game.WriteSettings(kGarageSettings);
  test::ScopedEnvironment environment("LOCALAPPDATA", (game.Folder() / "LocalAppData").string());
  ASSERT_TRUE(environment.Set());
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ExpectGarageMessageAfterBanner(game, "garage LOD: cannot read UserConfigSelections");
}

TEST(GarageRunTest, UnsetLocalAppDataIsReportedAfterTheBanner) {
  GameFolder game("garage-unset");
  game.WriteSettings(kGarageSettings);
  test::ScopedEnvironment environment("LOCALAPPDATA", "");
  ASSERT_TRUE(environment.Set());
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  ExpectGarageMessageAfterBanner(game, "garage LOD: no LOCALAPPDATA");
}

TEST(GarageRunTest, SettingZeroSkipsTheFix) {
  GameFolder game("garage-off");
  const fs::path local_app_data = game.Folder() / "LocalAppData";
  const fs::path config = ConfigUnder(local_app_data);
  const std::string original = "<selections>\n  <option id=\"CarLOD\" value=\"2\"/>\n</selections>\n";
  WriteFile(config, original);
  test::ScopedEnvironment environment("LOCALAPPDATA", local_app_data.string());
  ASSERT_TRUE(environment.Set());
  ASSERT_TRUE(game.Run("DB live", {})) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  ASSERT_GE(messages.size(), 2u) << game.Output();
  EXPECT_EQ(messages[1], "CDatabase global resolved (1)");
  EXPECT_EQ(test::ReadWhole(config), original);
}

}  // namespace
}  // namespace gearloft

#endif  // GEARLOFT_DEVHOST_EXE && GEARLOFT_LIBRARY_FILE
