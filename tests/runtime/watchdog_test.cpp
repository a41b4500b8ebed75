// gearloft runtime tests: the stuck-call watchdog, one check at a time, over a scripted clock, and as a
// real thread beside a worker that writes the same log.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "compiler/loader.h"
#include "runtime/runtime.h"
#include "runtime_test_support.h"
#include "support/support.h"

namespace gearloft {
namespace {

using Lines = std::vector<std::string>;

constexpr uint64_t kBase = 1000000;  // tick count at the watchdog's first check

class Watchdog : public test::LogTest {};

// ---- One check --------------------------------------------------------------------------------------

TEST_F(Watchdog, CallIsReportedOnlyPastTenSecondsAndThenOnce) {
  CallMarker marker;
  marker.name.store("probe X");
  marker.start_tick.store(kBase);
  uint64_t last_reported = 0;
  WatchdogCheck(marker, kBase + 10000, &last_reported);
  EXPECT_TRUE(Messages().empty());
  WatchdogCheck(marker, kBase + 10001, &last_reported);
  EXPECT_EQ(last_reported, kBase);
  WatchdogCheck(marker, kBase + 14999, &last_reported);
  WatchdogCheck(marker, kBase + 60000, &last_reported);
  EXPECT_EQ(Messages(), Lines{"STUCK: probe X has not returned after 10 s"});
}

TEST_F(Watchdog, NoCallInProgressIsNeverReported) {
  CallMarker marker;
  marker.name.store("probe X");
  uint64_t last_reported = 0;
  WatchdogCheck(marker, kBase, &last_reported);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(last_reported, 0u);
}

TEST_F(Watchdog, CallThatBeganAfterTheClockWasReadIsNotStuck) {
  CallMarker marker;
  marker.name.store("probe X");
  marker.start_tick.store(kBase + 1);
  uint64_t last_reported = 0;
  WatchdogCheck(marker, kBase, &last_reported);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Watchdog, NewCallIsReportedInItsTurnWithItsOwnName) {
  CallMarker marker;
  uint64_t last_reported = 0;
  marker.name.store("probe A");
  marker.start_tick.store(kBase);
  WatchdogCheck(marker, kBase + 12000, &last_reported);
  marker.name.store("probe B");
  marker.start_tick.store(kBase + 20000);
  WatchdogCheck(marker, kBase + 34999, &last_reported);
  EXPECT_EQ(Messages(), (Lines{"STUCK: probe A has not returned after 12 s",
                               "STUCK: probe B has not returned after 14 s"}));
}

// ---- The check loop over a scripted clock -------------------------------------------------------------

// Calls as [start, end) in milliseconds after kBase; the marker shows the one running at each check.
struct Timeline {
  std::vector<std::pair<uint64_t, uint64_t>> calls;

  void Show(CallMarker* marker, uint64_t now) const {
    uint64_t tick = 0;
    for (const auto& call : calls) {
      if (now >= kBase + call.first && now < kBase + call.second) tick = kBase + call.first;
    }
    marker->start_tick.store(tick);
  }
};

// Runs the watchdog for `checks` checks; gives the sleeps it asked for.
std::vector<uint32_t> WatchOver(const Timeline& timeline, int checks) {
  CallMarker marker;
  marker.name.store("probe SELECT (select_live)");
  uint64_t now = kBase;
  timeline.Show(&marker, now);
  std::vector<uint32_t> sleeps;
  RunWatchdog(
      marker, [&] { return now; },
      [&](uint32_t ms) {
        sleeps.push_back(ms);
        now += ms;
        timeline.Show(&marker, now);
        if (static_cast<int>(sleeps.size()) == checks) RequestWorkerStop();
      });
  ResetWorkerStop();
  return sleeps;
}

TEST_F(Watchdog, ChecksEveryFiveSeconds) {
  EXPECT_EQ(WatchOver(Timeline{}, 4), std::vector<uint32_t>(4, 5000));
}

TEST_F(Watchdog, NineSecondCallIsNeverReported) {
  for (uint64_t start = 0; start < 5000; start += 250) {
    WatchOver(Timeline{{{start, start + 9000}}}, 6);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Watchdog, TwelveSecondHangIsReportedOnce) {
  WatchOver(Timeline{{{4000, 16000}}}, 6);
  EXPECT_EQ(Messages(), Lines{"STUCK: probe SELECT (select_live) has not returned after 11 s"});
}

TEST_F(Watchdog, MinuteLongHangIsReportedOnce) {
  WatchOver(Timeline{{{1000, 61000}}}, 16);
  EXPECT_EQ(Messages(), Lines{"STUCK: probe SELECT (select_live) has not returned after 14 s"});
}

TEST_F(Watchdog, TwoTwelveSecondHangsAreReportedTwice) {
  WatchOver(Timeline{{{4000, 16000}, {24000, 36000}}}, 10);
  EXPECT_EQ(Messages(), (Lines{"STUCK: probe SELECT (select_live) has not returned after 11 s",
                               "STUCK: probe SELECT (select_live) has not returned after 11 s"}));
}

// ---- The watchdog as a thread -------------------------------------------------------------------------

// The watchdog thread's clock: its sleeps wait until the test lets the clock run on, so the test knows
// which checks have happened while the two threads really run side by side.
class Pacer {
 public:
  explicit Pacer(uint64_t start) : now_(start), allowed_(start) {}

  uint64_t Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void Sleep(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    parked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return now_ + ms <= allowed_ || WorkerStopRequested(); });
    parked_ = false;
    if (!WorkerStopRequested()) now_ += ms;
  }
  // Lets the clock run on to `until`; the watchdog checks at every 5 s step on the way.
  void Allow(uint64_t until) {
    std::lock_guard<std::mutex> lock(mutex_);
    allowed_ = until;
    changed_.notify_all();
  }
  // Waits until the watchdog has made its check at `at` and sleeps again.
  void WaitParkedAt(uint64_t at) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return parked_ && now_ == at; });
  }
  void Stop() {
    RequestWorkerStop();
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t now_;
  uint64_t allowed_;
  bool parked_ = false;
};

// Joins the watchdog thread however the test ends.
class WatchdogThread {
 public:
  WatchdogThread(Pacer* pacer, const CallMarker* marker) : pacer_(pacer) {
    thread_ = std::thread([pacer, marker] {
      RunWatchdog(
          *marker, [pacer] { return pacer->Now(); }, [pacer](uint32_t ms) { pacer->Sleep(ms); });
    });
  }
  ~WatchdogThread() {
    pacer_->Stop();
    thread_.join();
  }
  WatchdogThread(const WatchdogThread&) = delete;
  WatchdogThread& operator=(const WatchdogThread&) = delete;

 private:
  Pacer* pacer_;
  std::thread thread_;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(Watchdog, ThreadReportsHungCallsWhileTheWorkerWritesTheLog) {
  CallMarker marker;
  Pacer pacer(kBase);
  {
    WatchdogThread watchdog(&pacer, &marker);
    pacer.WaitParkedAt(kBase);
    int line = 0;
    // Each call is published as the worker publishes its probe: the name, then the tick.
    marker.name.store("probe A", std::memory_order_release);
    marker.start_tick.store(kBase + 2000, std::memory_order_release);
    pacer.Allow(kBase + 20000);
    for (; line < 100; ++line) LogLine("worker line %03d.", line);
    pacer.WaitParkedAt(kBase + 20000);
    marker.start_tick.store(0, std::memory_order_release);
    marker.name.store("probe B", std::memory_order_release);
    marker.start_tick.store(kBase + 21000, std::memory_order_release);
    pacer.Allow(kBase + 40000);
    for (; line < 200; ++line) LogLine("worker line %03d.", line);
    pacer.WaitParkedAt(kBase + 40000);
  }
  CloseLog();
  const std::string log = test::ReadWhole(std::filesystem::u8path(folder_.paths().log_file));
  EXPECT_EQ(Count(log, "STUCK:"), 2u) << log;
  EXPECT_EQ(Count(log, "STUCK: probe A has not returned after 13 s"), 1u) << log;
  EXPECT_EQ(Count(log, "STUCK: probe B has not returned after 14 s"), 1u) << log;
  for (int line = 0; line < 200; ++line) {
    char text[32];
    std::snprintf(text, sizeof text, "worker line %03d.", line);
    EXPECT_EQ(Count(log, text), 1u) << text;
  }
}

TEST_F(Watchdog, ThreadReportsTheWorkersHungProbe) {
  constexpr uint64_t kStart = 2000000;
  Pacer pacer(kStart);
  std::unique_ptr<WatchdogThread> watchdog;
  bool current = false;
  WorkerDeps deps;
  deps.tick_ms = [&] { return pacer.Now(); };
  deps.sleep_ms = [](uint32_t) { RequestWorkerStop(); };
  deps.process_age = [] { return 100.0; };
  deps.scan_for_candidates = [] { return true; };
  deps.candidate_count = [] { return size_t{1}; };
  deps.has_current = [&] { return current; };
  deps.describe_candidates = [] { return std::string("1 candidate"); };
  deps.probe_candidates = [&](std::string*) {
    // The game keeps the probe waiting until the watchdog has looked at it three times.
    pacer.Allow(kStart + 15000);
    pacer.WaitParkedAt(kStart + 15000);
    current = true;
    return true;
  };
  deps.list_scripts = [] { return ScriptListing{{"car.ini", 1}}; };
  deps.load_plan = [](const ScriptListing&, const PreviousRowIds&) {
    Plan plan;
    plan.statements.push_back("UPDATE Data_Car SET Price = 1 WHERE Id = 3");
    return plan;
  };
  deps.apply_plan = [](const Plan&) { return true; };
  deps.start_watchdog = [&] {
    watchdog = std::make_unique<WatchdogThread>(&pacer, &TheCallMarker());
    return true;
  };
  Settings settings;
  settings.first_call_age = 0;
  RunWorker(settings, deps);
  watchdog.reset();
  EXPECT_EQ(Messages(), (Lines{"CDatabase global resolved (1)", "probing: 1 candidate",
                               "STUCK: probe SELECT (select_live) has not returned after 15 s", "DB live",
                               "applied 1 statement(s) from 1 file(s), all read back"}));
  EXPECT_EQ(TheCallMarker().start_tick.load(), 0u);
}

}  // namespace
}  // namespace gearloft
