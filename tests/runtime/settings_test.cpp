// gearloft runtime tests: the executable folder, the file paths and the settings file.
#include <gtest/gtest.h>

#include <string>

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

TEST(SettingsFile, PollOnlyGivesDefaultsForEverythingElse) {
  GameFolder folder;
  folder.WriteSettings("[gearloft]\npoll_ms = 500\n");
  Settings settings;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  EXPECT_EQ(settings.first_call_age, 60);
  EXPECT_EQ(settings.boot_until, 150);
  EXPECT_EQ(settings.resend, 5);
  EXPECT_EQ(settings.poll_ms, 500);
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 1);
}

TEST(SettingsFile, EveryKeyIsReadWhateverItsCase) {
  GameFolder folder;
  folder.WriteSettings(
      "[GearLoft]\nGarage_LOD = 0\nfirst_call_age = 7\nBoot_Until = 8\nRESEND = 9\npoll_ms = 10\n");
  Settings settings;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  EXPECT_EQ(settings.first_call_age, 7);
  EXPECT_EQ(settings.boot_until, 8);
  EXPECT_EQ(settings.resend, 9);
  EXPECT_EQ(settings.poll_ms, 10);
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 0);
}

TEST(SettingsFile, MissingFileKeepsTheValuesInForce) {
  GameFolder folder;
  Settings settings;
  settings.first_call_age = 1;
  settings.boot_until = 2;
  settings.resend = 3;
  settings.poll_ms = 4;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  EXPECT_EQ(settings.first_call_age, 1);
  EXPECT_EQ(settings.boot_until, 2);
  EXPECT_EQ(settings.resend, 3);
  EXPECT_EQ(settings.poll_ms, 4);
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 1);
}

TEST(SettingsFile, KeysOfAnotherSectionAreIgnored) {
  GameFolder folder;
  folder.WriteSettings("[other]\ngarage_lod = 0\nresend = 1\n[gearloft]\nboot_until = 200\n");
  Settings settings;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  EXPECT_EQ(settings.resend, 5);
  EXPECT_EQ(settings.boot_until, 200);
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 1);
}

}  // namespace
}  // namespace gearloft
