// gearloft runtime tests: the worker's waits and main loop driven by test doubles and a fake clock, read
// back from the log they write.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "compiler/loader.h"
#include "runtime/runtime.h"
#include "runtime_test_support.h"

namespace gearloft {
namespace {

constexpr const char* kResolved = "CDatabase global resolved (2)";
constexpr const char* kProbing = "probing: 2 candidates at 0x10, 0x20";
constexpr const char* kLive = "DB live";
constexpr const char* kWaiting = "waiting for the ExecuteQuery call-site signature (code not decrypted yet)";
constexpr const char* kWarning =
    "WARNING: no signature after 180 s - a game patch may have moved it; nothing will be written";
constexpr const char* kReprobe1 = "rows not visible after apply - re-probing CDatabase (attempt 1/3)";
constexpr const char* kReprobe2 = "rows not visible after apply - re-probing CDatabase (attempt 2/3)";
constexpr const char* kHold = "ERROR: apply missed 3 times in a row - holding until scripts\\tunebay changes";
constexpr const char* kChanged = "folder changed - re-applying in place";
constexpr const char* kApplied = "applied 2 statement(s) from 1 file(s), all read back";

constexpr uint64_t kClockStart = 1000000;  // the tick count of a machine that has been up a while

Plan PlanOf(size_t statements) {
  Plan plan;
  for (size_t i = 0; i < statements; ++i) {
    plan.statements.push_back("UPDATE Data_Car SET Price = " + std::to_string(i) + " WHERE Id = 3");
    plan.undo.push_back("UPDATE Data_Car SET Price = 0 WHERE Id = 3");
    plan.checks.push_back(ReadBackCheck{"SELECT Price FROM Data_Car WHERE Id = 3", static_cast<double>(i)});
  }
  return plan;
}

// The game, its database and its script folder as the loop sees them, on a clock that moves only when
// the loop sleeps. Every collaborator answers from the scripted queues below (an empty queue: success).
class FakeGame {
 public:
  // Settings that reach the main loop at once: no age wait.
  Settings settings;
  uint64_t now = kClockStart;
  double age_at_start = 60.0;
  // Asked after every sleep; true asks the worker to stop. Without it the worker stops after 1000 sleeps.
  std::function<bool()> stop_when;

  std::deque<bool> scan_answers;
  std::deque<bool> probe_answers;
  std::deque<bool> apply_answers;
  // Re-applies that did not land (the plan returned is then the old one); an empty queue: landed.
  std::deque<ReapplyResult> reapply_answers;
  // Listings handed out one per call; the last one is repeated.
  std::deque<ScriptListing> listings{{{"car.ini", 7}}};
  Plan loaded_plan = PlanOf(2);
  Plan reapplied_plan = PlanOf(2);
  std::function<void()> on_list;  // runs at the start of each listing, e.g. to throw

  bool current = false;
  std::vector<uint32_t> sleeps;
  int scans = 0;
  int probes = 0;
  int clears = 0;
  int lists = 0;
  std::vector<uint64_t> list_times;
  std::vector<ScriptListing> loads;
  std::vector<ScriptListing> reapplies;
  std::vector<Plan> reapplied_from;
  std::vector<bool> reapplied_rewriting;
  std::vector<double> apply_ages;
  std::vector<int32_t> apply_generations;
  int watchdog_starts = 0;
  double age_at_watchdog_start = -1.0;

  FakeGame() { settings.first_call_age = 0; }

  double Age() const { return age_at_start + static_cast<double>(now - kClockStart) / 1000.0; }
  uint64_t Elapsed() const { return now - kClockStart; }

  WorkerDeps Deps() {
    WorkerDeps deps;
    deps.tick_ms = [this] { return now; };
    deps.sleep_ms = [this](uint32_t ms) {
      sleeps.push_back(ms);
      now += ms;
      if ((stop_when && stop_when()) || sleeps.size() >= 1000) RequestWorkerStop();
    };
    deps.process_age = [this] { return Age(); };
    deps.fix_garage_lod = [] { return std::string(); };
    deps.scan_for_candidates = [this] {
      ++scans;
      return Next(&scan_answers);
    };
    deps.candidate_count = [] { return size_t{2}; };
    deps.has_current = [this] { return current; };
    deps.describe_candidates = [] { return std::string("2 candidates at 0x10, 0x20"); };
    deps.probe_candidates = [this](std::string* message) {
      ++probes;
      current = Next(&probe_answers);
      if (!current) *message = "no answer at " + std::to_string(Elapsed());
      return current;
    };
    deps.list_scripts = [this] {
      if (on_list) on_list();
      ++lists;
      list_times.push_back(now);
      ScriptListing listing = listings.front();
      if (listings.size() > 1) listings.pop_front();
      return listing;
    };
    deps.load_plan = [this](const ScriptListing& listing, const PreviousRowIds& previous) {
      EXPECT_TRUE(previous.empty());
      loads.push_back(listing);
      return listing.empty() ? Plan() : loaded_plan;
    };
    deps.reapply_in_place = [this](const Plan& old_plan, const ScriptListing& listing, bool rewrite_kept) {
      reapplied_from.push_back(old_plan);
      reapplies.push_back(listing);
      reapplied_rewriting.push_back(rewrite_kept);
      ReapplyResult result = Next(&reapply_answers);
      result.plan = result.landed ? reapplied_plan : old_plan;
      return result;
    };
    deps.apply_plan = [this](const Plan&) {
      apply_ages.push_back(Age());
      apply_generations.push_back(PlanGeneration.load());
      return Next(&apply_answers);
    };
    deps.clear_current = [this] {
      ++clears;
      current = false;
    };
    deps.start_watchdog = [this] {
      ++watchdog_starts;
      age_at_watchdog_start = Age();
      return true;
    };
    return deps;
  }

  void Run() { RunWorker(settings, Deps()); }

 private:
  static bool Next(std::deque<bool>* answers) {
    if (answers->empty()) return true;
    const bool answer = answers->front();
    answers->pop_front();
    return answer;
  }
  static ReapplyResult Next(std::deque<ReapplyResult>* answers) {
    if (answers->empty()) return ReapplyResult{};
    ReapplyResult answer = answers->front();
    answers->pop_front();
    return answer;
  }
};

using Lines = std::vector<std::string>;

class WorkerLoop : public test::LogTest {
 protected:
  FakeGame game_;
};

// ---- Start-up waits ------------------------------------------------------------------------------

TEST_F(WorkerLoop, SignatureFoundAtOnceGoesOnWithoutWaiting) {
  game_.stop_when = [] { return true; };
  game_.Run();
  EXPECT_EQ(game_.scans, 1);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
  EXPECT_EQ(game_.sleeps, std::vector<uint32_t>{2000});
}

TEST_F(WorkerLoop, SignatureWaitLinesEveryFifteenPassesAndTheWarningOnceAtNinety) {
  game_.scan_answers.assign(120, false);  // the first look and passes 0 to 118 find nothing
  game_.stop_when = [this] { return game_.lists > 0; };
  game_.Run();
  EXPECT_EQ(game_.scans, 121);
  EXPECT_EQ(Messages(), (Lines{kWaiting, kWaiting, kWaiting, kWaiting, kWaiting, kWaiting, kWaiting, kWarning,
                               kWaiting, kResolved, kProbing, kLive, kApplied}));
  std::vector<uint32_t> expected_sleeps(120, 2000);
  expected_sleeps.push_back(2000);  // the first loop pass
  EXPECT_EQ(game_.sleeps, expected_sleeps);
}

TEST_F(WorkerLoop, StopDuringTheSignatureWaitReturnsBeforeAnythingElse) {
  game_.scan_answers.assign(10, false);
  game_.stop_when = [this] { return game_.sleeps.size() == 3; };
  game_.Run();
  EXPECT_EQ(game_.scans, 3);
  EXPECT_EQ(Messages(), (Lines{kWaiting}));
  EXPECT_EQ(game_.watchdog_starts, 0);
}

TEST_F(WorkerLoop, AgeWaitSleepsInHalfSecondsUntilFirstCallAgeIsReached) {
  game_.settings.first_call_age = 60;
  game_.age_at_start = 59.0;
  game_.stop_when = [this] { return game_.lists > 0; };
  game_.Run();
  EXPECT_EQ(std::vector<uint32_t>(game_.sleeps.begin(), game_.sleeps.begin() + 2),
            (std::vector<uint32_t>{500, 500}));
  EXPECT_EQ(game_.age_at_watchdog_start, 60.0);
  EXPECT_EQ(game_.watchdog_starts, 1);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
}

TEST_F(WorkerLoop, AgeWaitNeverEndsWhileTheAgeIsUnknown) {
  game_.settings.first_call_age = 60;
  game_.age_at_start = 0.0;
  WorkerDeps deps = game_.Deps();
  deps.process_age = [] { return 0.0; };
  game_.stop_when = [this] { return game_.sleeps.size() == 50; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(game_.sleeps, std::vector<uint32_t>(50, 500));
  EXPECT_EQ(game_.watchdog_starts, 0);
  EXPECT_EQ(game_.probes, 0);
}

TEST_F(WorkerLoop, StopAskedBeforeTheStartReturnsAtOnce) {
  RequestWorkerStop();
  game_.Run();
  EXPECT_EQ(game_.scans, 0);
  EXPECT_TRUE(Messages().empty());
}

// ---- Probe phase ------------------------------------------------------------------------------------

TEST_F(WorkerLoop, FirstFailedProbeIsReportedAtOnceAndLaterOnesAtMostEvery15Seconds) {
  game_.probe_answers.assign(10, false);  // probes at 0, 5, ..., 45 s fail
  game_.stop_when = [this] { return game_.lists > 0; };
  game_.Run();
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, "DB not answering yet (no answer at 0)",
                               "DB not answering yet (no answer at 20000)",
                               "DB not answering yet (no answer at 40000)", kLive, kApplied}));
  EXPECT_EQ(std::vector<uint32_t>(game_.sleeps.begin(), game_.sleeps.begin() + 10),
            std::vector<uint32_t>(10, 5000));
}

TEST_F(WorkerLoop, FirstFailedProbeIsReportedEvenOnAClockNearZero) {
  game_.now = 100;
  game_.stop_when = [this] { return game_.lists > 0; };
  WorkerDeps deps = game_.Deps();
  deps.probe_candidates = [this](std::string* message) {
    ++game_.probes;
    game_.current = game_.probes > 1;
    if (!game_.current) *message = "still loading";
    return game_.current;
  };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(Messages(),
            (Lines{kResolved, kProbing, "DB not answering yet (still loading)", kLive, kApplied}));
}

TEST_F(WorkerLoop, CallMarkerNamesTheProbeOnlyWhileItRuns) {
  std::vector<std::string> names;
  std::vector<uint64_t> ticks;
  WorkerDeps deps = game_.Deps();
  deps.probe_candidates = [&](std::string*) {
    names.push_back(TheCallMarker().name.load());
    ticks.push_back(TheCallMarker().start_tick.load());
    game_.current = true;
    return true;
  };
  deps.list_scripts = [&] {
    ticks.push_back(TheCallMarker().start_tick.load());
    RequestWorkerStop();
    return ScriptListing();
  };
  game_.now = 123456;
  RunWorker(game_.settings, deps);
  EXPECT_EQ(names, std::vector<std::string>{"probe SELECT (select_live)"});
  EXPECT_EQ(ticks, (std::vector<uint64_t>{123456, 0}));
}

TEST_F(WorkerLoop, NegativeIntervalsMeanNoPauseRatherThanAnEndlessOne) {
  game_.settings.resend = -1;
  game_.settings.poll_ms = -5;
  game_.probe_answers = {false};
  game_.stop_when = [this] { return game_.lists > 0; };
  game_.Run();
  EXPECT_EQ(game_.sleeps, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(game_.probes, 2);
}

// ---- Apply, misses and hold -------------------------------------------------------------------------

TEST_F(WorkerLoop, TwoMissesThenASuccessReprobeTwiceAndThenLogTheApply) {
  game_.settings.poll_ms = 700;
  game_.apply_answers = {false, false, true};
  game_.stop_when = [this] { return game_.apply_ages.size() == 3; };
  game_.Run();
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kReprobe1, kLive, kReprobe2, kLive, kApplied}));
  EXPECT_EQ(game_.sleeps, (std::vector<uint32_t>{5000, 5000, 700}));
  EXPECT_EQ(game_.clears, 2);
  EXPECT_EQ(game_.probes, 3);
  EXPECT_EQ(game_.loads.size(), 1u);
}

TEST_F(WorkerLoop, ThreeMissesHoldUntilTheFolderChangesWhileItIsStillListed) {
  game_.settings.poll_ms = 700;
  game_.apply_answers = {false, false, false, true};
  // Passes 1-3 miss, passes 4-8 hold, pass 9 sees the script rewritten.
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 7}}, {{"car.ini", 7}}, {{"car.ini", 7}}, {{"car.ini", 7}},
                    {{"car.ini", 7}}, {{"car.ini", 7}}, {{"car.ini", 7}}, {{"car.ini", 8}}};
  game_.stop_when = [this] { return game_.apply_ages.size() == 4; };
  game_.Run();
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kReprobe1, kLive, kReprobe2, kLive, kHold,
                               kChanged, kApplied}));
  EXPECT_EQ(game_.probes, 3);
  EXPECT_EQ(game_.clears, 2);
  ASSERT_EQ(game_.list_times.size(), 9u);
  for (size_t pass = 3; pass < 9; ++pass) {
    EXPECT_EQ(game_.list_times[pass] - game_.list_times[pass - 1], 700u) << "pass " << pass + 1;
  }
  ASSERT_EQ(game_.reapplies.size(), 1u);
  EXPECT_EQ(game_.reapplies[0][0].stamp, 8u);
  EXPECT_EQ(game_.loads.size(), 1u);
}

TEST_F(WorkerLoop, BootResendsEveryResendSecondsUntilBootUntilEachSilently) {
  game_.settings.poll_ms = 1000;
  game_.stop_when = [this] { return game_.Age() >= 170.0; };
  game_.Run();
  std::vector<double> expected;
  for (int age = 60; age < 150; age += 5) expected.push_back(age);
  EXPECT_EQ(game_.apply_ages, expected);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
}

TEST_F(WorkerLoop, FailedBootResendCountsAsAMiss) {
  game_.settings.poll_ms = 1000;
  game_.apply_answers = {true, false, true};
  game_.stop_when = [this] { return game_.apply_ages.size() == 3; };
  game_.Run();
  EXPECT_EQ(game_.apply_ages, (std::vector<double>{60.0, 65.0, 70.0}));
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied, kReprobe1, kLive, kApplied}));
}

TEST_F(WorkerLoop, NothingIsResentAfterTheBootWindow) {
  game_.settings.boot_until = 30;
  game_.stop_when = [this] { return game_.Age() >= 90.0; };
  game_.Run();
  EXPECT_EQ(game_.apply_ages, std::vector<double>{60.0});
}

// ---- Folder changes ---------------------------------------------------------------------------------

TEST_F(WorkerLoop, CaseOnlyRenameIsNoChange) {
  game_.settings.boot_until = 0;
  game_.listings = {{{"Car.ini", 7}}, {{"CAR.INI", 7}}, {{"car.ini", 7}}};
  game_.stop_when = [this] { return game_.lists == 4; };
  game_.Run();
  EXPECT_EQ(game_.loads.size(), 1u);
  EXPECT_TRUE(game_.reapplies.empty());
  EXPECT_EQ(game_.apply_ages.size(), 1u);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
}

TEST_F(WorkerLoop, EveryOtherDifferenceIsAChange) {
  const ScriptListing first = {{"a.ini", 7}, {"b.ini", 9}};
  const std::vector<ScriptListing> changed = {
      {{"a.ini", 7}, {"b.ini", 10}},               // rewritten
      {{"a.ini", 7}, {"b.ini", 9}, {"c.ini", 1}},  // added
      {{"a.ini", 7}},                              // removed
      {{"a.ini", 7}, {"c.ini", 9}},                // renamed
      {{"a.ini", 7}, {"b_.ini", 9}},               // renamed to a longer name
      {{"a.ini", 7}, {"\xc3\x84.ini", 9}},         // only ASCII letters are folded
  };
  ScriptListing umlaut_first = {{"a.ini", 7}, {"\xc3\xa4.ini", 9}};
  for (size_t i = 0; i < changed.size(); ++i) {
    FakeGame game;
    game.listings = {i + 1 == changed.size() ? umlaut_first : first, changed[i]};
    game.stop_when = [&game] { return game.lists == 2; };
    game.Run();
    ResetWorkerStop();
    ASSERT_EQ(game.reapplies.size(), 1u) << "case " << i;
    EXPECT_EQ(game.reapplies[0].size(), changed[i].size()) << "case " << i;
    EXPECT_EQ(game.reapplies[0].back().name, changed[i].back().name) << "case " << i;
  }
}

TEST_F(WorkerLoop, EmptyFolderLoadsAnEmptyPlanAndTheFirstScriptLoadsAfresh) {
  game_.listings = {{}, {}, {}, {{"car.ini", 7}}};
  game_.stop_when = [this] { return game_.lists == 5; };
  game_.Run();
  ASSERT_EQ(game_.loads.size(), 2u);
  EXPECT_TRUE(game_.loads[0].empty());
  EXPECT_EQ(game_.loads[1].size(), 1u);
  EXPECT_TRUE(game_.reapplies.empty());
  EXPECT_EQ(game_.apply_ages.size(), 1u);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
}

TEST_F(WorkerLoop, ChangeAfterAnApplyReappliesThePlanInForceInPlace) {
  game_.reapplied_plan = PlanOf(3);
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 7}, {"van.ini", 4}}};
  game_.stop_when = [this] { return game_.lists == 3; };
  const int32_t generation = PlanGeneration.load();
  game_.Run();
  ASSERT_EQ(game_.reapplied_from.size(), 1u);
  EXPECT_EQ(game_.reapplied_from[0].statements, PlanOf(2).statements);
  EXPECT_EQ(game_.reapplies[0].size(), 2u);
  EXPECT_EQ(game_.apply_generations, (std::vector<int32_t>{generation + 1, generation + 2}));
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied, kChanged,
                               "applied 3 statement(s) from 2 file(s), all read back"}));
}

TEST_F(WorkerLoop, ChangeAfterAFailedApplyAlsoReappliesInPlace) {
  game_.apply_answers = {false};
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 8}}};
  game_.stop_when = [this] { return game_.apply_ages.size() == 2; };
  game_.Run();
  EXPECT_EQ(game_.reapplies.size(), 1u);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kReprobe1, kLive, kChanged, kApplied}));
}

TEST_F(WorkerLoop, ReapplyThatDoesNotLandCountsAsAMissAndHoldsOnTheThird) {
  game_.settings.poll_ms = 700;
  game_.reapply_answers = {ReapplyResult{Plan(), false, true}, ReapplyResult{Plan(), false, true},
                           ReapplyResult{Plan(), false, true}};
  // Pass 1 applies, passes 2-4 miss the change, passes 5-7 hold, pass 8 sees the next save.
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 8}}, {{"car.ini", 8}}, {{"car.ini", 8}},
                    {{"car.ini", 8}}, {{"car.ini", 8}}, {{"car.ini", 8}}, {{"car.ini", 9}}};
  game_.stop_when = [this] { return game_.lists == 9; };
  game_.Run();
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied, kChanged, kReprobe1, kLive, kChanged,
                               kReprobe2, kLive, kChanged, kHold, kChanged, kApplied}));
  ASSERT_EQ(game_.reapplies.size(), 4u);
  // Every attempt starts from the plan in force, and only the plan in force is ever applied.
  for (const Plan& from : game_.reapplied_from) EXPECT_EQ(from.statements, PlanOf(2).statements);
  EXPECT_EQ(game_.reapplies[3][0].stamp, 9u);
  EXPECT_EQ(game_.apply_ages.size(), 2u);
  EXPECT_EQ(game_.clears, 2);
  EXPECT_EQ(game_.reapplied_rewriting, (std::vector<bool>{false, false, false, false}));
}

TEST_F(WorkerLoop, ReapplyThatCouldNotBeTakenBackMakesTheNextOneRewriteEveryKeptRow) {
  game_.reapply_answers = {ReapplyResult{Plan(), false, false}, ReapplyResult{Plan(), false, true}};
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 8}}};
  game_.stop_when = [this] { return game_.reapplies.size() == 3 && game_.apply_ages.size() == 2; };
  game_.Run();
  // Put back the second time, the tables are known again.
  EXPECT_EQ(game_.reapplied_rewriting, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(Messages(),
            (Lines{kResolved, kProbing, kLive, kApplied, kChanged, kReprobe1, kLive, kChanged, kReprobe2,
                   kLive, kChanged, "applied 2 statement(s) from 1 file(s), all read back"}));
}

TEST_F(WorkerLoop, ReapplyThatThrowsKeepsTheChangeAndDistrustsTheTables) {
  WorkerDeps deps = game_.Deps();
  const auto reapply = deps.reapply_in_place;
  int reapplies = 0;
  std::vector<bool> rewriting;
  deps.reapply_in_place = [&](const Plan& old_plan, const ScriptListing& listing, bool rewrite_kept) {
    rewriting.push_back(rewrite_kept);
    if (++reapplies == 1) throw std::bad_alloc();
    return reapply(old_plan, listing, rewrite_kept);
  };
  game_.listings = {{{"car.ini", 7}}, {{"car.ini", 8}}};
  game_.stop_when = [&] { return game_.apply_ages.size() == 2; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(rewriting, (std::vector<bool>{false, true}));
  EXPECT_EQ(Messages(),
            (Lines{kResolved, kProbing, kLive, kApplied, kChanged,
                   std::string("ERROR: ") + std::bad_alloc().what(), kReprobe1, kLive, kChanged, kApplied}));
}

// ---- Snapshot of the game's tables ------------------------------------------------------------------

TEST_F(WorkerLoop, SnapshotIsTakenOnceAfterDbLiveAndBeforeTheFirstApply) {
  WorkerDeps deps = game_.Deps();
  std::vector<std::string> events;
  deps.take_snapshot = [&] {
    events.push_back("snapshot after " + std::to_string(Messages().size()) + " line(s), " +
                     std::to_string(game_.apply_ages.size()) + " apply(ies)");
  };
  game_.apply_answers = {false, true};  // a miss: the re-probe finds the database live again
  game_.stop_when = [this] { return game_.apply_ages.size() == 2; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(events, std::vector<std::string>{"snapshot after 3 line(s), 0 apply(ies)"});
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kReprobe1, kLive, kApplied}));
}

TEST_F(WorkerLoop, SnapshotSettingZeroSkipsIt) {
  WorkerDeps deps = game_.Deps();
  int snapshots = 0;
  deps.take_snapshot = [&] { ++snapshots; };
  game_.settings.snapshot = 0;
  game_.stop_when = [this] { return game_.apply_ages.size() == 1; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(snapshots, 0);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, kApplied}));
}

TEST_F(WorkerLoop, SnapshotThatThrowsIsLoggedAndChangesNothingElse) {
  WorkerDeps deps = game_.Deps();
  deps.take_snapshot = [] { throw std::runtime_error("disk full"); };
  game_.stop_when = [this] { return game_.apply_ages.size() == 1; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, "ERROR: disk full", kApplied}));
}

// ---- Exceptions -------------------------------------------------------------------------------------

TEST_F(WorkerLoop, CollaboratorExceptionIsLoggedAndTheLoopGoesOn) {
  game_.on_list = [this] {
    if (game_.lists == 0) {
      ++game_.lists;
      throw std::runtime_error("listing broke");
    }
  };
  game_.settings.poll_ms = 900;
  game_.stop_when = [this] { return game_.apply_ages.size() == 1; };
  game_.Run();
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, "ERROR: listing broke", kApplied}));
  EXPECT_EQ(game_.sleeps, (std::vector<uint32_t>{900, 900}));
}

TEST_F(WorkerLoop, OutOfMemoryIsLoggedAndTheLoopGoesOn) {
  WorkerDeps deps = game_.Deps();
  int loads = 0;
  deps.load_plan = [&](const ScriptListing&, const PreviousRowIds&) {
    if (++loads == 1) throw std::bad_alloc();
    return PlanOf(2);
  };
  game_.stop_when = [this] { return game_.apply_ages.size() == 1; };
  RunWorker(game_.settings, deps);
  // The change it was loading is not lost: it counts as a miss and is taken up again after the re-probe.
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, kLive, std::string("ERROR: ") + std::bad_alloc().what(),
                               kReprobe1, kLive, kApplied}));
  EXPECT_EQ(loads, 2);
}

TEST_F(WorkerLoop, ExceptionOfNoStandardTypeIsLoggedAsUnknown) {
  WorkerDeps deps = game_.Deps();
  int applies = 0;
  deps.apply_plan = [&](const Plan&) {
    if (++applies == 1) throw 42;
    return true;
  };
  game_.stop_when = [&] { return applies == 2; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(Messages(),
            (Lines{kResolved, kProbing, kLive, "ERROR: unknown exception", kReprobe1, kLive, kApplied}));
}

TEST_F(WorkerLoop, ProbeThatThrowsLeavesNoCallMarked) {
  WorkerDeps deps = game_.Deps();
  deps.probe_candidates = [this](std::string*) -> bool {
    if (++game_.probes == 1) throw std::runtime_error("probe broke");
    game_.current = true;
    return true;
  };
  std::vector<uint64_t> ticks_at_sleep;
  deps.sleep_ms = [&](uint32_t) {
    ticks_at_sleep.push_back(TheCallMarker().start_tick.load());
    RequestWorkerStop();
  };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(ticks_at_sleep, std::vector<uint64_t>{0});
  EXPECT_EQ(Messages(), (Lines{kResolved, kProbing, "ERROR: probe broke"}));
}

TEST_F(WorkerLoop, ExceptionDuringTheStartUpStartsTheWaitsOver) {
  WorkerDeps deps = game_.Deps();
  deps.scan_for_candidates = [this]() -> bool {
    if (++game_.scans == 1) throw std::runtime_error("scan broke");
    return true;
  };
  game_.stop_when = [this] { return game_.lists > 0; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(Messages(), (Lines{"ERROR: scan broke", kResolved, kProbing, kLive, kApplied}));
  EXPECT_EQ(game_.sleeps.front(), 2000u);
}

TEST_F(WorkerLoop, WatchdogThatCannotStartLeavesTheLoopRunning) {
  WorkerDeps deps = game_.Deps();
  deps.start_watchdog = []() -> bool { throw std::runtime_error("no thread"); };
  game_.stop_when = [this] { return game_.lists > 0; };
  RunWorker(game_.settings, deps);
  EXPECT_EQ(Messages(), (Lines{kResolved, "ERROR: no thread", kProbing, kLive, kApplied}));
}

}  // namespace
}  // namespace gearloft
