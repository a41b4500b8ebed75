// gearloft platform layer, Linux: the fault guard. Reads of foreign memory go through the kernel and
// report a fault as a short copy; calls run under SIGSEGV/SIGBUS/SIGILL/SIGFPE handlers that jump back
// to the guard on the faulting thread and hand every other fault to whoever handled it before.
#include <setjmp.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cxxabi.h>
#include <atomic>
#include <cerrno>

#include "platform/testing.h"

namespace gearloft::platform {

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr size_t kGuardedSignalCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

// The handlers that were in place before ours, for faults outside any guard.
struct sigaction g_previous[kGuardedSignalCount];

// What the last guard of this thread ended with (LastGuardExceptionCode).
__attribute__((tls_model("initial-exec"))) thread_local uint32_t t_last_code = 0;

uint32_t CodeOfSignal(int signal_number) {
  switch (signal_number) {
    case SIGILL:
      return kExceptionIllegalInstruction;
    case SIGFPE:
      return kExceptionIntegerDivide;
    default:
      return kExceptionAccessViolation;
  }
}

// The innermost guard of this thread. Initial-exec TLS: the handler may run on a game thread that never
// touched this variable, and a lazily allocated TLS block could call malloc inside the handler.
__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* volatile t_guard = nullptr;

void PassToPrevious(int signal_number, siginfo_t* info, void* context) {
  size_t index = 0;
  while (index < kGuardedSignalCount && kGuardedSignals[index] != signal_number) ++index;
  if (index == kGuardedSignalCount) return;
  const struct sigaction& previous = g_previous[index];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal_number, info, context);
    return;
  }
  // A fault the kernel raised (positive si_code) cannot be ignored: it would only repeat on return,
  // so an ignoring disposition ends the process as the kernel would.
  const bool raised_by_fault = info != nullptr && info->si_code > 0;
  if (previous.sa_handler == SIG_IGN && !raised_by_fault) return;
  if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) {
    struct sigaction default_action;
    default_action.sa_handler = SIG_DFL;
    default_action.sa_flags = 0;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    // Pending until this handler returns; a hardware fault also repeats then, under the default action.
    raise(signal_number);
    return;
  }
  previous.sa_handler(signal_number);
}

void OnFault(int signal_number, siginfo_t* info, void* context) {
  sigjmp_buf* const guard = t_guard;
  if (guard != nullptr) {
    t_guard = nullptr;
    siglongjmp(*guard, signal_number);
  }
  PassToPrevious(signal_number, info, context);
}

bool InstallHandlers() {
  struct sigaction action;
  action.sa_sigaction = OnFault;
  // SA_ONSTACK: a thread with an alternate stack (a sanitizer's, the game's) keeps using it.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  bool ok = true;
  for (size_t i = 0; i < kGuardedSignalCount; ++i) {
    ok = sigaction(kGuardedSignals[i], &action, &g_previous[i]) == 0 && ok;
  }
  return ok;
}

void EnsureHandlers() {
  static const bool installed = InstallHandlers();
  (void)installed;
}

// Kept out of line so that no C++ object or exception scope shares a frame with sigsetjmp.
__attribute__((noinline)) bool RunCatching(void (*body)(void*), void* context) {
  try {
    body(context);
    return true;
  } catch (abi::__forced_unwind&) {
    // Thread cancellation unwinds through here and must go on.
    throw;
  } catch (...) {
    return false;
  }
}

struct CopyContext {
  const unsigned char* source;
  unsigned char* destination;
  size_t size;
};

// The game's memory is not the sanitizers' to check: a byte of it may lie in what they see as a redzone.
__attribute__((no_sanitize("address", "thread", "undefined"))) void CopyBytes(void* raw) {
  const CopyContext* copy = static_cast<const CopyContext*>(raw);
  const volatile unsigned char* from = copy->source;
  for (size_t i = 0; i < copy->size; ++i) copy->destination[i] = from[i];
}

// 0: not tried yet, 1: process_vm_readv works, 2: it is refused here (seccomp, old kernel).
std::atomic<int> g_read_mode{0};

}  // namespace

bool GuardedRun(void (*body)(void* context), void* context) {
  EnsureHandlers();
  // The kernel starts a signal handler with the floating-point state reset, and the jump back keeps it:
  // the caller's MXCSR and x87 control word (which the x64 convention preserves) are put back by hand.
  const unsigned int mxcsr = __builtin_ia32_stmxcsr();
  unsigned short x87_control = 0;
  __asm__ volatile("fnstcw %0" : "=m"(x87_control));
  sigjmp_buf jump;
  sigjmp_buf* const outer = t_guard;
  // Save and restore the signal mask: the fault's signal is blocked while its handler runs and must be
  // open again for the next guard.
  const int caught = sigsetjmp(jump, 1);
  if (caught != 0) {
    t_guard = outer;
    __asm__ volatile("cld");
    __builtin_ia32_ldmxcsr(mxcsr);
    __asm__ volatile("fldcw %0" : : "m"(x87_control));
    t_last_code = CodeOfSignal(caught);
    return false;
  }
  t_guard = &jump;
  const bool ok = RunCatching(body, context);
  t_guard = outer;
  t_last_code = ok ? 0 : kExceptionCpp;
  return ok;
}

uint32_t LastGuardExceptionCode() {
  return t_last_code;
}

// Linux has no vectored handlers to count with.
bool StartCountingExceptions() {
  return false;
}

uint64_t ExceptionsCounted() {
  return 0;
}

bool GuardedRead(const void* source, void* destination, size_t size, ReadableCache* cache) {
  t_last_code = 0;
  if (size == 0) return true;
  if (g_read_mode.load(std::memory_order_relaxed) != 2) {
    // The kernel copies and stops at the first unreadable page, so no signal is involved at all.
    struct iovec local = {destination, size};
    struct iovec remote = {const_cast<void*>(source), size};
    const ssize_t copied = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (copied >= 0) {
      g_read_mode.store(1, std::memory_order_relaxed);
      if (static_cast<size_t>(copied) == size) return true;
      t_last_code = kExceptionAccessViolation;
      return false;
    }
    if (errno != ENOSYS && errno != EPERM) {
      t_last_code = kExceptionAccessViolation;
      return false;
    }
    g_read_mode.store(2, std::memory_order_relaxed);
  }
  // The copy below faults for real: what the memory manager refuses is not tried.
  if (!RangeReadable(reinterpret_cast<uintptr_t>(source), size, cache)) return false;
  CopyContext copy{static_cast<const unsigned char*>(source), static_cast<unsigned char*>(destination), size};
  return GuardedRun(CopyBytes, &copy);
}

}  // namespace gearloft::platform
