// gearloft platform layer, Linux: time of day, the process's start, wall clock, monotonic ticks and
// sleeping, as Windows FILETIME counts and milliseconds like the Windows time functions give them.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/filetime.h"

namespace gearloft::platform {

namespace {

bool ReadSmallFile(const char* path, std::string* content) {
  std::FILE* file = std::fopen(path, "rbe");
  if (file == nullptr) return false;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content->append(chunk, got);
  std::fclose(file);
  return true;
}

// The wall-clock time of the system's boot: the real-time clock minus the boot-time clock, taken once
// so that the creation time stays the same while the process runs. /proc/stat's "btime" holds the same
// in whole seconds only, which would make a young process look up to a second older.
uint64_t BootAsFileTime() {
  static const uint64_t boot = [] {
    struct timespec real;
    struct timespec since_boot;
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_BOOTTIME, &since_boot);
    return FileTimeFromUnix(real) - (static_cast<uint64_t>(since_boot.tv_sec) * 10000000ULL +
                                     static_cast<uint64_t>(since_boot.tv_nsec) / 100U);
  }();
  return boot;
}

// The process's start in clock ticks after boot: field 22 of /proc/self/stat. The command name in
// field 2 may hold blanks and parentheses, so counting starts after its last ")".
bool StartTicksAfterBoot(uint64_t* ticks) {
  std::string stat;
  if (!ReadSmallFile("/proc/self/stat", &stat)) return false;
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return false;
  const char* cursor = stat.c_str() + name_end + 1;
  // Field 3 is the first after the name; skip fields 3 to 21.
  for (int field = 3; field < 22; ++field) {
    while (*cursor == ' ') ++cursor;
    while (*cursor != ' ' && *cursor != '\0') ++cursor;
  }
  char* end = nullptr;
  const unsigned long long value = std::strtoull(cursor, &end, 10);
  if (end == cursor) return false;
  *ticks = value;
  return true;
}

}  // namespace

TimeOfDay LocalTimeOfDay() {
  const time_t now = time(nullptr);
  struct tm local;
  std::memset(&local, 0, sizeof local);
  localtime_r(&now, &local);
  return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec};
}

bool ProcessCreationTime(uint64_t* filetime) {
  uint64_t start_ticks = 0;
  const long ticks_per_second = sysconf(_SC_CLK_TCK);
  if (ticks_per_second <= 0 || !StartTicksAfterBoot(&start_ticks)) return false;
  const uint64_t hz = static_cast<uint64_t>(ticks_per_second);
  *filetime = BootAsFileTime() + (start_ticks / hz) * 10000000ULL + (start_ticks % hz) * 10000000ULL / hz;
  return true;
}

uint64_t SystemTimeNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return FileTimeFromUnix(now);
}

uint64_t TickCountMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000U + static_cast<uint64_t>(now.tv_nsec) / 1000000U;
}

void SleepMs(uint32_t milliseconds) {
  struct timespec left;
  left.tv_sec = static_cast<time_t>(milliseconds / 1000U);
  left.tv_nsec = static_cast<long>(milliseconds % 1000U) * 1000000L;
  // A signal handled elsewhere in the game's process must not cut the sleep short.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace gearloft::platform
