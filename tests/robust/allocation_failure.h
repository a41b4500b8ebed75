// gearloft robustness tests: std::bad_alloc on demand. The test executable replaces the global operator
// new; armed on a thread, it counts that thread's allocations and throws at the chosen one.
#pragma once

#include <cstdint>

namespace gearloft::robust {

// Counts this thread's allocations from now on; the `fail_at`-th (1 = the next one) throws
// std::bad_alloc, and with `onwards` every later one too, as memory that stays exhausted. 0 only counts.
void ArmAllocationFailure(uint64_t fail_at, bool onwards = false);
// Stops counting on this thread.
void DisarmAllocationFailure();
// Allocations counted on this thread since it was armed.
uint64_t CountedAllocations();
// Whether the armed allocation has thrown.
bool AllocationFailureThrown();

// While one lives, this thread's allocations are not counted (the game's own, made inside its calls).
class UncountedAllocations {
 public:
  UncountedAllocations();
  ~UncountedAllocations();
  UncountedAllocations(const UncountedAllocations&) = delete;
  UncountedAllocations& operator=(const UncountedAllocations&) = delete;
};

}  // namespace gearloft::robust
