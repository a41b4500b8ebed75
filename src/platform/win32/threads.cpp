// gearloft platform layer, Windows: detached threads and the never-destroyed lock. Threads and the lock
// are the kernel's own (no pthreads emulation): a worker ended at process exit while holding an emulated
// mutex could otherwise hang the game's exit.
#include <windows.h>

#include "platform/platform.h"

namespace gearloft::platform {
namespace {

struct ThreadStart {
  void (*entry)(void*);
  void* arg;
};

DWORD WINAPI RunThread(LPVOID parameter) {
  const ThreadStart start = *static_cast<ThreadStart*>(parameter);
  delete static_cast<ThreadStart*>(parameter);
  start.entry(start.arg);
  return 0;
}

}  // namespace

bool StartThread(void (*entry)(void*), void* arg, size_t stack_bytes) {
  auto* start = new ThreadStart{entry, arg};
  // A requested size is the stack's reservation, as the default 1 MiB is.
  const DWORD flags = stack_bytes != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
  HANDLE thread = CreateThread(nullptr, stack_bytes, RunThread, start, flags, nullptr);
  if (thread == nullptr) {
    delete start;
    return false;
  }
  CloseHandle(thread);
  return true;
}

struct Mutex {
  SRWLOCK lock;
};

Mutex* NewMutex() {
  return new Mutex{SRWLOCK_INIT};
}

void Lock(Mutex* mutex) {
  AcquireSRWLockExclusive(&mutex->lock);
}

void Unlock(Mutex* mutex) {
  ReleaseSRWLockExclusive(&mutex->lock);
}

}  // namespace gearloft::platform
