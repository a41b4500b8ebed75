// gearloft Windows end-to-end test of the snapshot: the real gearloft.dll inside gearloft-devhost.exe writes
// the game's tables before its first change as CR LF text that SQLite loads into the very same rows.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

TEST(WindowsSnapshotTest, SnapshotHoldsTheTablesAsTheGameBeganThemInCrLfText) {
  WindowsGame game("snapshot");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  const fs::path pristine = game.Folder() / "pristine.db";
  ASSERT_TRUE(WriteWhole(pristine, ReadWhole(game.DatabaseFile())));
  game.WriteSettings(
      "garage_lod = 0\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 200\r\n");
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_front_stock = 18\r\nrim_sizes_rear = 19\r\n");
  game.Start({});
  const int applied = game.WaitFor("applied ");
  ASSERT_GE(applied, 0) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int snapshot = Find(messages, "snapshot: 13 table(s), ");
  ASSERT_GE(snapshot, 0) << game.Output();
  EXPECT_EQ(snapshot, Find(messages, "DB live") + 1);
  EXPECT_EQ(game.Stop(), 0) << game.Output();

  // Written in text mode, as the log and the plan file: CR LF on every line.
  const std::string sql = ReadWhole(game.ScriptsFolder() / "gearloft.tables.sql");
  ASSERT_FALSE(sql.empty());
  size_t lines = 0;
  for (size_t at = sql.find('\n'); at != std::string::npos; at = sql.find('\n', at + 1)) {
    ++lines;
    EXPECT_TRUE(at > 0 && sql[at - 1] == '\r') << "line " << lines;
  }
  const std::string cars = ReadWhole(game.ScriptsFolder() / "gearloft.cars.txt");
  EXPECT_NE(cars.find("\r\n7  Kestrel_GT\r\n"), std::string::npos) << cars;

  const fs::path loaded_file = game.Folder() / "snapshot.db";
  ASSERT_TRUE(WriteWhole(loaded_file, ""));  // an empty file is an empty database
  GameDatabase loaded(loaded_file);
  char* message = nullptr;
  ASSERT_EQ(sqlite3_exec(loaded.Handle(), sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
      << (message != nullptr ? message : "");
  GameDatabase original(pristine);
  size_t tables = 0;
  for (const std::string& name :
       loaded.Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    const std::string table = name.substr(std::string("text:").size());
    const std::string columns = table == "Data_Car" ? "Id, MediaName" : "*";
    EXPECT_EQ(loaded.Rows("SELECT * FROM \"" + table + "\" ORDER BY rowid"),
              original.Rows("SELECT " + columns + " FROM " + table + " ORDER BY rowid"))
        << table;
    ++tables;
  }
  EXPECT_EQ(tables, 13u);
  EXPECT_EQ(loaded.Error(), "");
  EXPECT_EQ(original.Error(), "");
  // The game's tables did change: the snapshot was taken before the script's change. The game's own
  // file did not: it builds its tables afresh from it at every start.
  GameDatabase changed(game.TablesFile());
  EXPECT_NE(changed.Rows("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"),
            original.Rows("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = 7000"));
  EXPECT_EQ(changed.Error(), "");
  EXPECT_TRUE(ReadWhole(game.DatabaseFile()) == ReadWhole(pristine)) << "the game's own file changed";
}

}  // namespace
}  // namespace gearloft::wine_e2e
