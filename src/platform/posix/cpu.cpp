// gearloft platform layer, Linux: what the processor can run, for the scanner's choice of search path.
// The compiler's CPU model checks both the CPUID bit and the OS's XSAVE support for the YMM registers.
#include "platform/platform.h"

namespace gearloft::platform {

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

}  // namespace gearloft::platform
