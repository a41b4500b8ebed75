// gearloft platform tests: RunProgram, which the end-to-end suites use to start the simulated game. The
// child program is this test executable itself, asked through its own GoogleTest flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scratch.h"
#include "platform/testing.h"

namespace gearloft::platform {
namespace {

using testing_support::Exists;
using testing_support::Join;
using testing_support::ReadText;
using testing_support::ScratchFolder;

TEST(RunProgramTest, ChildOutputLandsInTheFileAndItsExitCodeComesBack) {
  const std::string output = Join(ScratchFolder(), "output.txt");
  const int code = RunProgram(
      ExecutablePath(), {"--gtest_list_tests", "--gtest_filter=RunProgramTest.ChildOutputLands*"}, output);
  EXPECT_EQ(code, 0);
  const std::string text = ReadText(output);
  EXPECT_NE(text.find("RunProgramTest."), std::string::npos) << text;
  EXPECT_NE(text.find("  ChildOutputLandsInTheFileAndItsExitCodeComesBack"), std::string::npos) << text;
  EXPECT_EQ(text.find("ArgumentWithBlanks"), std::string::npos) << text;
}

// Only ever run as a child of the case below, which asks for disabled tests.
TEST(RunProgramChild, DISABLED_FailsOnPurpose) {
  FAIL() << "the child run fails on purpose";
}

TEST(RunProgramTest, FailingChildGivesItsNonZeroCodeAndItsErrorOutput) {
  const std::string output = Join(ScratchFolder(), "output.txt");
  const int code = RunProgram(
      ExecutablePath(), {"--gtest_also_run_disabled_tests", "--gtest_filter=RunProgramChild.*"}, output);
  EXPECT_EQ(code, 1);
  EXPECT_NE(ReadText(output).find("the child run fails on purpose"), std::string::npos) << ReadText(output);
}

TEST(RunProgramTest, ArgumentWithBlanksArrivesAsOne) {
  const std::string folder = ScratchFolder();
  const std::string report = Join(Join(folder, "report folder"), "child report.xml");
  const int code = RunProgram(ExecutablePath(),
                              {"--gtest_filter=RunProgramTest.ArgumentWithBlanks*", "--gtest_list_tests",
                               "--gtest_output=xml:" + report},
                              Join(folder, "output.txt"));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Exists(report));
}

TEST(RunProgramTest, MissingProgramGivesMinusOne) {
  const std::string folder = ScratchFolder();
  EXPECT_EQ(RunProgram(Join(folder, "absent-program"), {}, Join(folder, "output.txt")), -1);
}

TEST(RunProgramTest, OutputFileThatCannotBeMadeGivesMinusOne) {
  const std::string folder = ScratchFolder();
  EXPECT_EQ(RunProgram(ExecutablePath(), {"--gtest_list_tests"}, Join(Join(folder, "absent"), "output.txt")),
            -1);
}

}  // namespace
}  // namespace gearloft::platform
