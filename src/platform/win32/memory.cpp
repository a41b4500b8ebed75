// gearloft platform layer, Windows: the memory manager's view of the game (the executable's address
// range, region queries) and page mapping for tests and the simulated game.
#include <windows.h>

#include <psapi.h>

#include "platform/testing.h"

namespace gearloft::platform {

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

}  // namespace gearloft::platform
