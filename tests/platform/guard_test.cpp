// gearloft platform tests: the fault guard around bodies and around calls into the game's methods.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/testing.h"

namespace gearloft::platform {
namespace {

// A page the bodies below may read but not write; it stays mapped for the whole test run.
volatile int* ReadOnlyInt() {
  static void* const page = [] {
    void* p = AllocatePages(PageSize(), kPageReadWrite);
    if (p != nullptr) {
      *static_cast<int*>(p) = 41;
      ProtectPages(p, PageSize(), kPageReadOnly);
    }
    return p;
  }();
  return static_cast<volatile int*>(page);
}

void WriteToReadOnlyPage(void*) {
  *ReadOnlyInt() = 1;
}

void AddOne(void* context) {
  ++*static_cast<int*>(context);
}

void Throw(void*) {
  throw std::runtime_error("thrown inside the guard");
}

TEST(GuardedRun, BodyThatReturnsGivesTrue) {
  int count = 0;
  EXPECT_TRUE(GuardedRun(AddOne, &count));
  EXPECT_EQ(count, 1);
}

TEST(GuardedRun, WriteToAReadOnlyPageGivesFalseAndTheProcessGoesOn) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  EXPECT_FALSE(GuardedRun(WriteToReadOnlyPage, nullptr));
  EXPECT_EQ(*ReadOnlyInt(), 41);
  int count = 0;
  EXPECT_TRUE(GuardedRun(AddOne, &count));
  EXPECT_EQ(count, 1);
}

TEST(GuardedRun, EveryFaultInARowIsCaught) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(GuardedRun(WriteToReadOnlyPage, nullptr)) << "fault " << i;
}

TEST(GuardedRun, ExceptionGivesFalse) {
  EXPECT_FALSE(GuardedRun(Throw, nullptr));
}

struct NestedRun {
  bool inner_result = true;
  bool after_inner = false;
};

void FaultInsideInnerGuard(void* context) {
  auto* run = static_cast<NestedRun*>(context);
  run->inner_result = GuardedRun(WriteToReadOnlyPage, nullptr);
  run->after_inner = true;
}

TEST(GuardedRun, InnerGuardCatchesItsOwnFault) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  NestedRun run;
  EXPECT_TRUE(GuardedRun(FaultInsideInnerGuard, &run));
  EXPECT_FALSE(run.inner_result);
  EXPECT_TRUE(run.after_inner);
  // The outer guard is still in force after the inner one returned.
  EXPECT_FALSE(GuardedRun(WriteToReadOnlyPage, nullptr));
}

struct ThreadRun {
  std::atomic<int> done{0};
  bool faulted_result = true;
  bool clean_result = false;
};

void FaultOnThisThread(void* context) {
  auto* run = static_cast<ThreadRun*>(context);
  run->faulted_result = GuardedRun(WriteToReadOnlyPage, nullptr);
  int count = 0;
  run->clean_result = GuardedRun(AddOne, &count) && count == 1;
  run->done.store(1);
}

TEST(GuardedRun, FaultOnAnotherThreadIsCaughtThere) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  static ThreadRun& run = *new ThreadRun;
  ASSERT_TRUE(StartThread(FaultOnThisThread, &run));
  for (int i = 0; i < 60000 && run.done.load() == 0; ++i) SleepMs(1);
  ASSERT_EQ(run.done.load(), 1);
  EXPECT_FALSE(run.faulted_result);
  EXPECT_TRUE(run.clean_result);
}

// Stand-ins for the game's ExecuteQuery, called the way the game's code calls it.
void* GEARLOFT_HOSTCALL StoreStatement(void* self, void** result_slot, const char* sql) {
  *result_slot = const_cast<char*>(sql);
  return self;
}

void* GEARLOFT_HOSTCALL ThrowFromMethod(void*, void**, const char* sql) {
  throw std::runtime_error(sql);
}

void* GEARLOFT_HOSTCALL WriteThroughObject(void* self, void**, const char*) {
  *static_cast<volatile int*>(self) = 7;
  return self;
}

uintptr_t MethodAddress(ExecuteQueryFn method) {
  return reinterpret_cast<uintptr_t>(method);
}

TEST(GuardedCall, MethodGetsObjectSlotAndStatement) {
  const char* sql = "SELECT COUNT(*) FROM Data_Car";
  void* slot = nullptr;
  int object = 0;
  EXPECT_TRUE(GuardedCall(MethodAddress(StoreStatement), &object, &slot, sql));
  EXPECT_EQ(slot, sql);
}

TEST(GuardedCall, MethodThatThrowsGivesFalse) {
  void* slot = nullptr;
  int object = 0;
  EXPECT_FALSE(GuardedCall(MethodAddress(ThrowFromMethod), &object, &slot, "SELECT 1"));
}

TEST(GuardedCall, MethodThatFaultsGivesFalse) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  void* slot = nullptr;
  EXPECT_FALSE(
      GuardedCall(MethodAddress(WriteThroughObject), const_cast<int*>(ReadOnlyInt()), &slot, "SELECT 1"));
  int writable = 0;
  EXPECT_TRUE(GuardedCall(MethodAddress(WriteThroughObject), &writable, &slot, "SELECT 1"));
  EXPECT_EQ(writable, 7);
}

TEST(GuardedCall, NullMethodGivesFalse) {
  void* slot = nullptr;
  int object = 0;
  EXPECT_FALSE(GuardedCall(0, &object, &slot, "SELECT 1"));
}

TEST(LastGuardExceptionCode, FaultGivesAnAccessViolationAndAReturnGivesZero) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  EXPECT_FALSE(GuardedRun(WriteToReadOnlyPage, nullptr));
  EXPECT_EQ(LastGuardExceptionCode(), kExceptionAccessViolation);
  int count = 0;
  EXPECT_TRUE(GuardedRun(AddOne, &count));
  EXPECT_EQ(LastGuardExceptionCode(), 0u);
}

// The parts of the CPU state the x64 convention has a callee hand back as it found them.
struct CpuState {
  unsigned int mxcsr;        // without its sticky exception flags
  unsigned short x87;        // control word
  unsigned long long flags;  // RFLAGS; only the direction flag (0x400) matters
};

inline CpuState ReadCpu() {
  CpuState state{0, 0, 0};
  unsigned int mxcsr = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
  __asm__ volatile("fnstcw %0" : "=m"(state.x87));
  __asm__ volatile("pushfq\n\tpopq %0" : "=r"(state.flags));
  state.mxcsr = mxcsr & ~0x3Fu;
  return state;
}

inline void WriteCpu(unsigned int mxcsr, unsigned short x87) {
  __asm__ volatile("cld\n\tldmxcsr %0\n\tfldcw %1" : : "m"(mxcsr), "m"(x87));
}

// Sets the direction flag, round-toward-zero with flush-to-zero, single precision, then faults.
void DirtyTheCpuThenFault(void*) {
  const unsigned int dirty_mxcsr = 0xFF80;
  const unsigned short dirty_x87 = 0x007F;
  volatile int* target = ReadOnlyInt();
  __asm__ volatile("ldmxcsr %0\n\tfldcw %1\n\tstd\n\tmovl $1, (%2)\n\tcld"
                   :
                   : "m"(dirty_mxcsr), "m"(dirty_x87), "r"(target)
                   : "memory");
}

TEST(GuardedRun, FaultWithTheCpuDirtyHandsBackDirectionFlagMxcsrAndX87AsAtEntry) {
  ASSERT_NE(ReadOnlyInt(), nullptr);
  const CpuState original = ReadCpu();
  // Neither system's default: denormals-are-zero, and the x87 unit at double precision rounding up.
  const unsigned int entry_mxcsr = 0x1F80 | 0x0040;
  const unsigned short entry_x87 = 0x0A7F;
  WriteCpu(entry_mxcsr, entry_x87);
  const bool returned = GuardedRun(DirtyTheCpuThenFault, nullptr);
  const CpuState after = ReadCpu();
  WriteCpu(original.mxcsr, original.x87);
  EXPECT_FALSE(returned);
  EXPECT_EQ(after.flags & 0x400, 0u) << "direction flag left set";
  EXPECT_EQ(after.mxcsr, entry_mxcsr) << std::hex << after.mxcsr;
  EXPECT_EQ(after.x87, entry_x87) << std::hex << after.x87;
}

// Outside a guard a fault is the game's own: it must still end the process as it would without us.
TEST(GuardDeathTest, FaultOutsideAGuardStillEndsTheProcess) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ASSERT_NE(ReadOnlyInt(), nullptr);
  EXPECT_DEATH(
      {
        GuardedRun(WriteToReadOnlyPage, nullptr);
        WriteToReadOnlyPage(nullptr);
      },
      "");
}

}  // namespace
}  // namespace gearloft::platform
