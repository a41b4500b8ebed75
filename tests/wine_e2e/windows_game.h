// gearloft Windows end-to-end support: a game folder as a player has it (gearloft-devhost.exe, gearloft.dll,
// the fixture database, scripts\gearloft.ini, car scripts), the game run as its own process, its log and
// plan file read as bytes, and its SQLite file read from outside the game.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/support.h"
#include "support/tables.h"

namespace gearloft::wine_e2e {

namespace fs = std::filesystem;

// Settings for a game that starts working at once: no garage fix, no age wait, no boot re-sends.
extern const char kQuickSettings[];

using test::DumpLines;
using test::GameDatabase;
using test::ReadWhole;
using test::WriteWhole;

// A query trace ("<byte count> <text>\n" per statement) without the entries that are `statement`: the
// simulated game's own once-a-second query lands in it as timing allows.
std::string TraceWithout(const std::string& trace, const std::string& statement);

// Index of the first message at or after `from` that begins with `prefix`; -1 when there is none.
int Find(const std::vector<std::string>& messages, const std::string& prefix, int from = 0);

class WindowsGame {
 public:
  // A script that never compiles; a game started by Start exits when the log names it.
  static constexpr const char* kStopScript = "zz_wine_stop.ini";

  explicit WindowsGame(const std::string& name);
  // A game whose folder's path is exactly `folder_length` characters long, padded with a folder of its own.
  WindowsGame(const std::string& name, size_t folder_length);
  ~WindowsGame();
  WindowsGame(const WindowsGame&) = delete;
  WindowsGame& operator=(const WindowsGame&) = delete;

  const fs::path& Folder() const { return folder_; }
  fs::path ScriptsFolder() const { return folder_ / "scripts" / "tunebay"; }
  fs::path LogFile() const { return ScriptsFolder() / "gearloft.log"; }
  fs::path PlanFile() const { return ScriptsFolder() / "gearloft.plan.sql"; }
  // The game's own database file, which it loads at every start and never changes.
  fs::path DatabaseFile() const { return folder_ / "devhost.db"; }
  // Where the game writes its tables when it exits, and when asked while it runs.
  fs::path TablesFile() const { return folder_ / "tables.db"; }
  // The folder as the game names it in its banner ("C:\...\scripts\tunebay").
  std::string WatchedFolderText() const;

  // scripts\gearloft.ini with section [gearloft] holding `lines`.
  void WriteSettings(const std::string& lines);
  // Writes a car script (UTF-8 name) whole: written under another name first and renamed in, so the
  // worker never lists a half-written file.
  void WriteScript(const std::string& name, const std::string& text);
  void RemoveScript(const std::string& name);
  // Copies every example script in; gives their names.
  std::vector<std::string> CopyExamples();

  // The fixture database in the game folder; false and `error` when it could not be made.
  bool MakeDatabase(std::string* error);

  // Runs the game to its end with these arguments, and with TablesFile as its dump; its exit code.
  int Run(const std::vector<std::string>& arguments);
  // Starts the game in the background with `flags`; it runs until Stop (at most 120 s).
  void Start(std::vector<std::string> flags);
  // Starts the game in the background with exactly these arguments; Wait gives its exit code.
  void StartWith(const std::vector<std::string>& arguments);
  // Ends a game started by Start with the stop script, which the worker must still list and load; the
  // game's exit code.
  int Stop();
  int Wait();
  // Asks the running game for its tables and waits for them (at most 30 s); with `sql`, the game first
  // runs it as its own change of its tables. True when TablesFile holds the tables asked for.
  bool RequestTables(const std::string& sql = "") const;

  // The log's complete lines without their time and age prefix; a line still being written is left out.
  std::vector<std::string> Messages() const;
  // Waits until a message at or after `from` begins with `prefix`; its index, or -1 after `seconds`.
  int WaitFor(const std::string& prefix, int from = 0, double seconds = 60) const;
  // What the game printed (standard output and error).
  std::string Output() const;

 private:
  fs::path folder_;
  fs::path executable_;
  std::thread child_;
  std::atomic<int> exit_code_{-1};
  std::atomic<bool> running_{false};
};

}  // namespace gearloft::wine_e2e
