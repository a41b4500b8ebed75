// gearloft robustness tests: the worker loop inside the simulated game with scripts whose changes once
// went astray unnoticed: a new row past its car's block of Ids, a stock value with more digits than its
// statement writes, and two changes of one load to the same cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "robust_run.h"

namespace gearloft::robust {
namespace {

// The rows of `table` in a dump, in rowid order.
std::vector<std::string> RowsOf(const std::string& dump, const std::string& table) {
  std::vector<std::string> rows;
  std::istringstream in(dump);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("table ", 0) == 0) {
      inside = line == "table " + table;
    } else if (inside) {
      rows.push_back(line);
    }
  }
  return rows;
}

// The rows of `table` whose first cell is `id`.
std::vector<std::string> RowsWithId(const std::string& dump, const std::string& table, int64_t id) {
  std::vector<std::string> found;
  const std::string head = "integer:" + std::to_string(id) + "|";
  for (const std::string& row : RowsOf(dump, table)) {
    if (row.rfind(head, 0) == 0) found.push_back(row);
  }
  return found;
}

bool Logged(const RunResult& run, const std::string& message) {
  return std::find(run.log.begin(), run.log.end(), message) != run.log.end();
}

std::string LogText(const RunResult& run) {
  std::string text;
  for (const std::string& message : run.log) text += message + "\n";
  return text;
}

// Kestrel's Sequence 1002 would be Id 8001, Orca's first aftermarket bonnet: it used to land there as
// Orca's row, keep Orca's own from being added, and stay behind as Orca's when a.ini went.
TEST(EveryChangeRunTest, BonnetPastItsCarsBlockIsRefusedAndTheNextCarsOwnLands) {
  const ScriptSet both = {{"a.ini", "[Kestrel_GT]\nhood_options = 1002\n"},
                          {"b.ini", "[Orca_Coupe]\nhood_options = 2\n"}};
  const ScriptSet orca_only = {{"b.ini", "[Orca_Coupe]\nhood_options = 2\n"}};
  RunOptions options;
  options.steps = {both, orca_only};
  const RunResult run = RunSequence(options);
  EXPECT_TRUE(
      Logged(run,
             "ERROR a.ini: [Kestrel_GT]: hood_options Sequence 1002 is past List_UpgradeCarBodyHood's "
             "limit of 1000 per car - file skipped"))
      << LogText(run);
  EXPECT_TRUE(Logged(run, "applied 1 statement(s) from 2 file(s), all read back")) << LogText(run);
  ASSERT_EQ(run.step_tables.size(), 2u);
  // Id, CarBodyID, Level, IsStock, Sequence: Orca's bonnet at Sequence 2, in both states of the folder.
  for (const std::string& dump : {run.step_tables[0], run.step_tables[1], run.final_tables}) {
    const std::vector<std::string> rows = RowsWithId(dump, "List_UpgradeCarBodyHood", 8001);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].rfind("integer:8001|integer:8000|integer:1|integer:0|integer:2|", 0), 0u) << rows[0];
  }
  EXPECT_EQ(run.integrity, "ok");
}

// The statement writes 123456.1235: a check wanting 123456.1234567 missed three times and the worker
// held, for a script that was fine.
TEST(EveryChangeRunTest, StockValueWithMoreDigitsThanItsStatementReadsBack) {
  RunOptions options;
  options.steps = {{{"track.ini", "[Kestrel_GT]\ntrack_front_stock = 123456.1234567\n"}}};
  const RunResult run = RunSequence(options);
  EXPECT_TRUE(Logged(run, "applied 1 statement(s) from 1 file(s), all read back")) << LogText(run);
  for (const std::string& message : run.log) EXPECT_FALSE(IsFailureLine(message)) << message;
  const std::vector<std::string> rows =
      RowsWithId(run.step_tables[0], "List_UpgradeCarBodyTrackSpacingFront", 7000);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].rfind("integer:7000|integer:7000|real:123456.1235", 0), 0u) << rows[0];
}

// The later change stays in the game's table, and the log says which file and key set the cell first.
TEST(EveryChangeRunTest, CellSetByTwoFilesIsOneWarningAndTheLaterValueStays) {
  RunOptions options;
  options.steps = {{{"a.ini", "[7]\nrim_stock = 18\n"}, {"b.ini", "[0007]\nrim_front_stock = 19\n"}}};
  const RunResult run = RunSequence(options);
  const std::string warning =
      "WARNING b.ini: [0007]: rim_front_stock sets List_UpgradeRimSizeFront FrontWheelDiameter of Id 7000 "
      "again "
      "(first set by a.ini: [7]: rim_stock) - the later value wins";
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), warning), 1) << LogText(run);
  const std::vector<std::string> rows = RowsWithId(run.final_tables, "List_UpgradeRimSizeFront", 7000);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].rfind("integer:7000|integer:7|integer:0|integer:1|integer:19|", 0), 0u) << rows[0];
}

}  // namespace
}  // namespace gearloft::robust
