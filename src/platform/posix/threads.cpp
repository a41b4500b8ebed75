// gearloft platform layer, Linux: detached threads and the never-destroyed lock, over pthreads.
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include "platform/platform.h"

namespace gearloft::platform {

struct Mutex {
  pthread_mutex_t handle;
};

namespace {

struct ThreadStart {
  void (*entry)(void*);
  void* arg;
};

void* RunThread(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.arg);
  return nullptr;
}

}  // namespace

bool StartThread(void (*entry)(void*), void* arg, size_t stack_bytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  bool ok = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0;
  if (ok && stack_bytes != 0) {
    // pthreads refuses sizes below its minimum or (on some systems) not a whole number of pages.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    size_t size = stack_bytes < minimum ? minimum : stack_bytes;
    size = (size + page - 1) / page * page;
    ok = pthread_attr_setstacksize(&attributes, size) == 0;
  }
  if (ok) {
    auto* start = new ThreadStart{entry, arg};
    pthread_t thread;
    ok = pthread_create(&thread, &attributes, RunThread, start) == 0;
    if (!ok) delete start;
  }
  pthread_attr_destroy(&attributes);
  return ok;
}

Mutex* NewMutex() {
  auto* mutex = new Mutex;
  pthread_mutex_init(&mutex->handle, nullptr);
  return mutex;
}

void Lock(Mutex* mutex) {
  pthread_mutex_lock(&mutex->handle);
}
void Unlock(Mutex* mutex) {
  pthread_mutex_unlock(&mutex->handle);
}

}  // namespace gearloft::platform
