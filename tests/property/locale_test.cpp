// Locale test in the simulated game: generated script histories (load, edits re-applied in place, every
// script deleted) send byte for byte the same statements, write the same plan file and log the same
// messages whether the process runs in the C locale or in a comma-decimal one (de_DE.UTF-8, fr_FR.UTF-8),
// as the game's process may.

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "compiler/loader.h"
#include "property_support.h"

namespace gearloft::property {
namespace {

constexpr size_t kCases = 100;

std::string Bits(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return std::to_string(bits);
}

// Everything the system writes during one history, one line per item, in order.
std::vector<std::string> RunHistory(const std::vector<FixtureCar>& cars, uint64_t seed,
                                    WatchedScripts* folder) {
  std::vector<std::string> lines;
  const size_t first_log_line = folder->LogMessages(0).size();
  FreshGame game;
  if (!game.ok()) return {"no game"};
  game.RecordStatements();

  Rng rng(seed);
  ScriptGenerator generator(cars, &rng);
  ScriptSet set = generator.NewSet();
  std::vector<ScriptSet> saves{set};
  const int edits = rng.Between(1, 3);
  for (int i = 0; i < edits; ++i) {
    generator.Edit(&set);
    saves.push_back(set);
  }
  saves.push_back(ScriptSet{});

  Plan plan;
  for (size_t i = 0; i < saves.size(); ++i) {
    folder->Write(saves[i]);
    plan = i == 0 ? LoadPlan(ListScripts(), PreviousRowIds{}) : ReapplyInPlace(plan, ListScripts()).plan;
    const bool applied = ApplyPlan(plan);
    lines.push_back("plan file:\n" + folder->ReadFile("gearloft.plan.sql"));
    for (const PlanStatement& statement : plan.statements) lines.push_back("statement: " + statement);
    for (const PlanStatement& statement : plan.undo) lines.push_back("undo: " + statement);
    for (const ReadBackCheck& check : plan.checks)
      lines.push_back("check: " + check.sql + " = " + Bits(check.want));
    for (const std::string& sent : game.TakeStatements()) lines.push_back("sent: " + sent);
    lines.push_back(std::string("applied: ") + (applied ? "yes" : "no"));
  }
  for (const std::string& message : folder->LogMessages(first_log_line)) lines.push_back("log: " + message);
  return lines;
}

class LocaleTest : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_P(LocaleTest, EveryStatementPlanFileAndLogLineIsTheSameAsInTheCLocale) {
  WatchedScripts folder;
  std::vector<FixtureCar> cars;
  {
    FreshGame game;
    ASSERT_TRUE(game.ok());
    cars = game.Cars();
  }
  const char* locale = GetParam();
  if (std::setlocale(LC_ALL, locale) == nullptr) {
    GTEST_SKIP() << "the " << locale << " locale is not installed here (tools/test generates it)";
  }
  // Without a comma for the decimal point the comparison would prove nothing.
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  std::setlocale(LC_ALL, "C");

  size_t cases = 0;
  size_t lines = 0;
  for (uint64_t seed : PropertySeeds(3, kCases)) {
    ++cases;
    std::setlocale(LC_ALL, "C");
    const std::vector<std::string> want = RunHistory(cars, seed, &folder);
    std::setlocale(LC_ALL, locale);
    const std::vector<std::string> got = RunHistory(cars, seed, &folder);
    std::setlocale(LC_ALL, "C");
    lines += want.size();
    if (got == want) continue;
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    FAIL() << "under " << locale << ", " << ReplayHint(seed) << ", item " << at
           << " differs:\n  C: " << (at < want.size() ? want[at] : "(nothing)") << "\n  " << locale << ": "
           << (at < got.size() ? got[at] : "(nothing)");
  }
  std::printf("locale %s: %zu histories, %zu items compared\n", locale, cases, lines);
}

INSTANTIATE_TEST_SUITE_P(CommaLocales, LocaleTest, ::testing::Values("de_DE.UTF-8", "fr_FR.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param).substr(0, 5);
                         });

}  // namespace
}  // namespace gearloft::property
