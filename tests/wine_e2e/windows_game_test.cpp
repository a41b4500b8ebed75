// gearloft Windows end-to-end tests: gearloft.dll loaded with LoadLibraryW by gearloft-devhost.exe in a
// player's game folder, under Wine; what it did is read from its log, its plan file and the game's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

// A player's own script, named with a letter outside ASCII ("Ölfeld.ini" in UTF-8).
const char kOlfeld[] = "\xC3\x96lfeld.ini";

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The listing's order: names compared with ASCII letters folded, code unit by code unit.
std::vector<std::string> InListingOrder(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  return names;
}

// The number in "loaded <name>: <cars>, N statement(s)"; -1 when the message has another shape.
int StatementCount(const std::string& message) {
  static const std::regex& loaded = *new std::regex("^loaded .*, (\\d+) statement\\(s\\)$");
  std::smatch match;
  return std::regex_match(message, match, loaded) ? std::stoi(match[1]) : -1;
}

// A dumped row's table and key, its first two cells ("table|integer:7004").
std::string RowKey(const std::string& row) {
  const size_t table_end = row.find('|');
  return row.substr(0, row.find('|', table_end + 1));
}

// Rows of `after` whose key `before` lacks, and rows whose key it has with other cells.
void CompareDumps(const std::vector<std::string>& before, const std::vector<std::string>& after,
                  size_t* added, size_t* changed) {
  std::map<std::string, std::string> rows;
  for (const std::string& row : before) rows[RowKey(row)] = row;
  *added = 0;
  *changed = 0;
  for (const std::string& row : after) {
    const auto it = rows.find(RowKey(row));
    if (it == rows.end()) ++*added;
    if (it != rows.end() && it->second != row) ++*changed;
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(WindowsGameTest, ScriptsApplyThenReapplyInPlaceThenRemovingThemRestoresEveryTable) {
  WindowsGame game("apply");
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  std::vector<std::string> original;
  std::string car;
  {
    GameDatabase db(game.DatabaseFile());
    original = DumpLines(db.Dump());
    const std::vector<std::string> names = db.Rows("SELECT MediaName FROM Data_Car WHERE Id = 42");
    ASSERT_EQ(names.size(), 1u) << db.Error();
    car = names[0].substr(std::string("text:").size());
  }
  std::vector<std::string> scripts = game.CopyExamples();
  ASSERT_FALSE(scripts.empty());
  game.WriteScript(kOlfeld, "; rims of my own\r\n[0042]\r\nrim_sizes_front = 21\r\n");
  scripts = InListingOrder(scripts);
  scripts.push_back(kOlfeld);  // its first letter sorts after every ASCII one
  // Neither a folder whose name ends in ".ini" nor a file of another type is a script.
  fs::create_directory(game.ScriptsFolder() / "folder.ini");
  ASSERT_TRUE(WriteWhole(game.ScriptsFolder() / "notes.txt", "not a script"));

  game.Start({});
  const int applied = game.WaitFor("applied ");
  ASSERT_GE(applied, 0) << game.Output();
  std::vector<std::string> messages = game.Messages();
  ASSERT_EQ(static_cast<size_t>(applied), 4 + scripts.size()) << Joined(messages);
  EXPECT_EQ(messages[0], "gearloft 0.1.0 - watching " + game.WatchedFolderText() +
                             " (first DB call at 0s, boot re-send until 0s)");
  EXPECT_EQ(messages[1], "CDatabase global resolved (1)");
  // The call site, its global and ExecuteQuery all lie in the game's own image.
  EXPECT_TRUE(std::regex_match(
      messages[2],
      std::regex("probing: global exe\\+0x[0-9a-f]+ -> obj [0-9A-F]{16}, ExecuteQuery exe\\+0x[0-9a-f]+")))
      << messages[2];
  EXPECT_EQ(messages[3], "DB live");
  int statements = 0;
  for (size_t i = 0; i < scripts.size(); ++i) {
    const std::string& message = messages[4 + i];
    EXPECT_EQ(message.rfind("loaded " + scripts[i] + ": ", 0), 0u) << message;
    EXPECT_GE(StatementCount(message), 0) << message;
    statements += StatementCount(message);
  }
  EXPECT_EQ(messages[static_cast<size_t>(applied) - 1],
            "loaded " + std::string(kOlfeld) + ": " + car + ", 1 statement(s)");
  EXPECT_EQ(messages[static_cast<size_t>(applied)],
            "applied " + std::to_string(statements) + " statement(s) from " + std::to_string(scripts.size()) +
                " file(s), all read back");
  const std::string plan = ReadWhole(game.PlanFile());
  EXPECT_NE(
      plan.find("\r\n-- " + std::string(kOlfeld) + "\r\nINSERT OR IGNORE INTO List_UpgradeRimSizeFront "),
      std::string::npos)
      << plan;

  std::string id;
  size_t added = 0;
  size_t edited = 0;
  {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    CompareDumps(original, DumpLines(db.Dump()), &added, &edited);
    // The example scripts edit stock rows as well as adding upgrades.
    EXPECT_GT(edited, 0u);
    const std::vector<std::string> rows = db.Rows(
        "SELECT Id, Level, IsStock FROM List_UpgradeRimSizeFront WHERE Ordinal = 42 AND FrontWheelDiameter = "
        "21");
    ASSERT_EQ(rows.size(), 1u) << db.Error();
    id = rows[0].substr(0, rows[0].find('|')).substr(std::string("integer:").size());
    EXPECT_EQ(rows[0].substr(rows[0].rfind('|')), "|integer:0");
  }

  // An edit while the game runs: the row the script added stays under its Id and takes the new size.
  game.WriteScript(kOlfeld, "; rims of my own\r\n[0042]\r\nrim_sizes_front = 22\r\n");
  const int changed = game.WaitFor("folder changed - re-applying in place", applied + 1);
  ASSERT_GT(changed, applied) << game.Output();
  const int reapplied = game.WaitFor("applied ", changed);
  ASSERT_GT(reapplied, changed) << Joined(game.Messages());
  messages = game.Messages();
  const int summary = Find(messages, "re-apply: ", changed);
  ASSERT_GT(summary, changed) << Joined(messages);
  const std::string summary_line = messages[static_cast<size_t>(summary)];
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      summary_line, match,
      std::regex("re-apply: (\\d+) added row\\(s\\) kept in place \\(1 updated\\), 0 removed")))
      << summary_line;
  const std::string kept = match[1].str();
  // Every row the scripts added is one the re-apply kept.
  EXPECT_EQ(kept, std::to_string(added));
  EXPECT_EQ(messages[static_cast<size_t>(reapplied)], messages[static_cast<size_t>(applied)]);
  {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    EXPECT_EQ(db.Rows("SELECT FrontWheelDiameter FROM List_UpgradeRimSizeFront WHERE Id = " + id),
              std::vector<std::string>{"integer:22"});
    EXPECT_EQ(
        db.Rows("SELECT Id FROM List_UpgradeRimSizeFront WHERE Ordinal = 42 AND FrontWheelDiameter = 21"),
        std::vector<std::string>{});
    EXPECT_TRUE(db.Error().empty()) << db.Error();
  }

  // Every script removed: each added row goes, each edited value comes back.
  for (const std::string& script : scripts) game.RemoveScript(script);
  const int emptied = game.WaitFor("re-apply: ", summary + 1);
  ASSERT_GT(emptied, summary) << Joined(game.Messages());
  messages = game.Messages();
  EXPECT_EQ(messages[static_cast<size_t>(emptied)],
            "re-apply: 0 added row(s) kept in place (0 updated), " + kept + " removed");
  EXPECT_EQ(ReadWhole(game.PlanFile()), "");
  {
    ASSERT_TRUE(game.RequestTables()) << game.Output();
    GameDatabase db(game.TablesFile());
    EXPECT_EQ(DumpLines(db.Dump()), original);
    EXPECT_TRUE(db.Error().empty()) << db.Error();
  }

  EXPECT_EQ(game.Stop(), 0) << game.Output();
  messages = game.Messages();
  EXPECT_EQ(Find(messages, "loaded folder.ini"), -1) << Joined(messages);
  EXPECT_EQ(Find(messages, "applied ", reapplied + 1), -1) << Joined(messages);
  EXPECT_EQ(Find(messages, "ERROR", 0), Find(messages, std::string("ERROR ") + WindowsGame::kStopScript))
      << Joined(messages);
}

// A statement that faults inside the game's ExecuteQuery (an access violation, or a C++ exception thrown
// out of it) is contained by the guard: the apply misses, the worker re-probes twice, then holds; the
// game keeps running, the worker still loads a script written afterwards, and the tables stay as they were.
void ExpectFaultContained(const std::string& kind) {
  WindowsGame game("fault-" + kind);
  std::string error;
  ASSERT_TRUE(game.MakeDatabase(&error)) << error;
  std::vector<std::string> original;
  {
    GameDatabase db(game.DatabaseFile());
    original = DumpLines(db.Dump());
  }
  game.WriteScript("kestrel.ini", "[Kestrel_GT]\r\nrim_sizes_front = 18\r\n");
  game.Start({"--fault-on", "INSERT OR IGNORE INTO List_UpgradeRimSizeFront", "--fault-kind", kind});
  const int held =
      game.WaitFor("ERROR: apply missed 3 times in a row - holding until scripts\\tunebay changes");
  ASSERT_GE(held, 0) << Joined(game.Messages()) << game.Output();
  EXPECT_EQ(game.Stop(), 0) << game.Output();

  const std::vector<std::string> messages = game.Messages();
  const std::string failed = "exec failed: INSERT OR IGNORE INTO List_UpgradeRimSizeFront (Id,";
  int at = Find(messages, "DB live");
  for (int attempt = 1; attempt <= 2; ++attempt) {
    at = Find(messages, failed, at);
    ASSERT_GE(at, 0) << Joined(messages);
    const std::string reprobe =
        "rows not visible after apply - re-probing CDatabase (attempt " + std::to_string(attempt) + "/3)";
    EXPECT_EQ(messages[static_cast<size_t>(at) + 1], reprobe) << Joined(messages);
    EXPECT_EQ(messages[static_cast<size_t>(at) + 2], "DB live") << Joined(messages);
    at += 3;
  }
  EXPECT_EQ(Find(messages, failed, at), held - 1) << Joined(messages);
  EXPECT_GT(Find(messages, std::string("ERROR ") + WindowsGame::kStopScript, held), held) << Joined(messages);
  EXPECT_EQ(Find(messages, "applied "), -1) << Joined(messages);
  // The game itself went on: its own query answered, and it reached its last line.
  const std::string output = game.Output();
  EXPECT_NE(output.find("devhost: the game's own query answered: 48 car(s)"), std::string::npos) << output;
  EXPECT_TRUE(std::regex_search(output, std::regex("devhost: \\d+ ExecuteQuery call\\(s\\)\r?\n$")))
      << output;
  GameDatabase db(game.TablesFile());
  EXPECT_EQ(DumpLines(db.Dump()), original);
}

TEST(WindowsGameTest, AccessViolationInsideExecuteQueryIsContained) {
  ExpectFaultContained("segv");
}

TEST(WindowsGameTest, CppExceptionThrownOutOfExecuteQueryIsContained) {
  ExpectFaultContained("throw");
}

}  // namespace
}  // namespace gearloft::wine_e2e
