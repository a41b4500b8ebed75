// gearloft runtime: the one log file every subsystem writes to, and the process age shown in its lines.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "runtime/log.h"

namespace gearloft {

namespace {

// Time of day, then the game process's age in whole seconds at least four wide. "%4.0f" prints no
// decimal point, so a comma-decimal locale cannot change it.
constexpr const char* kPrefixFormat = "%02d:%02d:%02d [%4.0fs] ";

// The worker and the watchdog share this stream. stdio serialises each single call on it, but a line
// takes several calls, so one lock is held across a whole line: otherwise one thread's line can land in
// the middle of the other's.
std::atomic<std::FILE*> g_log{nullptr};

// Made by the first OpenLog, so writing a line never allocates.
platform::Mutex* LineLock() {
  static platform::Mutex* const lock = platform::NewMutex();
  return lock;
}

}  // namespace

void OpenLog(const Paths& paths) {
  LineLock();
  CloseLog();
  // There may be no earlier log, or the previous one may be locked: either way the open below starts
  // the new log afresh.
  platform::ReplaceMove(paths.log_file, paths.previous_log);
  g_log.store(platform::OpenFile(paths.log_file, "w", platform::Share::kDenyWrite),
              std::memory_order_release);
}

bool LogIsOpen() {
  return g_log.load(std::memory_order_acquire) != nullptr;
}

void CloseLog() {
  std::FILE* log = g_log.exchange(nullptr, std::memory_order_acq_rel);
  if (log != nullptr) std::fclose(log);
}

void LogLine(const char* format, ...) {
  std::FILE* log = g_log.load(std::memory_order_acquire);
  if (log == nullptr) return;
  const platform::TimeOfDay time = platform::LocalTimeOfDay();
  const double age = ProcessAge();
  platform::MutexLock line(LineLock());
  std::fprintf(log, kPrefixFormat, time.hour, time.minute, time.second, age);
  va_list args;
  va_start(args, format);
  std::vfprintf(log, format, args);
  va_end(args);
  std::fputs("\n", log);
  std::fflush(log);
}

std::string FormatLogPrefix(int hour, int minute, int second, double age_seconds) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, kPrefixFormat, hour, minute, second, age_seconds);
  if (length < 0) return std::string();
  return std::string(
      buffer, static_cast<size_t>(length) < sizeof buffer ? static_cast<size_t>(length) : sizeof buffer - 1);
}

double ProcessAge() {
  uint64_t created = 0;
  if (!platform::ProcessCreationTime(&created)) return 0.0;
  // Taken unsigned: a wall clock set back before the creation time shows as a very large age (the boot
  // window closed, the age wait over) rather than a negative one that would hold the worker back.
  const uint64_t elapsed = platform::SystemTimeNow() - created;
  return static_cast<double>(elapsed) / 10000000.0;
}

}  // namespace gearloft
