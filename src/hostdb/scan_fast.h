// gearloft host database bridge: the fast call-site search, internal to src/hostdb. Two rare fixed bytes
// of the pattern are tested at 16 or 32 start positions at once; only a start that passes both is checked
// in full.
#pragma once

// scan_avx2.cpp is compiled for AVX2 alone, so this header holds plain types and declarations: no inline
// code that the AVX2 file could emit for the whole library to run on a CPU without AVX2.

#include <cstddef>
#include <cstdint>

namespace gearloft::scan {

struct Search {
  const uint8_t* start;
  size_t last;  // the last start a whole pattern fits after: length - pattern_length
  const int* pattern;
  size_t pattern_length;
  // The filter: the bytes at these two fixed positions of the pattern (first <= second; equal when the
  // pattern has one fixed byte only).
  size_t first_position;
  size_t second_position;
  uint8_t first_byte;
  uint8_t second_byte;
  size_t max_matches;
  size_t* offsets;
  size_t found;
};

// Fills `search` for one range; false when the reference would find nothing without reading a byte
// (empty pattern, range shorter than the pattern, a wildcard first, no match wanted).
bool PrepareSearch(const uint8_t* start, size_t length, const int* pattern, size_t pattern_length,
                   size_t max_matches, size_t* offsets, Search* search);

// Checks the starts base + i for each set bit i of `mask`, lowest first, and records the matches; true
// once the maximum is reached. Every such start must be <= search->last.
bool CheckCandidates(Search* search, size_t base, uint64_t mask);

// Checks every start from `position` to the last one, one at a time.
void SearchTail(Search* search, size_t position);

// The vector loops; each ends with SearchTail for the starts too close to the end for a whole vector.
void SearchSse2(Search* search);
void SearchAvx2(Search* search);
// The AVX2 loop's own vzeroupper is skipped when a fault unwinds out of it: its caller ends the upper
// halves it left dirty with this, or every SSE instruction after it pays the state transition.
void EndAvx2();

}  // namespace gearloft::scan
