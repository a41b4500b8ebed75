// gearloft platform layer, Windows: clocks, threads, the lock, and the memory manager's view of the game.
// Threads and the lock are the kernel's own (no pthreads emulation): a worker ended at process exit while
// holding an emulated mutex could otherwise hang the game's exit.
#include <windows.h>

#include <psapi.h>

#include "platform/testing.h"

namespace gearloft::platform {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

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

TimeOfDay LocalTimeOfDay() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return TimeOfDay{now.wHour, now.wMinute, now.wSecond};
}

bool ProcessCreationTime(uint64_t* filetime) {
  FILETIME creation, exit, kernel, user;
  if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user) == 0) return false;
  *filetime = FromFileTime(creation);
  return true;
}

uint64_t SystemTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

uint64_t TickCountMs() {
  return GetTickCount64();
}

void SleepMs(uint32_t milliseconds) {
  Sleep(milliseconds);
}

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

bool MainModuleRange(ModuleRange* range) {
  MODULEINFO info;
  if (GetModuleInformation(GetCurrentProcess(), GetModuleHandleW(nullptr), &info, sizeof(info)) == 0) {
    return false;
  }
  range->base = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
  range->end = range->base + info.SizeOfImage;
  return true;
}

bool QueryMemory(uintptr_t address, MemoryRegion* region) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof(info)) == 0) return false;
  region->base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  region->size = info.RegionSize;
  // Reserved and free ranges both read as gaps: only committed pages can be read.
  region->state = info.State == MEM_COMMIT ? kMemCommit : 0;
  region->protect = info.Protect;
  return true;
}

size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

void* AllocatePages(size_t size, uint32_t protect) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, protect);
}

bool ProtectPages(void* address, size_t size, uint32_t protect) {
  DWORD previous;
  return VirtualProtect(address, size, protect, &previous) != 0;
}

void FreePages(void* address, size_t /*size*/) {
  // Releasing takes the whole allocation; the size only matters to the POSIX side's munmap.
  VirtualFree(address, 0, MEM_RELEASE);
}

int ConsoleProcessCount() {
  DWORD processes[2];
  return static_cast<int>(GetConsoleProcessList(processes, 2));
}

bool InputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace gearloft::platform
