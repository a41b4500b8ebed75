// gearloft attach entry, Windows: the loader's process-attach notification starts the worker thread and
// returns at once; everything else happens on that thread.
#include <windows.h>

#include "runtime/runtime.h"

namespace {

DWORD WINAPI RunWorker(LPVOID parameter) {
  gearloft::WorkerMain(parameter);
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    // The worker never ends: a loader that unloads the library must not pull the code from under it.
    // The module's base address is an address inside the module.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(instance), &pinned);
    HANDLE worker = CreateThread(nullptr, 0, RunWorker, nullptr, 0, nullptr);
    if (worker != nullptr) CloseHandle(worker);
  }
  return TRUE;
}
