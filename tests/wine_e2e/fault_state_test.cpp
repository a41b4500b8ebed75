// gearloft Windows fault-state tests: what a fault the guard catches leaves behind in the worker, and
// that normal work raises no exception at all for the game's own handlers to see.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

const char kGameTick[] = "SELECT COUNT(*) FROM Data_Car";
// A car look-up of the example looks.ini, made while its script compiles.
const char kLookUp[] = "SELECT Id, MediaName FROM Data_Car WHERE MediaName = 'Pica_Sport'";

struct GameRun {
  std::vector<std::string> messages;  // the log from "DB live" to the "applied" line
  std::string plan;
  std::string trace;
  std::vector<std::string> dump;
  std::string output;
};

void Play(const std::string& name, const std::vector<std::string>& flags, GameRun* run) {
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
  run->plan = ReadWhole(game.PlanFile());
  run->trace = TraceWithout(ReadWhole(trace), kGameTick);
  const std::vector<std::string> messages = game.Messages();
  const int live = Find(messages, "DB live");
  ASSERT_GE(live, 0);
  run->messages.assign(messages.begin() + live, messages.begin() + applied + 1);
  {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    run->dump = DumpLines(db.Dump());
    EXPECT_EQ(db.Error(), "");
  }
  EXPECT_EQ(game.Stop(), 0) << game.Output();
  run->output = game.Output();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A look-up that faults with the direction flag set, MXCSR rounding toward zero with flush-to-zero and
// the x87 unit at single precision must leave the worker exactly where the same fault with a clean CPU
// leaves it: same log, plan file, statements and tables, and no later call brings the game a changed CPU.
TEST(FaultStateTest, FaultWithADirtyCpuEndsAsTheSameFaultWithACleanOne) {
  GameRun clean;
  ASSERT_NO_FATAL_FAILURE(Play("fault-clean-cpu", {"--fault-on", kLookUp}, &clean));
  GameRun dirty;
  ASSERT_NO_FATAL_FAILURE(Play("fault-dirty-cpu", {"--fault-dirty-cpu", kLookUp}, &dirty));

  // The fault struck, and the rest of the plan still holds decimals the rounding mode could change.
  EXPECT_NE(clean.trace.find(kLookUp), std::string::npos);
  EXPECT_NE(Find(clean.messages, "ERROR looks.ini"), -1) << Joined(clean.messages);
  EXPECT_NE(clean.plan.find(",2.72,"), std::string::npos) << clean.plan;

  // Every call after the fault found the worker's CPU as before it.
  const std::string unchanged =
      "devhost: 0 call(s) found the caller's CPU state changed since its first call";
  EXPECT_NE(clean.output.find(unchanged), std::string::npos) << clean.output;
  EXPECT_NE(dirty.output.find(unchanged), std::string::npos) << dirty.output;
  EXPECT_EQ(dirty.messages, clean.messages) << Joined(dirty.messages);
  EXPECT_EQ(dirty.plan, clean.plan);
  EXPECT_EQ(dirty.trace, clean.trace);
  EXPECT_EQ(dirty.dump, clean.dump);
}

// Every first-chance exception reaches the game's vectored handlers (and an anti-cheat's): a clean run
// of the example scripts raises none.
TEST(FaultStateTest, CleanRunOfTheExamplesRaisesNoException) {
  GameRun run;
  ASSERT_NO_FATAL_FAILURE(Play("no-exception", {}, &run));
  EXPECT_EQ(Find(run.messages, "ERROR"), -1) << Joined(run.messages);
  std::smatch count;
  ASSERT_TRUE(std::regex_search(run.output, count, std::regex("devhost: (\\d+) exception\\(s\\) raised")))
      << run.output;
  EXPECT_EQ(count[1].str(), "0") << run.output;
}

// The count does see exceptions: a run whose look-up faults counts at least that fault.
TEST(FaultStateTest, FaultingLookUpIsCounted) {
  GameRun run;
  ASSERT_NO_FATAL_FAILURE(Play("one-exception", {"--fault-on", kLookUp}, &run));
  std::smatch count;
  ASSERT_TRUE(std::regex_search(run.output, count, std::regex("devhost: (\\d+) exception\\(s\\) raised")))
      << run.output;
  EXPECT_GE(std::stoi(count[1].str()), 1) << run.output;
}

}  // namespace
}  // namespace gearloft::wine_e2e
