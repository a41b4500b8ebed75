// gearloft host database bridge: the game's database interface, the call-site signature scan,
// fault-guarded and serialised query calls with copying of result rows, and probing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gearloft {

struct QueryCell {
  enum class Kind { kNull, kInteger, kReal, kText };
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;
};

// The same kind and value; reals bit for bit, as a value that comes back one rounding away is not the value
// the game had.
bool SameCell(const QueryCell& a, const QueryCell& b);

struct QueryResult {
  bool ok = false;
  std::vector<std::string> columns;
  std::vector<std::vector<QueryCell>> rows;
};

// ---- Call-site signature scan -----------------------------------------------------------------------

// The ExecuteQuery call-site signature; -1 marks a wildcard position.
std::vector<int> ParsePattern(const std::string& text);
const std::vector<std::string>& SignaturePatterns();

// Matches of `pattern` in [start, start + length), at most `max_matches`, as offsets from start, in
// ascending order. Matches may overlap; a pattern whose first position is a wildcard matches nothing.
// Runs the fast search this CPU allows (FastScanPath) with exactly the results of the reference.
size_t FindPattern(const uint8_t* start, size_t length, const std::vector<int>& pattern, size_t max_matches,
                   size_t* offsets);
// FindPattern under the fault guard: a fault ends the search and the matches the reference search would
// have recorded before it count (the fast search, on a fault, hands the range to the reference).
size_t FindPatternGuarded(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                          size_t max_matches, size_t* offsets);

// The first-byte search: the runtime's memchr finds each first byte, the rest is compared in place. The
// definition of a match, and the oracle the fast paths are tested against.
size_t FindPatternReference(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                            size_t max_matches, size_t* offsets);
// FindPatternReference under the fault guard: a fault ends the search and the matches so far count.
size_t FindPatternReferenceGuarded(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                                   size_t max_matches, size_t* offsets);

enum class ScanPath {
  kReference,  // the first-byte search itself
  kSse2,       // two rare pattern bytes tested at 16 starts at once, then a full check; any x86-64 CPU
  kAvx2,       // the same at 32 starts at once, where the CPU runs AVX2
};
// The path FindPattern takes here: AVX2 where the CPU has it, SSE2 otherwise.
ScanPath FastScanPath();
// FindPattern along a chosen path, for the tests and benchmarks that compare them. kAvx2 on a CPU
// without AVX2 runs the SSE2 path.
size_t FindPatternWith(ScanPath path, const uint8_t* start, size_t length, const std::vector<int>& pattern,
                       size_t max_matches, size_t* offsets);

// One pass over the main executable: true when it found at least one candidate global and replaced
// the candidate list with them; false leaves the list as it was.
bool ScanForCandidates();
std::vector<uintptr_t> Candidates();

// The region walk of one pass over [begin, end) for one parsed pattern: committed, readable and
// executable regions only, in chunks of 32 MiB + 64 bytes every 32 MiB. Appends each global a match
// loads that lies inside [begin, end) and is not in `globals` yet. ScanForCandidates runs it on the
// executable's range; tests run it on pages they map themselves.
void ScanRange(uintptr_t begin, uintptr_t end, const std::vector<int>& pattern,
               std::vector<uintptr_t>* globals);
constexpr uintptr_t kScanChunkStep = 0x2000000;    // 32 MiB between chunk starts
constexpr uintptr_t kScanChunkLength = 0x2000040;  // + 64 bytes so a straddling call site is seen
constexpr size_t kMaxMatchesPerChunk = 32;

// ---- Query calls and result rows --------------------------------------------------------------------

// One guarded call of the object held by `global` (callers hold the bridge mutex). False when the
// global, object or table cannot be read or is 0, the method is not executable, or the call faulted.
// `result_slot` (may be null) receives the host result address, possibly 0.
bool CallExecuteQuery(uintptr_t global, const char* sql, uintptr_t* result_slot);
// Copies a host result object into a QueryResult (bounded: < 4096 columns, < 1,000,000 rows,
// < 1,000,000 cells, strings up to 1 MiB, 16 MiB of text in all; a larger claim is not ok).
QueryResult ReadHostResult(uintptr_t result);

QueryResult Query(const std::string& sql);
bool Execute(const std::string& sql);
QueryResult CachedQuery(const std::string& sql);
double CellAsDouble(const QueryCell* cell);

// ---- Database object resolution and probing ---------------------------------------------------------

bool ProbeCandidates(std::string* message);
std::string DescribeCandidates();
void ClearCurrent();
size_t CandidateCount();
bool HasCurrent();

constexpr const char* kProbeSql = "SELECT COUNT(*) FROM List_UpgradeRimSizeFront";

// Test seams: replace the candidate list, set the current object, empty the query cache, and watch
// every chunk the region walk searches (null stops watching).
void SetCandidatesForTest(const std::vector<uintptr_t>& candidates);
void SetCurrentForTest(uintptr_t global);
void ResetQueryCacheForTest();
using ChunkObserver = void (*)(uintptr_t begin, uintptr_t end);
void SetChunkObserverForTest(ChunkObserver observer);

}  // namespace gearloft
