// Tests of the snapshot of the game's tables: the SQL text of each kind of cell, the car list, and the
// files written from the simulated game, loaded into SQLite and compared with the game's own tables.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apply/apply.h"
#include "game_fixture.h"
#include "hostdb/hostdb.h"
#include "support/answers.h"
#include "support/support.h"

namespace gearloft {
namespace {

QueryCell Cell(QueryCell::Kind kind) {
  QueryCell cell;
  cell.kind = kind;
  return cell;
}
// Every row of `sql` on `connection`, each cell as its storage class and exact value.
std::string Rows(sqlite3* connection, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    return std::string("cannot read: ") + sqlite3_errmsg(connection);
  }
  std::string rows;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
      char real[40];
      switch (sqlite3_column_type(statement, c)) {
        case SQLITE_INTEGER:
          rows += "i:" + std::to_string(sqlite3_column_int64(statement, c));
          break;
        case SQLITE_FLOAT:
          std::snprintf(real, sizeof real, "%.17g", sqlite3_column_double(statement, c));
          rows += std::string("r:") + real;
          break;
        case SQLITE_TEXT:
          rows += "t:" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)),
                                     static_cast<size_t>(sqlite3_column_bytes(statement, c)));
          break;
        default:
          rows += "null";
      }
      rows += "|";
    }
    rows += "\n";
  }
  sqlite3_finalize(statement);
  return rows;
}

TEST(SnapshotSqlTest, EveryCellKindReadsBackAsItWas) {
  QueryResult result;
  result.ok = true;
  result.columns = {"Id", "Name", "Height", "Note"};
  result.rows = {{test::IntegerCell(-7), test::TextCell("it's"), test::RealCell(0.15000000596046448),
                  Cell(QueryCell::Kind::kNull)},
                 {test::IntegerCell(9007199254740993), test::TextCell(std::string("a\0b", 3)),
                  test::RealCell(17.0), test::RealCell(-0.0)}};
  const std::string sql = SnapshotTableSql("T", result);
  EXPECT_EQ(sql,
            "CREATE TABLE \"T\" (\"Id\", \"Name\", \"Height\", \"Note\");\n"
            "INSERT INTO \"T\" VALUES (-7,'it''s',0.15000000596046448,NULL);\n"
            "INSERT INTO \"T\" VALUES (9007199254740993,CAST(X'610062' AS TEXT),17.0,-0.0);\n");

  sqlite3* connection = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &connection), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(connection);
  EXPECT_EQ(Rows(connection, "SELECT * FROM T"),
            "i:-7|t:it's|r:0.15000000596046448|null|\n"
            "i:9007199254740993|t:" +
                std::string("a\0b", 3) + "|r:17|r:-0|\n");
  sqlite3_close(connection);
}

TEST(SnapshotSqlTest, CarListIsSortedByNameWhateverItsCase) {
  QueryResult cars;
  cars.ok = true;
  cars.columns = {"Id", "MediaName"};
  cars.rows = {{test::IntegerCell(12), test::TextCell("orca_Coupe")},
               {test::IntegerCell(7), test::TextCell("Kestrel_GT")},
               {test::IntegerCell(3), test::TextCell("Aster")}};
  EXPECT_EQ(SnapshotCarList(cars), "3  Aster\n7  Kestrel_GT\n12  orca_Coupe\n");
}

class SnapshotGameTest : public testing::GameTest {};

TEST_F(SnapshotGameTest, FilesHoldTheGameTablesAsTheyAre) {
  const SnapshotOutcome outcome = WriteSnapshot(folder_.string(), Query);
  ASSERT_TRUE(outcome.written);
  EXPECT_EQ(outcome.tables, 13u);
  EXPECT_TRUE(outcome.missing.empty());
  const std::string sql = test::ReadWhole(folder_ / "gearloft.tables.sql");
  // Written in text mode: each line ends in CR LF on Windows.
  EXPECT_EQ(outcome.bytes, sql.size() - static_cast<size_t>(std::count(sql.begin(), sql.end(), '\r')));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "gearloft.tables.sql.tmp"));

  sqlite3* loaded = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &loaded), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(loaded, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(loaded);
  sqlite3* game = devhost::Connection(database_);
  size_t rows = 0;
  sqlite3_stmt* tables = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(loaded, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                               -1, &tables, nullptr),
            SQLITE_OK);
  size_t count = 0;
  while (sqlite3_step(tables) == SQLITE_ROW) {
    const std::string table = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
    ++count;
    const std::string columns = table == "Data_Car" ? "Id, MediaName" : "*";
    const std::string want = Rows(game, "SELECT " + columns + " FROM " + table + " ORDER BY rowid");
    EXPECT_EQ(Rows(loaded, "SELECT * FROM \"" + table + "\" ORDER BY rowid"), want) << table;
    rows += static_cast<size_t>(std::count(want.begin(), want.end(), '\n'));
  }
  sqlite3_finalize(tables);
  sqlite3_close(loaded);
  EXPECT_EQ(count, 13u);
  EXPECT_EQ(rows, outcome.rows);

  // One car a line: as many as the game has, Kestrel_GT among them by its Id.
  std::string cars = test::ReadWhole(folder_ / "gearloft.cars.txt");
  cars.erase(std::remove(cars.begin(), cars.end(), '\r'), cars.end());
  EXPECT_EQ(static_cast<size_t>(std::count(cars.begin(), cars.end(), '\n')),
            static_cast<size_t>(std::stoul(Scalar("SELECT COUNT(*) FROM Data_Car"))));
  EXPECT_NE(cars.find("\n7  Kestrel_GT\n"), std::string::npos) << cars;
}

TEST_F(SnapshotGameTest, TableThatDoesNotAnswerIsLeftOutAndNamed) {
  devhost::Knobs knobs;
  knobs.fault_on = "SELECT * FROM List_UpgradeTireCompound";
  devhost::SetKnobs(database_, knobs);
  TakeSnapshot();
  const std::vector<std::string> log = LogMessages();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0],
            "WARNING: snapshot: List_UpgradeTireCompound did not answer - left out of gearloft.tables.sql");
  EXPECT_EQ(log[1].rfind("snapshot: 12 table(s), ", 0), 0u) << log[1];
  const std::string sql = test::ReadWhole(folder_ / "gearloft.tables.sql");
  EXPECT_EQ(sql.find("List_UpgradeTireCompound"), std::string::npos);
  EXPECT_NE(sql.find("CREATE TABLE \"List_UpgradeCarBodyHood\""), std::string::npos);
}

}  // namespace
}  // namespace gearloft
