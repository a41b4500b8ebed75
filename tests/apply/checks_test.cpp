// Tests of the final read-back checks: grouping of row-exists checks per table, and checks that a later
// change to the same cell supersedes.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"

namespace gearloft {
namespace {

ReadBackCheck Check(const std::string& sql, double want) {
  ReadBackCheck check;
  check.sql = sql;
  check.want = want;
  return check;
}

ReadBackCheck Exists(const std::string& table, const std::string& id) {
  return Check("SELECT COUNT(*) FROM " + table + " WHERE Id = " + id, 1.0);
}

void ExpectChecks(const std::vector<ReadBackCheck>& got, const std::vector<ReadBackCheck>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].sql, want[i].sql) << "check " << i;
    EXPECT_EQ(got[i].want, want[i].want) << "check " << i;
  }
}

TEST(FinalChecksTest, EmptyGivesNothing) {
  EXPECT_TRUE(FinalChecks({}).empty());
}

TEST(FinalChecksTest, RowChecksBecomeOneInCheckPerTableAfterTheOthers) {
  const ReadBackCheck price = Check("SELECT Price FROM TableA WHERE Id = 1", 2500);
  const ReadBackCheck spacing = Check("SELECT Spacing FROM TableC WHERE Id = 9", 1.25);
  ExpectChecks(FinalChecks({Exists("TableB", "21"), Exists("TableA", "11"), price, Exists("TableA", "12"),
                            Exists("TableB", "22"), spacing, Exists("TableA", "13")}),
               {price, spacing, Check("SELECT COUNT(*) FROM TableA WHERE Id IN (11,12,13)", 3),
                Check("SELECT COUNT(*) FROM TableB WHERE Id IN (21,22)", 2)});
}

TEST(FinalChecksTest, OnlyWantOneCountsWithWhereIdAreGrouped) {
  const std::vector<ReadBackCheck> kept = {
      Check("SELECT COUNT(*) FROM T WHERE Id = 5", 2),                      // want is not 1
      Check("SELECT COUNT(*) FROM T WHERE A = 1 AND B = 2 AND Id = 5", 1),  // a rewrite's check
      Check("SELECT Level FROM T WHERE Id = 5", 1),                         // not a count
      Check("SELECT COUNT(*) FROM T WHERE Id IN (5)", 1),                   // no " WHERE Id = "
      Check("select COUNT(*) FROM T WHERE Id = 5", 1),                      // prefix differs in case
  };
  ExpectChecks(FinalChecks(kept), kept);
}

TEST(FinalChecksTest, EverythingAfterWhereIdIsTheIdText) {
  ExpectChecks(FinalChecks({Check("SELECT COUNT(*) FROM T WHERE Id = 5 AND A = 1", 1), Exists("T", "6")}),
               {Check("SELECT COUNT(*) FROM T WHERE Id IN (5 AND A = 1,6)", 2)});
}

TEST(FinalChecksTest, IdInsertedTwiceIsCountedOnce) {
  // COUNT(*) ... IN counts the row once, whatever the list holds.
  ExpectChecks(FinalChecks({Exists("T", "5"), Exists("T", "6"), Exists("T", "5")}),
               {Check("SELECT COUNT(*) FROM T WHERE Id IN (6,5)", 2)});
}

TEST(FinalChecksTest, LaterCheckOfTheSameCellSupersedesEarlierOne) {
  const ReadBackCheck first = Check("SELECT Spacing FROM T WHERE Id = 5", 1.25);
  const ReadBackCheck other = Check("SELECT Price FROM T WHERE Id = 5", 100);
  const ReadBackCheck last = Check("SELECT Spacing FROM T WHERE Id = 5", 1.5);
  ExpectChecks(FinalChecks({first, other, last}), {other, last});
}

TEST(FinalChecksTest, SameWantDifferentTextsAreAllKept) {
  const std::vector<ReadBackCheck> checks = {Check("SELECT Spacing FROM T WHERE Id = 5", 1.25),
                                             Check("SELECT Spacing FROM T WHERE Id = 6", 1.25)};
  ExpectChecks(FinalChecks(checks), checks);
}

}  // namespace
}  // namespace gearloft
