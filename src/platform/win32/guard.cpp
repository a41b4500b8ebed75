// gearloft platform layer, Windows: guarded reads and calls into the game. Each runs one copy or one call
// under a structured-exception guard that accepts every exception and reports it as false, after putting
// back what two exceptions take away: the thread's stack guard and a page's guard bit.
#include <windows.h>

#include <malloc.h>
#include <string.h>

#include <atomic>

#if defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif

#include "platform/testing.h"

namespace gearloft::platform {

// What the filter saw; plain data, written while the exception is being dispatched.
struct GuardFault {
  uint32_t code;
  uint32_t parameters;  // how many of the record's information words there were
  uintptr_t address;    // the faulting data address, for access and guard-page violations
};

}  // namespace gearloft::platform

namespace {

using gearloft::platform::GuardFault;

void Record(const EXCEPTION_POINTERS* pointers, GuardFault* fault) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  fault->code = record->ExceptionCode;
  fault->parameters = record->NumberParameters;
  // Both violations give the kind of access first and the data address second.
  fault->address = record->NumberParameters >= 2 ? record->ExceptionInformation[1] : 0;
}

}  // namespace

#if defined(_MSC_VER)

namespace gearloft::platform {
namespace {

LONG Filter(const EXCEPTION_POINTERS* pointers, GuardFault* fault) {
  Record(pointers, fault);
  return EXCEPTION_EXECUTE_HANDLER;
}

// FXSAVE image: the x87 control word at byte 0, MXCSR at byte 24.
constexpr size_t kFxControlWord = 0;
constexpr size_t kFxMxcsr = 24;
constexpr unsigned __int64 kDirectionFlag = 0x400;

// Holds no object that needs unwinding, as __try requires. The unwind hands back the CPU as the fault
// left it; the direction flag, MXCSR and the x87 control word are the caller's and are put back. MSVC
// has no x87 intrinsic on x64, so both control words go back through an FXSAVE image of the moment
// with the entry's words patched in.
bool Guarded(void (*fn)(void*), void* context, GuardFault* fault) {
  alignas(16) unsigned char entry[512];
  _fxsave64(entry);
  __try {
    fn(context);
  } __except (Filter(GetExceptionInformation(), fault)) {
    __writeeflags(__readeflags() & ~kDirectionFlag);
    alignas(16) unsigned char now[512];
    _fxsave64(now);
    memcpy(now + kFxControlWord, entry + kFxControlWord, 2);
    memcpy(now + kFxMxcsr, entry + kFxMxcsr, 4);
    _fxrstor64(now);
    return false;
  }
  return true;
}

}  // namespace
}  // namespace gearloft::platform

#elif defined(__MINGW64__) && defined(__x86_64__)

// Called by __C_specific_handler with the exception and the guard's frame, where the guard left the
// GuardFault pointer (guard_mingw.S). Runs on the faulting thread before anything is unwound, possibly on
// the last page of an overflowed stack: no thread-local storage, no allocation, no C++ object.
extern "C" LONG gearloft_guard_filter(EXCEPTION_POINTERS* pointers, void* establisher_frame) {
  constexpr size_t kFaultPointerOffset = 32;
  GuardFault* fault;
  memcpy(&fault, static_cast<char*>(establisher_frame) + kFaultPointerOffset, sizeof fault);
  Record(pointers, fault);
  return EXCEPTION_EXECUTE_HANDLER;
}

extern "C" int gearloft_guarded_invoke(void (*fn)(void*), void* context, GuardFault* fault);  // guard_mingw.S

namespace gearloft::platform {
namespace {

bool Guarded(void (*fn)(void*), void* context, GuardFault* fault) {
  return gearloft_guarded_invoke(fn, context, fault) != 0;
}

}  // namespace
}  // namespace gearloft::platform

#else
// An unguarded call into the game would take the whole game down with the first bad pointer.
#error "no structured-exception guard for this toolchain"
#endif

namespace gearloft::platform {
namespace {

thread_local uint32_t t_last_code = 0;

// A guard page that fired lost its guard bit, and it may be another thread's stack guard: without it
// that thread's next growth past the page ends the process.
void RearmGuardPage(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return;
  if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return;
  DWORD previous = 0;
  VirtualProtect(reinterpret_cast<void*>(address), 1, info.Protect | PAGE_GUARD, &previous);
}

bool Invoke(void (*fn)(void*), void* context) {
  GuardFault fault{0, 0, 0};
  if (Guarded(fn, context, &fault)) {
    t_last_code = 0;
    return true;
  }
  t_last_code = fault.code;
  if (fault.code == EXCEPTION_STACK_OVERFLOW) {
    // The overflow used up this thread's stack guard; without a new one the next overflow ends the
    // game without a word. Only here, after the unwind, is there stack to put it back with.
    _resetstkoflw();
  } else if (fault.code == STATUS_GUARD_PAGE_VIOLATION && fault.address != 0) {
    RearmGuardPage(fault.address);
  }
  return false;
}

struct CopyJob {
  const void* source;
  void* destination;
  size_t size;
};

void RunCopy(void* context) {
  const auto* job = static_cast<const CopyJob*>(context);
  memcpy(job->destination, job->source, job->size);
}

}  // namespace

uint32_t LastGuardExceptionCode() {
  return t_last_code;
}

namespace {

std::atomic<uint64_t> g_exceptions{0};

LONG CALLBACK CountException(EXCEPTION_POINTERS* /*pointers*/) {
  g_exceptions.fetch_add(1, std::memory_order_relaxed);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool StartCountingExceptions() {
  // First in line, so it sees every exception before any handler that might end the search; once only,
  // so no exception is counted twice.
  static const bool counting = AddVectoredExceptionHandler(1, CountException) != nullptr;
  return counting;
}

uint64_t ExceptionsCounted() {
  return g_exceptions.load(std::memory_order_relaxed);
}

bool GuardedRead(const void* source, void* destination, size_t size, ReadableCache* cache) {
  // Every first-chance exception reaches the game's (or an anti-cheat's) vectored handlers: a read the
  // memory manager already says would fault is not tried.
  if (!RangeReadable(reinterpret_cast<uintptr_t>(source), size, cache)) {
    t_last_code = 0;
    return false;
  }
  CopyJob job{source, destination, size};
  return Invoke(RunCopy, &job);
}

bool GuardedRun(void (*body)(void* context), void* context) {
  return Invoke(body, context);
}

}  // namespace gearloft::platform
