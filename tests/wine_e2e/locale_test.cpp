// gearloft Windows locale test: a game that switches its whole process to German (decimal comma) before
// the library starts must receive exactly the statements, and get exactly the plan file, that a game left
// in the C locale does.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

// The simulated game's own query, sent from its main thread once a second: how many of them land in
// the trace depends on timing, so they are left out.
const char kGameTick[] = "SELECT COUNT(*) FROM Data_Car";

// A script added while the game runs, with decimals in every place a number can have one.
const char kDecimalScript[] =
    "; decimals\r\n[0042]\r\ntrack_spacings_front = 1.625, 1.7\r\nride_drop_front = 0.0125\r\n"
    "track_front_stock = 0.015\r\n";

struct History {
  std::string locale_line;  // what the game printed about its locale ("" when none was set)
  std::string plan_after_load;
  std::string plan_after_edit;
  std::string trace;                  // every statement the library sent, in order
  std::vector<std::string> messages;  // the log from "DB live" to the edit's "applied" line
  std::vector<std::string> dump;      // the game's tables after the edit
};

// The rows only one of two sorted dumps holds, to say where they differ.
std::string RowsOfOneOnly(const std::vector<std::string>& german, const std::vector<std::string>& c_locale) {
  std::vector<std::string> german_only;
  std::vector<std::string> c_only;
  std::set_difference(german.begin(), german.end(), c_locale.begin(), c_locale.end(),
                      std::back_inserter(german_only));
  std::set_difference(c_locale.begin(), c_locale.end(), german.begin(), german.end(),
                      std::back_inserter(c_only));
  std::string text;
  for (const std::string& row : german_only) text += "German only: " + row + "\n";
  for (const std::string& row : c_only) text += "C only: " + row + "\n";
  return text;
}

// Loads the example scripts, adds one with decimals while the game runs, and records what the game saw.
void Play(const std::string& name, const std::vector<std::string>& flags, History* history) {
  WindowsGame game(name);
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  ASSERT_FALSE(game.CopyExamples().empty());
  const fs::path trace = game.Folder() / "queries.trace";
  std::vector<std::string> arguments = flags;
  arguments.push_back("--trace-queries");
  arguments.push_back(trace.u8string());
  game.Start(arguments);

  const int applied = game.WaitFor("applied ");
  ASSERT_GE(applied, 0) << game.Output();
  history->plan_after_load = ReadWhole(game.PlanFile());
  game.WriteScript("decimals.ini", kDecimalScript);
  const int changed = game.WaitFor("folder changed - re-applying in place", applied + 1);
  ASSERT_GT(changed, applied) << game.Output();
  const int reapplied = game.WaitFor("applied ", changed);
  ASSERT_GT(reapplied, changed) << game.Output();
  // "applied" is logged after the read-back: the trace holds every statement of the history by now.
  history->plan_after_edit = ReadWhole(game.PlanFile());
  history->trace = TraceWithout(ReadWhole(trace), kGameTick);
  const std::vector<std::string> messages = game.Messages();
  const int live = Find(messages, "DB live");
  ASSERT_GE(live, 0);
  history->messages.assign(messages.begin() + live, messages.begin() + reapplied + 1);
  {
    // Read while the game idles after the edit: the stop that ends it starts another pass, which may be
    // anywhere when the game exits.
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    history->dump = DumpLines(db.Dump());
    EXPECT_EQ(db.Error(), "");
  }
  EXPECT_EQ(game.Stop(), 0) << game.Output();

  const std::string output = game.Output();
  const size_t locale = output.find("devhost: locale ");
  if (locale != std::string::npos)
    history->locale_line = output.substr(locale, output.find('\n', locale) - locale);
}

TEST(WindowsLocaleTest, GermanGameGetsTheSameStatementsAndPlanFileAsTheCLocale) {
  History c_locale;
  ASSERT_NO_FATAL_FAILURE(Play("locale-c", {}, &c_locale));
  History german;
  ASSERT_NO_FATAL_FAILURE(Play("locale-de", {"--locale", "German"}, &german));

  // The game must really have switched to a decimal comma, or the comparison proves nothing.
  EXPECT_EQ(c_locale.locale_line, "");
  ASSERT_NE(german.locale_line.find("decimal point ','"), std::string::npos) << german.locale_line;

  // The history did write decimals: a plan without them would pass in any locale.
  EXPECT_NE(c_locale.plan_after_edit.find("1.625"), std::string::npos) << c_locale.plan_after_edit;
  EXPECT_NE(c_locale.trace.find("1.625"), std::string::npos);
  EXPECT_NE(c_locale.plan_after_load, c_locale.plan_after_edit);

  EXPECT_EQ(german.plan_after_load, c_locale.plan_after_load);
  EXPECT_EQ(german.plan_after_edit, c_locale.plan_after_edit);
  EXPECT_EQ(german.trace, c_locale.trace);
  EXPECT_EQ(german.messages, c_locale.messages);
  EXPECT_EQ(german.dump, c_locale.dump) << RowsOfOneOnly(german.dump, c_locale.dump);
}

}  // namespace
}  // namespace gearloft::wine_e2e
