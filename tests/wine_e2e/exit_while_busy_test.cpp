// gearloft Windows end-to-end tests: the game ends while the worker is busy inside a call into the game
// holding the bridge mutex, writing a run of log lines, or loading and applying scripts, at a moment drawn
// at random within that work; every exit must complete within 2 s. GEARLOFT_ROBUST_FULL=1 makes 200
// exits, otherwise 6.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The game prints this just before its main function returns; what follows is the process's exit.
const char kLastGameLine[] = " ExecuteQuery call(s)";
constexpr double kExitLimitSeconds = 2.0;
constexpr int kFailingScripts = 400;

enum class Busy {
  kGuardedCall,   // the worker's probe blocks inside the game's ExecuteQuery, the bridge mutex held
  kLogWrites,     // hundreds of scripts fail, one ERROR line each
  kLoadAndApply,  // the example scripts load and apply
};
const char* const kBusyNames[] = {"a blocked guarded call", "log writes", "a load and apply"};

bool FullRun() {
  const char* full = std::getenv("GEARLOFT_ROBUST_FULL");
  return full != nullptr && std::string(full) == "1";
}

int CountPrefix(const std::vector<std::string>& messages, const std::string& prefix) {
  int count = 0;
  for (const std::string& message : messages) count += message.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

struct ExitOutcome {
  int exit_code = -1;
  double exit_seconds = -1;  // from the game's last line to the end of its process; -1: never seen
  bool busy = false;         // the worker was still at its work when the game ended
};

// The game ends as soon as its echo of the log (every 50 ms) shows `exit_when`, a line the worker writes
// in the middle of its work: the worker is then inside the rest of it.
ExitOutcome EndGameWhileBusy(Busy busy, std::mt19937* random) {
  WindowsGame game("exit");
  std::string error;
  ExitOutcome outcome;
  EXPECT_TRUE(game.MakeDatabase(&error)) << error;
  std::vector<std::string> arguments = {"--run-seconds", "60"};
  std::string exit_when;
  if (busy == Busy::kGuardedCall) {
    // The probe is the first statement naming the table; it blocks, the bridge mutex held, until the end.
    arguments.insert(arguments.end(), {"--block-on", "List_UpgradeRimSizeFront", "--block-seconds", "60"});
    exit_when = "probing: ";
    game.CopyExamples();
  } else if (busy == Busy::kLogWrites) {
    for (int i = 0; i < kFailingScripts; ++i) {
      game.WriteScript("bad_" + std::to_string(1000 + i) + ".ini",
                       "[NoSuchCar_" + std::to_string(i) + "]\r\nrim_sizes = 18\r\n");
    }
    exit_when = "ERROR bad_" + std::to_string(1000 + (*random)() % (kFailingScripts / 2)) + ".ini";
  } else {
    std::vector<std::string> names = game.CopyExamples();
    std::sort(names.begin(), names.end());
    exit_when = "loaded " + names[(*random)() % (names.size() - 1)];
    // Tables in memory take the whole apply in less time than the game's echo of the log needs to see
    // the line: every write going to the file as well keeps the worker at it long enough.
    arguments.push_back("--persist");
  }
  arguments.insert(arguments.end(), {"--exit-when", exit_when});
  game.StartWith(arguments);
  Clock::time_point last_line;
  bool seen = false;
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(90);
  while (!seen && Clock::now() < give_up) {
    seen = game.Output().find(kLastGameLine) != std::string::npos;
    if (seen) {
      last_line = Clock::now();
    } else {
      platform::SleepMs(5);
    }
  }
  outcome.exit_code = game.Wait();
  if (seen) outcome.exit_seconds = std::chrono::duration<double>(Clock::now() - last_line).count();
  const std::vector<std::string> messages = game.Messages();
  switch (busy) {
    case Busy::kGuardedCall:
      outcome.busy = CountPrefix(messages, "probing: ") == 1 && CountPrefix(messages, "DB live") == 0;
      break;
    case Busy::kLogWrites:
      outcome.busy = CountPrefix(messages, "ERROR bad_") < kFailingScripts;
      break;
    case Busy::kLoadAndApply:
      outcome.busy = CountPrefix(messages, "applied ") == 0;
      break;
  }
  if (outcome.exit_seconds < 0 || outcome.exit_seconds >= kExitLimitSeconds || outcome.exit_code != 0) {
    ADD_FAILURE() << "ended on \"" << exit_when << "\" while busy with " << kBusyNames[static_cast<int>(busy)]
                  << ": exit code " << outcome.exit_code << ", exit took " << outcome.exit_seconds << " s\n"
                  << game.Output();
  }
  return outcome;
}

TEST(ExitWhileBusyTest, EveryExitWhileTheWorkerWorksCompletesWithinTwoSeconds) {
  const int exits = FullRun() ? 200 : 6;
  const unsigned seed = 20240611u;
  std::mt19937 random(seed);
  int completed = 0;
  int busy_exits[3] = {0, 0, 0};
  double slowest = 0;
  for (int i = 0; i < exits; ++i) {
    const Busy busy = static_cast<Busy>(i % 3);
    const ExitOutcome outcome = EndGameWhileBusy(busy, &random);
    if (outcome.exit_code == 0 && outcome.exit_seconds >= 0 && outcome.exit_seconds < kExitLimitSeconds) {
      ++completed;
    }
    if (outcome.busy) ++busy_exits[static_cast<int>(busy)];
    if (outcome.exit_seconds > slowest) slowest = outcome.exit_seconds;
  }
  std::printf(
      "[ robust   ] %d exit(s) (seed %u), %d completed within %.0f s, slowest %.3f s; worker still busy "
      "with %s: %d, %s: %d, %s: %d\n",
      exits, seed, completed, kExitLimitSeconds, slowest, kBusyNames[0], busy_exits[0], kBusyNames[1],
      busy_exits[1], kBusyNames[2], busy_exits[2]);
  EXPECT_EQ(completed, exits);
  // Every game must end while the worker works, or this proves nothing about exits while busy.
  EXPECT_EQ(busy_exits[0] + busy_exits[1] + busy_exits[2], exits);
}

}  // namespace
}  // namespace gearloft::wine_e2e
