// gearloft runtime: the worker's waits before its first database call, then the main loop that probes
// the database, lists the scripts, loads and applies the plan, re-sends it during the boot window and
// re-applies in place on a folder change. Part of the worker and runtime layer.
#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <utility>

#include "runtime/runtime.h"

namespace gearloft {

namespace {

std::atomic<bool> g_stop{false};

constexpr uint32_t kSignatureRetryMs = 2000;
constexpr uint64_t kSignatureLineEvery = 15;    // passes between two waiting lines
constexpr uint64_t kSignatureWarningPass = 90;  // 180 s of retries
constexpr uint32_t kAgeWaitStepMs = 500;
constexpr uint64_t kSilenceReportMs = 15000;
constexpr int32_t kMissesBeforeHold = 3;
constexpr const char* kProbeCallName = "probe SELECT (select_live)";

// The pauses a setting asks for, in the unsigned milliseconds the clock and the sleep work in. A
// negative setting means no pause rather than the near-endless one its unsigned conversion would give.
struct LoopTimers {
  uint32_t resend_ms;
  uint32_t poll_ms;
};

uint32_t ClampMilliseconds(int64_t milliseconds) {
  if (milliseconds <= 0) return 0;
  if (milliseconds > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
    return std::numeric_limits<uint32_t>::max();
  }
  return static_cast<uint32_t>(milliseconds);
}

LoopTimers TimersFor(const Settings& settings) {
  return LoopTimers{ClampMilliseconds(static_cast<int64_t>(settings.resend) * 1000),
                    ClampMilliseconds(settings.poll_ms)};
}

// Everything the loop carries from pass to pass. The worker runs once per process, so "once per run"
// is "once per process" for the probing announcement and the silence report.
struct LoopState {
  Plan plan;
  ScriptListing previous;  // the listing the plan in force was loaded from
  // The listing of the last folder change seen, and whether the plan in force does not follow it yet: a
  // change whose reload failed or threw is taken up again, a held one waits for the next change.
  ScriptListing seen;
  bool change_pending = false;
  // A re-apply that did not land could not put the plan in force back either: its kept rows may hold
  // anything, so the next re-apply rewrites them all.
  bool tables_uncertain = false;
  bool have_listing = false;
  bool sent_ok = false;
  bool attempted = false;
  bool holding = false;
  int32_t misses = 0;
  uint64_t last_send = 0;
  bool probing_announced = false;
  bool snapshot_taken = false;  // once per process: later probes come after changes were made
  // The first failed probe is reported at once, whatever the clock reads when it happens.
  bool silence_reported = false;
  uint64_t last_silence_report = 0;
};

enum class PassEnd { kPollSleep, kNextPassAtOnce, kStopped };

// Publishes a call in progress to the watchdog: the name first, then the tick with release order, so a
// watchdog that sees the tick sees the name too. The tick goes back to 0 however the call ends.
class MarkedCall {
 public:
  MarkedCall(CallMarker* marker, const char* name, uint64_t start_tick) : marker_(marker) {
    marker_->name.store(name, std::memory_order_release);
    marker_->start_tick.store(start_tick, std::memory_order_release);
  }
  ~MarkedCall() { marker_->start_tick.store(0, std::memory_order_release); }
  MarkedCall(const MarkedCall&) = delete;
  MarkedCall& operator=(const MarkedCall&) = delete;

 private:
  CallMarker* marker_;
};

// Runs one step of the worker, turning whatever a collaborator throws (out of memory included) into an
// ERROR line, so the worker stays alive inside the game; false when the step threw.
template <typename Step>
bool RunLogged(Step&& step) {
  try {
    step();
    return true;
  } catch (const std::exception& error) {
    LogLine("ERROR: %s", error.what());
  } catch (...) {
    LogLine("ERROR: unknown exception");
  }
  return false;
}

// Signature wait, candidate count and age wait; false when a stop was asked for meanwhile.
bool WaitUntilCallable(const Settings& settings, const WorkerDeps& deps) {
  bool found = deps.scan_for_candidates();
  // The game's code is still encrypted in memory for a while after start; keep looking, without a
  // limit, and say so now and then.
  for (uint64_t pass = 0; !found; ++pass) {
    if (pass % kSignatureLineEvery == 0) {
      LogLine("waiting for the ExecuteQuery call-site signature (code not decrypted yet)");
    }
    if (pass == kSignatureWarningPass) {
      LogLine("WARNING: no signature after 180 s - a game patch may have moved it; nothing will be written");
    }
    deps.sleep_ms(kSignatureRetryMs);
    if (WorkerStopRequested()) return false;
    found = deps.scan_for_candidates();
  }
  LogLine("CDatabase global resolved (%zu)", deps.candidate_count());
  // A database call made while the game is still loading may block; wait until the process is old enough.
  while (static_cast<double>(settings.first_call_age) > deps.process_age()) {
    deps.sleep_ms(kAgeWaitStepMs);
    if (WorkerStopRequested()) return false;
  }
  return true;
}

// Probes until a database object answers; false when a stop was asked for meanwhile.
bool ProbeUntilLive(const LoopTimers& timers, const WorkerDeps& deps, LoopState* state) {
  while (!deps.has_current()) {
    std::string message;
    if (!state->probing_announced) {
      LogLine("probing: %s", deps.describe_candidates().c_str());
      state->probing_announced = true;
    }
    bool live = false;
    {
      MarkedCall call(&TheCallMarker(), kProbeCallName, deps.tick_ms());
      live = deps.probe_candidates(&message);
    }
    if (live) {
      LogLine("DB live");
      return true;
    }
    const uint64_t now = deps.tick_ms();
    if (!state->silence_reported || now - state->last_silence_report > kSilenceReportMs) {
      LogLine("DB not answering yet (%s)", message.c_str());
      state->last_silence_report = now;
      state->silence_reported = true;
    }
    deps.sleep_ms(timers.resend_ms);
    if (WorkerStopRequested()) return false;
  }
  return true;
}

// A missed apply, or a folder change that could not be taken up: re-probe twice, then hold until the
// folder changes.
PassEnd CountMiss(const LoopTimers& timers, const WorkerDeps& deps, LoopState* state) {
  ++state->misses;
  if (state->misses >= kMissesBeforeHold) {
    LogLine("ERROR: apply missed %d times in a row - holding until scripts\\tunebay changes",
            static_cast<int>(state->misses));
    state->holding = true;
    return PassEnd::kPollSleep;
  }
  // Rows that do not read back usually mean the chosen object is not the live database; choose again.
  LogLine("rows not visible after apply - re-probing CDatabase (attempt %d/3)",
          static_cast<int>(state->misses));
  state->sent_ok = false;
  deps.clear_current();
  deps.sleep_ms(timers.resend_ms);
  return WorkerStopRequested() ? PassEnd::kStopped : PassEnd::kNextPassAtOnce;
}

// Loads the plan of the folder change in `seen`, or re-applies in place once the plan in force was
// sent. False when the change did not land (the plan in force stays) or a step threw.
bool TakeUpChange(const WorkerDeps& deps, LoopState* state) {
  bool landed = false;
  const bool finished = RunLogged([&] {
    if (state->attempted) {
      LogLine("folder changed - re-applying in place");
      ReapplyResult result = deps.reapply_in_place(state->plan, state->seen, state->tables_uncertain);
      if (!result.landed) {
        state->tables_uncertain = !result.restored;
        return;
      }
      state->plan = std::move(result.plan);
      state->tables_uncertain = false;
    } else {
      state->plan = deps.load_plan(state->seen, PreviousRowIds());
    }
    landed = true;
  });
  // A re-apply that threw may have stopped anywhere between the two plans.
  if (!finished && state->attempted) state->tables_uncertain = true;
  if (!landed) return false;
  state->previous = state->seen;
  state->change_pending = false;
  PlanGeneration.fetch_add(1);
  state->sent_ok = false;
  state->attempted = false;
  state->misses = 0;
  return true;
}

PassEnd RunPass(const Settings& settings, const LoopTimers& timers, const WorkerDeps& deps,
                LoopState* state) {
  if (!ProbeUntilLive(timers, deps, state)) return PassEnd::kStopped;
  if (!state->snapshot_taken) {
    // The tables still hold the game's own values: nothing has been applied yet. A snapshot that fails
    // changes nothing else.
    state->snapshot_taken = true;
    if (settings.snapshot != 0 && deps.take_snapshot) RunLogged(deps.take_snapshot);
  }

  ScriptListing listing = deps.list_scripts();
  if (!state->have_listing || !SameScripts(state->seen, listing)) {
    // A new change: what was missed or held before was about the folder as it was.
    state->seen = std::move(listing);
    state->have_listing = true;
    state->change_pending = true;
    state->holding = false;
    state->misses = 0;
  }
  if (state->change_pending && !state->holding && !TakeUpChange(deps, state)) {
    return CountMiss(timers, deps, state);
  }

  // What the game loads while it boots may overwrite rows sent early, so a sent plan is sent again now
  // and then until the boot window closes.
  const bool due = static_cast<double>(settings.boot_until) > deps.process_age() &&
                   deps.tick_ms() - state->last_send >= timers.resend_ms;
  if (state->plan.statements.empty() || state->holding || (state->sent_ok && !due)) {
    return PassEnd::kPollSleep;
  }

  state->last_send = deps.tick_ms();
  state->attempted = true;
  bool applied = false;
  RunLogged([&] { applied = deps.apply_plan(state->plan); });
  if (!applied) return CountMiss(timers, deps, state);
  if (!state->sent_ok) {
    LogLine("applied %zu statement(s) from %zu file(s), all read back", state->plan.statements.size(),
            state->previous.size());
  }
  state->sent_ok = true;
  state->misses = 0;
  return PassEnd::kPollSleep;
}

}  // namespace

void RunWorker(const Settings& settings, const WorkerDeps& deps) {
  if (WorkerStopRequested()) return;
  // A start-up step that throws starts the waits over after the signature retry pause.
  for (;;) {
    bool ready = false;
    if (RunLogged([&] { ready = WaitUntilCallable(settings, deps); })) {
      if (!ready) return;
      break;
    }
    deps.sleep_ms(kSignatureRetryMs);
    if (WorkerStopRequested()) return;
  }

  const LoopTimers timers = TimersFor(settings);
  LoopState state;
  // Without a watchdog the loop runs all the same; only a hung probe goes unreported.
  RunLogged([&] { deps.start_watchdog(); });

  for (;;) {
    if (WorkerStopRequested()) return;
    PassEnd end = PassEnd::kPollSleep;
    RunLogged([&] { end = RunPass(settings, timers, deps, &state); });
    if (end == PassEnd::kStopped) return;
    if (end == PassEnd::kPollSleep) deps.sleep_ms(timers.poll_ms);
  }
}

void RequestWorkerStop() {
  g_stop.store(true);
}

bool WorkerStopRequested() {
  return g_stop.load();
}

void ResetWorkerStop() {
  g_stop.store(false);
}

}  // namespace gearloft
