// gearloft platform tests: the fault guard around bodies and around calls into the game's methods.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/platform.h"

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
