// gearloft platform tests: process creation time, wall clock, ticks and sleep, threads and the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#include "platform/platform.h"

namespace gearloft::platform {
namespace {

constexpr uint64_t kFileTimePerSecond = 10000000ULL;
// 2020-01-01 00:00 UTC as a FILETIME.
constexpr uint64_t kYear2020 = 132223104000000000ULL;

TEST(SystemTimeNow, CountsFrom1601) {
  EXPECT_GT(SystemTimeNow(), kYear2020);
}

TEST(ProcessCreationTime, IsBeforeNowAndWithinADay) {
  uint64_t created = 0;
  ASSERT_TRUE(ProcessCreationTime(&created));
  const uint64_t now = SystemTimeNow();
  EXPECT_LE(created, now);
  EXPECT_LT(now - created, 24ULL * 3600ULL * kFileTimePerSecond);
}

TEST(ProcessCreationTime, StaysTheSameWhileTheProcessRuns) {
  uint64_t first = 0;
  uint64_t second = 0;
  ASSERT_TRUE(ProcessCreationTime(&first));
  SleepMs(20);
  ASSERT_TRUE(ProcessCreationTime(&second));
  EXPECT_EQ(first, second);
}

TEST(TickCountMs, NeverGoesBack) {
  uint64_t previous = TickCountMs();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = TickCountMs();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(SleepMs, TicksAdvanceByAtLeastTheSleep) {
  const uint64_t before = TickCountMs();
  SleepMs(100);
  // The Windows tick moves in steps of about 16 ms.
  EXPECT_GE(TickCountMs() - before, 80u);
}

// Waits for a flag another thread sets; the bound only keeps a broken thread from hanging the run.
bool WaitFor(const std::atomic<int>& flag, int expected) {
  for (int i = 0; i < 60000; ++i) {
    if (flag.load() == expected) return true;
    SleepMs(1);
  }
  return false;
}

struct DeepStackRun {
  std::atomic<int> done{0};
  int seen = 0;
};

// Uses 40 MiB of stack, more than any system's default thread stack, touching every page from the top
// down so that a stack too small ends on its guard page instead of writing past it.
void UseDeepStack(void* raw) {
  auto* run = static_cast<DeepStackRun*>(raw);
  volatile unsigned char block[40u << 20];
  for (size_t i = sizeof block; i > 0; i -= 1024) block[i - 1] = 1;
  run->seen = block[sizeof block - 1] + block[1023];
  run->done.store(1);
}

TEST(StartThread, RunsEntryOnAStackOfTheGivenSize) {
  static DeepStackRun& run = *new DeepStackRun;
  ASSERT_TRUE(StartThread(UseDeepStack, &run, 64u << 20));
  ASSERT_TRUE(WaitFor(run.done, 1));
  EXPECT_EQ(run.seen, 2);
}

struct SharedCounter {
  Mutex* mutex = NewMutex();
  long value = 0;
  std::atomic<int> finished{0};
};

constexpr long kIncrementsPerThread = 200000;

void Increment(void* raw) {
  auto* counter = static_cast<SharedCounter*>(raw);
  for (long i = 0; i < kIncrementsPerThread; ++i) {
    MutexLock lock(counter->mutex);
    counter->value = counter->value + 1;
  }
  counter->finished.fetch_add(1);
}

TEST(Mutex, ExcludesOtherThreads) {
  static SharedCounter& counter = *new SharedCounter;
  ASSERT_TRUE(StartThread(Increment, &counter));
  ASSERT_TRUE(StartThread(Increment, &counter));
  ASSERT_TRUE(WaitFor(counter.finished, 2));
  MutexLock lock(counter.mutex);
  EXPECT_EQ(counter.value, 2 * kIncrementsPerThread);
}

}  // namespace
}  // namespace gearloft::platform
