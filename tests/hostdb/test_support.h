// gearloft host database bridge tests: pages mapped with a chosen protection and call sites written
// into them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/testing.h"

namespace gearloft::hostdb_test {

// Pages owned by a test, unmapped when it ends.
struct Pages {
  Pages(size_t bytes, uint32_t protect) : size(bytes), data(platform::AllocatePages(bytes, protect)) {}
  ~Pages() { platform::FreePages(data, size); }
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;
  uint8_t* bytes() const { return static_cast<uint8_t*>(data); }
  uintptr_t address() const { return reinterpret_cast<uintptr_t>(data); }
  size_t size;
  void* data;
};

// The call site as the game's code holds it, with the wildcard bytes filled in as a compiler would.
inline std::vector<uint8_t> CallSiteBytes() {
  return {0x48, 0x8B, 0x0D, 0,    0,    0,    0,    0x48, 0x8B, 0x01, 0x4C, 0x8D, 0x45, 0xF0, 0x48,
          0x8D, 0x55, 0xE8, 0xFF, 0x50, 0x48, 0x90, 0x48, 0x8B, 0x4D, 0xE8, 0x48, 0x85, 0xC9};
}

inline void PutDisplacement(uint8_t* at, int64_t displacement) {
  const uint32_t raw = static_cast<uint32_t>(static_cast<int32_t>(displacement));
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(raw >> (8 * i));
}

// Writes a call site at `at` whose first load reads the global at `global`.
inline void WriteCallSite(uint8_t* at, uintptr_t global) {
  const std::vector<uint8_t> site = CallSiteBytes();
  std::memcpy(at, site.data(), site.size());
  PutDisplacement(at + 3,
                  static_cast<int64_t>(global) - static_cast<int64_t>(reinterpret_cast<uintptr_t>(at) + 7));
}

}  // namespace gearloft::hostdb_test
