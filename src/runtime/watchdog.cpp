// gearloft runtime: the stuck-call watchdog, a second thread that reports a database call the worker
// has been waiting on for more than 10 seconds. Part of the worker and runtime layer.
#include <atomic>
#include <cstdint>
#include <exception>

#include "platform/platform.h"
#include "runtime/runtime.h"

namespace gearloft {

namespace {

constexpr uint64_t kStuckAfterMs = 10000;
constexpr uint32_t kCheckEveryMs = 5000;

}  // namespace

CallMarker& TheCallMarker() {
  // Never destroyed: the watchdog thread may read it while the process exits.
  static CallMarker& marker = *new CallMarker;
  return marker;
}

void WatchdogCheck(const CallMarker& marker, uint64_t now_ms, uint64_t* last_reported) {
  // The tick first, with acquire order: a non-zero tick then comes with the name stored before it.
  const uint64_t start = marker.start_tick.load(std::memory_order_acquire);
  if (start == 0 || start == *last_reported) return;
  // A call that began after `now_ms` was read has not run at all yet.
  if (now_ms < start || now_ms - start <= kStuckAfterMs) return;
  LogLine("STUCK: %s has not returned after %llu s", marker.name.load(std::memory_order_acquire),
          static_cast<unsigned long long>((now_ms - start) / 1000));
  *last_reported = start;
}

void RunWatchdog(const CallMarker& marker, const std::function<uint64_t()>& tick_ms,
                 const std::function<void(uint32_t)>& sleep_ms) {
  uint64_t last_reported = 0;
  while (!WorkerStopRequested()) {
    WatchdogCheck(marker, tick_ms(), &last_reported);
    sleep_ms(kCheckEveryMs);
  }
}

void WatchdogMain(void* /*unused*/) {
  // Nothing may leave a thread entry: inside the game an escaping exception would end the process.
  try {
    RunWatchdog(TheCallMarker(), platform::TickCountMs, platform::SleepMs);
  } catch (const std::exception& error) {
    LogLine("ERROR: %s", error.what());
  } catch (...) {
    LogLine("ERROR: unknown exception");
  }
}

}  // namespace gearloft
