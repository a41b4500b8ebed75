// gearloft script tests: the folder listing and its order, the change test, reading script files, and
// loading a folder into one plan with its log lines and plan file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <new>
#include <random>
#include <sstream>

#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "fixture_db.h"
#include "hostdb/hostdb.h"
#include "platform/testing.h"
#include "runtime/log.h"
#include "scripts/scripts.h"
#include "support/support.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> NamesOf(const ScriptListing& listing) {
  std::vector<std::string> names;
  for (const ScriptEntry& entry : listing) names.push_back(entry.name);
  return names;
}

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("gearloft-scripts-" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directories(folder_));
    SetWatchedFolder(folder_.string());
    Paths paths;
    paths.log_file = (folder_ / "gearloft.log").string();
    paths.previous_log = paths.log_file + ".1";
    OpenLog(paths);
    ASSERT_TRUE(LogIsOpen());
  }
  void TearDown() override {
    platform::SetRefuseHook(nullptr);
    CloseLog();
    SetWatchedFolder("");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream out(folder_ / name, std::ios::binary);
    out << content;
  }
  // The messages logged so far, without their time and age prefix; ends logging for the test.
  std::vector<std::string> LogMessages() {
    CloseLog();
    std::vector<std::string> messages;
    for (const std::string& line : test::TextLines(test::ReadWhole(folder_ / "gearloft.log"))) {
      const size_t end_of_prefix = line.find("s] ");
      messages.push_back(end_of_prefix == std::string::npos ? line : line.substr(end_of_prefix + 3));
    }
    return messages;
  }
  std::vector<std::string> PlanFileLines() {
    return test::TextLines(test::ReadWhole(folder_ / "gearloft.plan.sql"));
  }

  fs::path folder_;
};

TEST(CompareNamesNoCaseTest, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(CompareNamesNoCase("Kestrel.INI", "kestrel.ini"), 0);
  EXPECT_NE(CompareNamesNoCase("\xC3\xA9.ini", "\xC3\x89.ini"), 0);  // e acute against E acute
  EXPECT_LT(CompareNamesNoCase("x_.ini", "xA.ini"), 0);
  EXPECT_GT(CompareNamesNoCase("xa.ini", "x_.ini"), 0);
}

TEST(CompareNamesNoCaseTest, PrefixSortsFirst) {
  EXPECT_LT(CompareNamesNoCase("car", "car.ini"), 0);
  EXPECT_GT(CompareNamesNoCase("CAR.ini", "car"), 0);
  EXPECT_EQ(CompareNamesNoCase("", ""), 0);
}

TEST(CompareNamesNoCaseTest, ComparesUtf16CodeUnits) {
  // U+1F600 is stored as surrogates from D83D, below U+FFFD, although its UTF-8 bytes sort above.
  EXPECT_LT(CompareNamesNoCase("\xF0\x9F\x98\x80.ini", "\xEF\xBF\xBD.ini"), 0);
  EXPECT_GT(CompareNamesNoCase("\xEF\xBC\xA1.ini", "\xF0\x9F\x98\x80.ini"), 0);  // U+FF21 above D83D
  // A byte that starts no UTF-8 sequence stands for U+FFFD, as the system's conversion gives it.
  EXPECT_EQ(CompareNamesNoCase("\xFF.ini", "\xEF\xBF\xBD.ini"), 0);
}

TEST(SameScriptsTest, NamesCompareWithoutCaseAndStampsExactly) {
  const ScriptListing a = {{"A.ini", 1}, {"b.ini", 2}};
  EXPECT_TRUE(SameScripts(a, {{"a.INI", 1}, {"B.ini", 2}}));
  EXPECT_FALSE(SameScripts(a, {{"A.ini", 1}, {"b.ini", 3}}));
  EXPECT_FALSE(SameScripts(a, {{"A.ini", 1}, {"c.ini", 2}}));
  EXPECT_FALSE(SameScripts(a, {{"A.ini", 1}}));
  EXPECT_TRUE(SameScripts({}, {}));
}

TEST_F(LoaderTest, ListingIsSortedWithoutCase) {
  Write("b.ini", "");
  Write("A.ini", "");
  Write("c.INI", "");
  Write("notes.txt", "");
  EXPECT_EQ(NamesOf(ListScripts()), (std::vector<std::string>{"A.ini", "b.ini", "c.INI"}));
}

TEST_F(LoaderTest, UnderscoreSortsBeforeLetters) {
  Write("xA.ini", "");
  Write("x_.ini", "");
  EXPECT_EQ(NamesOf(ListScripts()), (std::vector<std::string>{"x_.ini", "xA.ini"}));
}

TEST_F(LoaderTest, FolderNamedLikeAScriptIsNotListed) {
  ASSERT_TRUE(fs::create_directory(folder_ / "x.ini"));
  Write("a.ini", "");
  EXPECT_EQ(NamesOf(ListScripts()), (std::vector<std::string>{"a.ini"}));
}

TEST_F(LoaderTest, MissingFolderGivesAnEmptyListing) {
  SetWatchedFolder((folder_ / "absent").string());
  EXPECT_TRUE(ListScripts().empty());
}

TEST_F(LoaderTest, StampJoinsWriteTimeAndTwiceTheSize) {
  Write("a.ini", std::string(1000, 'x'));
  const ScriptListing listing = ListScripts();
  const std::vector<platform::DirEntry> entries = platform::ListFolder(folder_.string(), ".ini");
  ASSERT_EQ(listing.size(), 1u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(listing[0].stamp, entries[0].write_time ^ 2000u);
}

TEST_F(LoaderTest, RewrittenScriptChangesTheListing) {
  Write("a.ini", "[7]\n");
  const ScriptListing before = ListScripts();
  EXPECT_TRUE(SameScripts(before, ListScripts()));
  const fs::file_time_type written = fs::last_write_time(folder_ / "a.ini");
  Write("a.ini", "[7]\nrim_sizes = 18\n");
  fs::last_write_time(folder_ / "a.ini", written);  // same time: only the size tells
  EXPECT_FALSE(SameScripts(before, ListScripts()));
}

TEST_F(LoaderTest, ScriptFileIsReadAsRawBytes) {
  const std::string bytes =
      std::string("\xEF\xBB\xBF[7]\r\nx = 1\x1A\r\n", 15) + std::string(1, '\0') + "tail";
  Write("raw.ini", bytes);
  const ScriptText text = ReadScriptFile((folder_ / "raw.ini").string());
  EXPECT_TRUE(text.ok);
  EXPECT_EQ(text.bytes, bytes);
}

TEST_F(LoaderTest, EmptyScriptIsReadAsEmptyBytes) {
  Write("empty.ini", "");
  const ScriptText text = ReadScriptFile((folder_ / "empty.ini").string());
  EXPECT_TRUE(text.ok);
  EXPECT_EQ(text.bytes, "");
}

TEST_F(LoaderTest, FolderIsNotARegularFile) {
  ASSERT_TRUE(fs::create_directory(folder_ / "x.ini"));
  const ScriptText text = ReadScriptFile((folder_ / "x.ini").string());
  EXPECT_FALSE(text.ok);
  EXPECT_FALSE(text.again);
  EXPECT_EQ(text.error, "not a regular file");
}

std::atomic<int> refused_opens{0};

bool RefuseLockedScript(const char* operation, const std::string& path) {
  if (std::string(operation) != "open" || path.size() < 10 ||
      path.compare(path.size() - 10, 10, "locked.ini") != 0) {
    return false;
  }
  ++refused_opens;
  return true;
}

TEST_F(LoaderTest, LockedScriptFailsAfterFiftyAttempts) {
  Write("locked.ini", "[7]\nrim_sizes = 18\n");
  refused_opens = 0;
  platform::SetRefuseHook(RefuseLockedScript);
  const ScriptText text = ReadScriptFile((folder_ / "locked.ini").string());
  EXPECT_FALSE(text.ok);
  EXPECT_TRUE(text.again);
  EXPECT_EQ(text.error, "cannot be read (another program may hold it open)");
  EXPECT_EQ(refused_opens.load(), 50);
}

TEST(PrintableTextTest, ControlBytesAndBrokenUtf8BecomeEscapes) {
  EXPECT_EQ(PrintableText(std::string("a\0b\x1F\x7F\tc", 7)), "a\\x00b\\x1F\\x7F\tc");
  EXPECT_EQ(PrintableText("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  // A lone byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF.
  EXPECT_EQ(PrintableText("\xFF|\xE2\x82|\xC0\x80|\xED\xA0\x80|\xF4\x90\x80\x80"),
            "\\xFF|\\xE2\\x82|\\xC0\\x80|\\xED\\xA0\\x80|\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(PrintableText("C:\\games\\x.ini"), "C:\\games\\x.ini");
}

TEST_F(LoaderTest, LockedScriptIsSkippedAndReadAgainOnceItOpens) {
  Write("locked.ini", "; held\n");
  platform::SetRefuseHook(RefuseLockedScript);
  const ScriptListing first = ListScripts();
  EXPECT_TRUE(LoadPlan(first, PreviousRowIds()).statements.empty());
  EXPECT_TRUE(PlanFileLines().empty());
  // Still held: the listing stays as it was, so the worker neither reloads nor logs it again.
  EXPECT_TRUE(SameScripts(first, ListScripts()));
  EXPECT_TRUE(SameScripts(first, ListScripts()));
  // Released: the very next listing shows it changed, and the load that follows reads it.
  platform::SetRefuseHook(nullptr);
  const ScriptListing freed = ListScripts();
  EXPECT_FALSE(SameScripts(first, freed));
  LoadPlan(freed, PreviousRowIds());
  EXPECT_EQ(PlanFileLines(), (std::vector<std::string>{"-- locked.ini"}));
  // Read at last: the listing settles.
  EXPECT_TRUE(SameScripts(freed, ListScripts()));
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "ERROR locked.ini: cannot be read (another program may hold it open) - file skipped",
                "loaded locked.ini: , 0 statement(s)"}));
}

TEST_F(LoaderTest, ScriptPastTheSizeLimitIsSkippedWithItsSize) {
  {
    // Sparse where the file system allows: only the last byte is written.
    std::ofstream out(folder_ / "big.ini", std::ios::binary);
    out.seekp(17825792 - 1);
    out.put(';');
  }
  Write("small.ini", "; fine\n");
  const ScriptListing listing = ListScripts();
  LoadPlan(listing, PreviousRowIds());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "ERROR big.ini: 17825792 bytes is past the 16777216-byte limit for a script - file skipped",
                "loaded small.ini: , 0 statement(s)"}));
  // It is not read again until it changes.
  EXPECT_TRUE(SameScripts(listing, ListScripts()));
}

TEST_F(LoaderTest, ScriptAtTheSizeLimitIsRead) {
  std::string content = "; " + std::string(16777216 - 3, 'x') + "\n";
  Write("edge.ini", content);
  LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"loaded edge.ini: , 0 statement(s)"}));
}

TEST_F(LoaderTest, ScriptBytesThatAreNotTextAreLoggedAsEscapes) {
  Write("nul2.ini", std::string("[Kestrel\0_GT]\n", 14));
  Write("odd.ini", "[a\x7F\xFF\xC3\xA9\tb]\n");
  LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "ERROR nul2.ini: [Kestrel\\x00_GT]: bad car name - file skipped",
                               "ERROR odd.ini: [a\\x7F\\xFF\xC3\xA9\tb]: bad car name - file skipped"}));
}

TEST_F(LoaderTest, Utf16ScriptSaysHowToSaveIt) {
  Write("wide.ini", std::string("\xFF\xFE[\0"
                                "7\0]\0",
                                8));
  LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "ERROR wide.ini: file is saved as UTF-16 - save it as UTF-8 - file skipped"}));
}

TEST_F(LoaderTest, OutOfMemoryInOneScriptNamesItAndReadsItAgain) {
  Write("a.ini", "[7]\n");
  Write("b.ini", "; fine\n");
  const QueryFn exhausted = [](const std::string&) -> QueryResult { throw std::bad_alloc(); };
  const ScriptListing listing = ListScripts();
  Plan plan;
  EXPECT_NO_THROW(plan = LoadPlanWithQuery(listing, PreviousRowIds(), exhausted));
  const ScriptListing again = ListScripts();
  EXPECT_FALSE(SameScripts(listing, again));
  // Read at once: the next listing is the one it was read from, so the worker loads it only once more.
  LoadPlan(again, PreviousRowIds());
  EXPECT_TRUE(SameScripts(again, ListScripts()));
  EXPECT_EQ(
      LogMessages(),
      (std::vector<std::string>{
          "ERROR a.ini: out of memory while loading it - file skipped", "loaded b.ini: , 0 statement(s)",
          "ERROR a.ini: [7]: no such car in Data_Car - file skipped", "loaded b.ini: , 0 statement(s)"}));
}

#if !defined(_WIN32)
// Windows refuses control characters in file names; Linux keeps them.
TEST_F(LoaderTest, FileNameBytesThatAreNotTextAreLoggedAsEscapes) {
  Write("ctl\x01.ini", "; fine\n");
  LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"loaded ctl\\x01.ini: , 0 statement(s)"}));
}

TEST_F(LoaderTest, FifoIsSkippedWithoutOpeningIt) {
  const std::string fifo = (folder_ / "fifo.ini").string();
  ASSERT_EQ(platform::RunProgram("/usr/bin/mkfifo", {fifo}, (folder_ / "mkfifo.txt").string()), 0);
  Write("after.ini", "; fine\n");
  std::future<Plan> load =
      std::async(std::launch::async, [] { return LoadPlan(ListScripts(), PreviousRowIds()); });
  if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the load blocked on the FIFO";
    std::ofstream writer(fifo);  // lets a reader blocked in its open go on
  }
  load.get();
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"loaded after.ini: , 0 statement(s)",
                                                     "ERROR fifo.ini: not a regular file - file skipped"}));
}
#endif

TEST_F(LoaderTest, LoadWithoutScriptsEmptiesThePlanFile) {
  Write("gearloft.plan.sql", "-- old.ini\nDELETE FROM x;\n");
  const Plan plan = LoadPlan(ScriptListing(), PreviousRowIds());
  EXPECT_TRUE(plan.statements.empty());
  EXPECT_EQ(test::ReadWhole(folder_ / "gearloft.plan.sql"), "");
}

TEST_F(LoaderTest, FailedScriptIsLoggedAndLeavesNoTraceInThePlanFile) {
  Write("bad.ini", "[7]\nrim_sizes = 18\n[x\n");
  Write("empty.ini", "; nothing yet\n");
  const Plan plan = LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_TRUE(plan.statements.empty());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"ERROR bad.ini: line 3: bad section header - file skipped",
                                      "loaded empty.ini: , 0 statement(s)"}));
  EXPECT_EQ(PlanFileLines(), (std::vector<std::string>{"-- empty.ini"}));
}

TEST_F(LoaderTest, LoadAsksTheGameThroughTheQueryCache) {
  // No game database is current here, so every car look-up goes unanswered.
  SetCurrentForTest(0);
  Write("a.ini", "[7]\n");
  const Plan plan = LoadPlan(ListScripts(), PreviousRowIds());
  EXPECT_TRUE(plan.statements.empty());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"ERROR a.ini: [7]: no such car in Data_Car - file skipped"}));
}

TEST_F(LoaderTest, PlanFileHoldsTheStatementsOfEveryLoadedScript) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  Write("b.ini", "[Kestrel_GT]\ntrack_spacings_rear = 1.6\n[8]\n");
  Write("A.ini", "[7]\nrim_sizes_front = 18, 19\n");
  Write("c.ini", "[7]\nbogus = 1\n");
  const Plan plan = LoadPlanWithQuery(ListScripts(), PreviousRowIds(), db.Query());
  EXPECT_TRUE(plan.names.empty());
  ASSERT_EQ(plan.statements.size(), 3u);
  EXPECT_EQ(plan.undo.size(), 3u);
  EXPECT_EQ(plan.checks.size(), 3u);
  EXPECT_EQ(plan.added_rows.size(), 3u);
  EXPECT_EQ(plan.added_rows[2].table, "List_UpgradeCarBodyTrackSpacingRear");

  const std::vector<std::string> messages = LogMessages();
  EXPECT_EQ(messages, (std::vector<std::string>{"loaded A.ini: Kestrel_GT, 2 statement(s)",
                                                "loaded b.ini: Kestrel_GT, Orca_Coupe, 1 statement(s)",
                                                "ERROR c.ini: [7]: unknown key bogus - file skipped"}));
  const std::vector<std::string> lines = PlanFileLines();
  EXPECT_EQ(lines, (std::vector<std::string>{"-- A.ini", plan.statements[0] + ";", plan.statements[1] + ";",
                                             "-- b.ini", plan.statements[2] + ";"}));
  // The plan file shows as many statements as the "loaded" lines count.
  size_t logged = 0;
  for (const std::string& message : messages) {
    const size_t count_at = message.rfind(", ");
    if (message.rfind("loaded ", 0) == 0) logged += std::stoul(message.substr(count_at + 2));
  }
  size_t statement_lines = 0;
  for (const std::string& line : lines) statement_lines += line.rfind("-- ", 0) == 0 ? 0 : 1;
  EXPECT_EQ(statement_lines, logged);
}

// ---- Two changes of one load to the same cell ----------------------------------------------------------

TEST_F(LoaderTest, CellSetAgainByALaterFileIsOneWarningAndTheLaterValueStays) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  // A plain key and an axle key, in two files and under two names of car 7.
  Write("a.ini", "[7]\nrim_stock = 18\n");
  Write("b.ini", "[0007]\nrim_front_stock = 19\n");
  const Plan plan = LoadPlanWithQuery(ListScripts(), PreviousRowIds(), db.Query());
  EXPECT_EQ(plan.statements,
            (std::vector<PlanStatement>{
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 18 WHERE Id = 7000",
                "UPDATE List_UpgradeRimSizeRear SET RearWheelDiameter = 18 WHERE Id = 7000",
                "UPDATE List_UpgradeRimSizeFront SET FrontWheelDiameter = 19 WHERE Id = 7000"}));
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"loaded a.ini: Kestrel_GT, 2 statement(s)",
                                      "loaded b.ini: Kestrel_GT, 1 statement(s)",
                                      "WARNING b.ini: [0007]: rim_front_stock sets List_UpgradeRimSizeFront "
                                      "FrontWheelDiameter of Id 7000 "
                                      "again (first set by a.ini: [7]: rim_stock) - the later value wins"}));
}

TEST_F(LoaderTest, TwoSectionsNamingOneCarInOneFileAreOneWarning) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  Write("c.ini",
        "[7]\ntrack_front_stock = 0.01\n[Kestrel_GT]\ntrack_front_stock = 0.02\nride_drop_front = 0.01\n"
        "[0007]\nride_drop_front = 0.02\n");
  LoadPlanWithQuery(ListScripts(), PreviousRowIds(), db.Query());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "loaded c.ini: Kestrel_GT, Kestrel_GT, Kestrel_GT, 4 statement(s)",
                "WARNING c.ini: [Kestrel_GT]: track_front_stock sets List_UpgradeCarBodyTrackSpacingFront "
                "Spacing of "
                "Id 7000 again (first set by c.ini: [7]: track_front_stock) - the later value wins",
                "WARNING c.ini: [0007]: ride_drop_front sets List_SpringDamperPhysics DefRideHeight, "
                "MinRideHeight, "
                "MaxRideHeight, MaxCompressHeight of SpringDamperPhysicsID 71 again (first set by c.ini: "
                "[Kestrel_GT]: ride_drop_front) - the later value wins"}));
}

TEST_F(LoaderTest, SameValueTwiceIsNoWarning) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  // 18.5 is written as 18, as rim_stock's 18 is; the same bonnet row twice, in one file and in two.
  Write("a.ini", "[7]\nrim_stock = 18\nhood_options = 3, 3\n");
  Write("b.ini", "[Kestrel_GT]\nrim_front_stock = 18.5\nhood_options = 3\n");
  const Plan plan = LoadPlanWithQuery(ListScripts(), PreviousRowIds(), db.Query());
  EXPECT_EQ(plan.statements.size(), 6u);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"loaded a.ini: Kestrel_GT, 4 statement(s)",
                                                     "loaded b.ini: Kestrel_GT, 2 statement(s)"}));
}

TEST(NoteCellWritesTest, RowAddedAgainWithOtherValuesKeepsTheFirst) {
  CellWrites cells;
  const std::vector<ChangeOrigin> a = {{"7", "hood_options"}};
  EXPECT_TRUE(NoteCellWrites(&cells, "a.ini", {"INSERT OR IGNORE INTO T (Id,X) VALUES (7001,1)"}, a).empty());
  const std::vector<ChangeOrigin> b = {{"8", "hood_options"}};
  EXPECT_EQ(
      NoteCellWrites(&cells, "b.ini", {"INSERT OR IGNORE INTO T (Id,X) VALUES (7001,2)"}, b),
      (std::vector<std::string>{"b.ini: [8]: hood_options adds T row Id 7001 again with other values (first "
                                "added by a.ini: [7]: hood_options) - the first one stays"}));
  // Told against the row that stays, and a third value of a cell against the second, which the cell holds.
  EXPECT_EQ(NoteCellWrites(&cells, "c.ini", {"INSERT OR IGNORE INTO T (Id,X) VALUES (7001,2)"}, b).size(),
            1u);
  EXPECT_TRUE(NoteCellWrites(&cells, "a.ini", {"UPDATE T SET X = 1 WHERE Id = 1"}, a).empty());
  EXPECT_TRUE(NoteCellWrites(&cells, "b.ini", {"UPDATE T SET X = 2 WHERE Id = 1"}, b).size() == 1u);
  EXPECT_EQ(NoteCellWrites(&cells, "c.ini", {"UPDATE T SET X = 3 WHERE Id = 1"}, a),
            (std::vector<std::string>{"c.ini: [7]: hood_options sets T X of Id 1 again (first set by b.ini: "
                                      "[8]: hood_options) - the later "
                                      "value wins"}));
}

TEST_F(LoaderTest, FailedScriptReleasesItsLevelsToTheNext) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  Write("a.ini", "[7]\nrim_sizes_front = 18, 19\n[Nope]\n");
  Write("b.ini", "[7]\nrim_sizes_front = 20, 21\n");
  Write("c.ini", "[7]\nrim_sizes_front = 22\n");
  const Plan plan = LoadPlanWithQuery(ListScripts(), PreviousRowIds(), db.Query());
  ASSERT_EQ(plan.added_rows.size(), 3u);
  EXPECT_EQ(plan.added_rows[0].values, "7004,7,4,0,20,2400,4.08,1.0,1.0,0");
  EXPECT_EQ(plan.added_rows[1].id, 7005);
  EXPECT_EQ(plan.added_rows[2].values, "7006,7,6,0,22,2800,6.8,1.0,1.0,0");
  EXPECT_EQ(LogMessages()[0], "ERROR a.ini: [Nope]: no such car in Data_Car - file skipped");
}

}  // namespace
}  // namespace gearloft
