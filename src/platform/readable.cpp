// gearloft platform layer, every system: whether a range of the game's memory can be read, from the
// memory manager's answer (QueryMemory), before anything touches it.
#include "platform/testing.h"

namespace gearloft::platform {
namespace {

bool Reads(const MemoryRegion& region) {
  if (region.state != kMemCommit) return false;
  if ((region.protect & (kPageNoAccess | kPageGuard)) != 0) return false;
  constexpr uint32_t kReadable = kPageReadOnly | kPageReadWrite | 0x08 /* PAGE_WRITECOPY */ |
                                 kPageExecuteRead | kPageExecuteReadWrite | kPageExecuteWriteCopy;
  return (region.protect & kReadable) != 0;
}

// The end of a cached readable range holding `address`, or 0.
uintptr_t CachedEnd(const ReadableCache& cache, uintptr_t address) {
  for (size_t i = 0; i < ReadableCache::kSlots; ++i) {
    if (cache.end[i] != 0 && address >= cache.begin[i] && address < cache.end[i]) return cache.end[i];
  }
  return 0;
}

}  // namespace

bool RangeReadable(uintptr_t address, size_t size, ReadableCache* cache) {
  if (size == 0) return true;
  const uintptr_t last = address + (size - 1);
  if (last < address) return false;
  uintptr_t at = address;
  for (;;) {
    uintptr_t end = CachedEnd(*cache, at);
    if (end == 0) {
      MemoryRegion region{0, 0, 0, 0};
      ++cache->queries;
      if (!QueryMemory(at, &region) || !Reads(region) || region.size == 0) return false;
      end = region.base + region.size;
      // A region reaching the top of the address space ends at its last byte.
      if (end < region.base) end = UINTPTR_MAX;
      const size_t slot = cache->next;
      cache->begin[slot] = region.base;
      cache->end[slot] = end;
      cache->next = (slot + 1) % ReadableCache::kSlots;
    }
    if (last < end) return true;
    at = end;
  }
}

}  // namespace gearloft::platform
