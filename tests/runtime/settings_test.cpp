// gearloft runtime tests: the executable folder, the file paths and the settings file.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "runtime_test_support.h"

namespace gearloft {
namespace {

using test::GameFolder;

TEST(ExecutableFolder, BackslashPathIsCutAtItsLastBackslash) {
  EXPECT_EQ(ExecutableFolder("C:\\Games\\Racer\\game.exe"), "C:\\Games\\Racer");
}

TEST(ExecutableFolder, SlashPathIsCutAtItsLastSlash) {
  EXPECT_EQ(ExecutableFolder("/opt/games/racer/game"), "/opt/games/racer");
}

TEST(ExecutableFolder, MixedSeparatorsAreCutAtTheLastOfEither) {
  EXPECT_EQ(ExecutableFolder("C:\\Games/Racer\\game.exe"), "C:\\Games/Racer");
  EXPECT_EQ(ExecutableFolder("C:\\Games\\Racer/game.exe"), "C:\\Games\\Racer");
}

TEST(ExecutableFolder, PathWithoutSeparatorIsKeptWhole) {
  EXPECT_EQ(ExecutableFolder("game.exe"), "game.exe");
}

TEST(ExecutableFolder, TrailingSeparatorLeavesTheFolder) {
  EXPECT_EQ(ExecutableFolder("D:\\Racer\\"), "D:\\Racer");
}

TEST(PathsFor, EveryFileSitsUnderTheScriptsFolderBesideTheExecutable) {
  const std::string s = platform::PathSeparator();
  const Paths paths = PathsFor("base");
  EXPECT_EQ(paths.settings_file, "base" + s + "scripts" + s + "gearloft.ini");
  EXPECT_EQ(paths.watched_folder, "base" + s + "scripts" + s + "tunebay");
  EXPECT_EQ(paths.log_file, "base" + s + "scripts" + s + "tunebay" + s + "gearloft.log");
  EXPECT_EQ(paths.previous_log, "base" + s + "scripts" + s + "tunebay" + s + "gearloft.log.1");
  EXPECT_EQ(paths.plan_file, "base" + s + "scripts" + s + "tunebay" + s + "gearloft.plan.sql");
}

// The four timing settings in the order they are read, for one comparison.
std::array<int32_t, 4> Timing(const Settings& settings) {
  return {settings.first_call_age, settings.boot_until, settings.resend, settings.poll_ms};
}

// The timing settings read from `content` over the defaults, and garage_lod.
std::pair<std::array<int32_t, 4>, int32_t> ReadFrom(const std::string& content) {
  GameFolder folder;
  folder.WriteSettings(content);
  Settings settings;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  return {Timing(settings), ReadGarageLod(folder.paths().settings_file)};
}

TEST(SettingsFile, PollOnlyGivesDefaultsForEverythingElse) {
  const auto [timing, garage_lod] = ReadFrom("[gearloft]\npoll_ms = 500\n");
  EXPECT_EQ(timing, (std::array<int32_t, 4>{60, 150, 5, 500}));
  EXPECT_EQ(garage_lod, 1);
}

TEST(SettingsFile, EveryKeyIsReadWhateverItsCase) {
  const auto [timing, garage_lod] =
      ReadFrom("[GearLoft]\nGarage_LOD = 0\nfirst_call_age = 7\nBoot_Until = 8\nRESEND = 9\npoll_ms = 10\n");
  EXPECT_EQ(timing, (std::array<int32_t, 4>{7, 8, 9, 10}));
  EXPECT_EQ(garage_lod, 0);
}

TEST(SettingsFile, KeysOfAnotherSectionAreIgnored) {
  const auto [timing, garage_lod] =
      ReadFrom("[other]\ngarage_lod = 0\nresend = 1\n[gearloft]\nboot_until = 200\n");
  EXPECT_EQ(timing, (std::array<int32_t, 4>{60, 200, 5, 2000}));
  EXPECT_EQ(garage_lod, 1);
}

TEST(SettingsFile, MissingFileKeepsTheValuesInForce) {
  GameFolder folder;
  Settings settings;
  settings.first_call_age = 1;
  settings.boot_until = 2;
  settings.resend = 3;
  settings.poll_ms = 4;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  EXPECT_EQ(Timing(settings), (std::array<int32_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 1);
}

}  // namespace
}  // namespace gearloft
