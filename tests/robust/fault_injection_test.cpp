// gearloft robustness tests: every fault the simulated game can raise, injected at every host call of a
// load + apply + edit + re-apply + delete-all run over the example scripts, once and from then on.
// GEARLOFT_ROBUST_FULL=1 runs every call; otherwise every 31st, from a different first call per fault.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostdb/hostdb.h"
#include "robust_run.h"

namespace gearloft::robust {
namespace {

using devhost::CallFault;

constexpr uint64_t kCiStride = 31;

struct FaultName {
  CallFault kind;
  const char* name;
};
constexpr FaultName kFaults[] = {
    {CallFault::kAccessViolation, "access violation"},
    {CallFault::kThrow, "C++ throw"},
    {CallFault::kNullResult, "null result"},
    {CallFault::kWrongColumnCount, "wrong column count"},
    {CallFault::kWrongCellType, "wrong cell type"},
    {CallFault::kDropWrite, "dropped write"},
    {CallFault::kBlock, "blocked call"},
    {CallFault::kGlobalGone, "global gone"},
};

bool FullRun() {
  const char* full = std::getenv("GEARLOFT_ROBUST_FULL");
  return full != nullptr && std::string(full) == "1";
}

const RunResult& CleanRun() {
  static const RunResult& clean = *new RunResult([] {
    RunOptions options;
    options.record_calls = true;
    options.save_after_faults = true;
    return RunSequence(options);
  }());
  return clean;
}

bool HasFailureLine(const std::vector<std::string>& log) {
  for (const std::string& line : log) {
    if (IsFailureLine(line)) return true;
  }
  return false;
}

bool HasLineStartingWith(const std::vector<std::string>& log, const std::string& prefix) {
  for (const std::string& line : log) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

std::string Joined(const std::vector<std::string>& log) {
  std::string text;
  for (const std::string& line : log) text += "    " + line + "\n";
  return text;
}

// What one (call, fault, mode) case must show; an empty text when it shows all of it.
std::string Judge(const RunResult& clean, const InjectedFault& fault, const RunResult& run) {
  std::string problems;
  if (run.integrity != "ok") problems += "integrity_check: " + run.integrity + "\n";
  if (run.final_tables != clean.final_tables) {
    problems += "the tables after the recovery passes differ from a clean run's:\n" +
                DumpDifference(clean.final_tables, run.final_tables);
  }
  bool diverged = run.step_tables.size() != clean.step_tables.size();
  for (size_t i = 0; !diverged && i < run.step_tables.size(); ++i) {
    diverged = run.step_tables[i] != clean.step_tables[i];
  }
  if (diverged && !HasFailureLine(run.log)) problems += "the tables went astray without a failure line\n";
  const std::string& statement = clean.calls[static_cast<size_t>(fault.call - 1)];
  const bool probe = statement == kProbeSql;
  const bool answer_lost = fault.kind == CallFault::kAccessViolation || fault.kind == CallFault::kThrow ||
                           fault.kind == CallFault::kNullResult || fault.kind == CallFault::kGlobalGone ||
                           fault.kind == CallFault::kWrongColumnCount ||
                           fault.kind == CallFault::kWrongCellType;
  if (probe && answer_lost && !HasLineStartingWith(run.log, "DB not answering yet (")) {
    problems += "a probe that got no answer was not reported\n";
  }
  if (fault.kind == CallFault::kBlock && run.watched_call_blocked &&
      !HasLineStartingWith(run.log, "STUCK: probe SELECT (select_live) has not returned after 15 s")) {
    problems += "the blocked probe was not reported as stuck\n";
  }
  if (run.faults_injected == 0) problems += "the fault was never injected\n";
  if (!problems.empty()) problems += "  log:\n" + Joined(run.log);
  return problems;
}

class FaultInjection : public ::testing::TestWithParam<FaultName> {};

TEST_P(FaultInjection, EveryCallOnceAndOnwardsEndsAsACleanRun) {
  const RunResult& clean = CleanRun();
  ASSERT_EQ(clean.integrity, "ok");
  ASSERT_EQ(clean.calls.size(), clean.sequence_calls) << "every host call of the clean run ran one statement";
  ASSERT_GT(clean.sequence_calls, 0u);
  const FaultName fault_name = GetParam();
  const uint64_t stride = FullRun() ? 1 : kCiStride;
  const uint64_t first = 1 + static_cast<uint64_t>(fault_name.kind) % stride;
  int run_cases = 0;
  int survived = 0;
  for (bool onwards : {false, true}) {
    for (uint64_t call = first; call <= clean.sequence_calls; call += stride) {
      RunOptions options;
      options.save_after_faults = true;
      options.fault = InjectedFault{fault_name.kind, call, onwards};
      const RunResult run = RunSequence(options);
      ++run_cases;
      const std::string problems = Judge(clean, options.fault, run);
      if (problems.empty()) {
        ++survived;
      } else {
        ADD_FAILURE() << fault_name.name << " at call " << call << (onwards ? " and onwards" : " once")
                      << " (" << clean.calls[static_cast<size_t>(call - 1)] << "):\n"
                      << problems;
      }
    }
  }
  std::printf(
      "[ robust   ] %s: %d (call, fault, mode) case(s) run, %d survived; calls %llu..%llu of %llu, "
      "stride %llu, once and onwards\n",
      fault_name.name, run_cases, survived, static_cast<unsigned long long>(first),
      static_cast<unsigned long long>(clean.sequence_calls),
      static_cast<unsigned long long>(clean.sequence_calls), static_cast<unsigned long long>(stride));
  EXPECT_EQ(survived, run_cases);
}

std::string FaultTestName(const ::testing::TestParamInfo<FaultName>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    if (*c == ' ' || *c == '+') {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c) : *c;
    upper = false;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultInjection, ::testing::ValuesIn(kFaults), FaultTestName);

// The sequence itself, without faults: it must leave the game's tables as it found them and say nothing
// went wrong, or the comparison above would prove nothing.
TEST(CleanSequence, DeleteAllRestoresTheFixtureWithoutAFailureLine) {
  const RunResult& clean = CleanRun();
  RunOptions untouched;
  untouched.steps = {ScriptSet()};
  const RunResult empty = RunSequence(untouched);
  EXPECT_EQ(clean.final_tables, empty.final_tables) << DumpDifference(empty.final_tables, clean.final_tables);
  ASSERT_EQ(clean.step_tables.size(), 3u);
  EXPECT_NE(clean.step_tables[0], empty.final_tables);
  EXPECT_NE(clean.step_tables[1], clean.step_tables[0]);
  EXPECT_FALSE(HasFailureLine(clean.log)) << Joined(clean.log);
  EXPECT_TRUE(HasLineStartingWith(clean.log, "applied ")) << Joined(clean.log);
  EXPECT_TRUE(HasLineStartingWith(clean.log, "re-apply: ")) << Joined(clean.log);
}

}  // namespace
}  // namespace gearloft::robust
