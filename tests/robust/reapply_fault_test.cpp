// gearloft robustness tests: a re-apply in place whose statements the game refuses, once or from then on,
// at each kind of statement it sends (taking back an edit, deleting a dropped row, rewriting a kept one,
// and the read-back of each). At every pass the tables hold what the log says is in force, never a state
// between the two plans; a script nobody touched keeps its edits throughout; no line repeats on every
// pass; and once the faults end and the folder changes, the tables are those of a fresh start.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "devhost/devhost.h"
#include "robust_run.h"

namespace gearloft::robust {
namespace {

const char kUntouched[] = "[Pica_Sport]\nrim_stock = 18\nwidth_stock = 255\n";
const char kBefore[] = "[Kestrel_GT]\nrim_front_stock = 18\nrim_sizes_front = 21, 22\nrim_sizes_rear = 19\n";
// The stock rim changes, front row 7004 is rewritten, front row 7005 and the rear row are dropped.
const char kAfter[] = "[Kestrel_GT]\nrim_front_stock = 19\nrim_sizes_front = 23\n";

struct StatementKind {
  const char* name;
  const char* text;  // a text only statements of that kind contain
};

const StatementKind kKinds[] = {
    {"undo", "SET FrontWheelDiameter = 17.0 WHERE Id = 7000"},
    {"undo read-back", "AND NOT (FrontWheelDiameter IS 17.0)"},
    {"delete", "DELETE FROM List_UpgradeRimSizeRear"},
    {"delete read-back", "SELECT COUNT(*) FROM List_UpgradeRimSizeRear WHERE Id IN ("},
    {"rewrite", "UPDATE List_UpgradeRimSizeFront SET Ordinal = 7"},
    {"rewrite read-back", "FrontWheelDiameter = 23 AND Price"},
};

std::set<std::string> FreshStart(const ScriptSet& folder) {
  RunOptions options;
  options.steps = {folder};
  return RowSet(RunSequence(options).final_tables);
}

// The worker's messages so far, without their time and age prefix.
std::vector<std::string> LogSoFar() {
  std::ifstream in(RunningFolder() + "/gearloft.log", std::ios::binary);
  std::vector<std::string> messages;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t end = line.find("s] ");
    messages.push_back(end == std::string::npos ? line : line.substr(end + 3));
  }
  return messages;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

size_t Count(const std::vector<std::string>& log, const char* prefix) {
  size_t count = 0;
  for (const std::string& line : log) count += StartsWith(line, prefix) ? 1 : 0;
  return count;
}

TEST(ReapplyFault, EveryKindOnceAndOnwardsKeepsTheTablesAtWhatTheLogSays) {
  const ScriptSet before = {{"kestrel.ini", kBefore}, {"untouched.ini", kUntouched}};
  const ScriptSet after = {{"kestrel.ini", kAfter}, {"untouched.ini", kUntouched}};
  const std::set<std::string> old_rows = FreshStart(before);
  const std::set<std::string> new_rows = FreshStart(after);
  const std::set<std::string> game_rows = FreshStart(ScriptSet());
  ASSERT_NE(old_rows, new_rows);
  // The untouched script's edits, which every state must hold.
  const std::set<std::string> untouched_rows = FreshStart({{"untouched.ini", kUntouched}});
  std::set<std::string> untouched_edits;
  for (const std::string& row : untouched_rows) {
    if (game_rows.count(row) == 0) untouched_edits.insert(row);
  }
  ASSERT_FALSE(untouched_edits.empty());

  for (const StatementKind& kind : kKinds) {
    for (const bool onwards : {false, true}) {
      const std::string label = std::string(kind.name) + (onwards ? " onwards" : " once");
      std::vector<std::string> problems;
      RunOptions options;
      options.steps = {before, after};
      options.save_after_faults = true;
      options.on_step = [&](size_t step) {
        if (step != 1) return;
        devhost::Knobs knobs;
        knobs.fault_on = kind.text;
        knobs.fault_on_times = onwards ? 0 : 1;
        devhost::SetKnobs(RunningDatabase(), knobs);
      };
      // At every pass: the plan in force is the new one once "applied" follows a "re-apply:" line, else
      // the old one; the tables hold exactly its rows.
      options.on_sleep = [&](int sleep) {
        const std::vector<std::string> log = LogSoFar();
        bool applied = false;
        bool reapplied = false;
        bool new_in_force = false;
        for (const std::string& line : log) {
          if (StartsWith(line, "re-apply: ")) reapplied = true;
          if (StartsWith(line, "applied ")) {
            applied = true;
            new_in_force = reapplied;
          }
        }
        if (!applied) return;
        const std::set<std::string> rows = RowSet(DumpTables(RunningConnection()));
        const std::set<std::string>& want = new_in_force ? new_rows : old_rows;
        if (rows != want) {
          problems.push_back("sleep " + std::to_string(sleep) + ": the tables are not the " +
                             (new_in_force ? "new" : "old") + " plan's after \"" + log.back() + "\"");
        }
        for (const std::string& row : untouched_edits) {
          if (rows.count(row) == 0) problems.push_back("sleep " + std::to_string(sleep) + ": lost " + row);
        }
      };
      const RunResult run = RunSequence(options);
      for (const std::string& problem : problems) ADD_FAILURE() << label << ": " << problem;

      const size_t not_landed = Count(run.log, "WARNING: re-apply did not land (");
      EXPECT_EQ(not_landed, onwards ? 3u : 1u) << label;
      for (const std::string& line : run.log) {
        if (StartsWith(line, "WARNING: re-apply did not land (")) {
          EXPECT_NE(line.find(kind.text), std::string::npos) << label << ": " << line;
          EXPECT_NE(line.find(") - the earlier scripts stay in force, all read back"), std::string::npos)
              << label << ": " << line;
        }
      }
      EXPECT_EQ(Count(run.log, "rows not visible after apply - re-probing CDatabase (attempt 1/3)"), 1u)
          << label;
      EXPECT_EQ(Count(run.log, "rows not visible after apply - re-probing CDatabase (attempt 2/3)"),
                onwards ? 1u : 0u)
          << label;
      EXPECT_EQ(
          Count(run.log, "ERROR: apply missed 3 times in a row - holding until scripts\\tunebay changes"),
          onwards ? 1u : 0u)
          << label;
      EXPECT_EQ(RowSet(run.final_tables), new_rows) << label;
      EXPECT_EQ(run.integrity, "ok") << label;
    }
  }
}

}  // namespace
}  // namespace gearloft::robust
