// gearloft benchmarks: the call-site scan over the code corpus, every search path and the runtime's memchr
// in interleaved rounds of the same run, printed as `name: value` lines. Needs no benchmark library, so
// the MinGW build runs it under Wine against the Windows C runtime's memchr.

// Usage: gearloft_bench_scan <corpus file> [--rounds N] [--prefix TEXT]
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"

namespace gearloft::bench {
namespace {

using Clock = std::chrono::steady_clock;

// What one pass over the corpus gives: every chunk's offsets, as the region walk would see them.
struct PassResult {
  std::vector<size_t> offsets;
  size_t matches = 0;
};

enum class Contender { kReference, kSse2, kAvx2, kDispatched, kMemchr };

const char* NameOf(Contender contender) {
  switch (contender) {
    case Contender::kReference:
      return "reference";
    case Contender::kSse2:
      return "sse2";
    case Contender::kAvx2:
      return "avx2";
    case Contender::kDispatched:
      return "dispatched";
    case Contender::kMemchr:
      return "memchr_absent";
  }
  return "?";
}

// One pass in 32 MiB + 64 byte chunks every 32 MiB, as ScanRange cuts a region. The reference and the
// dispatched search run guarded, as the scan runs them; SSE2 and AVX2 alone run unguarded.
PassResult Pass(Contender contender, const std::vector<uint8_t>& corpus, const std::vector<uint8_t>& absent,
                const std::vector<int>& pattern) {
  PassResult result;
  size_t offsets[kMaxMatchesPerChunk] = {};
  for (size_t chunk = 0; chunk < corpus.size(); chunk += kScanChunkStep) {
    const size_t length = std::min<size_t>(kScanChunkLength, corpus.size() - chunk);
    size_t found = 0;
    switch (contender) {
      case Contender::kReference:
        found =
            FindPatternReferenceGuarded(corpus.data() + chunk, length, pattern, kMaxMatchesPerChunk, offsets);
        break;
      case Contender::kSse2:
        found = FindPatternWith(ScanPath::kSse2, corpus.data() + chunk, length, pattern, kMaxMatchesPerChunk,
                                offsets);
        break;
      case Contender::kAvx2:
        found = FindPatternWith(ScanPath::kAvx2, corpus.data() + chunk, length, pattern, kMaxMatchesPerChunk,
                                offsets);
        break;
      case Contender::kDispatched:
        found = FindPatternGuarded(corpus.data() + chunk, length, pattern, kMaxMatchesPerChunk, offsets);
        break;
      case Contender::kMemchr:
        // The bandwidth ceiling: a byte search that never stops, over a buffer of the corpus's size.
        found = std::memchr(absent.data() + chunk, pattern[0], length) == nullptr ? 0 : 1;
        break;
    }
    for (size_t i = 0; i < found; ++i) result.offsets.push_back(chunk + offsets[i]);
    result.matches += found;
  }
  return result;
}

// The game's call site, as its compiler lays it out; a few are planted in every chunk of the corpus so
// the searches have matches to agree on, as they have in the game.
const uint8_t kCallSite[] = {0x48, 0x8B, 0x0D, 0x10, 0x32, 0x54, 0x00, 0x48, 0x8B, 0x01,
                             0x4C, 0x8D, 0x45, 0xF0, 0x48, 0x8D, 0x55, 0xE8, 0xFF, 0x50,
                             0x48, 0x90, 0x48, 0x8B, 0x4D, 0xE8, 0x48, 0x85, 0xC9};
constexpr size_t kSitesPerChunk = 3;

void PlantCallSites(std::vector<uint8_t>* corpus) {
  uint64_t state = 0x9E3779B97F4A7C15ULL;
  for (size_t chunk = 0; chunk < corpus->size(); chunk += kScanChunkStep) {
    const size_t length = std::min<size_t>(kScanChunkStep, corpus->size() - chunk);
    if (length < sizeof kCallSite) break;
    for (size_t i = 0; i < kSitesPerChunk; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const size_t at = chunk + static_cast<size_t>((state >> 17) % (length - sizeof kCallSite));
      std::memcpy(corpus->data() + at, kCallSite, sizeof kCallSite);
    }
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

}  // namespace
}  // namespace gearloft::bench

int main(int argc, char** argv) {
  using namespace gearloft;
  using namespace gearloft::bench;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <corpus file> [--rounds N] [--prefix TEXT]\n", argv[0]);
    return 2;
  }
  int rounds = 7;
  std::string prefix = "scan.";
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--prefix") == 0) prefix = argv[i + 1];
  }
  std::vector<uint8_t> corpus;
  if (!LoadCorpus(argv[1], &corpus)) {
    std::fprintf(stderr, "cannot read the corpus %s\n", argv[1]);
    return 1;
  }
  PlantCallSites(&corpus);
  const std::vector<int> pattern = ParsePattern(SignaturePatterns().at(0));
  // The memchr ceiling runs on the corpus with every first-byte value replaced, so the byte is absent
  // and the buffer has the corpus's size and placement in memory.
  std::vector<uint8_t> absent = corpus;
  const uint8_t first = static_cast<uint8_t>(pattern[0]);
  for (uint8_t& byte : absent) {
    if (byte == first) byte = static_cast<uint8_t>(first + 1);
  }
  size_t first_byte_count = 0;
  for (uint8_t byte : corpus) first_byte_count += byte == first ? 1 : 0;

  std::vector<Contender> contenders = {Contender::kReference, Contender::kSse2, Contender::kDispatched,
                                       Contender::kMemchr};
  const bool avx2 = platform::CpuHasAvx2();
  if (avx2) contenders.insert(contenders.begin() + 2, Contender::kAvx2);

  // Every search must give the reference's matches, chunk for chunk.
  const PassResult expected = Pass(Contender::kReference, corpus, absent, pattern);
  bool identical = true;
  for (Contender contender : contenders) {
    if (contender == Contender::kMemchr) continue;
    if (Pass(contender, corpus, absent, pattern).offsets != expected.offsets) {
      std::fprintf(stderr, "%s gives other matches than the reference\n", NameOf(contender));
      identical = false;
    }
  }

  // Interleaved rounds, each in a rotated order, so a slow moment of the machine hits every contender.
  std::vector<std::vector<double>> seconds(contenders.size());
  std::vector<std::vector<double>> cpu_seconds(contenders.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < contenders.size(); ++k) {
      const size_t index = (k + static_cast<size_t>(round)) % contenders.size();
      const Clock::time_point begin = Clock::now();
      const std::clock_t cpu_begin = std::clock();
      const PassResult result = Pass(contenders[index], corpus, absent, pattern);
      const std::clock_t cpu_end = std::clock();
      const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
      if (contenders[index] != Contender::kMemchr && result.matches != expected.matches) identical = false;
      seconds[index].push_back(elapsed);
      cpu_seconds[index].push_back(static_cast<double>(cpu_end - cpu_begin) / CLOCKS_PER_SEC);
    }
  }

  // The figures use the CPU time of each pass (the process's, from std::clock), so a pass the scheduler
  // interrupts on a busy machine is not counted slow; the wall-clock medians are printed beside them.
  // Under Wine std::clock is the wall clock.
  const double bytes = static_cast<double>(corpus.size());
  std::vector<double> cpu(contenders.size());
  std::vector<double> wall(contenders.size());
  for (size_t k = 0; k < contenders.size(); ++k) {
    cpu[k] = Median(cpu_seconds[k]);
    wall[k] = Median(seconds[k]);
  }
  auto at = [&](Contender contender) {
    return static_cast<size_t>(std::find(contenders.begin(), contenders.end(), contender) -
                               contenders.begin());
  };
  const size_t reference = at(Contender::kReference);
  const size_t dispatched = at(Contender::kDispatched);
  const size_t ceiling = at(Contender::kMemchr);
  const char* p = prefix.c_str();
  std::printf("%sratio_vs_reference: %.1f\n", p, cpu[reference] / cpu[dispatched]);
  std::printf("%sfraction_of_memchr_bandwidth: %.3f\n", p, cpu[ceiling] / cpu[dispatched]);
  std::printf("%sgbps: %.2f\n", p, bytes / cpu[dispatched] / 1e9);
  for (size_t k = 0; k < contenders.size(); ++k) {
    std::printf("%s%s_gbps: %.2f\n", p, NameOf(contenders[k]), bytes / cpu[k] / 1e9);
    std::printf("%s%s_wall_gbps: %.2f\n", p, NameOf(contenders[k]), bytes / wall[k] / 1e9);
  }
  // The same searches on 1 MiB that stays in the cache: how far above the memory's pace each could run.
  constexpr size_t kSliceBytes = 1024 * 1024;
  constexpr int kSlicePasses = 150;
  const std::vector<uint8_t> slice(corpus.begin(), corpus.begin() + static_cast<std::ptrdiff_t>(kSliceBytes));
  const std::vector<uint8_t> absent_slice(absent.begin(),
                                          absent.begin() + static_cast<std::ptrdiff_t>(kSliceBytes));
  for (Contender contender : contenders) {
    std::vector<double> pass_seconds;
    for (int round = 0; round < 3; ++round) {
      const std::clock_t cpu_begin = std::clock();
      for (int i = 0; i < kSlicePasses; ++i) Pass(contender, slice, absent_slice, pattern);
      pass_seconds.push_back(static_cast<double>(std::clock() - cpu_begin) / CLOCKS_PER_SEC);
    }
    const double slice_seconds = *std::min_element(pass_seconds.begin(), pass_seconds.end());
    std::printf("%sin_cache_%s_gbps: %.2f\n", p, NameOf(contender),
                static_cast<double>(kSliceBytes) * kSlicePasses / slice_seconds / 1e9);
  }
  std::printf("%spath: %s\n", p, FastScanPath() == ScanPath::kAvx2 ? "avx2" : "sse2");
  std::printf("%sidentical_results: %s\n", p, identical ? "yes" : "NO");
  std::printf("%smatches: %zu\n", p, expected.matches);
  std::printf("%scorpus_mib: %.1f\n", p, bytes / (1024.0 * 1024.0));
  std::printf("%sfirst_byte_fraction: %.4f\n", p, static_cast<double>(first_byte_count) / bytes);
  std::printf("%srounds: %d\n", p, rounds);
  return identical ? 0 : 1;
}
