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

struct QueryResult {
  bool ok = false;
  std::vector<std::string> columns;
  std::vector<std::vector<QueryCell>> rows;
};

// ---- Call-site signature scan -----------------------------------------------------------------------

// The ExecuteQuery call-site signature; -1 marks a wildcard position.
std::vector<int> ParsePattern(const std::string& text);
const std::vector<std::string>& SignaturePatterns();

// Matches of `pattern` in [start, start + length), at most `max_matches`, as offsets from start.
size_t FindPattern(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                   size_t max_matches, size_t* offsets);

bool ScanForCandidates();
std::vector<uintptr_t> Candidates();

// ---- Query calls and result rows --------------------------------------------------------------------

bool CallExecuteQuery(uintptr_t global, const char* sql, uintptr_t* result_slot);
// Copies a host result object into a QueryResult (bounded: < 4096 columns, < 1,000,000 rows,
// strings up to 1 MiB).
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

// Test seams: replace the candidate list, set the current object, empty the query cache.
void SetCandidatesForTest(const std::vector<uintptr_t>& candidates);
void SetCurrentForTest(uintptr_t global);
void ResetQueryCacheForTest();

}  // namespace gearloft
