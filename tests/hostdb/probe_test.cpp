// gearloft host database bridge tests: choosing the current object by the probe SELECT, the summary
// message of a failed probe, and the description of the candidates.
// The simulated game is built where SQLite is found (not in the cross build for Windows).
#include <gtest/gtest.h>

#include <cstdio>

#include "devhost/devhost.h"
#include "devhost/host_layout.h"
#include "hostdb/canned_host.h"
#include "hostdb/hostdb.h"
#include "hostdb/test_support.h"
#include "platform/testing.h"

namespace gearloft {
namespace {

using devhost::BuildHostResult;
using devhost::IntegerValue;
using devhost::TextValue;
using hostdb_test::AnswerCount;
using hostdb_test::CannedHost;
using hostdb_test::Pages;

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentForTest(0);
    SetCandidatesForTest({});
  }
  void TearDown() override {
    SetCurrentForTest(0);
    SetCandidatesForTest({});
  }
  // The count the current object answers, or -1 when there is none.
  static int64_t CurrentAnswer() {
    const QueryResult result = Query(kProbeSql);
    return result.ok ? result.rows.at(0).at(0).integer : -1;
  }
};

TEST_F(ProbeTest, SendsTheProbeSelect) {
  CannedHost host;
  AnswerCount(&host, 5);
  SetCandidatesForTest({host.global_address()});
  EXPECT_TRUE(ProbeCandidates(nullptr));
  EXPECT_EQ(host.last_sql, "SELECT COUNT(*) FROM List_UpgradeRimSizeFront");
}

TEST_F(ProbeTest, TwoAnsweringCandidatesChooseTheFirst) {
  CannedHost first;
  CannedHost second;
  AnswerCount(&first, 5);
  AnswerCount(&second, 7);
  SetCandidatesForTest({first.global_address(), second.global_address()});
  std::string message = "untouched";
  ASSERT_TRUE(ProbeCandidates(&message));
  EXPECT_TRUE(HasCurrent());
  EXPECT_EQ(message, "untouched");
  EXPECT_EQ(second.calls, 0);
  EXPECT_EQ(CurrentAnswer(), 5);
}

TEST_F(ProbeTest, CountZeroIsNotChosen) {
  CannedHost empty;
  CannedHost loaded;
  AnswerCount(&empty, 0);
  AnswerCount(&loaded, 3);
  SetCandidatesForTest({empty.global_address(), loaded.global_address()});
  ASSERT_TRUE(ProbeCandidates(nullptr));
  EXPECT_EQ(CurrentAnswer(), 3);
}

TEST_F(ProbeTest, TwoRowsAreNotChosen) {
  CannedHost two_rows;
  CannedHost loaded;
  two_rows.answer = BuildHostResult({"COUNT(*)"}, {{IntegerValue(4)}, {IntegerValue(4)}});
  AnswerCount(&loaded, 9);
  SetCandidatesForTest({two_rows.global_address(), loaded.global_address()});
  ASSERT_TRUE(ProbeCandidates(nullptr));
  EXPECT_EQ(CurrentAnswer(), 9);
}

class NotAnsweringTest : public ProbeTest,
                         public ::testing::WithParamInterface<std::unique_ptr<devhost::BuiltResult> (*)()> {};

TEST_P(NotAnsweringTest, IsNotChosen) {
  CannedHost host;
  host.answer = GetParam()();
  SetCandidatesForTest({host.global_address()});
  std::string message;
  EXPECT_FALSE(ProbeCandidates(&message));
  EXPECT_FALSE(HasCurrent());
  EXPECT_EQ(message, "1 global(s), 1 holding an object, none answered a probe SELECT");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NotAnsweringTest,
    ::testing::Values([] { return BuildHostResult({}, {{}}); },                          // empty first row
                      [] { return BuildHostResult({"COUNT(*)"}, {{TextValue("5")}}); },  // text
                      [] { return BuildHostResult({"COUNT(*)"}, {{devhost::NullValue()}}); },  // NULL
                      [] { return BuildHostResult({"COUNT(*)"}, {{IntegerValue(-1)}}); },      // negative
                      [] { return BuildHostResult({"COUNT(*)"}, {}); },                        // no rows
                      [] { return std::unique_ptr<devhost::BuiltResult>(); }));                // no result

TEST_F(ProbeTest, EmptyListGivesZeroCounts) {
  std::string message;
  EXPECT_FALSE(ProbeCandidates(&message));
  EXPECT_EQ(message, "0 global(s), 0 holding an object, none answered a probe SELECT");
}

TEST_F(ProbeTest, MessageCountsOnlyCandidatesHoldingAnObject) {
  CannedHost answers_zero;
  AnswerCount(&answers_zero, 0);
  CannedHost empty_global;
  empty_global.global = nullptr;
  CannedHost data_method;
  Pages data(platform::PageSize(), platform::kPageReadWrite);
  ASSERT_NE(data.data, nullptr);
  data_method.vtable.execute_query = reinterpret_cast<platform::ExecuteQueryFn>(data.address());
  SetCandidatesForTest(
      {answers_zero.global_address(), empty_global.global_address(), data_method.global_address()});
  std::string message;
  EXPECT_FALSE(ProbeCandidates(&message));
  EXPECT_EQ(message, "3 global(s), 1 holding an object, none answered a probe SELECT");
  EXPECT_EQ(answers_zero.calls, 1);
}

TEST_F(ProbeTest, FailedProbeClearsTheEarlierChoice) {
  CannedHost host;
  AnswerCount(&host, 2);
  SetCandidatesForTest({host.global_address()});
  ASSERT_TRUE(ProbeCandidates(nullptr));
  AnswerCount(&host, 0);
  EXPECT_FALSE(ProbeCandidates(nullptr));
  EXPECT_FALSE(HasCurrent());
}

TEST_F(ProbeTest, ClearCurrentStopsEveryCall) {
  CannedHost host;
  AnswerCount(&host, 2);
  SetCandidatesForTest({host.global_address()});
  ASSERT_TRUE(ProbeCandidates(nullptr));
  ClearCurrent();
  EXPECT_FALSE(HasCurrent());
  EXPECT_FALSE(Query("SELECT 1").ok);
  EXPECT_EQ(host.calls, 1);
}

std::string Hex(uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

class DescribeTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ASSERT_TRUE(platform::MainModuleRange(&module_));
  }
  void TearDown() override {
    devhost::SetGameDatabase(nullptr);
    devhost::CloseDatabase(database_);
    ProbeTest::TearDown();
  }
  platform::ModuleRange module_{};
  devhost::Database* database_ = nullptr;
};

TEST_F(DescribeTest, CandidateWithoutAnObject) {
  SetCandidatesForTest({devhost::SecondGlobalAddress()});
  EXPECT_EQ(DescribeCandidates(), "global exe+0x" + Hex(devhost::SecondGlobalAddress() - module_.base) +
                                      " -> obj 0000000000000000, ExecuteQuery none 0x0");
}

TEST_F(DescribeTest, ObjectInSixteenUpperCaseDigitsAndEntriesJoined) {
  std::string error;
  database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
  ASSERT_NE(database_, nullptr) << error;
  devhost::SetGameDatabase(database_);
  SetCandidatesForTest({devhost::GameGlobalAddress(), devhost::SecondGlobalAddress()});
  const auto* object = reinterpret_cast<const devhost::HostObject*>(database_);
  const uintptr_t method = reinterpret_cast<uintptr_t>(object->vtable->execute_query);
  char object_text[32];
  std::snprintf(object_text, sizeof object_text, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(database_)));
  EXPECT_EQ(DescribeCandidates(), "global exe+0x" + Hex(devhost::GameGlobalAddress() - module_.base) +
                                      " -> obj " + object_text + ", ExecuteQuery exe+0x" +
                                      Hex(method - module_.base) + "; global exe+0x" +
                                      Hex(devhost::SecondGlobalAddress() - module_.base) +
                                      " -> obj 0000000000000000, ExecuteQuery none 0x0");
}

TEST_F(DescribeTest, NoCandidatesDescribeAsEmptyText) {
  EXPECT_EQ(DescribeCandidates(), "");
}

}  // namespace
}  // namespace gearloft
