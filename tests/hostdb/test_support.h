// gearloft host database bridge tests: pages mapped with a chosen protection, call sites written into
// them, and a canned game database object that answers every statement with a prepared result.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devhost/host_layout.h"
#include "platform/platform.h"

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

// A stand-in for the game's database object: every call answers `answer` (an empty slot when null)
// and is counted. The candidate global is the address of `global`.
struct CannedHost;

struct CannedObject {
  const devhost::HostVtable* vtable;
  CannedHost* owner;
};

struct CannedHost {
  CannedHost();
  CannedHost(const CannedHost&) = delete;
  CannedHost& operator=(const CannedHost&) = delete;
  uintptr_t global_address() const { return reinterpret_cast<uintptr_t>(&global); }

  devhost::HostVtable vtable{};
  CannedObject object{};
  void* global = nullptr;
  std::unique_ptr<devhost::BuiltResult> answer;
  int calls = 0;
  std::string last_sql;
};

inline void* GEARLOFT_HOSTCALL CannedExecuteQuery(void* self, void** result_slot, const char* sql) {
  CannedHost* host = static_cast<CannedObject*>(self)->owner;
  ++host->calls;
  host->last_sql = sql;
  void* result = host->answer ? static_cast<void*>(&host->answer->host) : nullptr;
  *result_slot = result;
  return result;
}

inline CannedHost::CannedHost() {
  vtable.execute_query = &CannedExecuteQuery;
  object.vtable = &vtable;
  object.owner = this;
  global = &object;
}

// A host answering one row with one integer cell: what a probe SELECT expects from a live database.
inline void AnswerCount(CannedHost* host, int64_t count) {
  host->answer = devhost::BuildHostResult({"COUNT(*)"}, {{devhost::IntegerValue(count)}});
}

}  // namespace gearloft::hostdb_test
