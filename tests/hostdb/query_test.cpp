// gearloft host database bridge tests: guarded calls of ExecuteQuery, the bounded copy of host results,
// Query, Execute, CachedQuery and CellAsDouble.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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
using devhost::NullValue;
using devhost::RealValue;
using devhost::TextValue;
using hostdb_test::CannedHost;
using hostdb_test::Pages;

QueryResult Read(const devhost::BuiltResult& built) {
  return ReadHostResult(devhost::AddressOf(built));
}

TEST(ReadHostResultTest, CellsOfEveryTagAreConverted) {
  auto built = BuildHostResult(
      {"i", "r", "t", "n", "other"},
      {{IntegerValue(-42), RealValue(0.15), TextValue("Kestrel_GT"), NullValue(), NullValue(7)}});
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.columns, (std::vector<std::string>{"i", "r", "t", "n", "other"}));
  ASSERT_EQ(result.rows.size(), 1u);
  const std::vector<QueryCell>& row = result.rows[0];
  ASSERT_EQ(row.size(), 5u);
  EXPECT_EQ(row[0].kind, QueryCell::Kind::kInteger);
  EXPECT_EQ(row[0].integer, -42);
  EXPECT_EQ(row[1].kind, QueryCell::Kind::kReal);
  EXPECT_EQ(row[1].real, 0.15);
  EXPECT_EQ(row[2].kind, QueryCell::Kind::kText);
  EXPECT_EQ(row[2].text, "Kestrel_GT");
  EXPECT_EQ(row[3].kind, QueryCell::Kind::kNull);
  EXPECT_EQ(row[4].kind, QueryCell::Kind::kNull);
}

TEST(ReadHostResultTest, FifteenBytesInlineAndSixteenBehindAnAddress) {
  const std::string inline_text = "abcdefghijklmno";
  const std::string outside_text = "abcdefghijklmnop";
  auto built = BuildHostResult({"a_column_name_longer_than_15"},
                               {{TextValue(inline_text)}, {TextValue(outside_text)}});
  ASSERT_EQ(built->strings[0].capacity, 15u);
  ASSERT_GT(built->strings[1].capacity, 15u);
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.columns[0], "a_column_name_longer_than_15");
  EXPECT_EQ(result.rows[0][0].text, inline_text);
  EXPECT_EQ(result.rows[1][0].text, outside_text);
}

TEST(ReadHostResultTest, ZeroRowsIsOk) {
  auto built = BuildHostResult({"Id"}, {});
  const QueryResult result = Read(*built);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.columns.size(), 1u);
  EXPECT_TRUE(result.rows.empty());
}

TEST(ReadHostResultTest, ZeroColumnsGiveRowsWithoutCells) {
  auto built = BuildHostResult({}, {{}, {}});
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.rows.size(), 2u);
  EXPECT_TRUE(result.rows[0].empty());
}

TEST(ReadHostResultTest, NullAddressIsNotOk) {
  EXPECT_FALSE(ReadHostResult(0).ok);
}

TEST(ReadHostResultTest, FourThousandNinetyFiveColumnsAreOk) {
  auto built = devhost::BuildWideOrLongResult(4095, 1);
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.columns.size(), 4095u);
  EXPECT_EQ(result.columns[4094], "c4094");
}

TEST(ReadHostResultTest, FourThousandNinetySixColumnsAreNotOk) {
  auto built = devhost::BuildWideOrLongResult(4096, 0);
  const QueryResult result = Read(*built);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.columns.empty());
}

TEST(ReadHostResultTest, AMillionRowsAreNotOk) {
  auto built = devhost::BuildWideOrLongResult(1, 1000000);
  EXPECT_FALSE(Read(*built).ok);
}

TEST(ReadHostResultTest, EndBeforeBeginIsNotOk) {
  auto built = BuildHostResult({"a"}, {{IntegerValue(1)}});
  std::swap(built->host.rows_begin, built->host.rows_end);
  EXPECT_FALSE(Read(*built).ok);
}

TEST(ReadHostResultTest, TextClaimingTwoMiBIsEmpty) {
  devhost::HostValue huge = TextValue("Sport_A");
  huge.claimed_length = 2 * 1024 * 1024;
  auto built = BuildHostResult({"TireModelName"}, {{huge}});
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.rows[0][0].kind, QueryCell::Kind::kText);
  EXPECT_EQ(result.rows[0][0].text, "");
}

TEST(ReadHostResultTest, TextOfExactlyOneMiBIsKept) {
  devhost::HostValue big = TextValue("x");
  big.claimed_length = 0x100000;
  auto built = BuildHostResult({"t"}, {{big}});
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.rows[0][0].text.size(), 0x100000u);
}

// A row entry pointing at memory that cannot be read still counts, as a row of NULLs; an unreadable
// text reads as empty.
TEST(ReadHostResultTest, UnreadableRowAndTextDegradeWithoutFailing) {
  Pages hole(platform::PageSize(), platform::kPageNoAccess);
  ASSERT_NE(hole.data, nullptr);
  auto built = BuildHostResult({"a", "b"}, {{IntegerValue(1), TextValue("a text longer than fifteen")},
                                            {IntegerValue(2), IntegerValue(3)}});
  built->rows[1] = reinterpret_cast<devhost::HostCell*>(hole.data);
  std::memcpy(built->strings[0].buffer, &hole.data, sizeof hole.data);
  const QueryResult result = Read(*built);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.rows.size(), 2u);
  EXPECT_EQ(result.rows[0][0].integer, 1);
  EXPECT_EQ(result.rows[0][1].kind, QueryCell::Kind::kText);
  EXPECT_EQ(result.rows[0][1].text, "");
  ASSERT_EQ(result.rows[1].size(), 2u);
  EXPECT_EQ(result.rows[1][0].kind, QueryCell::Kind::kNull);
  EXPECT_EQ(result.rows[1][1].kind, QueryCell::Kind::kNull);
}

// 4095 columns by 999,999 rows passed both bounds: over unreadable cell arrays that was four billion
// NULL cells, hundreds of gigabytes, in the game's process.
TEST(HostResultBoundsTest, AMillionCellsAreRefused) {
  auto built = devhost::BuildWideOrLongResult(1000, 1000);
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.columns.empty());
  EXPECT_TRUE(result.rows.empty());
}

TEST(HostResultBoundsTest, OneCellUnderAMillionIsCopied) {
  auto built = devhost::BuildWideOrLongResult(1000, 999);
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.columns.size(), 1000u);
  ASSERT_EQ(result.rows.size(), 999u);
  EXPECT_EQ(result.rows[998].size(), 1000u);
}

std::vector<devhost::HostValue> MebibyteTexts(size_t count) {
  devhost::HostValue text = devhost::TextValue("x");
  text.claimed_length = 1024 * 1024;
  return std::vector<devhost::HostValue>(count, text);
}

// Each text may claim 1 MiB; a million of them was a terabyte to copy.
TEST(HostResultBoundsTest, MoreThanSixteenMebibytesOfTextIsRefused) {
  auto built = devhost::BuildHostResult(std::vector<std::string>(17, ""), {MebibyteTexts(17)});
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.rows.empty());
}

TEST(HostResultBoundsTest, SixteenMebibytesOfTextAreCopied) {
  auto built = devhost::BuildHostResult(std::vector<std::string>(16, ""), {MebibyteTexts(16)});
  const QueryResult result = ReadHostResult(devhost::AddressOf(*built));
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.rows.size(), 1u);
  ASSERT_EQ(result.rows[0].size(), 16u);
  EXPECT_EQ(result.rows[0][15].text, std::string(1024 * 1024, 'x'));
}

TEST(CallExecuteQueryTest, CallsTheMethodWithObjectSlotAndText) {
  CannedHost host;
  hostdb_test::AnswerCount(&host, 5);
  uintptr_t slot = 0;
  ASSERT_TRUE(CallExecuteQuery(host.global_address(), "SELECT 1", &slot));
  EXPECT_EQ(host.calls, 1);
  EXPECT_EQ(host.last_sql, "SELECT 1");
  EXPECT_EQ(slot, devhost::AddressOf(*host.answer));
}

// What a build of the game that returns a smart pointer does: it writes 32 bytes, 16-byte aligned
// stores, into the slot it is given, and the first 8 are the result.
struct WideSlotSeen {
  bool aligned = false;
  bool zeroed = false;
};
WideSlotSeen g_wide_slot;

void* GEARLOFT_HOSTCALL WriteWideSlot(void* self, void** result_slot, const char*) {
  CannedHost* host = static_cast<hostdb_test::CannedObject*>(self)->owner;
  ++host->calls;
  g_wide_slot.aligned = reinterpret_cast<uintptr_t>(result_slot) % 16 == 0;
  unsigned char seen[32];
  std::memcpy(seen, result_slot, sizeof seen);
  g_wide_slot.zeroed = std::all_of(seen, seen + sizeof seen, [](unsigned char b) { return b == 0; });
  void* result = &host->answer->host;
  void* wide[4] = {result, result, reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A}), self};
  std::memcpy(result_slot, wide, sizeof wide);
  return result;
}

TEST(CallExecuteQueryTest, SlotHolds32ZeroedAlignedBytesAndItsFirst8AreTheResult) {
  CannedHost host;
  hostdb_test::AnswerCount(&host, 5);
  host.vtable.execute_query = &WriteWideSlot;
  g_wide_slot = WideSlotSeen{};
  uintptr_t slot = 0;
  ASSERT_TRUE(CallExecuteQuery(host.global_address(), "SELECT 1", &slot));
  EXPECT_EQ(host.calls, 1);
  EXPECT_TRUE(g_wide_slot.aligned);
  EXPECT_TRUE(g_wide_slot.zeroed);
  EXPECT_EQ(slot, devhost::AddressOf(*host.answer));
  // The same again: a second call must find its slot zeroed too.
  g_wide_slot = WideSlotSeen{};
  ASSERT_TRUE(CallExecuteQuery(host.global_address(), "SELECT 1", &slot));
  EXPECT_TRUE(g_wide_slot.zeroed);
}

TEST(CallExecuteQueryTest, EmptySlotStillCountsAsACall) {
  CannedHost host;
  uintptr_t slot = 99;
  EXPECT_TRUE(CallExecuteQuery(host.global_address(), "SELECT 1", &slot));
  EXPECT_EQ(slot, 0u);
}

TEST(CallExecuteQueryTest, EmptyGlobalIsNoCall) {
  CannedHost host;
  host.global = nullptr;
  EXPECT_FALSE(CallExecuteQuery(host.global_address(), "SELECT 1", nullptr));
  EXPECT_EQ(host.calls, 0);
}

TEST(CallExecuteQueryTest, UnreadableGlobalIsNoCall) {
  Pages hole(platform::PageSize(), platform::kPageNoAccess);
  ASSERT_NE(hole.data, nullptr);
  EXPECT_FALSE(CallExecuteQuery(hole.address(), "SELECT 1", nullptr));
}

TEST(CallExecuteQueryTest, ZeroTableIsNoCall) {
  CannedHost host;
  host.object.vtable = nullptr;
  EXPECT_FALSE(CallExecuteQuery(host.global_address(), "SELECT 1", nullptr));
  EXPECT_EQ(host.calls, 0);
}

// A table entry that points into data: calling it would execute bytes that are no code.
TEST(CallExecuteQueryTest, MethodOutsideExecutableMemoryIsNoCall) {
  CannedHost host;
  Pages data(platform::PageSize(), platform::kPageReadWrite);
  ASSERT_NE(data.data, nullptr);
  host.vtable.execute_query = reinterpret_cast<platform::ExecuteQueryFn>(data.address());
  EXPECT_FALSE(CallExecuteQuery(host.global_address(), "SELECT 1", nullptr));
}

// The devhost database, faulting in each way the game can.
class FaultingHostTest : public ::testing::TestWithParam<devhost::CallFault> {
 protected:
  void SetUp() override {
    database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error_);
    ASSERT_NE(database_, nullptr) << error_;
    global_ = database_;
  }
  void TearDown() override {
    SetCurrentForTest(0);
    devhost::CloseDatabase(database_);
  }
  uintptr_t global() const { return reinterpret_cast<uintptr_t>(&global_); }
  devhost::Database* database_ = nullptr;
  void* global_ = nullptr;
  std::string error_;
};

TEST_P(FaultingHostTest, FaultInTheCallIsFalseAndTheNextCallWorks) {
  devhost::Knobs knobs;
  knobs.fault_on = "Data_Car";
  knobs.fault_kind = GetParam();
  devhost::SetKnobs(database_, knobs);
  uintptr_t slot = 0;
  EXPECT_FALSE(CallExecuteQuery(global(), "SELECT COUNT(*) FROM Data_Car", &slot));
  SetCurrentForTest(global());
  EXPECT_FALSE(Query("SELECT MediaName FROM Data_Car WHERE Id = 7").ok);
  EXPECT_FALSE(Execute("UPDATE Data_Car SET Year = 1 WHERE Id = 7"));
  const QueryResult after = Query("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7");
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.rows.at(0).at(0).integer, 4);
  EXPECT_EQ(devhost::CallCount(database_), 4u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultingHostTest,
                         ::testing::Values(devhost::CallFault::kAccessViolation, devhost::CallFault::kThrow));

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentForTest(0);
    ResetQueryCacheForTest();
  }
  void TearDown() override {
    SetCurrentForTest(0);
    ResetQueryCacheForTest();
  }
};

TEST_F(QueryTest, NoCurrentObjectMeansNoCallAtAll) {
  CannedHost host;
  hostdb_test::AnswerCount(&host, 1);
  SetCandidatesForTest({host.global_address()});
  EXPECT_FALSE(Query("SELECT 1").ok);
  EXPECT_FALSE(Execute("DELETE FROM Data_Car"));
  EXPECT_FALSE(CachedQuery("SELECT 1").ok);
  EXPECT_EQ(host.calls, 0);
  SetCandidatesForTest({});
}

TEST_F(QueryTest, QueryCopiesTheAnswer) {
  CannedHost host;
  hostdb_test::AnswerCount(&host, 12);
  SetCurrentForTest(host.global_address());
  const QueryResult result = Query("SELECT COUNT(*) FROM Data_Car");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.rows.at(0).at(0).integer, 12);
  EXPECT_EQ(host.last_sql, "SELECT COUNT(*) FROM Data_Car");
}

TEST_F(QueryTest, EmptyResultSlotIsNotOk) {
  CannedHost host;
  SetCurrentForTest(host.global_address());
  EXPECT_FALSE(Query("SELECT x FROM nowhere").ok);
  EXPECT_EQ(host.calls, 1);
}

TEST_F(QueryTest, ExecuteIgnoresTheResult) {
  CannedHost host;
  SetCurrentForTest(host.global_address());
  EXPECT_TRUE(Execute("DELETE FROM Data_Car WHERE Id = 1"));
  EXPECT_EQ(host.calls, 1);
}

TEST_F(QueryTest, CachedQueryCallsOnceAfterAnOkAnswer) {
  CannedHost host;
  hostdb_test::AnswerCount(&host, 3);
  SetCurrentForTest(host.global_address());
  EXPECT_EQ(CachedQuery("SELECT 3").rows.at(0).at(0).integer, 3);
  hostdb_test::AnswerCount(&host, 4);
  EXPECT_EQ(CachedQuery("SELECT 3").rows.at(0).at(0).integer, 3);
  EXPECT_EQ(host.calls, 1);
  EXPECT_EQ(CachedQuery("SELECT 3 ").rows.at(0).at(0).integer, 4);
  EXPECT_EQ(host.calls, 2);
}

TEST_F(QueryTest, CachedQueryCallsAgainAfterAFailedAnswer) {
  CannedHost host;
  SetCurrentForTest(host.global_address());
  EXPECT_FALSE(CachedQuery("SELECT 3").ok);
  hostdb_test::AnswerCount(&host, 3);
  const QueryResult second = CachedQuery("SELECT 3");
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.rows.at(0).at(0).integer, 3);
  EXPECT_EQ(host.calls, 2);
}

TEST(CellAsDoubleTest, IntegerAndRealGiveTheirValues) {
  QueryCell integer;
  integer.kind = QueryCell::Kind::kInteger;
  integer.integer = -7;
  QueryCell real;
  real.kind = QueryCell::Kind::kReal;
  real.real = 0.15000000596046448;
  EXPECT_EQ(CellAsDouble(&integer), -7.0);
  EXPECT_EQ(CellAsDouble(&real), 0.15000000596046448);
}

TEST(CellAsDoubleTest, NullTextAndMissingCellGiveNaN) {
  QueryCell null_cell;
  QueryCell text;
  text.kind = QueryCell::Kind::kText;
  text.text = "17";
  EXPECT_TRUE(std::isnan(CellAsDouble(&null_cell)));
  EXPECT_TRUE(std::isnan(CellAsDouble(&text)));
  EXPECT_TRUE(std::isnan(CellAsDouble(nullptr)));
}

// The checker's diff and the host-result fuzzer tell cells apart with SameCell: a real that comes back one
// rounding away, or as another kind, is another value.
TEST(SameCellTest, KindAndValueMustBothMatchAndRealsBitForBit) {
  const auto integer = [](int64_t value) {
    QueryCell cell;
    cell.kind = QueryCell::Kind::kInteger;
    cell.integer = value;
    return cell;
  };
  const auto real = [](double value) {
    QueryCell cell;
    cell.kind = QueryCell::Kind::kReal;
    cell.real = value;
    return cell;
  };
  QueryCell text;
  text.kind = QueryCell::Kind::kText;
  text.text = "Kestrel_GT";
  EXPECT_TRUE(SameCell(integer(7004), integer(7004)));
  EXPECT_FALSE(SameCell(integer(7004), integer(7005)));
  EXPECT_FALSE(SameCell(integer(1), real(1.0)));
  EXPECT_TRUE(SameCell(real(1.36), real(1.36)));
  EXPECT_FALSE(SameCell(real(0.1 + 0.2), real(0.3)));
  EXPECT_FALSE(SameCell(real(0.0), real(-0.0)));
  EXPECT_TRUE(SameCell(text, text));
  QueryCell other = text;
  other.text = "Kestrel_gt";
  EXPECT_FALSE(SameCell(text, other));
  EXPECT_TRUE(SameCell(QueryCell(), QueryCell()));
  EXPECT_FALSE(SameCell(QueryCell(), integer(0)));
}

}  // namespace
}  // namespace gearloft
