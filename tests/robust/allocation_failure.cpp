// gearloft robustness tests: the replaced global operator new and delete of the test executable. Nothing
// changes until a thread arms the failure; the state is per thread and plain, so it needs no allocation
// and no construction of its own.
#include "allocation_failure.h"

#include <cstdlib>
#include <new>

namespace gearloft::robust {
namespace {

thread_local bool t_armed = false;
thread_local bool t_thrown = false;
thread_local uint64_t t_fail_at = 0;
thread_local bool t_onwards = false;
thread_local uint64_t t_counted = 0;
thread_local int t_uncounted = 0;

bool FailThisAllocation() {
  if (!t_armed || t_uncounted != 0) return false;
  ++t_counted;
  if (t_fail_at == 0 || t_counted < t_fail_at || (t_counted > t_fail_at && !t_onwards)) return false;
  t_thrown = true;
  return true;
}

}  // namespace

void ArmAllocationFailure(uint64_t fail_at, bool onwards) {
  t_armed = true;
  t_onwards = onwards;
  t_thrown = false;
  t_fail_at = fail_at;
  t_counted = 0;
}

void DisarmAllocationFailure() {
  t_armed = false;
}

uint64_t CountedAllocations() {
  return t_counted;
}

bool AllocationFailureThrown() {
  return t_thrown;
}

UncountedAllocations::UncountedAllocations() {
  ++t_uncounted;
}

UncountedAllocations::~UncountedAllocations() {
  --t_uncounted;
}

}  // namespace gearloft::robust

// Every form the program uses goes through malloc and free, so a sanitizer sees matching pairs.
void* operator new(std::size_t size) {
  if (gearloft::robust::FailThisAllocation()) throw std::bad_alloc();
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void* operator new[](std::size_t size) {
  return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete[](void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
