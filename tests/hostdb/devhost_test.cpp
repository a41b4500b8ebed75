// gearloft host database bridge tests against the simulated game: its fixture facts, its knobs, and the
// whole bridge (scan, probe, queries) run on this executable's own call site and global.
// The simulated game is built where SQLite is found (not in the cross build for Windows).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "devhost/devhost.h"
#include "devhost/host_layout.h"
#include "hostdb/hostdb.h"

namespace gearloft {
namespace {

using devhost::Database;

// A private fixture database whose object sits in a test-owned global, chosen as the current object.
class DevhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
    ASSERT_NE(database_, nullptr) << error;
    global_ = database_;
    SetCurrentForTest(reinterpret_cast<uintptr_t>(&global_));
    ResetQueryCacheForTest();
  }
  void TearDown() override {
    SetCurrentForTest(0);
    ResetQueryCacheForTest();
    devhost::CloseDatabase(database_);
  }
  // The first cell of the first row, as a double (NaN when there is none).
  static double Number(const std::string& sql) {
    const QueryResult result = Query(sql);
    return result.ok && !result.rows.empty() && !result.rows[0].empty() ? CellAsDouble(&result.rows[0][0])
                                                                        : std::nan("");
  }
  static std::string Text(const std::string& sql) {
    const QueryResult result = Query(sql);
    return result.ok && !result.rows.empty() && !result.rows[0].empty() ? result.rows[0][0].text : "<none>";
  }
  void SetKnobs(const devhost::Knobs& knobs) { devhost::SetKnobs(database_, knobs); }

  Database* database_ = nullptr;
  void* global_ = nullptr;
};

TEST_F(DevhostTest, FixtureHasTheFixedCars) {
  EXPECT_EQ(Number("SELECT COUNT(*) FROM Data_Car"), 48);
  EXPECT_EQ(Text("SELECT MediaName FROM Data_Car WHERE Id = 7"), "Kestrel_GT");
  EXPECT_EQ(Text("SELECT MediaName FROM Data_Car WHERE Id = 8"), "Orca_Coupe");
  EXPECT_EQ(Text("SELECT MediaName FROM Data_Car WHERE Id = 5"), "Pica_Sport");
  EXPECT_EQ(Number("SELECT COUNT(*) FROM Data_Car WHERE Id = 42"), 1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM Data_Car WHERE MediaName GLOB '*[^A-Za-z0-9_]*'"), 0);
}

TEST_F(DevhostTest, FixtureCarSevenRimsAndSuspension) {
  const QueryResult stock = Query(
      "SELECT Id, Ordinal, Level, IsStock, FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000");
  ASSERT_TRUE(stock.ok);
  ASSERT_EQ(stock.rows.size(), 1u);
  for (size_t j = 0; j < 5; ++j) EXPECT_EQ(stock.rows[0][j].kind, QueryCell::Kind::kInteger) << j;
  EXPECT_EQ(stock.rows[0][1].integer, 7);
  EXPECT_EQ(stock.rows[0][2].integer, 0);
  EXPECT_EQ(stock.rows[0][3].integer, 1);
  EXPECT_EQ(stock.rows[0][4].integer, 17);
  EXPECT_EQ(
      Number("SELECT group_concat(FrontWheelDiameter) = '18,19,20' FROM (SELECT FrontWheelDiameter FROM "
             "List_UpgradeRimSizeFront WHERE Ordinal = 7 AND Level > 0 ORDER BY Level)"),
      1);
  EXPECT_EQ(Number("SELECT RearWheelDiameter FROM List_UpgradeRimSizeRear WHERE Id = 7000"), 17);
  EXPECT_EQ(Number("SELECT MAX(Level) FROM List_UpgradeRimSizeRear WHERE Ordinal = 7"), 2);
  const QueryResult physics = Query(
      "SELECT DISTINCT p.DefRideHeight, p.MinRideHeight, p.MaxRideHeight, p.MaxCompressHeight FROM "
      "List_UpgradeSpringDamper u JOIN List_SpringDamperPhysics p ON p.SpringDamperPhysicsID = "
      "u.FrontSpringDamperPhysicsID WHERE u.Ordinal = 7");
  ASSERT_TRUE(physics.ok);
  ASSERT_EQ(physics.rows.size(), 1u);
  EXPECT_EQ(physics.rows[0][0].real, 0.10);
  EXPECT_EQ(physics.rows[0][1].real, 0.05);
  EXPECT_EQ(physics.rows[0][2].real, 0.15);
  EXPECT_EQ(physics.rows[0][3].real, 0.03);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeCarBodyHood WHERE CarBodyID = 7000"), 1);
  EXPECT_EQ(Number("SELECT Sequence FROM List_UpgradeCarBodyHood WHERE Id = 7000"), 1);
}

TEST_F(DevhostTest, FixtureSpecialCars) {
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Ordinal = 8 AND IsStock = 1"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeRimSizeRear WHERE Ordinal = 8 AND IsStock = 1"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeCarBodyTrackSpacingRear WHERE CarBodyId = 8000"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeSpringDamper WHERE Ordinal = 8"), 0);
  EXPECT_EQ(Text("SELECT TireModelName FROM List_UpgradeTireCompound WHERE Id = 5121"), "Sport_A");
  EXPECT_EQ(Text("SELECT WetTireModelName FROM List_UpgradeTireCompound WHERE Id = 5121"), "Sport_A_Wet");
  EXPECT_EQ(Text("SELECT WetTireModelName FROM List_UpgradeTireCompound WHERE Id = 5111"), "Street_B_Wet");
  EXPECT_EQ(Number("SELECT Level FROM List_UpgradeTireCompound WHERE Id = 5100"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeTireCompound WHERE Ordinal = 6 AND Level = 1 AND "
                   "WetTireModelName IS NULL"),
            1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM List_UpgradeTireCompound WHERE Ordinal = 9 AND Level = 1 AND "
                   "TireModelName = 'Rally-Mud'"),
            1);
  EXPECT_EQ(Number("SELECT Sequence FROM List_UpgradeCarBodyHood WHERE Id = 11001"), 2);
  EXPECT_EQ(Number("SELECT DefRideHeight FROM List_SpringDamperPhysics p JOIN List_UpgradeSpringDamper u ON "
                   "p.SpringDamperPhysicsID = u.FrontSpringDamperPhysicsID WHERE u.Id = 12000"),
            static_cast<double>(0.15f));
}

TEST_F(DevhostTest, InsertOrIgnoreKeepsTheExistingRow) {
  ASSERT_TRUE(
      Execute("INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id, Ordinal, Level, FrontWheelDiameter) "
              "SELECT 7000, 7, 0, 21 UNION ALL SELECT 7004, 7, 4, 21"));
  EXPECT_EQ(Number("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), 17);
  EXPECT_EQ(Number("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7004"), 21);
}

TEST(FixtureTest, SameSeedSameDataOtherSeedOtherData) {
  auto snapshot = [](uint32_t seed) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    std::string error;
    devhost::FixtureOptions options;
    options.seed = seed;
    EXPECT_TRUE(devhost::CreateFixture(db, options, &error)) << error;
    std::string text;
    sqlite3_exec(
        db, "SELECT group_concat(MediaName || Year) FROM Data_Car",
        [](void* out, int, char** values, char**) {
          *static_cast<std::string*>(out) = values[0] ? values[0] : "";
          return 0;
        },
        &text, nullptr);
    sqlite3_close(db);
    return text;
  };
  EXPECT_EQ(snapshot(1), snapshot(1));
  EXPECT_NE(snapshot(1), snapshot(2));
}

TEST(FixtureTest, NoCarsIsRefused) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string error;
  devhost::FixtureOptions options;
  options.cars = 0;
  EXPECT_FALSE(devhost::CreateFixture(db, options, &error));
  EXPECT_EQ(error, "fixture: cars must be at least 1");
  sqlite3_close(db);
}

TEST(FixtureTest, ExistingTableIsReported) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Data_Car (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  std::string error;
  EXPECT_FALSE(devhost::CreateFixture(db, devhost::FixtureOptions{}, &error));
  EXPECT_EQ(error.rfind("fixture: CREATE TABLE Data_Car (", 0), 0u) << error;
  EXPECT_NE(error.find("table Data_Car already exists"), std::string::npos) << error;
  sqlite3_close(db);
}

TEST(OpenDatabaseTest, MissingFolderIsReported) {
  std::string error;
  EXPECT_EQ(devhost::OpenDatabase("/nonexistent-gearloft-folder/game.db", devhost::FixtureOptions{}, &error),
            nullptr);
  EXPECT_EQ(error, "cannot open /nonexistent-gearloft-folder/game.db: unable to open database file");
}

TEST(OpenDatabaseTest, FileThatIsNoDatabaseIsReported) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "gearloft-hostdb-not-a-database.db").string();
  {
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < 100; ++i) file << "this is no database file ";
  }
  std::string error;
  EXPECT_EQ(devhost::OpenDatabase(path, devhost::FixtureOptions{}, &error), nullptr);
  EXPECT_EQ(error, path + " is not a database: file is not a database");
  std::filesystem::remove(path);
}

TEST(OpenDatabaseTest, ExistingDatabaseIsUsedAsItIs) {
  const std::string path = (std::filesystem::temp_directory_path() / "gearloft-hostdb-existing.db").string();
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Data_Car (Id INTEGER PRIMARY KEY)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string error;
  Database* database = devhost::OpenDatabase(path, devhost::FixtureOptions{}, &error);
  ASSERT_NE(database, nullptr) << error;
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(devhost::Connection(database), "SELECT COUNT(*) FROM sqlite_master", -1,
                               &statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement, 0), 1);
  sqlite3_finalize(statement);
  devhost::CloseDatabase(database);
  std::filesystem::remove(path);
}

TEST(ProbeTableTest, DatabaseWithoutTheTableReportsIt) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  Database* database = devhost::WrapDatabase(db);
  std::string error;
  EXPECT_FALSE(devhost::SetProbeTableEmpty(database, true, &error));
  EXPECT_EQ(error, "cannot empty List_UpgradeRimSizeFront: no such table: main.List_UpgradeRimSizeFront");
  devhost::CloseDatabase(database);
  sqlite3_close(db);
}

TEST_F(DevhostTest, SqlErrorLeavesTheSlotEmpty) {
  uintptr_t slot = 1;
  ASSERT_TRUE(CallExecuteQuery(reinterpret_cast<uintptr_t>(&global_), "SELECT nothing FROM Nowhere", &slot));
  EXPECT_EQ(slot, 0u);
}

TEST_F(DevhostTest, CallCounterCountsEveryCall) {
  Query("SELECT 1");
  Execute("SELECT 2");
  Query("SELECT nothing FROM Nowhere");
  EXPECT_EQ(devhost::CallCount(database_), 3u);
}

TEST_F(DevhostTest, CachedQueryCallsTheGameOnceAfterAnAnswer) {
  EXPECT_EQ(CachedQuery("SELECT Id FROM Data_Car WHERE MediaName = 'Kestrel_GT'").rows.at(0).at(0).integer,
            7);
  EXPECT_EQ(CachedQuery("SELECT Id FROM Data_Car WHERE MediaName = 'Kestrel_GT'").rows.at(0).at(0).integer,
            7);
  EXPECT_EQ(devhost::CallCount(database_), 1u);
  EXPECT_FALSE(CachedQuery("SELECT Id FROM Nowhere").ok);
  EXPECT_FALSE(CachedQuery("SELECT Id FROM Nowhere").ok);
  EXPECT_EQ(devhost::CallCount(database_), 3u);
}

TEST_F(DevhostTest, IgnoredWritesLeaveTheTablesAsTheyWere) {
  devhost::Knobs knobs;
  knobs.call_fault = devhost::CallFault::kDropWrite;
  knobs.fault_at_call = 1;
  knobs.fault_onwards = true;
  SetKnobs(knobs);
  EXPECT_TRUE(Execute("UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 22 WHERE Id = 7000"));
  EXPECT_EQ(Number("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), 17);
  SetKnobs(devhost::Knobs{});
  EXPECT_TRUE(Execute("UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 22 WHERE Id = 7000"));
  EXPECT_EQ(Number("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"), 22);
}

TEST_F(DevhostTest, HugeTextCellsReadAsEmptyText) {
  devhost::Knobs knobs;
  knobs.huge_text_on = "MediaName";
  SetKnobs(knobs);
  const QueryResult result = Query("SELECT MediaName, Id FROM Data_Car WHERE Id = 7");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.rows.at(0).at(0).kind, QueryCell::Kind::kText);
  EXPECT_EQ(result.rows[0][0].text, "");
  EXPECT_EQ(result.rows[0][1].integer, 7);
}

TEST_F(DevhostTest, OversizedResultsAreNotOk) {
  devhost::Knobs knobs;
  knobs.oversize_on = "Data_Car";
  knobs.oversize = devhost::Oversize::kColumns;
  SetKnobs(knobs);
  EXPECT_FALSE(Query("SELECT * FROM Data_Car").ok);
  knobs.oversize = devhost::Oversize::kRows;
  SetKnobs(knobs);
  EXPECT_FALSE(Query("SELECT * FROM Data_Car").ok);
  EXPECT_TRUE(Query("SELECT * FROM List_UpgradeCarBodyHood").ok);
}

TEST_F(DevhostTest, EmptyProbeTableUntilRestored) {
  std::string error;
  ASSERT_TRUE(devhost::SetProbeTableEmpty(database_, true, &error)) << error;
  EXPECT_EQ(Number(kProbeSql), 0);
  ASSERT_TRUE(devhost::SetProbeTableEmpty(database_, false, &error)) << error;
  EXPECT_GT(Number(kProbeSql), 100);
}

// The worker's queries and the game's own queries reach the same object from two threads.
TEST_F(DevhostTest, GameThreadAndBridgeQueryTogether) {
  devhost::SetGameDatabase(database_);
  std::atomic<int> game_answers{0};
  std::thread game([&] {
    for (int i = 0; i < 200; ++i) {
      uintptr_t result = 0;
      if (devhost::RunGameQuery("SELECT COUNT(*) FROM Data_Car", &result) && result != 0) {
        const auto* host = reinterpret_cast<const devhost::HostResult*>(result);
        if ((*host->rows_begin)[0].value == 48) ++game_answers;
      }
    }
  });
  int bridge_answers = 0;
  for (int i = 0; i < 200; ++i) {
    if (Number("SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Ordinal = 7") == 4) ++bridge_answers;
  }
  game.join();
  devhost::SetGameDatabase(nullptr);
  EXPECT_EQ(game_answers.load(), 200);
  EXPECT_EQ(bridge_answers, 200);
}

TEST(DevhostGameTest, HiddenCallSiteOrEmptyGlobalRunsNothing) {
  uintptr_t result = 1;
  devhost::SetGameDatabase(nullptr);
  EXPECT_FALSE(devhost::RunGameQuery("SELECT 1", &result));
  EXPECT_EQ(result, 0u);
  ASSERT_TRUE(devhost::HideCallSite(devhost::CodeHide::kScrambled));
  EXPECT_TRUE(devhost::CallSiteHidden());
  EXPECT_FALSE(devhost::HideCallSite(devhost::CodeHide::kNotExecutable));
  EXPECT_FALSE(devhost::RunGameQuery("SELECT 1", &result));
  ASSERT_TRUE(devhost::RevealCallSite());
  EXPECT_FALSE(devhost::CallSiteHidden());
}

// The whole bridge on this executable: the scan finds the game's global (and the second, empty one),
// the probe waits for the probe table and the global, then queries reach the game's database.
class BridgeOnThisExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    database_ = devhost::OpenDatabase(":memory:", devhost::FixtureOptions{}, &error);
    ASSERT_NE(database_, nullptr) << error;
    SetCurrentForTest(0);
  }
  void TearDown() override {
    SetCurrentForTest(0);
    SetCandidatesForTest({});
    devhost::SetGameDatabase(nullptr);
    devhost::CloseDatabase(database_);
  }
  Database* database_ = nullptr;
};

TEST_F(BridgeOnThisExecutableTest, ScanProbeAndQueryTheGame) {
  ASSERT_TRUE(ScanForCandidates());
  ASSERT_EQ(CandidateCount(), 2u);
  std::string message;
  EXPECT_FALSE(ProbeCandidates(&message));
  EXPECT_EQ(message, "2 global(s), 0 holding an object, none answered a probe SELECT");

  devhost::SetGameDatabase(database_);
  std::string error;
  ASSERT_TRUE(devhost::SetProbeTableEmpty(database_, true, &error)) << error;
  EXPECT_FALSE(ProbeCandidates(&message));
  EXPECT_EQ(message, "2 global(s), 1 holding an object, none answered a probe SELECT");

  ASSERT_TRUE(devhost::SetProbeTableEmpty(database_, false, &error)) << error;
  ASSERT_TRUE(ProbeCandidates(&message));
  const QueryResult result = Query("SELECT MediaName FROM Data_Car WHERE Id = 7");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.rows.at(0).at(0).text, "Kestrel_GT");
  EXPECT_TRUE(Execute("UPDATE Data_Car SET Year = 2005 WHERE Id = 7"));
  EXPECT_EQ(Query("SELECT Year FROM Data_Car WHERE Id = 7").rows.at(0).at(0).integer, 2005);
}

}  // namespace
}  // namespace gearloft
