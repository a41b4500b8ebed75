// gearloft runtime tests: the commented settings file shipped in the release zip (packaging/gearloft.ini)
// read by the settings reader, as written and with the CR LF line ends the zip gives it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <regex>
#include <string>

#include "runtime/runtime.h"
#include "runtime_test_support.h"
#include "support/support.h"

namespace gearloft {
namespace {

using test::GameFolder;
using test::ReadWhole;

std::string PackagedSettings() {
  return ReadWhole(std::string(GEARLOFT_SOURCE_DIR) + "/packaging/gearloft.ini");
}

std::string WithCrLf(const std::string& text) {
  return std::regex_replace(text, std::regex("\n"), "\r\n");
}

// The timing settings read from `content` over values that are none of the defaults, so a setting the
// file does not give shows.
std::array<int32_t, 4> TimingReadOverOddValues(const std::string& content) {
  GameFolder folder;
  folder.WriteSettings(content);
  Settings settings;
  settings.first_call_age = 1;
  settings.boot_until = 2;
  settings.resend = 3;
  settings.poll_ms = 4;
  ReadTimingSettings(folder.paths().settings_file, &settings);
  return {settings.first_call_age, settings.boot_until, settings.resend, settings.poll_ms};
}

TEST(PackagedSettingsFile, GivesEveryTimingSettingItsDefault) {
  const std::string content = PackagedSettings();
  ASSERT_FALSE(content.empty());
  const std::array<int32_t, 4> defaults = {60, 150, 5, 2000};
  EXPECT_EQ(TimingReadOverOddValues(content), defaults);
  EXPECT_EQ(TimingReadOverOddValues(WithCrLf(content)), defaults);
}

TEST(PackagedSettingsFile, TurnsTheGarageFixOnAsItsDefault) {
  const std::string content = PackagedSettings();
  // The reader's own default is also 1: the line itself must be there.
  EXPECT_TRUE(std::regex_search(content, std::regex("\ngarage_lod = 1\n"))) << content;
  GameFolder folder;
  folder.WriteSettings(WithCrLf(content));
  EXPECT_EQ(ReadGarageLod(folder.paths().settings_file), 1);
}

}  // namespace
}  // namespace gearloft
