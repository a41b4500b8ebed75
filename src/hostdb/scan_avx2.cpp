// gearloft host database bridge: the AVX2 loop of the fast call-site search, 32 starts per vector. The
// only file compiled for AVX2; it is entered only when the CPU has AVX2 and shares no inline code with
// the rest of the library (see scan_fast.h).
#include <immintrin.h>

#include "hostdb/scan_fast.h"

namespace gearloft::scan {

namespace {

__m256i PairMask32(const uint8_t* first, const uint8_t* second, __m256i want_first, __m256i want_second) {
  const __m256i a =
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first)), want_first);
  const __m256i b =
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(second)), want_second);
  return _mm256_and_si256(a, b);
}

uint64_t Bits32(__m256i mask) {
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(mask)));
}

}  // namespace

void SearchAvx2(Search* search) {
  const uint8_t* first = search->start + search->first_position;
  const uint8_t* second = search->start + search->second_position;
  const __m256i want_first = _mm256_set1_epi8(static_cast<char>(search->first_byte));
  const __m256i want_second = _mm256_set1_epi8(static_cast<char>(search->second_byte));
  // Starts [0, end); see SearchSse2 for why every load stays inside the range.
  const size_t end = search->last + 1;
  size_t position = 0;
  // Four vectors per round with one test of their union: the loop then runs at the memory's pace.
  for (; end - position >= 128; position += 128) {
    const __m256i m0 = PairMask32(first + position, second + position, want_first, want_second);
    const __m256i m1 = PairMask32(first + position + 32, second + position + 32, want_first, want_second);
    const __m256i m2 = PairMask32(first + position + 64, second + position + 64, want_first, want_second);
    const __m256i m3 = PairMask32(first + position + 96, second + position + 96, want_first, want_second);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m2, m3));
    if (_mm256_testz_si256(any, any) != 0) continue;
    if (CheckCandidates(search, position, Bits32(m0) | (Bits32(m1) << 32))) return;
    if (CheckCandidates(search, position + 64, Bits32(m2) | (Bits32(m3) << 32))) return;
  }
  for (; end - position >= 32; position += 32) {
    const uint64_t mask = Bits32(PairMask32(first + position, second + position, want_first, want_second));
    if (mask != 0 && CheckCandidates(search, position, mask)) return;
  }
  SearchTail(search, position);
}

void EndAvx2() {
  _mm256_zeroupper();
}

}  // namespace gearloft::scan
