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

// Up to size - 1 bytes of the file, terminated. Nothing here allocates or throws: every log line asks
// for the process age, also the one the worker writes when it is out of memory.
bool ReadSmallFile(const char* path, char* buffer, size_t size) {
  std::FILE* file = std::fopen(path, "rbe");
  if (file == nullptr) return false;
  size_t used = 0;
  size_t got = 0;
  while (used + 1 < size && (got = std::fread(buffer + used, 1, size - 1 - used, file)) > 0) used += got;
  std::fclose(file);
  buffer[used] = '\0';
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
  // A few hundred bytes: 52 numbers and a name of at most 16 characters.
  char stat[4096];
  if (!ReadSmallFile("/proc/self/stat", stat, sizeof stat)) return false;
  const char* name_end = std::strrchr(stat, ')');
  if (name_end == nullptr) return false;
  const char* cursor = name_end + 1;
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
