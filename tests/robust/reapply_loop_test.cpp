// gearloft robustness tests: the worker loop after a re-apply that did not land keeps the plan in force,
// re-applies from it on the next pass and ends with the tables of a run without the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devhost/devhost.h"
#include "robust_run.h"

namespace gearloft {
namespace {

using devhost::CallFault;

// The worker loop: a re-apply that did not land keeps the plan in force, the next pass re-applies from
// it, and the tables end as a run without the fault leaves them.
TEST(ReapplyLandingLoop, NextPassReappliesFromThePlanInForce) {
  robust::RunOptions clean_options;
  clean_options.steps = {robust::ExampleScripts(), robust::ScriptSet()};
  clean_options.record_calls = true;
  const robust::RunResult clean = robust::RunSequence(clean_options);
  // The first call of the delete-all re-apply is the first after the load and apply's calls.
  uint64_t first_reapply_call = 0;
  for (size_t i = 0; i < clean.calls.size() && first_reapply_call == 0; ++i) {
    if (clean.calls[i].rfind("UPDATE ", 0) == 0 && i > 0 &&
        clean.calls[i - 1].rfind("SELECT /*g1*/", 0) == 0) {
      first_reapply_call = i + 1;
    }
  }
  ASSERT_NE(first_reapply_call, 0u);

  robust::RunOptions options = clean_options;
  options.record_calls = false;
  options.fault = robust::InjectedFault{CallFault::kDropWrite, first_reapply_call, false};
  const robust::RunResult run = robust::RunSequence(options);
  std::vector<std::string> reapply_lines;
  for (const std::string& line : run.log) {
    if (line.rfind("folder changed", 0) == 0 || line.rfind("WARNING: re-apply", 0) == 0 ||
        line.rfind("re-apply: ", 0) == 0) {
      reapply_lines.push_back(line.substr(0, line.find(" (")));
    }
  }
  EXPECT_EQ(reapply_lines,
            (std::vector<std::string>{
                "folder changed - re-applying in place", "WARNING: re-apply did not land",
                "folder changed - re-applying in place", "re-apply: 0 added row(s) kept in place"}));
  EXPECT_NE(std::find(run.log.begin(), run.log.end(),
                      "rows not visible after apply - re-probing CDatabase (attempt 1/3)"),
            run.log.end());
  EXPECT_EQ(run.final_tables, clean.final_tables)
      << robust::DumpDifference(clean.final_tables, run.final_tables);
}

}  // namespace
}  // namespace gearloft
