// gearloft platform layer, Windows: what the processor can run, for the scanner's choice of search path.
// AVX2 counts only when the system also saves the YMM registers (OSXSAVE and XCR0 bits 1 and 2).
#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include "platform/platform.h"

namespace gearloft::platform {

bool CpuHasAvx2() {
#if defined(_MSC_VER)
  int leaf1[4] = {};
  __cpuid(leaf1, 1);
  constexpr int kOsXsave = 1 << 27;
  constexpr int kAvx = 1 << 28;
  if ((leaf1[2] & kOsXsave) == 0 || (leaf1[2] & kAvx) == 0) return false;
  constexpr unsigned long long kYmmState = 0x6;  // XCR0: SSE and AVX state
  if ((_xgetbv(0) & kYmmState) != kYmmState) return false;
  int leaf0[4] = {};
  __cpuid(leaf0, 0);
  if (leaf0[0] < 7) return false;
  int leaf7[4] = {};
  __cpuidex(leaf7, 7, 0);
  constexpr int kAvx2 = 1 << 5;
  return (leaf7[1] & kAvx2) != 0;
#else
  // MinGW's libgcc checks the same CPUID and XCR0 bits.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#endif
}

}  // namespace gearloft::platform
