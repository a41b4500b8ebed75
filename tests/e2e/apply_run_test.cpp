// gearloft end-to-end tests of the worker with every collaborator real: car scripts written into a running
// simulated game's folder reach its tables, are re-applied in place, taken back, re-sent while the game
// boots and held after repeated misses. Checked in the log and in the tables the game dumps on request.
#include <gtest/gtest.h>

#if defined(GEARLOFT_DEVHOST_EXE) && defined(GEARLOFT_LIBRARY_FILE)

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(GEARLOFT_TEST_HAVE_CHECK)
#include "check/check.h"
#endif
#include "e2e/game_folder.h"
#include "support/support.h"
#include "support/tables.h"

namespace gearloft {
namespace {

using e2e::Find;
using e2e::GameFolder;
using test::FirstDifference;
using test::GameDatabase;
using test::Integer;
using test::ReadWhole;
using test::Real;
using test::Row;
using test::TableDump;
using test::WithRow;

// Generous for a loaded two-core machine running sanitizer builds side by side.
constexpr double kFirstApplySeconds = 30;
constexpr double kStepSeconds = 20;

// No boot re-sends: once a plan is applied the game's file changes only when a test changes a script,
// so the test may read it meanwhile. No snapshot either: its line gives a time, and these tests read
// the log line for line.
const char kQuietSettings[] =
    "garage_lod = 0\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 100\r\nsnapshot = "
    "0\r\n";

const char kRimFront[] = "List_UpgradeRimSizeFront";
const char kRimRear[] = "List_UpgradeRimSizeRear";
const char kTireFront[] = "List_UpgradeCarBodyTireAspectRatioFront";
const char kTrackFront[] = "List_UpgradeCarBodyTrackSpacingFront";
const char kTrackRear[] = "List_UpgradeCarBodyTrackSpacingRear";

// A rim row as the rim_sizes handler writes it: (Id, Ordinal, Level, IsStock, diameter, Price, MassDiff,
// DragScale, WindInstabilityScale, RequiresGraphics).
std::string RimRow(int64_t id, int64_t car, int64_t level, int64_t diameter, int64_t price, double mass_diff,
                   int64_t requires_graphics = 0) {
  return Row({Integer(id), Integer(car), Integer(level), Integer(0), Integer(diameter), Integer(price),
              Real(mass_diff), Real(1.0), Real(1.0), Integer(requires_graphics)});
}

// A car-body row as the tire_profiles and track_spacings handlers write it: (Id, CarBodyId, value,
// IsStock, Level, Price, releaseOrder).
std::string BodyRow(int64_t id, int64_t car_body, double value, int64_t level) {
  return Row({Integer(id), Integer(car_body), Real(value), Integer(0), Integer(level), Integer(level * 100),
              Integer(0)});
}

// Fills the game folder's database with the fixture before the game starts, so the test holds a dump
// of exactly what the game began with.
::testing::AssertionResult CreateDatabase(const GameFolder& game, TableDump* pristine) {
  GameDatabase database(game.DatabasePath());
  if (!database.CreateFixture()) return ::testing::AssertionFailure() << database.Error();
  *pristine = database.Dump();
  if (!database.Error().empty()) return ::testing::AssertionFailure() << database.Error();
  if (pristine->size() < 14) return ::testing::AssertionFailure() << "the fixture has too few tables";
  return ::testing::AssertionSuccess();
}

// The game's tables as they are now (or as it left them, once it has ended).
TableDump DumpOf(const GameFolder& game) {
  EXPECT_TRUE(game.RequestTables());
  GameDatabase database(game.TablesPath());
  TableDump dump = database.Dump();
  EXPECT_EQ(database.Error(), "");
  return dump;
}

// The row of `table` with this Id as the game has it now; empty when there is none.
std::string RowNow(const GameFolder& game, const std::string& table, int64_t id) {
  EXPECT_TRUE(game.RequestTables());
  GameDatabase database(game.TablesPath());
  const std::string row = database.RowWithId(table, id);
  EXPECT_EQ(database.Error(), "");
  return row;
}

// The messages from index `from` to index `to` (both included; -1: to the last), one per line.
std::string Lines(const std::vector<std::string>& messages, int from = 0, int to = -1) {
  std::string text;
  const size_t end = to < 0 ? messages.size() : static_cast<size_t>(to) + 1;
  for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < end && i < messages.size(); ++i) {
    text += messages[i] + "\n";
  }
  return text;
}

TEST(ApplyRunTest, NewScriptsRowsReachTheTables) {
  GameFolder game("new");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.Start({});
  // The first pass loads the empty folder, which writes an empty plan file.
  ASSERT_GE(game.WaitFor("DB live", 0, kFirstApplySeconds), 0) << game.Output();
  const auto plan_file = game.ScriptsFolder() / "gearloft.plan.sql";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStepSeconds);
  while (!std::filesystem::exists(plan_file) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(std::filesystem::exists(plan_file));

  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18, 19\r\n");
  const int applied = game.WaitFor("applied ", 0, kStepSeconds);
  ASSERT_GE(applied, 0) << Lines(game.Messages());
  const std::vector<std::string> messages = game.Messages();
  EXPECT_EQ(messages[static_cast<size_t>(applied)], "applied 2 statement(s) from 1 file(s), all read back");
  const int loaded = Find(messages, "loaded kestrel.ini: Kestrel_GT, 2 statement(s)");
  EXPECT_GE(loaded, 0) << Lines(messages);
  EXPECT_LT(loaded, applied);
  // The plan before it was empty and never sent, so the script is loaded afresh, not re-applied.
  EXPECT_EQ(Find(messages, "folder changed"), -1) << Lines(messages);
  EXPECT_EQ(Find(messages, "read-back miss"), -1) << Lines(messages);

  // Front rim Levels 1 to 3 exist, stock diameter 17: the new rows take Levels 4 and 5.
  TableDump want = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36));
  want = WithRow(want, kRimFront, 7005, RimRow(7005, 7, 5, 19, 2200, 2.72));
  EXPECT_EQ(FirstDifference(want, DumpOf(game)), "");

  std::string plan = ReadWhole(plan_file);
  plan.erase(std::remove(plan.begin(), plan.end(), '\r'), plan.end());
  EXPECT_EQ(plan,
            "-- kestrel.ini\n"
            "INSERT OR IGNORE INTO List_UpgradeRimSizeFront "
            "(Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,"
            "RequiresGraphics) VALUES (7004,7,4,0,18,2000,1.36,1.0,1.0,0);\n"
            "INSERT OR IGNORE INTO List_UpgradeRimSizeFront "
            "(Id,Ordinal,Level,IsStock,FrontWheelDiameter,Price,MassDiff,DragScale,WindInstabilityScale,"
            "RequiresGraphics) VALUES (7005,7,5,0,19,2200,2.72,1.0,1.0,0);\n");
  EXPECT_TRUE(game.Stop()) << game.Output();
}

// The game builds its tables afresh from its own files at every start: a second start with the same
// scripts ends with the same tables as the first, and the game's file stays as it was. A game that kept
// its changes (--persist) would start with the first plan's rows in place, and the same script would
// then add two more.
TEST(ApplyRunTest, RestartWithTheSameScriptsEndsWithTheSameTables) {
  GameFolder game("restart");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  const std::string installed = ReadWhole(game.DatabasePath());
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18, 19\r\n");
  TableDump want = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36));
  want = WithRow(want, kRimFront, 7005, RimRow(7005, 7, 5, 19, 2200, 2.72));
  // A start takes less than a second here. Starts a second apart write logs with different first lines,
  // which the game's echo of the log needs to tell three identical logs apart.
  const auto start_again = [&game](const std::vector<std::string>& flags) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return game.Run("applied 2 statement(s) from 1 file(s), all read back", flags);
  };
  for (const char* start : {"first", "second"}) {
    ASSERT_TRUE(start_again({})) << game.Output();
    EXPECT_EQ(FirstDifference(want, DumpOf(game)), "") << "the " << start << " start";
  }
  EXPECT_TRUE(ReadWhole(game.DatabasePath()) == installed) << "the game's own file changed";

  for (int start = 0; start < 2; ++start) {
    ASSERT_TRUE(start_again({"--persist"})) << game.Output();
  }
  want = WithRow(want, kRimFront, 7006, RimRow(7006, 7, 6, 18, 2000, 1.36));
  want = WithRow(want, kRimFront, 7007, RimRow(7007, 7, 7, 19, 2200, 2.72));
  EXPECT_EQ(FirstDifference(want, DumpOf(game)), "");
  EXPECT_FALSE(ReadWhole(game.DatabasePath()) == installed) << "--persist left the game's file unchanged";
}

TEST(ApplyRunTest, EditedScriptIsReappliedInPlace) {
  GameFolder game("edit");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("kestrel.ini",
                   "[Kestrel_GT]\r\nrim_sizes_front = 18, 19, 20\r\ntrack_spacings_rear = 1.62\r\n");
  game.Start({});
  const int applied = game.WaitFor("applied ", 0, kFirstApplySeconds);
  ASSERT_GE(applied, 0) << game.Output();
  ASSERT_EQ(game.Messages()[static_cast<size_t>(applied)],
            "applied 4 statement(s) from 1 file(s), all read back");
  TableDump first = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36));
  first = WithRow(first, kRimFront, 7005, RimRow(7005, 7, 5, 19, 2200, 2.72));
  first = WithRow(first, kRimFront, 7006, RimRow(7006, 7, 6, 20, 2400, 4.08));
  first = WithRow(first, kTrackRear, 7003, BodyRow(7003, 7000, 1.62, 3));
  ASSERT_EQ(FirstDifference(first, DumpOf(game)), "");

  // Marks the row the edit keeps unchanged: a row deleted and inserted again would lose the mark.
  ASSERT_TRUE(game.RequestTables("UPDATE List_UpgradeRimSizeFront SET RequiresGraphics = 7 WHERE Id = 7004"))
      << game.Output();

  // 18 stays, 19 becomes 21, 20 and the track spacing go, a rear rim is new.
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18, 21\r\nrim_sizes_rear = 18\r\n");
  const int changed = game.WaitFor("folder changed - re-applying in place", applied + 1, kStepSeconds);
  ASSERT_GT(changed, applied) << Lines(game.Messages());
  const int reapplied = game.WaitFor("applied ", changed + 1, kStepSeconds);
  ASSERT_GT(reapplied, changed) << Lines(game.Messages());
  const std::vector<std::string> messages = game.Messages();
  EXPECT_EQ(Lines(messages, changed),
            "folder changed - re-applying in place\n"
            "loaded kestrel.ini: Kestrel_GT, 3 statement(s)\n"
            "re-apply: 2 added row(s) kept in place (1 updated), 2 removed\n"
            "applied 3 statement(s) from 1 file(s), all read back\n");

  // Rear rim Levels 1 and 2 exist, stock rear diameter 17: the new rear row takes Level 3.
  TableDump second = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36, 7));
  second = WithRow(second, kRimFront, 7005, RimRow(7005, 7, 5, 21, 2600, 5.44));
  second = WithRow(second, kRimRear, 7003, RimRow(7003, 7, 3, 18, 2000, 1.36));
  EXPECT_EQ(FirstDifference(second, DumpOf(game)), "");
  EXPECT_TRUE(game.Stop()) << game.Output();
}

TEST(ApplyRunTest, RowOfADroppedFileIsRewrittenForTheFileThatNowTakesItsId) {
  GameFolder game("takeover");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("a.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18, 19\r\n");
  game.WriteScript("b.ini", "[7]\r\nrim_sizes_front = 20\r\n");
  game.Start({});
  const int applied = game.WaitFor("applied ", 0, kFirstApplySeconds);
  ASSERT_GE(applied, 0) << game.Output();
  ASSERT_EQ(game.Messages()[static_cast<size_t>(applied)],
            "applied 3 statement(s) from 2 file(s), all read back");
  // The files of one load share the car's Levels: a.ini takes 4 and 5, b.ini 6.
  TableDump both = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36));
  both = WithRow(both, kRimFront, 7005, RimRow(7005, 7, 5, 19, 2200, 2.72));
  both = WithRow(both, kRimFront, 7006, RimRow(7006, 7, 6, 20, 2400, 4.08));
  ASSERT_EQ(FirstDifference(both, DumpOf(game)), "");

  // Without a.ini the 20" rim is the car's first new Level again: it takes over row 7004 in place, and
  // the rows at 7005 and 7006 go.
  game.RemoveScript("a.ini");
  const int reapplied = game.WaitFor("applied ", applied + 1, kStepSeconds);
  ASSERT_GT(reapplied, applied) << Lines(game.Messages());
  EXPECT_EQ(Lines(game.Messages(), applied + 1, reapplied),
            "folder changed - re-applying in place\n"
            "loaded b.ini: Kestrel_GT, 1 statement(s)\n"
            "re-apply: 1 added row(s) kept in place (1 updated), 2 removed\n"
            "applied 1 statement(s) from 1 file(s), all read back\n");
  EXPECT_EQ(
      FirstDifference(WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 20, 2400, 4.08)), DumpOf(game)),
      "");
  EXPECT_TRUE(game.Stop()) << game.Output();
}

TEST(ApplyRunTest, DeletingEveryScriptRestoresEveryTable) {
  GameFolder game("delete");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("a.ini", "[Kestrel_GT]\r\nrim_sizes = 18, 19\r\ntire_profiles_front = -10\r\n");
  game.WriteScript("b.ini", "[8]\ntrack_spacings_rear = 1.25, 1.5\n[42]\ntrack_spacings = 1.1\n");
  game.Start({});
  const int applied = game.WaitFor("applied ", 0, kFirstApplySeconds);
  ASSERT_GE(applied, 0) << game.Output();
  ASSERT_EQ(game.Messages()[static_cast<size_t>(applied)],
            "applied 9 statement(s) from 2 file(s), all read back");
  // Car 7 has front rim Levels 1-3, rear rim Levels 1-2 and one front tyre profile; car 8 has no rear
  // track spacing; car 42 has one front and one rear spacing.
  TableDump changed = WithRow(pristine, kRimFront, 7004, RimRow(7004, 7, 4, 18, 2000, 1.36));
  changed = WithRow(changed, kRimFront, 7005, RimRow(7005, 7, 5, 19, 2200, 2.72));
  changed = WithRow(changed, kRimRear, 7003, RimRow(7003, 7, 3, 18, 2000, 1.36));
  changed = WithRow(changed, kRimRear, 7004, RimRow(7004, 7, 4, 19, 2200, 2.72));
  changed = WithRow(changed, kTireFront, 7002, BodyRow(7002, 7000, -10, 2));
  changed = WithRow(changed, kTrackRear, 8001, BodyRow(8001, 8000, 1.25, 1));
  changed = WithRow(changed, kTrackRear, 8002, BodyRow(8002, 8000, 1.5, 2));
  changed = WithRow(changed, kTrackFront, 42002, BodyRow(42002, 42000, 1.1, 2));
  changed = WithRow(changed, kTrackRear, 42002, BodyRow(42002, 42000, 1.1, 2));
  ASSERT_EQ(FirstDifference(changed, DumpOf(game)), "");

  // A dropped file takes only its own rows away; the other file's rows stay where they are.
  game.RemoveScript("b.ini");
  const int first = game.WaitFor("applied ", applied + 1, kStepSeconds);
  ASSERT_GT(first, applied) << Lines(game.Messages());
  EXPECT_EQ(Lines(game.Messages(), applied + 1, first),
            "folder changed - re-applying in place\n"
            "loaded a.ini: Kestrel_GT, 5 statement(s)\n"
            "re-apply: 5 added row(s) kept in place (0 updated), 4 removed\n"
            "applied 5 statement(s) from 1 file(s), all read back\n");
  TableDump kept = WithRow(changed, kTrackRear, 8001, "");
  kept = WithRow(kept, kTrackRear, 8002, "");
  kept = WithRow(kept, kTrackFront, 42002, "");
  kept = WithRow(kept, kTrackRear, 42002, "");
  EXPECT_EQ(FirstDifference(kept, DumpOf(game)), "");

  game.RemoveScript("a.ini");
  const int last = game.WaitFor("re-apply: ", first + 1, kStepSeconds);
  ASSERT_GT(last, first) << Lines(game.Messages());
  EXPECT_EQ(Lines(game.Messages(), first + 1),
            "folder changed - re-applying in place\n"
            "re-apply: 0 added row(s) kept in place (0 updated), 5 removed\n");
  // Every table as it was, value for value and storage class for storage class.
  EXPECT_EQ(FirstDifference(pristine, DumpOf(game)), "");
  EXPECT_EQ(ReadWhole(game.ScriptsFolder() / "gearloft.plan.sql"), "");
  EXPECT_TRUE(game.Stop()) << game.Output();
}

TEST(ApplyRunTest, IgnoredWritesReprobeTwiceThenHoldUntilTheScriptsChange) {
  GameFolder game("ignored");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18\r\n");
  game.Start({"--ignore-writes"});
  const std::string hold = "ERROR: apply missed 3 times in a row - holding until scripts\\tunebay changes";
  const int held = game.WaitFor(hold, 0, kFirstApplySeconds + 3 * kStepSeconds);
  ASSERT_GE(held, 0) << game.Output();
  const std::string miss =
      "read-back miss: SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id IN (7004) -> 0.000000, want 1 "
      "(ok=1 rows=1)\n";
  std::vector<std::string> messages = game.Messages();
  const int live = Find(messages, "DB live");
  ASSERT_GE(live, 0);
  EXPECT_EQ(Lines(messages, live),
            "DB live\n"
            "loaded kestrel.ini: Kestrel_GT, 1 statement(s)\n" +
                miss + "rows not visible after apply - re-probing CDatabase (attempt 1/3)\n" + "DB live\n" +
                miss + "rows not visible after apply - re-probing CDatabase (attempt 2/3)\n" + "DB live\n" +
                miss + hold + "\n");

  // Held: while the same scripts are listed nothing is applied or probed, whatever else the folder gets.
  {
    std::ofstream note(game.ScriptsFolder() / "notes.txt", std::ios::binary);
    note << "not a script\n";
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(game.Messages().size(), static_cast<size_t>(held + 1)) << Lines(game.Messages(), held);

  // A changed script leaves the hold: re-applied in place and tried again.
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18, 19\r\n");
  const int retried = game.WaitFor("rows not visible after apply", held + 1, kStepSeconds);
  ASSERT_GT(retried, held) << Lines(game.Messages(), held);
  EXPECT_EQ(Lines(game.Messages(), held + 1, retried),
            "folder changed - re-applying in place\n"
            "loaded kestrel.ini: Kestrel_GT, 2 statement(s)\n"
            "re-apply: 1 added row(s) kept in place (0 updated), 0 removed\n"
            "read-back miss: SELECT COUNT(*) FROM List_UpgradeRimSizeFront WHERE Id IN (7004,7005) -> "
            "0.000000, want 2 (ok=1 rows=1)\n"
            "rows not visible after apply - re-probing CDatabase (attempt 1/3)\n");
  EXPECT_EQ(FirstDifference(pristine, DumpOf(game)), "");
  EXPECT_TRUE(game.Stop()) << game.Output();
}

// A re-apply the game refuses part of: the scripts before the change go back into the tables, every try
// counts as a miss, and the third holds. A script nobody touched keeps its edits throughout.
TEST(ApplyRunTest, ReapplyWhoseDeleteFaultsPutsTheEarlierScriptsBackAndHolds) {
  GameFolder game("refused");
  game.WriteSettings(kQuietSettings);
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_front_stock = 18\r\nrim_sizes_rear = 19\r\n");
  game.WriteScript("stock.ini", "[Pica_Sport]\r\nrim_stock = 18\r\nwidth_stock = 255\r\n");
  game.Start({"--fault-on", "DELETE FROM List_UpgradeRimSizeRear"});
  const int applied = game.WaitFor("applied ", 0, kFirstApplySeconds);
  ASSERT_GE(applied, 0) << game.Output();
  const TableDump in_force = DumpOf(game);
  ASSERT_NE(FirstDifference(pristine, in_force), "");

  game.RemoveScript("kestrel.ini");
  const std::string hold = "ERROR: apply missed 3 times in a row - holding until scripts\\tunebay changes";
  const int held = game.WaitFor(hold, applied + 1, 3 * kStepSeconds);
  ASSERT_GT(held, applied) << Lines(game.Messages(), applied);
  const std::string attempt =
      "folder changed - re-applying in place\n"
      "loaded stock.ini: Pica_Sport, 4 statement(s)\n"
      "WARNING: re-apply did not land (DELETE FROM List_UpgradeRimSizeRear WHERE Id = 7003) - the earlier "
      "scripts stay in force, all read back\n";
  EXPECT_EQ(Lines(game.Messages(), applied + 1),
            attempt + "rows not visible after apply - re-probing CDatabase (attempt 1/3)\nDB live\n" +
                attempt + "rows not visible after apply - re-probing CDatabase (attempt 2/3)\nDB live\n" +
                attempt + hold + "\n");
  // What the log says is in force is in the tables: both scripts, the untouched one's edits included.
  EXPECT_EQ(FirstDifference(in_force, DumpOf(game)), "");
  // Held: nothing more is tried or logged until the folder changes again.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(game.Messages().size(), static_cast<size_t>(held + 1)) << Lines(game.Messages(), held);
  EXPECT_TRUE(game.Stop()) << game.Output();
}

// The snapshot is read before the first change: loaded into SQLite it holds the game's tables as the
// game began, although the scripts have changed them by the time anyone reads it.
TEST(ApplyRunTest, SnapshotHoldsTheTablesAsTheGameBeganThem) {
  GameFolder game("snapshot");
  game.WriteSettings(
      "garage_lod = 0\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 100\r\n");
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_front_stock = 18\r\nrim_sizes_rear = 19\r\n");
  game.WriteScript("nobody.ini", "[No_Such_Car]\r\nrim_stock = 18\r\n");
  game.Start({});
  const int applied = game.WaitFor("applied ", 0, kFirstApplySeconds);
  ASSERT_GE(applied, 0) << game.Output();
  const std::vector<std::string> messages = game.Messages();
  const int live = Find(messages, "DB live");
  const int snapshot = Find(messages, "snapshot: 13 table(s), ");
  ASSERT_GE(snapshot, 0) << Lines(messages);
  EXPECT_EQ(snapshot, live + 1) << Lines(messages);
  ASSERT_NE(FirstDifference(pristine, DumpOf(game)), "");

  const std::string sql = ReadWhole(game.ScriptsFolder() / "gearloft.tables.sql");
  const std::filesystem::path copy = game.Folder() / "snapshot.db";
  GameDatabase loaded(copy);
  ASSERT_TRUE(loaded.Exec(sql)) << loaded.Error();
  GameDatabase original(game.Folder() / "pristine.db");
  ASSERT_TRUE(original.CreateFixture()) << original.Error();
  size_t rows = 0;
  for (const std::string& name :
       loaded.Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    const std::string table = name.substr(std::string("text:").size());
    const std::string columns = table == "Data_Car" ? "Id, MediaName" : "*";
    const std::vector<std::string> want =
        original.Rows("SELECT " + columns + " FROM " + table + " ORDER BY rowid");
    EXPECT_EQ(loaded.Rows("SELECT * FROM \"" + table + "\" ORDER BY rowid"), want) << table;
    rows += want.size();
  }
#if defined(GEARLOFT_TEST_HAVE_CHECK)
  // The checker, given the folder alone, checks against that snapshot and says what the game said.
  std::ostringstream out;
  std::ostringstream err;
  const std::string folder = game.ScriptsFolder().string();
  EXPECT_EQ(check::RunCheck({folder}, out, err), 1) << out.str() << err.str();
  const std::string prefix = (game.ScriptsFolder() / "").string();
  EXPECT_EQ(out.str(), "checking against your game's tables in " + prefix + "gearloft.tables.sql, written " +
                           out.str().substr(out.str().find(", written ") + 10, 23) + "\n" + prefix +
                           "kestrel.ini: ok: Kestrel_GT, 2 statement(s)\n" + prefix +
                           "nobody.ini:1: [No_Such_Car]: no such car in Data_Car\n"
                           "checked 2 file(s): 1 compiled, 1 failed\n");
  EXPECT_GE(Find(messages, "loaded kestrel.ini: Kestrel_GT, 2 statement(s)"), 0) << Lines(messages);
  EXPECT_GE(Find(messages, "ERROR nobody.ini: [No_Such_Car]: no such car in Data_Car - file skipped"), 0)
      << Lines(messages);
#endif
  EXPECT_EQ(messages[static_cast<size_t>(snapshot)].rfind(
                "snapshot: 13 table(s), " + std::to_string(rows) + " row(s) in gearloft.tables.sql (", 0),
            0u)
      << messages[static_cast<size_t>(snapshot)];
  EXPECT_TRUE(game.Stop()) << game.Output();
}

TEST(ApplyRunTest, BootWindowResendsRestoreRowsOnlyWhileTheGameIsYoung) {
  constexpr int kBootUntil = 6;
  GameFolder game("boot");
  game.WriteSettings("garage_lod = 0\r\nfirst_call_age = 0\r\nboot_until = " + std::to_string(kBootUntil) +
                     "\r\nresend = 1\r\npoll_ms = 100\r\n");
  TableDump pristine;
  ASSERT_TRUE(CreateDatabase(game, &pristine));
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18\r\n");
  game.Start({});
  ASSERT_GE(game.WaitFor("applied 1 statement(s) from 1 file(s), all read back", 0, kFirstApplySeconds), 0)
      << game.Output();
  const std::string row = RimRow(7004, 7, 4, 18, 2000, 1.36);
  ASSERT_EQ(RowNow(game, kRimFront, 7004), row);

  // While the game is young a row the game loses (here: the game deletes it itself) comes back with the
  // next re-send, at most a second later.
  ASSERT_LT(game.SecondsSinceStart(), kBootUntil - 2.5) << "the game took too long to apply its plan";
  ASSERT_TRUE(game.RequestTables("DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004")) << game.Output();
  ASSERT_EQ(GameDatabase(game.TablesPath()).RowWithId(kRimFront, 7004), "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kBootUntil + 10);
  while (RowNow(game, kRimFront, 7004).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(RowNow(game, kRimFront, 7004), row);
  EXPECT_LT(game.SecondsSinceStart(), kBootUntil + 1.0);

  // Once the boot window has closed nothing is sent again: the row stays gone for three re-send intervals.
  while (game.SecondsSinceStart() < kBootUntil + 1.0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const size_t lines = game.Messages().size();
  ASSERT_TRUE(game.RequestTables("DELETE FROM List_UpgradeRimSizeFront WHERE Id = 7004")) << game.Output();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(RowNow(game, kRimFront, 7004), "");
  EXPECT_EQ(game.Messages().size(), lines) << Lines(game.Messages());
  EXPECT_TRUE(game.Stop()) << game.Output();
}

}  // namespace
}  // namespace gearloft

#endif  // GEARLOFT_DEVHOST_EXE && GEARLOFT_LIBRARY_FILE
