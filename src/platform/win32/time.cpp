// gearloft platform layer, Windows: time of day, the process's start, wall clock, monotonic ticks and
// sleeping.
#include <windows.h>

#include "platform/platform.h"

namespace gearloft::platform {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

TimeOfDay LocalTimeOfDay() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return TimeOfDay{now.wHour, now.wMinute, now.wSecond};
}

bool ProcessCreationTime(uint64_t* filetime) {
  FILETIME creation, exit, kernel, user;
  if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user) == 0) return false;
  *filetime = FromFileTime(creation);
  return true;
}

uint64_t SystemTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

uint64_t TickCountMs() {
  return GetTickCount64();
}

void SleepMs(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace gearloft::platform
