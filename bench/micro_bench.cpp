// gearloft benchmarks: Google Benchmark views of the single steps, for profiling one of them alone: the
// search paths over the code corpus (GEARLOFT_BENCH_CORPUS names the cache file), insert batching, the
// final checks, the in-place diff, warm loads of 1,000 scripts, a listing, a host call, ApplyPlan.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "apply/apply.h"
#include "bench/bench_support.h"
#include "bench/corpus.h"
#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/log.h"

namespace gearloft::bench {
namespace {

const std::vector<uint8_t>* Corpus() {
  static const std::vector<uint8_t>* corpus = [] {
    auto* bytes = new std::vector<uint8_t>;
    const char* path = std::getenv("GEARLOFT_BENCH_CORPUS");
    if (path == nullptr || !LoadCorpus(path, bytes)) bytes->clear();
    return bytes;
  }();
  return corpus;
}

void SearchCorpus(benchmark::State& state, ScanPath path) {
  const std::vector<uint8_t>* corpus = Corpus();
  if (corpus->empty()) {
    state.SkipWithError("set GEARLOFT_BENCH_CORPUS to the corpus file bench/run builds");
    return;
  }
  if (path == ScanPath::kAvx2 && !platform::CpuHasAvx2()) {
    state.SkipWithError("this CPU has no AVX2");
    return;
  }
  const std::vector<int> pattern = ParsePattern(SignaturePatterns().at(0));
  size_t offsets[kMaxMatchesPerChunk] = {};
  for (auto _ : state) {
    size_t found = 0;
    for (size_t chunk = 0; chunk < corpus->size(); chunk += kScanChunkStep) {
      const size_t length = std::min<size_t>(kScanChunkLength, corpus->size() - chunk);
      found += FindPatternWith(path, corpus->data() + chunk, length, pattern, kMaxMatchesPerChunk, offsets);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus->size()));
}
BENCHMARK_CAPTURE(SearchCorpus, reference, ScanPath::kReference)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchCorpus, sse2, ScanPath::kSse2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchCorpus, avx2, ScanPath::kAvx2)->Unit(benchmark::kMillisecond);

// One game for every benchmark below: the large fixture, 1,000 one-table scripts and their plan.
struct Shared {
  Game game;
  ScriptListing listing;
  Plan plan;
  bool ok = false;
};

Shared* TheShared() {
  static Shared* shared = [] {
    auto* made = new Shared;
    std::string error;
    made->ok = OpenGame(devhost::kLargeFixtureCars, &made->game, &error) &&
               WriteScripts(made->game.folder, 1000, ScriptKind::kOneTable) && ResolveDatabase(&error);
    if (made->ok) {
      made->listing = ListScripts();
      made->plan = LoadPlan(made->listing, PreviousRowIds());
    }
    return made;
  }();
  return shared;
}

Shared* GameOrSkip(benchmark::State& state) {
  Shared* shared = TheShared();
  if (shared->ok) return shared;
  state.SkipWithError("the simulated game could not be set up");
  return nullptr;
}

void BatchTenThousandRows(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(BatchStatements(shared->plan.statements));
}
BENCHMARK(BatchTenThousandRows)->Unit(benchmark::kMillisecond);

void FinalChecksOfTenThousandRows(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(FinalChecks(shared->plan.checks));
}
BENCHMARK(FinalChecksOfTenThousandRows)->Unit(benchmark::kMillisecond);

void DiffTenThousandRows(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(DiffAddedRows(shared->plan, shared->plan));
}
BENCHMARK(DiffTenThousandRows)->Unit(benchmark::kMillisecond);

void WarmLoadPlanOfThousandScripts(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(LoadPlan(shared->listing, PreviousRowIds()));
}
BENCHMARK(WarmLoadPlanOfThousandScripts)->Unit(benchmark::kMillisecond);

// A re-load of the same 1,000 scripts as ReapplyInPlace runs it, with the applied plan's rows left out of
// the Level look-ups; the first run fills the query cache, as the first re-load in the game does.
void WarmReloadPlanOfThousandScripts(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  const PreviousRowIds previous = PreviousRowIdsOf(shared->plan);
  benchmark::DoNotOptimize(LoadPlan(shared->listing, previous));
  for (auto _ : state) benchmark::DoNotOptimize(LoadPlan(shared->listing, previous));
}
BENCHMARK(WarmReloadPlanOfThousandScripts)->Unit(benchmark::kMillisecond);

void ListThousandScripts(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(ListScripts());
}
BENCHMARK(ListThousandScripts)->Unit(benchmark::kMicrosecond);

// The parts of one host call: the region query the bridge makes before each call (from /proc/self/maps on
// Linux, VirtualQuery on Windows), then a whole Query of one indexed row through the simulated game.
void RegionQueryOfTheMethod(benchmark::State& state) {
  platform::MemoryRegion region{};
  const uintptr_t code = reinterpret_cast<uintptr_t>(&RegionQueryOfTheMethod);
  for (auto _ : state) benchmark::DoNotOptimize(platform::QueryMemory(code, &region));
}
BENCHMARK(RegionQueryOfTheMethod)->Unit(benchmark::kMicrosecond);

void HostCallOfOneIndexedRow(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  for (auto _ : state) benchmark::DoNotOptimize(Query("SELECT COUNT(*) FROM Data_Car WHERE Id = 7"));
}
BENCHMARK(HostCallOfOneIndexedRow)->Unit(benchmark::kMicrosecond);

void ApplyTenThousandRows(benchmark::State& state) {
  Shared* shared = GameOrSkip(state);
  if (shared == nullptr) return;
  std::string error;
  for (auto _ : state) {
    if (!ApplyPlan(shared->plan)) {
      state.SkipWithError("ApplyPlan missed");
      return;
    }
    state.PauseTiming();
    UndoDirectly(shared->game.database, shared->plan, &error);
    state.ResumeTiming();
  }
}
BENCHMARK(ApplyTenThousandRows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace gearloft::bench

BENCHMARK_MAIN();
