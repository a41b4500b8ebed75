// gearloft platform layer, Linux: Unix time stamps as Windows FILETIME counts (100-ns units since
// 1601-01-01 UTC), which is what the layer's callers compare and subtract.
#pragma once

#include <cstdint>
#include <ctime>

namespace gearloft::platform {

// 1970-01-01 as a FILETIME: 369 years, 89 of them leap years.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

inline uint64_t FileTimeFromUnix(const struct timespec& stamp) {
  return kUnixEpochAsFileTime + static_cast<uint64_t>(stamp.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(stamp.tv_nsec) / 100U;
}

}  // namespace gearloft::platform
