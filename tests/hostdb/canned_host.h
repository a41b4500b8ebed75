// gearloft host database bridge tests: a canned game database object that answers every statement with
// a prepared result laid out by the simulated game's builder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devhost/host_layout.h"
#include "platform/platform.h"

namespace gearloft::hostdb_test {

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
