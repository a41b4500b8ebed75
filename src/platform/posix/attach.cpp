// gearloft shared library for the simulated game on Linux: starts the worker when the library is
// loaded, and exports the one stop call the simulated game makes before it exits.
#include "platform/platform.h"
#include "runtime/runtime.h"

namespace {

__attribute__((constructor)) void StartWorkerOnLoad() {
  // As on Windows, loading must not wait for the worker: it starts on its own thread and the loader
  // returns at once. A thread that cannot start leaves the game running without the library's work.
  gearloft::platform::StartThread(gearloft::WorkerMain, nullptr);
}

}  // namespace

// The Windows library exports nothing; the simulated game needs this to stop the worker before exit.
extern "C" __attribute__((visibility("default"))) void gearloft_devhost_stop(void) {
  gearloft::RequestWorkerStop();
}
