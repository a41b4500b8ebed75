// gearloft platform layer, every system: the refuse hook, the folder listing's suffix match, and the
// guarded call and read built on each system's own guard.
#include "platform/common.h"

#include <atomic>

#include "platform/testing.h"

namespace gearloft::platform {
namespace {

// Set by tests while the code under test may run on other threads. A constant-initialized atomic with
// nothing to destroy: a thread still opening files while the process exits reads a valid hook.
std::atomic<RefuseHook> refuse_hook{nullptr};

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct CallJob {
  ExecuteQueryFn method;
  void* object;
  void** result_slot;
  const char* sql;
};

void RunCall(void* context) {
  const auto* job = static_cast<const CallJob*>(context);
  job->method(job->object, job->result_slot, job->sql);
}

}  // namespace

void SetRefuseHook(RefuseHook hook) {
  refuse_hook.store(hook);
}

bool GuardedCall(uintptr_t method, void* object, void** result_slot, const char* sql) {
  CallJob job{reinterpret_cast<ExecuteQueryFn>(method), object, result_slot, sql};
  return GuardedRun(RunCall, &job);
}

bool GuardedRead(const void* source, void* destination, size_t size) {
  ReadableCache cache;
  return GuardedRead(source, destination, size, &cache);
}

namespace common {

bool Refused(const char* operation, const std::string& path) {
  const RefuseHook hook = refuse_hook.load();
  return hook != nullptr && hook(operation, path);
}

bool EndsWithIgnoringAsciiCase(const std::string& text, const std::string& suffix) {
  if (suffix.size() > text.size()) return false;
  const size_t start = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (AsciiLower(text[start + i]) != AsciiLower(suffix[i])) return false;
  }
  return true;
}

}  // namespace common
}  // namespace gearloft::platform
