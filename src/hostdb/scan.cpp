// gearloft host database bridge: the ExecuteQuery call-site signature and the scan of the game's code
// that turns each call site into a candidate global.
#include <atomic>
#include <cstring>

#include "hostdb/bridge_state.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"

namespace gearloft {

namespace {

// The game's own call of CDatabase::ExecuteQuery; the first instruction's displacement leads to the
// global that holds the object.
const char* const kCallSiteSignature =
    "48 8B 0D ? ? ? ? "  // mov rcx, [rip+disp32]     the CDatabase pointer from its global
    "48 8B 01 "          // mov rax, [rcx]             its virtual table
    "4C 8D 45 ? "        // lea r8, [rbp+disp8]        the statement text
    "48 8D 55 ? "        // lea rdx, [rbp+disp8]       the result slot
    "FF 50 48 "          // call qword ptr [rax+0x48]  ExecuteQuery, the tenth table entry
    "90 "                // nop
    "48 8B 4D ? "        // mov rcx, [rbp+disp8]       the result the call left in the slot
    "48 85 C9";          // test rcx, rcx              which may be null

// The variable load sits at the start of a match; the decode also looks a little further in case a
// pattern of another build begins earlier than the load.
constexpr int kLoadSearchSpan = 24;
constexpr size_t kLoadLength = 7;

std::atomic<ChunkObserver>& TheChunkObserver() {
  static std::atomic<ChunkObserver>& observer = *new std::atomic<ChunkObserver>(nullptr);
  return observer;
}

// The search proper. `found` is written after each match, behind a signal fence, so a fault that ends
// the search half-way leaves an exact count of the offsets already stored.
void SearchInto(const uint8_t* start, size_t length, const int* pattern, size_t pattern_length,
                size_t max_matches, size_t* offsets, volatile size_t* found) {
  *found = 0;
  if (pattern_length == 0 || length < pattern_length || max_matches == 0 || pattern[0] < 0) return;
  const size_t last = length - pattern_length;
  const int first = pattern[0];
  size_t count = 0;
  size_t position = 0;
  while (position <= last) {
    const void* hit = std::memchr(start + position, first, last - position + 1);
    if (hit == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - start);
    bool match = true;
    for (size_t i = 1; i < pattern_length; ++i) {
      if (pattern[i] >= 0 && start[at + i] != static_cast<uint8_t>(pattern[i])) {
        match = false;
        break;
      }
    }
    if (match) {
      offsets[count] = at;
      ++count;
      std::atomic_signal_fence(std::memory_order_seq_cst);
      *found = count;
      if (count == max_matches) break;
    }
    position = at + 1;
  }
}

struct GuardedSearch {
  const uint8_t* start;
  size_t length;
  const int* pattern;
  size_t pattern_length;
  size_t max_matches;
  size_t* offsets;
  volatile size_t found;
};

void RunGuardedSearch(void* context) {
  GuardedSearch* search = static_cast<GuardedSearch*>(context);
  SearchInto(search->start, search->length, search->pattern, search->pattern_length, search->max_matches,
             search->offsets, &search->found);
}

// Only committed memory the game can execute and we can read: plain execute-only pages and guard
// pages are never touched.
bool Searchable(const platform::MemoryRegion& region) {
  if (region.state != platform::kMemCommit) return false;
  if ((region.protect & (platform::kPageNoAccess | platform::kPageGuard)) != 0) return false;
  return (region.protect & (platform::kPageExecuteRead | platform::kPageExecuteReadWrite |
                            platform::kPageExecuteWriteCopy)) != 0;
}

// The global loaded by the `mov rcx|rsi, [rip+disp32]` at or just after a match; false when none of
// the first 24 positions holds such a load whose target lies inside [begin, end).
bool DecodeGlobal(uintptr_t match, uintptr_t begin, uintptr_t end, uintptr_t* global) {
  platform::ReadableCache regions;
  for (int k = 0; k < kLoadSearchSpan; ++k) {
    uint8_t bytes[kLoadLength] = {};
    const uintptr_t at = match + static_cast<uintptr_t>(k);
    if (!platform::GuardedRead(reinterpret_cast<const void*>(at), bytes, kLoadLength, &regions)) return false;
    if (bytes[0] != 0x48 || bytes[1] != 0x8B || (bytes[2] != 0x0D && bytes[2] != 0x35)) continue;
    const uint32_t raw = static_cast<uint32_t>(bytes[3]) | (static_cast<uint32_t>(bytes[4]) << 8) |
                         (static_cast<uint32_t>(bytes[5]) << 16) | (static_cast<uint32_t>(bytes[6]) << 24);
    // Sign-extend through the two's complement bit pattern; the sum wraps like the CPU's does.
    const uintptr_t displacement = static_cast<uintptr_t>(static_cast<int64_t>(static_cast<int32_t>(raw)));
    const uintptr_t target = at + kLoadLength + displacement;
    if (target >= begin && target < end) {
      *global = target;
      return true;
    }
  }
  return false;
}

void AddUnique(uintptr_t global, std::vector<uintptr_t>* globals) {
  for (uintptr_t known : *globals) {
    if (known == global) return;
  }
  globals->push_back(global);
}

void ScanChunk(uintptr_t chunk_begin, uintptr_t chunk_end, const std::vector<int>& pattern, uintptr_t begin,
               uintptr_t end, std::vector<uintptr_t>* globals) {
  if (ChunkObserver observer = TheChunkObserver().load()) observer(chunk_begin, chunk_end);
  size_t offsets[kMaxMatchesPerChunk] = {};
  const size_t count = FindPatternGuarded(reinterpret_cast<const uint8_t*>(chunk_begin),
                                          chunk_end - chunk_begin, pattern, kMaxMatchesPerChunk, offsets);
  for (size_t i = 0; i < count; ++i) {
    uintptr_t global = 0;
    if (DecodeGlobal(chunk_begin + offsets[i], begin, end, &global)) AddUnique(global, globals);
  }
}

}  // namespace

std::vector<int> ParsePattern(const std::string& text) {
  std::vector<int> pattern;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (text[i] == '?') {
      pattern.push_back(-1);
      ++i;
      continue;
    }
    // A hexadecimal token ends where its digits end; a character that is no digit at all is skipped
    // so a stray byte cannot stall the parse.
    int value = 0;
    size_t digits = 0;
    while (i < text.size()) {
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) break;
      value = (value * 16 + digit) & 0xFFFF;
      ++digits;
      ++i;
    }
    if (digits == 0) {
      ++i;
      continue;
    }
    pattern.push_back(value & 0xFF);
  }
  return pattern;
}

const std::vector<std::string>& SignaturePatterns() {
  static const std::vector<std::string>& patterns = *new std::vector<std::string>{kCallSiteSignature};
  return patterns;
}

size_t FindPatternReference(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                            size_t max_matches, size_t* offsets) {
  volatile size_t found = 0;
  SearchInto(start, length, pattern.data(), pattern.size(), max_matches, offsets, &found);
  return found;
}

size_t FindPatternReferenceGuarded(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                                   size_t max_matches, size_t* offsets) {
  GuardedSearch search{start, length, pattern.data(), pattern.size(), max_matches, offsets, 0};
  platform::GuardedRun(&RunGuardedSearch, &search);
  return search.found;
}

void ScanRange(uintptr_t begin, uintptr_t end, const std::vector<int>& pattern,
               std::vector<uintptr_t>* globals) {
  uintptr_t address = begin;
  while (address < end) {
    platform::MemoryRegion region{};
    if (!platform::QueryMemory(address, &region)) break;
    uintptr_t region_end = region.base + region.size;
    if (region_end > end) region_end = end;
    // A region that does not reach past the current address would stall the walk.
    if (region_end <= address) break;
    if (Searchable(region)) {
      for (uintptr_t chunk = address;; chunk += kScanChunkStep) {
        const bool last = region_end - chunk <= kScanChunkLength;
        ScanChunk(chunk, last ? region_end : chunk + kScanChunkLength, pattern, begin, end, globals);
        if (last) break;
      }
    }
    address = region_end;
  }
}

bool ScanForCandidates() {
  platform::MutexLock lock(bridge::Mutex());
  platform::ModuleRange module{};
  if (!platform::MainModuleRange(&module)) return false;
  std::vector<uintptr_t> found;
  for (const std::string& text : SignaturePatterns()) {
    ScanRange(module.base, module.end, ParsePattern(text), &found);
  }
  if (found.empty()) return false;
  bridge::CandidateList() = found;
  bridge::PublishCandidateCount();
  return true;
}

std::vector<uintptr_t> Candidates() {
  platform::MutexLock lock(bridge::Mutex());
  return bridge::CandidateList();
}

void SetChunkObserverForTest(ChunkObserver observer) {
  TheChunkObserver().store(observer);
}

}  // namespace gearloft
