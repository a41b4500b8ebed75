// Tests of every car key in the simulated game: the example scripts applied and read back, then taken
// back by deleting them or by running the undo list, with every table compared value for value.

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "game_fixture.h"
#include "hostdb/hostdb.h"
#include "scripts/scripts.h"
#include "support/support.h"
#include "support/tables.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

// Every row of a table, each cell as its storage class and its exact value, so two dumps are equal only
// when every value is the identical one.
using TableDump = std::vector<std::vector<std::string>>;
using GameDump = std::map<std::string, TableDump>;

fs::path ExamplesFolder() {
  return fs::path(GEARLOFT_SOURCE_DIR) / "examples" / "tunebay";
}

std::vector<fs::path> ExampleScripts() {
  std::vector<fs::path> scripts;
  for (const fs::directory_entry& entry : fs::directory_iterator(ExamplesFolder())) {
    if (entry.path().extension() == ".ini") scripts.push_back(entry.path());
  }
  return scripts;
}

// The double a real literal of a forward statement leaves in a REAL column.
double Stored(const std::string& literal) {
  return std::strtod(literal.c_str(), nullptr);
}

class KeysRoundTripTest : public testing::GameTest {
 protected:
  GameDump Dump() {
    const size_t recorded = statements_.size();
    GameDump dump;
    for (const char* table : kGameTables) {
      TableDump& rows = dump[table];
      sqlite3_stmt* statement = nullptr;
      const std::string sql = std::string("SELECT * FROM ") + table + " ORDER BY rowid";
      EXPECT_EQ(sqlite3_prepare_v2(devhost::Connection(database_), sql.c_str(), -1, &statement, nullptr),
                SQLITE_OK);
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          row.push_back(test::CellText(statement, i));
        }
        rows.push_back(row);
      }
      sqlite3_finalize(statement);
    }
    statements_.resize(recorded);
    return dump;
  }

  // The tables whose dumps differ, with the first differing row of each for the failure message.
  static std::map<std::string, std::string> Differences(const GameDump& a, const GameDump& b) {
    std::map<std::string, std::string> differences;
    for (const auto& [table, rows] : a) {
      const TableDump& other = b.at(table);
      if (rows == other) continue;
      std::string shown = "rows " + std::to_string(rows.size()) + " vs " + std::to_string(other.size());
      for (size_t i = 0; i < rows.size() && i < other.size(); ++i) {
        if (rows[i] == other[i]) continue;
        shown += ", first change at row " + std::to_string(i) + ":";
        for (size_t j = 0; j < rows[i].size() && j < other[i].size(); ++j) {
          if (rows[i][j] != other[i][j]) shown += " " + rows[i][j] + " -> " + other[i][j];
        }
        break;
      }
      differences[table] = shown;
    }
    return differences;
  }

  void CopyExamples() {
    for (const fs::path& script : ExampleScripts()) fs::copy_file(script, folder_ / script.filename());
  }

  void WriteScript(const std::string& name, const std::string& text) {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    out << text;
  }

  void DeleteScripts() {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      if (entry.path().extension() == ".ini") fs::remove(entry.path());
    }
  }

  // Loads and applies the folder as the worker's first pass does; every script must load.
  Plan LoadAndApply() {
    Plan plan = LoadPlan(ListScripts(), PreviousRowIds{});
    for (const std::string& message : LogMessages()) {
      EXPECT_EQ(message.find("ERROR"), std::string::npos) << message;
    }
    EXPECT_TRUE(ApplyPlan(plan));
    TakeStatements();
    return plan;
  }

  // First cell of the first row of `sql` as the double the table holds (NaN for none).
  double Real(const std::string& sql) {
    const size_t recorded = statements_.size();
    sqlite3_stmt* statement = nullptr;
    double value = std::nan("");
    if (sqlite3_prepare_v2(devhost::Connection(database_), sql.c_str(), -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL) {
      value = sqlite3_column_double(statement, 0);
    }
    sqlite3_finalize(statement);
    statements_.resize(recorded);
    return value;
  }

  std::vector<double> Heights(int id) {
    std::vector<double> heights;
    for (const char* column : {"DefRideHeight", "MinRideHeight", "MaxRideHeight", "MaxCompressHeight"}) {
      heights.push_back(
          Real(std::string("SELECT ") + column +
               " FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = " + std::to_string(id)));
    }
    return heights;
  }
};

TEST_F(KeysRoundTripTest, ExampleScriptsUseEveryCarKey) {
  std::set<std::string> used;
  for (const fs::path& script : ExampleScripts()) {
    CarScript parsed;
    std::string error;
    ASSERT_TRUE(ParseCarScript(test::ReadWhole(script), &parsed, &error)) << script << ": " << error;
    for (const CarSection& section : parsed.sections) {
      for (const auto& key : section.keys) used.insert(key.first);
    }
  }
  EXPECT_EQ(used, CarKeys());
}

TEST_F(KeysRoundTripTest, DeletingTheScriptsPutsEveryTableBackExactly) {
  const GameDump before = Dump();
  // The float-born heights of car 12 are the values that "%.10g" would have rounded.
  ASSERT_EQ(Real("SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 121"),
            static_cast<double>(0.15f));
  CopyExamples();
  Plan plan = LoadAndApply();
  ASSERT_FALSE(plan.statements.empty());

  // Every table a script edits or adds to has changed; nothing else has.
  std::set<std::string> touched;
  for (const PlanStatement& statement : plan.statements) {
    for (const char* table : kGameTables) {
      if (statement.find(std::string(" ") + table + " ") != std::string::npos) touched.insert(table);
    }
  }
  std::set<std::string> changed;
  for (const auto& entry : Differences(before, Dump())) changed.insert(entry.first);
  EXPECT_EQ(changed, touched);
  EXPECT_EQ(touched.size(), 11u);  // all but Data_Car and List_UpgradeSpringDamper, which are only read
  EXPECT_EQ(Real("SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = 121"),
            Stored("0.135000006"));
  EXPECT_EQ(Scalar("SELECT WetTireModelName FROM List_UpgradeTireCompound WHERE Id = 5121"),
            "Vintage_WhiteWall");

  DeleteScripts();
  const Plan emptied = ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_TRUE(emptied.statements.empty());
  EXPECT_EQ(Differences(before, Dump()), (std::map<std::string, std::string>{}));
}

TEST_F(KeysRoundTripTest, UndoListRunLastToFirstPutsEveryTableBackExactly) {
  const GameDump before = Dump();
  CopyExamples();
  const Plan plan = LoadAndApply();
  ASSERT_NE(Differences(before, Dump()), (std::map<std::string, std::string>{}));
  for (auto it = plan.undo.rbegin(); it != plan.undo.rend(); ++it) EXPECT_TRUE(Execute(*it)) << *it;
  EXPECT_EQ(Differences(before, Dump()), (std::map<std::string, std::string>{}));
}

TEST_F(KeysRoundTripTest, EditedRideDropIsMeasuredFromTheOriginalHeights) {
  const GameDump before = Dump();
  CopyExamples();
  const std::vector<double> kestrel = Heights(71);
  const std::vector<double> roadster = Heights(121);
  ASSERT_EQ(kestrel, (std::vector<double>{0.10, 0.05, 0.15, 0.03}));
  Plan plan = LoadAndApply();
  EXPECT_EQ(Heights(71),
            (std::vector<double>{Stored("0.08"), Stored("0.03"), Stored("0.13"), Stored("0.01")}));

  std::string text = test::ReadWhole(folder_ / "ride_height.ini");
  text.replace(text.find("ride_drop_front = 0.02"), 22, "ride_drop_front = 0.01");
  text.replace(text.find("ride_drop_front = 0.015"), 23, "ride_drop_front = 0.005");
  WriteScript("ride_height.ini", text);
  plan = ReapplyInPlace(plan, ListScripts()).plan;
  ASSERT_TRUE(ApplyPlan(plan));

  // 0.01 below the first heights, not 0.01 below the 0.02 drop.
  std::vector<double> want;
  for (double height : kestrel) want.push_back(Stored(FormatSqlNumber(height - 0.01)));
  EXPECT_EQ(Heights(71), want);
  EXPECT_EQ(Heights(71)[0], Stored("0.09"));
  want.clear();
  for (double height : roadster) want.push_back(Stored(FormatSqlNumber(height - 0.005)));
  EXPECT_EQ(Heights(121), want);

  DeleteScripts();
  ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_EQ(Differences(before, Dump()), (std::map<std::string, std::string>{}));
}

TEST_F(KeysRoundTripTest, RepeatedBonnetSequenceAppliesAndReadsBack) {
  const GameDump before = Dump();
  WriteScript("bonnets.ini", "[Kestrel_GT]\nhood_options = 3, 3\n");
  Plan plan = LoadAndApply();
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM List_UpgradeCarBodyHood WHERE Id = 7002"), "1");
  EXPECT_EQ(Scalar("SELECT Sequence FROM List_UpgradeCarBodyHood WHERE Id = 7002"), "3");

  // Compiled again for a re-apply, the same Id is the plan's own row, not the game's.
  plan = ReapplyInPlace(plan, ListScripts()).plan;
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_TRUE(ApplyPlan(plan));

  DeleteScripts();
  ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_EQ(Differences(before, Dump()), (std::map<std::string, std::string>{}));
}

TEST_F(KeysRoundTripTest, NullStockValueComesBackAsNull) {
  sqlite3* db = devhost::Connection(database_);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "UPDATE List_UpgradeCarBodyTireAspectRatioFront SET FrontTireAspectRatioOffset = NULL "
                   "WHERE Id = 7000; UPDATE List_UpgradeRimSizeRear SET Price = NULL WHERE Id = 7002",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  const GameDump before = Dump();
  WriteScript("null.ini", "[7]\nprofile_front_stock = -5\nrim_levels_rear = 20, 21\n");
  const Plan plan = LoadAndApply();
  EXPECT_EQ(
      Scalar(
          "SELECT FrontTireAspectRatioOffset FROM List_UpgradeCarBodyTireAspectRatioFront WHERE Id = 7000"),
      "-5.0");
  EXPECT_EQ(Scalar("SELECT Price FROM List_UpgradeRimSizeRear WHERE Id = 7002"), "2600");
  DeleteScripts();
  ReapplyInPlace(plan, ListScripts()).plan;
  EXPECT_EQ(Differences(before, Dump()), (std::map<std::string, std::string>{}));
}

}  // namespace
}  // namespace gearloft
