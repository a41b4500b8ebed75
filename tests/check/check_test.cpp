// gearloft-check tests: the report on the example scripts and on scripts with mistakes, the line each
// error points at, --apply with its changed rows and undo, databases the tool refuses, the JSON report
// against the text one, --plan against the worker's own plan file, and bad usage.
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "apply/apply.h"
#include "check/game_tables.h"
#include "check_support.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "devhost/devhost.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "scripts/scripts.h"
#include "support/support.h"

namespace gearloft::testing {
namespace {

// What a fresh fixture holds, read straight from SQLite.
std::string FixtureScalar(const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  std::string error;
  EXPECT_TRUE(devhost::CreateFixture(db, devhost::FixtureOptions{}, &error)) << error;
  sqlite3_stmt* statement = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return value;
}

// ---- The report on the example scripts --------------------------------------------------------------

TEST(CheckExamplesTest, EveryExampleCompilesInTheWorkersOrder) {
  const ToolRun run = RunTool({ExamplesFolder()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  const ScriptListing listing = ListScriptsIn(ExamplesFolder());
  ASSERT_GE(listing.size(), 2u);
  const std::vector<std::string> lines = ReportLines(run.out);
  ASSERT_EQ(lines.size(), listing.size() + 1) << run.out;
  for (size_t i = 0; i < listing.size(); ++i) {
    // A folder's files are shown under the folder joined with the system's separator.
    const std::string shown = ExamplesFolder() + platform::PathSeparator() + listing[i].name;
    EXPECT_EQ(lines[i].rfind(shown + ": ok: ", 0), 0u) << lines[i];
  }
  const std::string count = std::to_string(listing.size());
  EXPECT_EQ(lines.back(), "checked " + count + " file(s): " + count + " compiled, 0 failed");
}

TEST(CheckExamplesTest, ExampleLinesNameTheirCarsAndStatementCounts) {
  const std::string folder = ExamplesFolder();
  const ToolRun run = RunTool({folder + "/kestrel_gt.ini", folder + "/car_0003.ini"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // Files named one by one keep the order they were given in.
  const std::vector<std::string> lines = ReportLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  // Two front rims, one rear rim, two rear track spacings.
  EXPECT_EQ(lines[0], folder + "/kestrel_gt.ini: ok: Kestrel_GT, 5 statement(s)");
  // Two tyre profiles on each axle and one front track spacing, for the car with Id 3.
  EXPECT_EQ(lines[1], folder + "/car_0003.ini: ok: " +
                          FixtureScalar("SELECT MediaName FROM Data_Car WHERE Id = 3") + ", 5 statement(s)");
  EXPECT_EQ(lines[2], "checked 2 file(s): 2 compiled, 0 failed");
}

TEST(CheckExamplesTest, FileWithoutSectionsIsOkWithNoCar) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("empty.ini", "; nothing yet\n");
  const ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kSampleDataLine + path +
                         ": ok: no car, 0 statement(s)\nchecked 1 file(s): 1 compiled, 0 failed\n");
}

// ---- Mistakes and their lines -----------------------------------------------------------------------

TEST(CheckLinesTest, ThreeMistakesReportTheFirstWithItsLine) {
  ScratchFolder scratch;
  std::string script =
      "; three mistakes: a key misspelt, a car that does not exist, a list that does not parse\n"  // 1
      "[Kestrel_GT]\n"                                                                             // 2
      "rim_sizes_front = 18\n"                                                                     // 3
      "\n"                                                                                         // 4
      "rim_sise_rear = 19\n"                                                                       // 5
      "[No_Such_Car]\n"                                                                            // 6
      "rim_sizes = 17\n"                                                                           // 7
      "[Pica_Sport]\n"                                                                             // 8
      "hood_options = 2, x\n";                                                                     // 9
  std::string path = scratch.Write("three.ini", script);
  ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            kSampleDataLine + path +
                ":5: [Kestrel_GT]: unknown key rim_sise_rear\nchecked 1 file(s): 0 compiled, 1 failed\n");

  // With each mistake mended the next one shows, each at its own line.
  script.replace(script.find("rim_sise_rear"), 13, "rim_sizes_rear");
  path = scratch.Write("three.ini", script);
  run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":6: [No_Such_Car]: no such car in Data_Car");
  script.replace(script.find("No_Such_Car"), 11, "Orca_Coupe");
  path = scratch.Write("three.ini", script);
  run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":9: [Pica_Sport]: hood_options is not a number list");
}

TEST(CheckLinesTest, BytesThatAreNotTextAreShownAsEscapes) {
  ScratchFolder scratch;
  // Not "nul.ini": Windows keeps that name for its null device.
  const std::string path = scratch.Write("zero.ini", std::string("[Kestrel\0_GT]\n", 14));
  const ToolRun run = RunTool({path});
  ASSERT_FALSE(ReportLines(run.out).empty()) << run.err;
  EXPECT_EQ(ReportLines(run.out)[0], path + ":1: [Kestrel\\x00_GT]: bad car name");
  const Json json = Json::parse(RunTool({"--json", path}).out);
  EXPECT_EQ(json["files"][0]["error"], "[Kestrel\\x00_GT]: bad car name");
}

TEST(CheckLinesTest, Utf16FileSaysHowToSaveIt) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("wide.ini", std::string("\xFF\xFE[\0"
                                                                 "7\0]\0",
                                                                 8));
  EXPECT_EQ(ReportLines(RunTool({path}).out)[0], path + ": file is saved as UTF-16 - save it as UTF-8");
}

TEST(CheckLinesTest, ErrorInTheSecondSectionPointsAtItsHeader) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("second.ini",
                                         "[7]\n"                            // 1
                                         "rim_sizes_front = 18\n"           // 2
                                         "\n"                               // 3
                                         "  [ 999 ]   ; no car 999 here\n"  // 4
                                         "rim_sizes = 17\n");               // 5
  const ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReportLines(run.out)[0], path + ":4: [999]: no such car in Data_Car");
}

TEST(CheckLinesTest, OfTwoSectionsWithOneNameTheFailingOneIsPointedAt) {
  ScratchFolder scratch;
  // Both sections hold rim_front_stock; only the second one's value is bad.
  std::string path = scratch.Write("twice.ini",
                                   "[Kestrel_GT]\n"                // 1
                                   "rim_front_stock = 18\n"        // 2
                                   "[Kestrel_GT]\n"                // 3
                                   "rim_sizes_front = 19\n"        // 4
                                   "rim_front_stock = 18, 19\n");  // 5
  ToolRun run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":5: [Kestrel_GT]: rim_front_stock takes one number");

  // A message about no key points at the header of the section that failed, not at the first of the name.
  path = scratch.Write("twice.ini",
                       "[11]\n"                  // 1
                       "rim_sizes_front = 18\n"  // 2
                       "[11]\n"                  // 3
                       "hood_options = 2\n");    // 4
  run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":3: [11]: List_UpgradeCarBodyHood already has a row 11001");
}

TEST(CheckLinesTest, ParserErrorIsShownAtItsLineOnce) {
  ScratchFolder scratch;
  std::string path = scratch.Write("parse.ini", "[7]\nrim_sizes = 18\n[car\n");
  ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReportLines(run.out)[0], path + ":3: bad section header");
  path = scratch.Write("parse.ini", "; first\n\n\n\n\n\n\n\n\n\nrim_sizes = 17\n");
  run = RunTool({"--json", path});
  const Json file = Json::parse(run.out)["files"][0];
  EXPECT_EQ(file["error"], "expected key = value inside a [car]");
  EXPECT_EQ(file["line"], 11);
}

TEST(CheckLinesTest, EmptyKeyPointsAtItsLine) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("empty.ini", "[7]\nrim_sizes = 18\n = 5\nrim_sise = 19\n");
  const ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReportLines(run.out)[0], path + ":3: [7]: empty key before '=' or ':'");
}

TEST(CheckLinesTest, ListErrorPointsAtTheKeyThatHeldTheBadValue) {
  ScratchFolder scratch;
  // The message names the plain key, but the rear axle's own key held the bad list.
  std::string path = scratch.Write("axle.ini", "[7]\nrim_sizes = 18\nrim_sizes_rear = 19, x\n");
  ToolRun run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":3: [7]: rim_sizes is not a number list");
  // Here the front has its own good list and the rear falls back to the bad plain one.
  path = scratch.Write("axle.ini", "[7]\nrim_sizes = x\nrim_sizes_front = 18\n");
  run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":2: [7]: rim_sizes is not a number list");
}

TEST(CheckLinesTest, RepeatedKeyPointsAtTheValueKept) {
  ScratchFolder scratch;
  const std::string path =
      scratch.Write("repeat.ini", "[Kestrel_GT]\r\nride_drop_front = 0.01\r\nRIDE_DROP_FRONT = 0.05\r\n");
  const ToolRun run = RunTool({path});
  EXPECT_EQ(ReportLines(run.out)[0],
            path +
                ":3: [Kestrel_GT]: ride_drop_front 0.050 puts the travel floor at -0.020 m "
                "(min 0.000) - max drop 0.030");
}

TEST(CheckLinesTest, FailedFileGivesItsLevelsToTheNext) {
  ScratchFolder scratch;
  // The first file takes front Levels 4 and 5 of car 7 and then fails; the second gets them again.
  scratch.Write("a.ini", "[7]\nrim_sizes_front = 18, 19\n[Nope]\n");
  scratch.Write("b.ini", "[7]\nrim_sizes_front = 20\n");
  const ToolRun run = RunTool({"--plan", scratch.Folder()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,Ordinal,Level,IsStock,"
                         "FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,RequiresGraphics) "
                         "VALUES (7004,7,4,0,20,2400,4.08,1.0,1.0,0);\n"),
            std::string::npos)
      << run.out;
}

// ---- --apply ------------------------------------------------------------------------------------------

TEST(CheckApplyTest, ShowsEveryChangedRowAndACleanUndo) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("apply.ini",
                                         "[Kestrel_GT]\n"
                                         "rim_sizes_front = 18, 19\n"
                                         "ride_drop_front = 0.02\n"
                                         "[Pica_Sport]\n"
                                         "whitewall_level = 2\n");
  const ToolRun run = RunTool({"--apply", path});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string physics =
      FixtureScalar("SELECT FrontSpringDamperPhysicsID FROM List_UpgradeSpringDamper WHERE Ordinal = 7");
  ASSERT_NE(physics, "");
  EXPECT_EQ(
      run.out,
      kSampleDataLine + path +
          ": ok: Kestrel_GT, Pica_Sport, 4 statement(s)\n"
          // Two inserts share one batch; the ride drop and the whitewall go alone.
          "apply: 4 statement(s) in 3 batch(es), all read back\n"
          "List_UpgradeRimSizeFront:\n"
          "  + Id 7004: Id=7004, Ordinal=7, Level=4, IsStock=0, FrontWheelDiameter=18, Price=2000, "
          "MassDiff=1.36, DragScale=1.0, WindInstabilityScale=1.0, RequiresGraphics=0\n"
          "  + Id 7005: Id=7005, Ordinal=7, Level=5, IsStock=0, FrontWheelDiameter=19, Price=2200, "
          "MassDiff=2.72, DragScale=1.0, WindInstabilityScale=1.0, RequiresGraphics=0\n"
          "List_SpringDamperPhysics:\n"
          "  ~ SpringDamperPhysicsID " +
          physics +
          ": DefRideHeight 0.1 -> 0.08, MinRideHeight 0.05 -> 0.03, MaxRideHeight 0.15 -> 0.13, "
          "MaxCompressHeight 0.03 -> 0.01\n"
          "List_UpgradeTireCompound:\n"
          "  ~ Id 5121: TireModelName 'Sport_A' -> 'Vintage_WhiteWall', WetTireModelName 'Sport_A_Wet' -> "
          "'Vintage_WhiteWall'\n"
          "undo: 4 statement(s) run last to first, every table back to its original values\n"
          "checked 1 file(s): 1 compiled, 0 failed\n");
}

// The changes --apply reports for a file, against the file's statements run one by one straight on a
// fresh fixture, and compared as table -> {added, removed, changed}.
nlohmann::json DirectChanges(const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  std::string error;
  EXPECT_TRUE(devhost::CreateFixture(db, devhost::FixtureOptions{}, &error)) << error;
  const TableDump before = DumpTables(db);
  for (const std::string& statement : statements) {
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << statement;
  }
  const TableDump after = DumpTables(db);
  sqlite3_close(db);
  nlohmann::json changes = nlohmann::json::object();
  for (const auto& table : before) {
    const std::map<int64_t, Json>& now = after.at(table.first);
    nlohmann::json entry{{"added", nlohmann::json::object()},
                         {"removed", nlohmann::json::object()},
                         {"changed", nlohmann::json::object()}};
    for (const auto& row : table.second) {
      auto found = now.find(row.first);
      if (found == now.end()) {
        entry["removed"][std::to_string(row.first)] = nlohmann::json::parse(row.second.dump());
        continue;
      }
      for (const auto& cell : row.second.items()) {
        if (cell.value() != found->second.at(cell.key())) {
          entry["changed"][std::to_string(row.first)][cell.key()] = {
              nlohmann::json::parse(cell.value().dump()),
              nlohmann::json::parse(found->second.at(cell.key()).dump())};
        }
      }
    }
    for (const auto& row : now) {
      if (table.second.count(row.first) == 0) {
        entry["added"][std::to_string(row.first)] = nlohmann::json::parse(row.second.dump());
      }
    }
    if (!entry["added"].empty() || !entry["removed"].empty() || !entry["changed"].empty()) {
      changes[table.first] = entry;
    }
  }
  return changes;
}

nlohmann::json ReportedChanges(const nlohmann::json& tables) {
  nlohmann::json changes = nlohmann::json::object();
  for (const auto& table : tables) {
    nlohmann::json entry{{"added", nlohmann::json::object()},
                         {"removed", nlohmann::json::object()},
                         {"changed", nlohmann::json::object()}};
    for (const auto& row : table["added"])
      entry["added"][std::to_string(row["row"].get<int64_t>())] = row["cells"];
    for (const auto& row : table["removed"]) {
      entry["removed"][std::to_string(row["row"].get<int64_t>())] = row["cells"];
    }
    for (const auto& cell : table["changed"]) {
      entry["changed"][std::to_string(cell["row"].get<int64_t>())][cell["column"].get<std::string>()] = {
          cell["before"], cell["after"]};
    }
    changes[table["table"].get<std::string>()] = entry;
  }
  return changes;
}

TEST(CheckApplyTest, EveryExampleShowsWhatItsStatementsDoAndUndoesCleanly) {
  const ScriptListing listing = ListScriptsIn(ExamplesFolder());
  ASSERT_FALSE(listing.empty());
  for (const ScriptEntry& entry : listing) {
    SCOPED_TRACE(entry.name);
    const ToolRun run = RunTool({"--json", "--plan", "--apply", ExamplesFolder() + "/" + entry.name});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    ASSERT_EQ(report["files"].size(), 1u);
    const std::vector<std::string> statements = report["files"][0]["plan"];
    ASSERT_FALSE(statements.empty());
    const nlohmann::json& apply = report["apply"];
    EXPECT_TRUE(apply["applied"].get<bool>()) << apply["message"];
    EXPECT_EQ(apply["statements"], statements.size());
    EXPECT_EQ(apply["tables"].empty(), false);
    EXPECT_EQ(ReportedChanges(apply["tables"]), DirectChanges(statements));
    EXPECT_EQ(apply["undo"]["statements"], statements.size());
    EXPECT_TRUE(apply["undo"]["refused"].empty());
    EXPECT_TRUE(apply["undo"]["left"].empty()) << apply["undo"]["left"].dump(2);
  }
}

TEST(CheckApplyTest, ReadBackMissShowsApplyPlansLogLine) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  // A database that drops every rim row it is given: the insert runs, the read-back finds nothing.
  ASSERT_TRUE(ExecOnFile(db,
                         "CREATE TRIGGER drop_rims AFTER INSERT ON List_UpgradeRimSizeFront BEGIN "
                         "DELETE FROM List_UpgradeRimSizeFront WHERE Id = NEW.Id; END"));
  const std::string path = scratch.Write("rims.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  const ToolRun run = RunTool({"--db", db, "--apply", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "checking against " + db + "\n" + path +
                         ": ok: Kestrel_GT, 1 statement(s)\n"
                         "apply: 1 statement(s) in 1 batch(es), ERROR read-back miss: SELECT COUNT(*) FROM "
                         "List_UpgradeRimSizeFront WHERE Id IN (7004) -> 0.000000, want 1 (ok=1 rows=1)\n"
                         "no row changed\n"
                         "undo: 1 statement(s) run last to first, every table back to its original values\n"
                         "checked 1 file(s): 1 compiled, 1 failed (the apply among them)\n");
}

// The statement writes 123456.1235; the check used to want 123456.1234567 and missed.
TEST(CheckApplyTest, StockValueWithMoreDigitsThanItsStatementReadsBack) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("track.ini", "[Kestrel_GT]\ntrack_front_stock = 123456.1234567\n");
  const ToolRun run = RunTool({"--apply", path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            kSampleDataLine + path +
                ": ok: Kestrel_GT, 1 statement(s)\n"
                // So many metres are surely a slip, but the number stands and reads back.
                "WARNING track.ini: [Kestrel_GT]: track_front_stock writes 123456.1235 into "
                "List_UpgradeCarBodyTrackSpacingFront Spacing, far outside the 0.0 to 0.02 the data's rows "
                "hold - check the number and its unit\n"
                "apply: 1 statement(s) in 1 batch(es), all read back\n"
                "List_UpgradeCarBodyTrackSpacingFront:\n"
                "  ~ Id 7000: Spacing 0.0 -> 123456.1235\n"
                "undo: 1 statement(s) run last to first, every table back to its original values\n"
                "checked 1 file(s): 1 compiled, 0 failed\n");
}

// A failed file and a failed apply are both counted, and the summary says the apply is one of them.
TEST(CheckApplyTest, SummaryCountsAFailedApplyWithTheFailedFiles) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db,
                         "CREATE TRIGGER drop_rims AFTER INSERT ON List_UpgradeRimSizeFront BEGIN "
                         "DELETE FROM List_UpgradeRimSizeFront WHERE Id = NEW.Id; END"));
  const std::string rims = scratch.Write("rims.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  const std::string bad = scratch.Write("bad.ini", "[Kestrel_GT]\nrim_levels = x\n");
  const ToolRun run = RunTool({"--db", db, "--apply", rims, bad});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReportLines(run.out).back(), "checked 2 file(s): 1 compiled, 2 failed (the apply among them)");
  const Json report = Json::parse(RunTool({"--db", db, "--apply", "--json", rims, bad}).out);
  EXPECT_EQ(report["summary"], Json::parse(R"({"files": 2, "compiled": 1, "failed": 2, "apply_failed": true,
                                               "status": 1})"));
  // Without --apply only the file counts.
  EXPECT_EQ(ReportLines(RunTool({"--db", db, rims, bad}).out).back(),
            "checked 2 file(s): 1 compiled, 1 failed");
}

TEST(CheckApplyTest, UndoThatLeavesADifferenceIsAnError) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  // Every rim row added also bumps the car's Year, which no undo statement takes back.
  ASSERT_TRUE(ExecOnFile(db,
                         "CREATE TRIGGER bump_year AFTER INSERT ON List_UpgradeRimSizeFront BEGIN "
                         "UPDATE Data_Car SET Year = Year + 1 WHERE Id = NEW.Ordinal; END"));
  const std::string year = FixtureScalar("SELECT Year FROM Data_Car WHERE Id = 7");
  const std::string next = std::to_string(std::stoi(year) + 1);
  const std::string path = scratch.Write("rims.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  const ToolRun run = RunTool({"--db", db, "--apply", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "checking against " + db + "\n" + path +
                ": ok: Kestrel_GT, 1 statement(s)\n"
                "apply: 1 statement(s) in 1 batch(es), all read back\n"
                "Data_Car:\n"
                "  ~ Id 7: Year " +
                year + " -> " + next +
                "\n"
                "List_UpgradeRimSizeFront:\n"
                "  + Id 7004: Id=7004, Ordinal=7, Level=4, IsStock=0, FrontWheelDiameter=18, Price=2000, "
                "MassDiff=1.36, DragScale=1.0, WindInstabilityScale=1.0, RequiresGraphics=0\n"
                "undo: 1 statement(s) run last to first, ERROR the copy differs from the original\n"
                "  Data_Car:\n"
                "    ~ Id 7: Year " +
                year + " -> " + next +
                "\n"
                "checked 1 file(s): 1 compiled, 1 failed (the apply among them)\n");
}

TEST(CheckApplyTest, UndoStatementTheDatabaseRefusesIsAnError) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db,
                         "CREATE TRIGGER keep_rims BEFORE DELETE ON List_UpgradeRimSizeFront BEGIN "
                         "SELECT RAISE(ABORT, 'rims stay'); END"));
  const std::string path = scratch.Write("rims.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  const ToolRun run = RunTool({"--db", db, "--apply", path});
  EXPECT_EQ(run.status, 1);
  const std::string out = run.out;
  EXPECT_NE(out.find("undo: 1 statement(s) run last to first, ERROR the copy differs from the original\n"
                     "  refused: DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004\n"
                     "  List_UpgradeRimSizeFront:\n"
                     "    + Id 7004: "),
            std::string::npos)
      << out;
}

// Kestrel's Sequence 1002 would be Id 8001, Orca's first aftermarket bonnet.
TEST(CheckApplyTest, BonnetPastItsCarsBlockFailsItsFileAndTheNextCarsOwnLands) {
  ScratchFolder scratch;
  scratch.Write("a.ini", "[Kestrel_GT]\nhood_options = 1002\n");
  scratch.Write("b.ini", "[Orca_Coupe]\nhood_options = 2\n");
  const ToolRun run = RunTool({"--apply", scratch.Folder()});
  EXPECT_EQ(run.status, 1);
  const std::string folder = scratch.Folder() + platform::PathSeparator();
  EXPECT_NE(
      run.out.find(": [Kestrel_GT]: hood_options Sequence 1002 is past List_UpgradeCarBodyHood's limit of "
                   "1000 per car\n"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(folder + "b.ini: ok: Orca_Coupe, 1 statement(s)\n"
                                  "apply: 1 statement(s) in 1 batch(es), all read back\n"
                                  "List_UpgradeCarBodyHood:\n"
                                  "  + Id 8001: Id=8001, CarBodyID=8000, Level=1, IsStock=0, Sequence=2, "),
            std::string::npos)
      << run.out;
}

// ---- The game's snapshot as the data ----------------------------------------------------------------

// The rows of `sql` on a SQLite file, as the game's bridge copies them.
QueryResult QueryFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  const QueryResult result =
      sqlite3_open(path.c_str(), &db) == SQLITE_OK ? check::QueryRows(db, sql) : QueryResult();
  sqlite3_close(db);
  return result;
}

// A game whose car 7 is called Kestrel_Old, as the worker's snapshot of it in `folder`.
void WriteGameSnapshot(const ScratchFolder& scratch, const std::string& folder) {
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db, "UPDATE Data_Car SET MediaName = 'Kestrel_Old' WHERE Id = 7"));
  std::filesystem::create_directories(std::filesystem::u8path(folder));
  const SnapshotOutcome outcome =
      WriteSnapshot(folder, [&db](const std::string& sql) { return QueryFile(db, sql); });
  ASSERT_TRUE(outcome.written);
}

TEST(CheckSnapshotTest, SnapshotBesideTheScriptsIsTheDataChecked) {
  ScratchFolder scratch;
  ASSERT_NO_FATAL_FAILURE(WriteGameSnapshot(scratch, scratch.Folder()));
  const std::string path = scratch.Write("old.ini", "[Kestrel_Old]\nrim_sizes_front = 18\n");
  const std::string snapshot = scratch.Folder() + platform::PathSeparator() + "gearloft.tables.sql";
  for (const std::string& given : {scratch.Folder(), path}) {
    const ToolRun run = RunTool({given});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    const std::string head = "checking against your game's tables in " + snapshot + ", written ";
    ASSERT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
    EXPECT_TRUE(
        std::regex_match(lines[0].substr(head.size()),
                         std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] UTC")))
        << lines[0];
    EXPECT_EQ(lines[1], path + ": ok: Kestrel_Old, 1 statement(s)");
  }
  const Json report = Json::parse(RunTool({"--json", scratch.Folder()}).out);
  EXPECT_EQ(report["database"], snapshot);
  EXPECT_EQ(report["data"]["kind"], "snapshot");
  EXPECT_TRUE(report["data"]["written"].is_string());
  // --db takes a snapshot too, from anywhere; the sample does not know the game's name for car 7.
  EXPECT_EQ(RunTool({"--db", snapshot, path}).status, 0);
  std::filesystem::create_directories(std::filesystem::u8path(scratch.Path("sub")));
  const std::string elsewhere = scratch.Write("sub/old.ini", "[Kestrel_Old]\nrim_sizes_front = 18\n");
  const ToolRun sample = RunTool({elsewhere});
  EXPECT_EQ(sample.status, 1);
  EXPECT_EQ(Lines(sample.out)[0] + "\n", kSampleDataLine);
}

TEST(CheckSnapshotTest, SnapshotThatIsNotSqlIsRefused) {
  ScratchFolder scratch;
  const std::string snapshot = scratch.Write("gearloft.tables.sql", "CREATE TABLE broken (;\n");
  const std::string path = scratch.Write("a.ini", "[7]\n");
  const ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("gearloft-check: cannot read " + snapshot + ": "), std::string::npos) << run.err;
}

// ---- The car finder ----------------------------------------------------------------------------------

TEST(CheckCarsTest, CarsAreFoundByPartOfTheirNameInAnyCaseOrByTheirId) {
  const ToolRun kestrel = RunTool({"--cars", "KESTREL"});
  EXPECT_EQ(kestrel.status, 0) << kestrel.err;
  EXPECT_EQ(kestrel.out, std::string(kSampleDataLine) + "7  Kestrel_GT\n");
  // An Id matches whole; "1" is in many names and many Ids but is the Id of one car only.
  const std::vector<std::string> ones = ReportLines(RunTool({"--cars", "12"}).out);
  EXPECT_NE(std::find(ones.begin(), ones.end(), "12  Lumen_Roadster_12"), ones.end());
  // A LIKE wildcard in the text is a plain character: no MediaName holds "%".
  EXPECT_EQ(RunTool({"--cars", "%"}).out, kSampleDataLine);
  // Every car, sorted by name whatever its case.
  const std::vector<std::string> all = ReportLines(RunTool({"--cars"}).out);
  EXPECT_EQ(all.size(), std::stoul(FixtureScalar("SELECT COUNT(*) FROM Data_Car")));
  std::vector<std::string> names;
  for (const std::string& line : all) names.push_back(line.substr(line.find("  ") + 2));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareNamesNoCase(a, b) < 0;
  }));
}

TEST(CheckCarsTest, CarShowsItsRowsByKeyFamilyWithTheNextFreeLevel) {
  const ToolRun run = RunTool({"--car", "kestrel_gt"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = ReportLines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "car 7  Kestrel_GT (CarBodyId 7000)");
  const std::string next_rim =
      FixtureScalar("SELECT MAX(Level) + 1 FROM List_UpgradeRimSizeFront WHERE Ordinal = 7");
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "  List_UpgradeRimSizeFront (next free Level " + next_rim + "):"),
      lines.end())
      << run.out;
  const std::string next_hood = FixtureScalar(
      "SELECT COALESCE(MAX(Sequence), 0) + 1 FROM List_UpgradeCarBodyHood WHERE CarBodyID = 7000");
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "  List_UpgradeCarBodyHood (next free Sequence " + next_hood + "):"),
            lines.end())
      << run.out;
  for (const char* family : {"rims (rim_sizes, rim_stock, rim_levels):", "bonnets (hood_options):",
                             "springs and dampers (ride_drop_front, ride_drop_rear):"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), family), lines.end()) << family;
  }
  // The stock front rim row, as a script's rim_front_stock would find it, and the heights a ride drop moves.
  EXPECT_NE(run.out.find("    Id=7000, Ordinal=7, Level=0, IsStock=1, FrontWheelDiameter=17,"),
            std::string::npos)
      << run.out;
  const std::string physics =
      FixtureScalar("SELECT FrontSpringDamperPhysicsID FROM List_UpgradeSpringDamper WHERE Ordinal = 7");
  EXPECT_NE(run.out.find("  List_SpringDamperPhysics:\n    SpringDamperPhysicsID=" + physics + ", "),
            std::string::npos)
      << run.out;
  EXPECT_EQ(RunTool({"--car", "7"}).out, run.out);

  const ToolRun missing = RunTool({"--car", "Nobody"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "gearloft-check: no such car in Data_Car: Nobody\n");
  EXPECT_EQ(RunTool({"--car", "x' OR '1"}).status, 1);
}

// ---- Values far outside the data's own ---------------------------------------------------------------

TEST(CheckLintTest, ValueFarOutsideTheDatasRangeIsAWarningAndFailsOnlyWithStrict) {
  ScratchFolder scratch;
  const std::string path =
      scratch.Write("slip.ini",
                    "[Kestrel_GT]\n"
                    "rim_sizes_front = -5, 23\n"   // a slip, and a size just past the data's
                    "track_rear_stock = 1.62\n");  // metres where the data holds offsets
  const std::string lowest = FixtureScalar("SELECT MIN(FrontWheelDiameter) FROM List_UpgradeRimSizeFront");
  const std::string highest = FixtureScalar("SELECT MAX(FrontWheelDiameter) FROM List_UpgradeRimSizeFront");
  // 23 lies past the data's largest rim, but within the span of its rims from it: no warning for it.
  ASSERT_LE(23.0, 2 * std::stod(highest) - std::stod(lowest));
  const ToolRun run = RunTool({path});
  EXPECT_EQ(run.status, 0) << run.out;
  const std::vector<std::string> lines = ReportLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[1],
            "WARNING slip.ini: [Kestrel_GT]: rim_sizes_front writes -5 into List_UpgradeRimSizeFront "
            "FrontWheelDiameter, far outside the " +
                lowest + " to " + highest + " the data's rows hold - check the number and its unit");
  EXPECT_EQ(lines[2].rfind("WARNING slip.ini: [Kestrel_GT]: track_rear_stock writes 1.62 into "
                           "List_UpgradeCarBodyTrackSpacingRear Spacing, far outside the ",
                           0),
            0u)
      << lines[2];
  EXPECT_EQ(RunTool({"--strict", path}).status, 1);
  const Json report = Json::parse(RunTool({"--json", "--strict", path}).out);
  EXPECT_EQ(report["files"][0]["warnings"].size(), 2u);
  EXPECT_EQ(report["summary"]["status"], 1);
  // The examples have none.
  EXPECT_EQ(RunTool({"--strict", ExamplesFolder()}).status, 0);
}

// Explorer starts a program with files dropped on it alone on a new console, which closes with it; from
// a command prompt the prompt shares the console, and with its input redirected nobody could press Enter.
TEST(CheckWaitTest, OnlyAToolAloneOnAConsoleItReadsFromWaitsForEnter) {
  EXPECT_TRUE(check::WaitsForEnter(1, true));
  EXPECT_FALSE(check::WaitsForEnter(2, true));
  EXPECT_FALSE(check::WaitsForEnter(1, false));
  EXPECT_FALSE(check::WaitsForEnter(0, false));
}

TEST(CheckApplyTest, DatabaseFileIsReadAndNeverWritten) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db, "UPDATE Data_Car SET MediaName = 'Kestrel_Old' WHERE Id = 7"));
  const std::string before = test::ReadWhole(db);

  std::string path = scratch.Write("old.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  ToolRun run = RunTool({"--db", db, path});
  EXPECT_EQ(ReportLines(run.out)[0], path + ":1: [Kestrel_GT]: no such car in Data_Car");

  path = scratch.Write("old.ini", "[Kestrel_Old]\nrim_sizes_front = 18\n");
  run = RunTool({"--db", db, "--apply", path});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReportLines(run.out)[0], path + ": ok: Kestrel_Old, 1 statement(s)");
  EXPECT_EQ(test::ReadWhole(db), before);
}

// ---- Databases the tool refuses -----------------------------------------------------------------------

TEST(CheckDatabaseTest, DatabaseWithoutTheGameTablesExitsTwo) {
  ScratchFolder scratch;
  const std::string db = scratch.Path("notes.db");
  ASSERT_TRUE(ExecOnFile(db, "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Text TEXT)"));
  const ToolRun run = RunTool({"--db", db, ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(
      run.err,
      "gearloft-check: " + db +
          " does not hold the game's tables: no table Data_Car; no table List_UpgradeRimSizeFront; "
          "no table List_UpgradeRimSizeRear; no table List_UpgradeCarBodyTireAspectRatioFront; "
          "no table List_UpgradeCarBodyTireAspectRatioRear; no table List_UpgradeCarBodyTrackSpacingFront; "
          "no table List_UpgradeCarBodyTrackSpacingRear; no table List_UpgradeCarBodyTireWidthFront; "
          "no table List_UpgradeCarBodyTireWidthRear; no table List_UpgradeSpringDamper; "
          "no table List_SpringDamperPhysics; no table List_UpgradeTireCompound; "
          "no table List_UpgradeCarBodyHood\n");
}

TEST(CheckDatabaseTest, TableWithoutAColumnTheCompilerNeedsExitsTwo) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db,
                         "ALTER TABLE List_UpgradeCarBodyHood DROP COLUMN Sequence; "
                         "ALTER TABLE List_UpgradeCarBodyHood DROP COLUMN PartsStringId"));
  const ToolRun run = RunTool({"--db", db, ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "gearloft-check: " + db +
                         " does not hold the game's tables: List_UpgradeCarBodyHood has no column Sequence, "
                         "PartsStringId\n");
}

TEST(CheckDatabaseTest, FileThatIsNoDatabaseExitsTwo) {
  ScratchFolder scratch;
  const std::string db = scratch.Write("game.db", std::string(4096, 'x'));
  const ToolRun run = RunTool({"--db", db, ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "gearloft-check: cannot read " + db + ": file is not a database\n");
}

TEST(CheckDatabaseTest, MissingDatabaseFileExitsTwo) {
  ScratchFolder scratch;
  const std::string db = scratch.Path("absent.db");
  const ToolRun run = RunTool({"--db", db, ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "gearloft-check: cannot read " + db + ": unable to open database file\n");
  EXPECT_FALSE(std::filesystem::exists(db));
}

TEST(CheckDatabaseTest, DatabaseThatFailsTheProbeExitsTwo) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db, "DELETE FROM List_UpgradeRimSizeFront"));
  const ToolRun run = RunTool({"--db", db, ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  const std::string head = "gearloft-check: " + db +
                           " does not answer the game's probe (SELECT COUNT(*) FROM List_UpgradeRimSizeFront "
                           "must count rows): ";
  EXPECT_EQ(run.err.rfind(head, 0), 0u) << run.err;
  const std::string tail = " holding an object, none answered a probe SELECT\n";
  ASSERT_GE(run.err.size(), tail.size());
  EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail) << run.err;
}

// ---- JSON against text --------------------------------------------------------------------------------

std::string JsonCellText(const Json& value) {
  if (value.is_null()) return "NULL";
  if (value.is_string()) return "'" + value.get<std::string>() + "'";
  return value.dump();  // integers in decimal, reals as the shortest text that reads back the same
}

std::string RenderTables(const Json& tables, const std::string& indent) {
  std::string text;
  for (const auto& table : tables) {
    const std::string key = table["key"].get<std::string>() + " ";
    text += indent + table["table"].get<std::string>() + ":\n";
    for (const char* kind : {"added", "removed"}) {
      for (const auto& row : table[kind]) {
        std::string cells;
        for (const auto& cell : row["cells"].items()) {
          cells += (cells.empty() ? "" : ", ") + cell.key() + "=" + JsonCellText(cell.value());
        }
        text += indent + (std::string(kind) == "added" ? "  + " : "  - ") + key + row["row"].dump() + ": " +
                cells + "\n";
      }
    }
    const Json& changed = table["changed"];
    for (size_t i = 0; i < changed.size();) {
      const Json row = changed[i]["row"];
      std::string cells;
      for (; i < changed.size() && changed[i]["row"] == row; ++i) {
        cells += (cells.empty() ? "" : ", ") + changed[i]["column"].get<std::string>() + " " +
                 JsonCellText(changed[i]["before"]) + " -> " + JsonCellText(changed[i]["after"]);
      }
      text += indent + "  ~ " + key + row.dump() + ": " + cells + "\n";
    }
  }
  return text;
}

// The text report as the JSON report's facts spell it.
std::string RenderText(const Json& report) {
  const Json& data = report["data"];
  std::string text;
  if (data["kind"] == "sample") {
    text = kSampleDataLine;
  } else if (data["kind"] == "database") {
    text = "checking against " + report["database"].get<std::string>() + "\n";
  } else {
    text = "checking against your game's tables in " + report["database"].get<std::string>() +
           (data["written"].is_null() ? "" : ", written " + data["written"].get<std::string>()) + "\n";
  }
  for (const auto& file : report["files"]) {
    const std::string path = file["path"];
    if (file["ok"].get<bool>()) {
      std::string cars;
      for (const auto& car : file["cars"]) cars += (cars.empty() ? "" : ", ") + car.get<std::string>();
      text += path + ": ok: " + (cars.empty() ? "no car" : cars) + ", " + file["statements"].dump() +
              " statement(s)\n";
      for (const auto& warning : file["warnings"]) text += "WARNING " + warning.get<std::string>() + "\n";
    } else {
      text += path + (file["line"].is_null() ? "" : ":" + file["line"].dump()) + ": " +
              file["error"].get<std::string>() + "\n";
    }
  }
  for (const auto& file : report["files"]) {
    if (!file["ok"].get<bool>() || !file.contains("plan")) continue;
    text += "-- " + file["name"].get<std::string>() + "\n";
    for (const auto& statement : file["plan"]) text += statement.get<std::string>() + ";\n";
  }
  if (report.contains("apply")) {
    const Json& apply = report["apply"];
    text += "apply: " + apply["statements"].dump() + " statement(s) in " + apply["batches"].dump() +
            " batch(es), " +
            (apply["applied"].get<bool>() ? std::string("all read back")
                                          : "ERROR " + apply["message"].get<std::string>()) +
            "\n";
    if (apply["tables"].empty()) text += "no row changed\n";
    text += RenderTables(apply["tables"], "");
    const Json& undo = apply["undo"];
    text += "undo: " + undo["statements"].dump() + " statement(s) run last to first, ";
    if (undo["refused"].empty() && undo["left"].empty()) {
      text += "every table back to its original values\n";
    } else {
      text += "ERROR the copy differs from the original\n";
      for (const auto& statement : undo["refused"])
        text += "  refused: " + statement.get<std::string>() + "\n";
      text += RenderTables(undo["left"], "  ");
    }
  }
  const Json& summary = report["summary"];
  text += "checked " + summary["files"].dump() + " file(s): " + summary["compiled"].dump() + " compiled, " +
          summary["failed"].dump() + " failed" +
          (summary["apply_failed"].get<bool>() ? " (the apply among them)" : "") + "\n";
  return text;
}

TEST(CheckJsonTest, JsonHoldsTheSameFactsAsTheText) {
  ScratchFolder scratch;
  const std::string bad = scratch.Write("bad.ini", "[Kestrel_GT]\nrim_sizes_front = 18\nrim_levels = x\n");
  const std::vector<std::string> args = {"--plan", "--apply", ExamplesFolder(), bad};
  const ToolRun text = RunTool(args);
  std::vector<std::string> json_args = args;
  json_args.insert(json_args.begin(), "--json");
  const ToolRun json = RunTool(json_args);
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(json.status, text.status);
  const Json report = Json::parse(json.out);
  EXPECT_TRUE(report["database"].is_null());
  EXPECT_EQ(report["summary"]["status"], 1);
  const Json& last = report["files"].back();
  EXPECT_EQ(last["error"], "[Kestrel_GT]: rim_levels is not a number list");
  EXPECT_EQ(last["line"], 3);
  EXPECT_EQ(RenderText(report), text.out);
}

TEST(CheckJsonTest, JsonOfARefusedUndoHoldsTheSameFactsAsTheText) {
  ScratchFolder scratch;
  const std::string db = WriteFixtureFile(scratch, "game.db");
  ASSERT_TRUE(ExecOnFile(db,
                         "CREATE TRIGGER keep_rims BEFORE DELETE ON List_UpgradeRimSizeFront BEGIN "
                         "SELECT RAISE(ABORT, 'rims stay'); END"));
  const std::string path = scratch.Write("rims.ini", "[Kestrel_GT]\nrim_sizes_front = 18\n");
  const ToolRun text = RunTool({"--db", db, "--apply", path});
  const ToolRun json = RunTool({"--db", db, "--apply", "--json", path});
  const Json report = Json::parse(json.out);
  EXPECT_EQ(report["database"], db);
  EXPECT_EQ(RenderText(report), text.out);
}

// The worker's warning, under the file that sets the cell again; a warning fails nothing.
TEST(CheckJsonTest, CellSetAgainIsAWarningThatKeepsTheStatus) {
  ScratchFolder scratch;
  scratch.Write("a.ini", "[7]\nrim_stock = 18\n");
  scratch.Write("b.ini", "[0007]\nrim_front_stock = 19\n");
  const ToolRun run = RunTool({scratch.Folder()});
  EXPECT_EQ(run.status, 0);
  const std::string folder = scratch.Folder() + platform::PathSeparator();
  const std::string warning =
      "b.ini: [0007]: rim_front_stock sets List_UpgradeRimSizeFront FrontWheelDiameter of Id 7000 again "
      "(first "
      "set by a.ini: [7]: rim_stock) - the later value wins";
  EXPECT_EQ(run.out, kSampleDataLine + folder + "a.ini: ok: Kestrel_GT, 2 statement(s)\n" + folder +
                         "b.ini: ok: Kestrel_GT, 1 statement(s)\n"
                         "WARNING " +
                         warning +
                         "\n"
                         "checked 2 file(s): 2 compiled, 0 failed\n");
  const ToolRun json = RunTool({"--json", scratch.Folder()});
  EXPECT_EQ(json.status, 0);
  const Json report = Json::parse(json.out);
  EXPECT_TRUE(report["files"][0]["warnings"].empty());
  EXPECT_EQ(report["files"][1]["warnings"], Json::array({warning}));
  EXPECT_EQ(RenderText(report), run.out);
}

// ---- --plan against the worker's plan file --------------------------------------------------------------

TEST(CheckPlanTest, PlanIsWhatTheWorkersPlanFileHolds) {
  ScratchFolder scratch;
  const ScriptListing examples = ListScriptsIn(ExamplesFolder());
  for (const ScriptEntry& entry : examples) {
    std::filesystem::copy_file(ExamplesFolder() + "/" + entry.name, scratch.Path(entry.name));
  }
  scratch.Write("zz_broken.ini", "[Nope]\n");
  const ToolRun run = RunTool({"--plan", scratch.Folder()});
  ASSERT_EQ(run.status, 1);
  const std::string out = run.out;
  const size_t begin = out.find("-- ");
  const size_t end = out.find("checked ");
  ASSERT_NE(begin, std::string::npos);

  // The worker's own load of the same folder, over a fresh fixture made current for the bridge.
  std::string error;
  devhost::Database* database = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
  ASSERT_NE(database, nullptr) << error;
  devhost::SetGameDatabase(database);
  SetCandidatesForTest({devhost::GameGlobalAddress()});
  SetCurrentForTest(devhost::GameGlobalAddress());
  SetWatchedFolder(scratch.Folder());
  const Plan plan = LoadPlanWithQuery(ListScripts(), PreviousRowIds(), QueryFn(Query));
  SetCurrentForTest(0);
  devhost::SetGameDatabase(nullptr);
  devhost::CloseDatabase(database);

  EXPECT_FALSE(plan.statements.empty());
  // The plan file is written in text mode: CR LF line ends on Windows.
  std::string plan_file = test::ReadWhole(scratch.Path("gearloft.plan.sql"));
  plan_file.erase(std::remove(plan_file.begin(), plan_file.end(), '\r'), plan_file.end());
  EXPECT_EQ(out.substr(begin, end - begin), plan_file);
}

// ---- Usage ----------------------------------------------------------------------------------------------

TEST(CheckUsageTest, BadUsageExitsTwo) {
  ToolRun run = RunTool({});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "gearloft-check: PATH is required\nRun with --help for more information.\n");

  run = RunTool({"--bogus", ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "gearloft-check: The following argument was not expected: --bogus\nRun with --help for more "
            "information.\n");

  run = RunTool({"--db", "", ExamplesFolder()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "gearloft-check: --db needs a file name\n");

  run = RunTool({ExamplesFolder(), "no/such/script.ini"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "gearloft-check: no such script file or folder: no/such/script.ini\n");
}

TEST(CheckUsageTest, HelpAndVersionExitZero) {
  ToolRun run = RunTool({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("--apply"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("--db FILE"), std::string::npos) << run.out;
  run = RunTool({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("gearloft-check ") + kVersion + "\n");
}

#if defined(GEARLOFT_CHECK_EXE)
TEST(CheckProgramTest, BuiltToolPrintsWhatTheEntryPrints) {
  ScratchFolder scratch;
  const std::string output = scratch.Path("out.txt");
  const std::string command = std::string("\"") + GEARLOFT_CHECK_EXE + "\" --apply \"" + ExamplesFolder() +
                              "\" > \"" + output + "\" 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::ReadWhole(output), RunTool({"--apply", ExamplesFolder()}).out);
  const std::string bad = std::string("\"") + GEARLOFT_CHECK_EXE + "\" --bogus > \"" + output + "\" 2>&1";
  EXPECT_NE(std::system(bad.c_str()), 0);
}
#endif

}  // namespace
}  // namespace gearloft::testing
