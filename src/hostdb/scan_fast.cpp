// gearloft host database bridge: the fast call-site search and its dispatch. The first-byte reference
// stops at every 0x48 of x86-64 code (one byte in thirteen); this search instead tests two rare fixed bytes
// of the pattern at many starts at once and checks only the starts that pass, with the same results.
#include <emmintrin.h>

#include <cstdint>
#include <vector>

#include "hostdb/hostdb.h"
#include "hostdb/scan_fast.h"
#include "platform/platform.h"

namespace gearloft {
namespace scan {
namespace {

// How often each byte value occurs in x86-64 machine code, per 100,000 bytes: measured on 150 MiB of
// the executable sections of libLLVM and of Wine's Windows DLLs. Only the order matters: it picks the two
// filter bytes whose pair is least likely to occur by chance.
const uint16_t kCodeByteFrequency[256] = {
    13883, 1867, 668, 648,  909,  655, 269, 282, 1194, 235,  141, 119,  250,  297,  102, 2799,  // 00-0F
    990,   311,  102, 89,   181,  256, 78,  68,  475,  63,   62,  62,   131,  80,   61,  632,   // 10-1F
    656,   111,  59,  59,   3625, 255, 50,  52,  578,  195,  55,  70,   117,  65,   235, 57,    // 20-2F
    425,   638,  54,  74,   108,  121, 51,  53,  324,  570,  65,  229,  156,  107,  60,  69,    // 30-3F
    572,   1521, 99,  272,  1479, 474, 159, 173, 7735, 1165, 84,  118,  2064, 359,  84,  80,    // 40-4F
    389,   90,   52,  250,  360,  208, 207, 220, 205,  74,   43,  257,  263,  208,  232, 192,   // 50-5F
    203,   44,   39,  84,   229,  78,  884, 42,  166,  55,   42,  56,   182,  57,   68,  86,    // 60-6F
    198,   46,   119, 132,  1036, 521, 92,  109, 183,  58,   41,  87,   308,  76,   90,  126,   // 70-7F
    408,   245,  65,  1540, 1451, 950, 70,  93,  194,  4324, 59,  2997, 172,  1641, 48,  43,    // 80-8F
    750,   40,   40,  46,   197,  56,  37,  38,  103,  32,   29,  35,   93,   35,   33,  37,    // 90-9F
    123,   33,   30,  43,   61,   36,  37,  30,  133,  46,   57,  39,   98,   35,   33,  50,    // A0-AF
    139,   41,   38,  42,   139,  47,  203, 157, 268,  240,  223, 64,   229,  66,   162, 88,    // B0-BF
    891,   685,  234, 520,  305,  212, 318, 688, 236,  251,  101, 85,   74,   73,   99,  79,    // C0-CF
    193,   152,  232, 98,   52,   77,  111, 84,  210,  130,  108, 148,  48,   69,   116, 219,   // D0-DF
    315,   148,  129, 78,   93,   85,  126, 164, 1584, 594,  136, 472,  213,  168,  151, 220,   // E0-EF
    285,   135,  162, 238,  60,   81,  427, 272, 380,  194,  179, 156,  140,  345,  662, 3252,  // F0-FF
};

// Index of the lowest set bit of a non-zero mask, without compiler built-ins: the isolated bit times a
// de Bruijn constant puts a unique 6-bit pattern in the top bits.
unsigned LowestBit(uint64_t mask) {
  static const unsigned char kIndex[64] = {0,  1,  48, 2,  57, 49, 28, 3,  61, 58, 50, 42, 38, 29, 17, 4,
                                           62, 55, 59, 36, 53, 51, 43, 22, 45, 39, 33, 30, 24, 18, 12, 5,
                                           63, 47, 56, 27, 60, 41, 37, 16, 54, 35, 52, 21, 44, 32, 23, 11,
                                           46, 26, 40, 15, 34, 20, 31, 10, 25, 14, 19, 9,  13, 8,  7,  6};
  return kIndex[((mask & (~mask + 1)) * 0x03F79D71B4CB0A89ULL) >> 58];
}

bool MatchesAt(const Search& search, size_t at) {
  const uint8_t* bytes = search.start + at;
  for (size_t i = 0; i < search.pattern_length; ++i) {
    const int want = search.pattern[i];
    if (want >= 0 && bytes[i] != static_cast<uint8_t>(want)) return false;
  }
  return true;
}

bool Record(Search* search, size_t at) {
  search->offsets[search->found] = at;
  ++search->found;
  return search->found == search->max_matches;
}

__m128i PairMask16(const uint8_t* first, const uint8_t* second, __m128i want_first, __m128i want_second) {
  const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)), want_first);
  const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), want_second);
  return _mm_and_si128(a, b);
}

uint64_t Bits16(__m128i mask) {
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(mask)));
}

}  // namespace

bool PrepareSearch(const uint8_t* start, size_t length, const int* pattern, size_t pattern_length,
                   size_t max_matches, size_t* offsets, Search* search) {
  if (pattern_length == 0 || length < pattern_length || max_matches == 0 || pattern[0] < 0) return false;
  // The pair of fixed positions whose bytes are together the least common in code; with a single fixed
  // byte (the first, which is never a wildcard) both filter positions are that one.
  size_t best_first = 0;
  size_t best_second = 0;
  uint64_t best_cost = UINT64_MAX;
  for (size_t i = 0; i < pattern_length; ++i) {
    if (pattern[i] < 0) continue;
    const uint64_t cost_i = kCodeByteFrequency[static_cast<uint8_t>(pattern[i])];
    for (size_t j = i + 1; j < pattern_length; ++j) {
      if (pattern[j] < 0) continue;
      const uint64_t cost = cost_i * kCodeByteFrequency[static_cast<uint8_t>(pattern[j])];
      if (cost < best_cost) {
        best_cost = cost;
        best_first = i;
        best_second = j;
      }
    }
  }
  search->start = start;
  search->last = length - pattern_length;
  search->pattern = pattern;
  search->pattern_length = pattern_length;
  search->first_position = best_first;
  search->second_position = best_second;
  search->first_byte = static_cast<uint8_t>(pattern[best_first]);
  search->second_byte = static_cast<uint8_t>(pattern[best_second]);
  search->max_matches = max_matches;
  search->offsets = offsets;
  search->found = 0;
  return true;
}

bool CheckCandidates(Search* search, size_t base, uint64_t mask) {
  while (mask != 0) {
    const size_t at = base + LowestBit(mask);
    mask &= mask - 1;
    if (MatchesAt(*search, at) && Record(search, at)) return true;
  }
  return false;
}

void SearchTail(Search* search, size_t position) {
  const uint8_t* first = search->start + search->first_position;
  const uint8_t* second = search->start + search->second_position;
  for (size_t at = position; at <= search->last; ++at) {
    if (first[at] != search->first_byte || second[at] != search->second_byte) continue;
    if (MatchesAt(*search, at) && Record(search, at)) return;
  }
}

void SearchSse2(Search* search) {
  const uint8_t* first = search->start + search->first_position;
  const uint8_t* second = search->start + search->second_position;
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(search->first_byte));
  const __m128i want_second = _mm_set1_epi8(static_cast<char>(search->second_byte));
  // Starts [0, end): a block of n starts at p reads up to second + p + n - 1, which the pattern's own
  // length keeps inside the range while p + n <= end.
  const size_t end = search->last + 1;
  size_t position = 0;
  for (; end - position >= 64; position += 64) {
    const __m128i m0 = PairMask16(first + position, second + position, want_first, want_second);
    const __m128i m1 = PairMask16(first + position + 16, second + position + 16, want_first, want_second);
    const __m128i m2 = PairMask16(first + position + 32, second + position + 32, want_first, want_second);
    const __m128i m3 = PairMask16(first + position + 48, second + position + 48, want_first, want_second);
    const __m128i any = _mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3));
    if (_mm_movemask_epi8(any) == 0) continue;
    const uint64_t mask = Bits16(m0) | (Bits16(m1) << 16) | (Bits16(m2) << 32) | (Bits16(m3) << 48);
    if (CheckCandidates(search, position, mask)) return;
  }
  for (; end - position >= 16; position += 16) {
    const uint64_t mask = Bits16(PairMask16(first + position, second + position, want_first, want_second));
    if (mask != 0 && CheckCandidates(search, position, mask)) return;
  }
  SearchTail(search, position);
}

}  // namespace scan

namespace {

void RunSearch(ScanPath path, scan::Search* search) {
  if (path == ScanPath::kAvx2 && FastScanPath() == ScanPath::kAvx2) {
    scan::SearchAvx2(search);
  } else {
    scan::SearchSse2(search);
  }
}

struct GuardedFastSearch {
  ScanPath path;
  scan::Search search;
};

void RunGuardedFastSearch(void* context) {
  GuardedFastSearch* run = static_cast<GuardedFastSearch*>(context);
  // The vector loop reads the range from the first filter position on and may leave its first and last
  // few bytes alone; reading them first makes it fault wherever the reference could, so a range with an
  // unreadable page always goes to the reference.
  const volatile uint8_t* edges = run->search.start;
  const uint8_t touched =
      static_cast<uint8_t>(edges[0] | edges[run->search.last + run->search.pattern_length - 1]);
  (void)touched;
  RunSearch(run->path, &run->search);
}

}  // namespace

ScanPath FastScanPath() {
  static const ScanPath path = platform::CpuHasAvx2() ? ScanPath::kAvx2 : ScanPath::kSse2;
  return path;
}

size_t FindPatternWith(ScanPath path, const uint8_t* start, size_t length, const std::vector<int>& pattern,
                       size_t max_matches, size_t* offsets) {
  if (path == ScanPath::kReference) {
    return FindPatternReference(start, length, pattern, max_matches, offsets);
  }
  scan::Search search{};
  if (!scan::PrepareSearch(start, length, pattern.data(), pattern.size(), max_matches, offsets, &search)) {
    return 0;
  }
  RunSearch(path, &search);
  return search.found;
}

size_t FindPattern(const uint8_t* start, size_t length, const std::vector<int>& pattern, size_t max_matches,
                   size_t* offsets) {
  return FindPatternWith(FastScanPath(), start, length, pattern, max_matches, offsets);
}

size_t FindPatternGuarded(const uint8_t* start, size_t length, const std::vector<int>& pattern,
                          size_t max_matches, size_t* offsets) {
  GuardedFastSearch run{FastScanPath(), scan::Search{}};
  if (!scan::PrepareSearch(start, length, pattern.data(), pattern.size(), max_matches, offsets,
                           &run.search)) {
    return 0;
  }
  if (platform::GuardedRun(&RunGuardedFastSearch, &run)) return run.search.found;
  if (run.path == ScanPath::kAvx2) scan::EndAvx2();
  // The fast loop reads ahead of the reference, so what it found before the fault is not what the
  // reference would have found; the reference itself, under its guard, is.
  return FindPatternReferenceGuarded(start, length, pattern, max_matches, offsets);
}

}  // namespace gearloft
