// gearloft runtime: the settings read from scripts/gearloft.ini.
// Part of the worker and runtime layer; every file access goes through the platform seam.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"

namespace gearloft {

namespace {

constexpr const char* kSection = "gearloft";

}  // namespace

int32_t ReadGarageLod(const std::string& settings_file) {
  return platform::ReadIniInt(settings_file, kSection, "garage_lod", 1);
}

void ReadTimingSettings(const std::string& settings_file, Settings* settings) {
  // Each key keeps the value already in force when it is missing, so defaults live in Settings alone.
  settings->first_call_age =
      platform::ReadIniInt(settings_file, kSection, "first_call_age", settings->first_call_age);
  settings->boot_until = platform::ReadIniInt(settings_file, kSection, "boot_until", settings->boot_until);
  settings->resend = platform::ReadIniInt(settings_file, kSection, "resend", settings->resend);
  settings->poll_ms = platform::ReadIniInt(settings_file, kSection, "poll_ms", settings->poll_ms);
  settings->snapshot = platform::ReadIniInt(settings_file, kSection, "snapshot", settings->snapshot);
}

std::vector<RaisedSetting> RaiseTimingSettings(Settings* settings) {
  struct Floor {
    const char* key;
    int32_t Settings::*field;
    int32_t lowest;
  };
  // A poll_ms of 0 had the worker list the folder and call into the game thousands of times a second.
  static const Floor kFloors[] = {
      {"first_call_age", &Settings::first_call_age, 0},
      {"boot_until", &Settings::boot_until, 0},
      {"resend", &Settings::resend, 1},
      {"poll_ms", &Settings::poll_ms, 50},
  };
  std::vector<RaisedSetting> raised;
  for (const Floor& floor : kFloors) {
    int32_t& value = settings->*floor.field;
    if (value >= floor.lowest) continue;
    raised.push_back(RaisedSetting{floor.key, value, floor.lowest});
    value = floor.lowest;
  }
  return raised;
}

}  // namespace gearloft
