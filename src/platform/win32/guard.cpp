// gearloft platform layer, Windows: guarded reads and calls into the game. Each runs one copy or one call
// under a structured-exception guard that accepts every exception and reports it as false.
#include <windows.h>

#include <string.h>

#include "platform/platform.h"

namespace gearloft::platform {
namespace {

#if defined(_MSC_VER)

// Holds no object that needs unwinding, as __try requires.
bool Invoke(void (*fn)(void*), void* context) {
  __try {
    fn(context);
  } __except (EXCEPTION_EXECUTE_HANDLER) {
    return false;
  }
  return true;
}

#elif defined(__MINGW64__) && defined(__x86_64__)

extern "C" int gearloft_guarded_invoke(void (*fn)(void*), void* context);  // guard_mingw.S

bool Invoke(void (*fn)(void*), void* context) {
  return gearloft_guarded_invoke(fn, context) != 0;
}

#else
// An unguarded call into the game would take the whole game down with the first bad pointer.
#error "no structured-exception guard for this toolchain"
#endif

struct CopyJob {
  const void* source;
  void* destination;
  size_t size;
};

void RunCopy(void* context) {
  const auto* job = static_cast<const CopyJob*>(context);
  memcpy(job->destination, job->source, job->size);
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

bool GuardedRead(const void* source, void* destination, size_t size) {
  CopyJob job{source, destination, size};
  return Invoke(RunCopy, &job);
}

bool GuardedCall(uintptr_t method, void* object, void** result_slot, const char* sql) {
  CallJob job{reinterpret_cast<ExecuteQueryFn>(method), object, result_slot, sql};
  return Invoke(RunCall, &job);
}

bool GuardedRun(void (*body)(void* context), void* context) {
  return Invoke(body, context);
}

}  // namespace gearloft::platform
