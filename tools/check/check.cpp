// gearloft-check: one run of the checker. Lists the scripts as the worker does, compiles them with the
// worker's compiler through the host bridge into an in-memory copy of the game's tables (held by the
// simulated game's database object), finds the line each error is about, and on request applies the
// plan with ApplyPlan, shows every changed row and takes the plan back with its own undo list.
#include "check/check.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <system_error>
#include <utility>

#include <CLI/CLI.hpp>

#include "apply/apply.h"
#include "check/cars.h"
#include "check/game_tables.h"
#include "check/report.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "devhost/devhost.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "scripts/scripts.h"

namespace gearloft::check {

namespace {

struct Options {
  std::string db;
  bool plan = false;
  bool apply = false;
  bool json = false;
  bool strict = false;     // a warning fails the run
  bool list_cars = false;  // --cars: list cars instead of checking scripts
  std::string cars_text;   // what --cars looks for ("" = every car)
  std::string car;         // --car: show one car instead of checking scripts
  std::vector<std::string> paths;
};

struct ScriptFile {
  std::string path;
  std::string name;
};

// ---- Arguments and paths ------------------------------------------------------------------------------

// -1 when the run goes on; otherwise the exit status (help and version end the run with 0).
int ParseOptions(const std::vector<std::string>& args, Options* options, std::ostream& out,
                 std::ostream& err) {
  CLI::App app{
      "Checks gearloft car scripts against a copy of the game's tables, with the worker's own parser, "
      "compiler and apply code. Exit status: 0 every file compiles, 1 some file (or --apply) failed, 2 bad "
      "usage or an unreadable database.",
      "gearloft-check"};
  // A path may begin with '/' on Windows too; only "--" starts an option.
  app.allow_windows_style_options(false);
  CLI::Option* db = app.add_option("--db", options->db,
                                   "SQLite database with the game's tables (default: the bundled fixture)");
  db->type_name("FILE");
  app.add_flag("--plan", options->plan, "print the compiled statements as the plan file holds them");
  app.add_flag("--apply", options->apply,
               "apply the plan to an in-memory copy of the database, show every changed row, and prove "
               "that the undo list restores the original");
  app.add_flag("--json", options->json, "print one JSON document instead of lines");
  app.add_flag(
      "--strict", options->strict,
      "exit with 1 when a file has a warning (a cell set twice, a value far outside the data's own)");
  CLI::Option* cars =
      app.add_option("--cars", options->cars_text,
                     "list the cars whose MediaName contains TEXT (any letter case) or whose Id "
                     "is TEXT, as 'Id  MediaName'; every car without TEXT")
          ->expected(0, 1)
          ->type_name("[TEXT]");
  CLI::Option* car =
      app.add_option("--car", options->car,
                     "show one car's rows in every table a key touches, and the next free Level "
                     "of each")
          ->type_name("NAME|ID");
  CLI::Option* paths =
      app.add_option("PATH", options->paths,
                     "a car script, or a folder whose *.ini scripts are checked (with --cars or --car: where "
                     "to look for the game's snapshot)")
          ->type_name("PATH");
  app.set_version_flag("--version", std::string("gearloft-check ") + kVersion);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error, out, err);  // --help, --version
    err << "gearloft-check: " << error.what() << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  if (db->count() > 0 && options->db.empty()) {
    err << "gearloft-check: --db needs a file name\n";
    return kExitUsage;
  }
  options->list_cars = cars->count() > 0;
  if (paths->count() == 0 && !options->list_cars && car->count() == 0) {
    err << "gearloft-check: PATH is required\nRun with --help for more information.\n";
    return kExitUsage;
  }
  return -1;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  const std::string separator = platform::PathSeparator();
  if (!folder.empty() && (folder.back() == '/' || folder.back() == separator.back())) return folder + name;
  return folder + separator + name;
}

bool CollectScripts(const std::vector<std::string>& paths, std::vector<ScriptFile>* files,
                    std::string* problem) {
  for (const std::string& path : paths) {
    std::error_code ignored;
    const std::filesystem::path native = std::filesystem::u8path(path);
    const std::filesystem::file_status status = std::filesystem::status(native, ignored);
    if (std::filesystem::is_directory(status)) {
      for (const ScriptEntry& entry : ListScriptsIn(path)) {
        files->push_back(ScriptFile{JoinPath(path, entry.name), entry.name});
      }
    } else if (std::filesystem::is_regular_file(status)) {
      files->push_back(ScriptFile{path, native.filename().u8string()});
    } else {
      *problem = "no such script file or folder: " + path;
      return false;
    }
  }
  return true;
}

// The snapshot the worker writes into the folder of `path` (a folder, or a script's file), when there is
// one; empty otherwise.
std::string SnapshotBeside(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path native = std::filesystem::u8path(path);
  const std::string snapshot = std::filesystem::is_directory(native, ignored)
                                   ? JoinPath(path, "gearloft.tables.sql")
                                   : (native.parent_path() / "gearloft.tables.sql").u8string();
  return std::filesystem::is_regular_file(std::filesystem::u8path(snapshot), ignored) ? snapshot
                                                                                      : std::string();
}

// "YYYY-MM-DD HH:MM:SS UTC" from the snapshot's first line; empty when it has none.
std::string SnapshotWritten(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::string prefix = kSnapshotWritten;
  return line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : std::string();
}

// ---- The game's database object over the copy ------------------------------------------------------------

// Finds the database object the way the worker does: the call-site scan of this program (which carries
// the simulated game's call site) and the probe SELECT.
bool MakeCurrent(devhost::Database* database, const std::string& shown_db, std::string* error) {
  devhost::SetGameDatabase(database);
  if (!ScanForCandidates()) {
    *error = "the ExecuteQuery call site was not found in this program";
    return false;
  }
  std::string message;
  if (!ProbeCandidates(&message)) {
    *error = shown_db + " does not answer the game's probe (" + kProbeSql + " must count rows): " + message;
    return false;
  }
  return true;
}

void Release(devhost::Database* database, sqlite3* copy) {
  ClearCurrent();
  devhost::SetGameDatabase(nullptr);
  devhost::CloseDatabase(database);
  sqlite3_close(copy);
}

// ---- Compiling and finding the line of an error -------------------------------------------------------

// The key a compiler message after "[name]: " is about. False when it names none.
bool KeyOfMessage(const CarSection& section, const std::string& detail, std::string* key) {
  if (detail == "empty key before '=' or ':'") {
    key->clear();
    return true;
  }
  const std::string unknown = "unknown key ";
  if (detail.compare(0, unknown.size(), unknown) == 0) {
    *key = detail.substr(unknown.size());
    return true;
  }
  const std::string word = detail.substr(0, detail.find(' '));
  const char* const axles[] = {"front", "rear"};
  // A list family's message names the plain key even when an axle's own key held the bad value: read
  // each axle's list as the compiler does and point at the one that does not parse.
  if (detail == word + " is not a number list") {
    for (const char* axle : axles) {
      auto found = section.keys.find(word + "_" + axle);
      if (found == section.keys.end()) found = section.keys.find(word);
      std::vector<double> numbers;
      if (found != section.keys.end() && !ParseNumberList(found->second, &numbers)) {
        *key = found->first;
        return true;
      }
    }
  }
  if (!word.empty() && section.keys.count(word) != 0) {
    *key = word;
    return true;
  }
  for (const char* axle : axles) {
    if (section.keys.count(word + "_" + axle) != 0) {
      *key = word + "_" + axle;
      return true;
    }
  }
  return false;
}

// The parser's "line " + N + ": " prefix: N, and the message after it in `rest`. 0 when the message does
// not begin so.
size_t ParserLine(const std::string& error, std::string* rest) {
  const std::string prefix = "line ";
  if (error.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t line = 0;
  size_t i = prefix.size();
  for (; i < error.size() && error[i] >= '0' && error[i] <= '9'; ++i) {
    line = line * 10 + static_cast<size_t>(error[i] - '0');
  }
  if (i == prefix.size() || error.compare(i, 2, ": ") != 0) return 0;
  *rest = error.substr(i + 2);
  return line;
}

// The line a compile error is about: the parser's own line; for a message about a key of the section
// that failed, the line of the value it kept; for any other message about it, the line of its header.
// 0 when none can be told.
size_t LineOfError(const std::string& content, const std::string& error, size_t failed_section) {
  if (failed_section == kNoSection) {
    std::string rest;
    return ParserLine(error, &rest);
  }
  CarScript script;
  std::string ignored;
  if (!ParseCarScript(content, &script, &ignored) || failed_section >= script.sections.size()) return 0;
  const CarSection& section = script.sections[failed_section];
  const std::string prefix = "[" + section.name + "]: ";
  if (error.compare(0, prefix.size(), prefix) != 0) return 0;
  std::string key;
  if (KeyOfMessage(section, error.substr(prefix.size()), &key)) {
    const auto found = section.key_lines.find(key);
    if (found != section.key_lines.end()) return found->second;
  }
  return section.line;
}

// The columns whose values a player writes (sizes, offsets, spacings, widths) and a slip of the finger or
// of the unit makes far too large or small: a rim of -5 where the data's rims span 13 to 22, a track
// spacing of 1.62 metres where its offsets reach 0.02.
bool IsPlayerValueColumn(const std::string& column) {
  static const char* const kColumns[] = {"FrontWheelDiameter",
                                         "RearWheelDiameter",
                                         "FrontTireAspectRatioOffset",
                                         "RearTireAspectRatioOffset",
                                         "Spacing",
                                         "FrontTireWidth",
                                         "RearTireWidth"};
  for (const char* name : kColumns) {
    if (column == name) return true;
  }
  return false;
}

// Splits "a,b" or "a = x, b = y" lists as the compiler writes them: no value holds a comma.
std::vector<std::string> SplitList(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = text.find(separator, begin);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(begin, end - begin));
    begin = end + separator.size();
  }
  return parts;
}

// (column, value) pairs a statement writes into its table: the SET list of an UPDATE, the column and
// value lists of an INSERT.
std::vector<std::pair<std::string, std::string>> WrittenValues(const std::string& statement,
                                                               std::string* table) {
  std::vector<std::pair<std::string, std::string>> written;
  const std::string update = "UPDATE ";
  const std::string insert = "INSERT OR IGNORE INTO ";
  if (statement.compare(0, update.size(), update) == 0) {
    const size_t set = statement.find(" SET ");
    const size_t where = statement.find(" WHERE ", set == std::string::npos ? 0 : set);
    if (set == std::string::npos || where == std::string::npos) return written;
    *table = statement.substr(update.size(), set - update.size());
    for (const std::string& item : SplitList(statement.substr(set + 5, where - set - 5), ", ")) {
      const size_t equals = item.find(" = ");
      if (equals != std::string::npos) written.emplace_back(item.substr(0, equals), item.substr(equals + 3));
    }
  } else if (statement.compare(0, insert.size(), insert) == 0) {
    const size_t open = statement.find(" (", insert.size());
    const size_t values = statement.find(") VALUES (");
    if (open == std::string::npos || values == std::string::npos || statement.back() != ')') return written;
    *table = statement.substr(insert.size(), open - insert.size());
    const std::vector<std::string> columns = SplitList(statement.substr(open + 2, values - open - 2), ",");
    const std::vector<std::string> cells =
        SplitList(statement.substr(values + 10, statement.size() - values - 11), ",");
    for (size_t i = 0; i < columns.size() && i < cells.size(); ++i)
      written.emplace_back(columns[i], cells[i]);
  }
  return written;
}

// A warning for each value a player wrote that lies further outside the range the data's own rows hold
// for its column than that range is wide; the data is asked through `query` before anything is applied.
std::vector<std::string> FarOutsideTheData(const std::string& file,
                                           const std::vector<PlanStatement>& statements,
                                           const std::vector<ChangeOrigin>& origins, const QueryFn& query) {
  std::vector<std::string> warnings;
  for (size_t i = 0; i < statements.size() && i < origins.size(); ++i) {
    std::string table;
    for (const auto& written : WrittenValues(statements[i], &table)) {
      std::vector<double> value;
      if (!IsPlayerValueColumn(written.first) || !ParseNumberList(written.second, &value) ||
          value.size() != 1) {
        continue;
      }
      const QueryResult range =
          query("SELECT MIN(" + written.first + "), MAX(" + written.first + ") FROM " + table);
      if (!range.ok || range.rows.empty() || range.rows[0].size() < 2) continue;
      const double lowest = CellAsDouble(&range.rows[0][0]);
      const double highest = CellAsDouble(&range.rows[0][1]);
      if (std::isnan(lowest) || std::isnan(highest)) continue;
      const double width = highest - lowest;
      if (value[0] >= lowest - width && value[0] <= highest + width) continue;
      warnings.push_back(file + ": [" + origins[i].section + "]: " + origins[i].key + " writes " +
                         written.second + " into " + table + " " + written.first + ", far outside the " +
                         CellText(range.rows[0][0]) + " to " + CellText(range.rows[0][1]) +
                         " the data's rows hold - check the number and its unit");
    }
  }
  return warnings;
}

// Compiles every file as one load of the worker does (one LevelRegistry, a failed file giving its Levels
// back) and gives the load's plan.
Plan CompileFiles(const std::vector<ScriptFile>& files, std::vector<FileReport>* reports) {
  // The bridge without the worker's process-wide cache, so every run looks at its own copy afresh, but
  // with one for the run: nothing changes the copy while the files compile, and a long script naming a
  // car in many sections then asks the game for it once, as the worker does.
  std::map<std::string, QueryResult> answers;
  const QueryFn query = [&answers](const std::string& sql) {
    const auto hit = answers.find(sql);
    if (hit != answers.end()) return hit->second;
    QueryResult answer = Query(sql);
    if (answer.ok) answers.emplace(sql, answer);
    return answer;
  };
  LevelRegistry levels;
  Plan plan;
  CellWrites cells;
  for (const ScriptFile& file : files) {
    FileReport report;
    report.path = file.path;
    report.name = file.name;
    // A person waits for the answer: one attempt, not the worker's patience with a file held open.
    ScriptText text = ReadScriptFile(file.path, 1);
    if (!text.ok) {
      report.error = text.error;
      reports->push_back(report);
      continue;
    }
    const std::string content = std::move(text.bytes);
    // A failed compile hands its Levels back itself, so the next file gets them again.
    Plan script_plan;
    std::vector<ChangeOrigin> origins;
    std::string error;
    size_t failed_section = kNoSection;
    if (CompileCarScript(content, query, levels, &script_plan, &error, PreviousRowIds(), &failed_section,
                         &origins)) {
      report.ok = true;
      report.cars = script_plan.names;
      report.statements = script_plan.statements;
      report.warnings = NoteCellWrites(&cells, file.name, script_plan.statements, origins);
      for (const std::string& lint : FarOutsideTheData(file.name, script_plan.statements, origins, query)) {
        report.warnings.push_back(lint);
      }
      AppendPlan(&plan, script_plan, false);
    } else {
      report.error = error;
      report.line = LineOfError(content, error, failed_section);
      // The report puts the line before the message, so the parser's own "line N: " would say it twice.
      std::string rest;
      if (failed_section == kNoSection && report.line != 0 && ParserLine(error, &rest) == report.line) {
        report.error = rest;
      }
    }
    reports->push_back(report);
  }
  return plan;
}

// ---- Apply, changes, undo ------------------------------------------------------------------------------

// ApplyPlan says why it failed only in the log, so the apply runs with a log of its own in a temporary
// folder, read back afterwards.
struct CapturedLog {
  std::filesystem::path folder;
  std::string file;
};

CapturedLog OpenCapturedLog() {
  CapturedLog log;
  std::random_device random;
  std::error_code ignored;
  log.folder = std::filesystem::temp_directory_path(ignored) /
               ("gearloft-check-" + std::to_string(random()) + "-" + std::to_string(platform::TickCountMs()));
  std::filesystem::create_directories(log.folder, ignored);
  log.file = (log.folder / "gearloft.log").u8string();
  Paths paths;
  paths.log_file = log.file;
  paths.previous_log = log.file + ".1";
  OpenLog(paths);
  return log;
}

std::string CloseCapturedLog(const CapturedLog& log) {
  CloseLog();
  std::string messages;
  std::ifstream in(std::filesystem::u8path(log.file), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t prefix_end = line.find("s] ");  // after "hh:mm:ss [ageS] "
    if (prefix_end != std::string::npos) line.erase(0, prefix_end + 3);
    messages += (messages.empty() ? "" : "; ") + line;
  }
  in.close();
  std::error_code ignored;
  std::filesystem::remove_all(log.folder, ignored);
  return messages;
}

bool ApplyAndUndo(const Plan& plan, sqlite3* copy, ApplyReport* apply, std::string* error) {
  Snapshot before;
  if (!TakeSnapshot(copy, &before, error)) return false;
  apply->ran = true;
  apply->statements = plan.statements.size();
  apply->batches = BatchStatements(plan.statements).size();
  const CapturedLog log = OpenCapturedLog();
  apply->applied = ApplyPlan(plan);
  apply->message = CloseCapturedLog(log);

  Snapshot after;
  if (!TakeSnapshot(copy, &after, error)) return false;
  apply->changes = DiffSnapshots(before, after);

  // As a re-apply takes a plan back: the undo list from its last statement to its first. Sent as a query,
  // whose answer (unlike Execute's) tells a statement the database refused from one it ran.
  apply->undo_statements = plan.undo.size();
  for (auto it = plan.undo.rbegin(); it != plan.undo.rend(); ++it) {
    if (!Query(*it).ok) apply->undo_failed.push_back(*it);
  }
  Snapshot undone;
  if (!TakeSnapshot(copy, &undone, error)) return false;
  apply->left_after_undo = DiffSnapshots(before, undone);
  return true;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  const int parsed = ParseOptions(args, &options, out, err);
  if (parsed >= 0) return parsed;

  std::vector<ScriptFile> files;
  std::string problem;
  if (!CollectScripts(options.paths, &files, &problem)) {
    err << "gearloft-check: " << problem << "\n";
    return kExitUsage;
  }

  // Without --db, the game's own tables when the worker left a snapshot beside the scripts.
  std::string data = options.db;
  if (data.empty() && !options.paths.empty()) data = SnapshotBeside(options.paths.front());
  const std::string shown_db = data.empty() ? std::string("the bundled fixture") : data;
  sqlite3* copy = OpenGameCopy(data, &problem);
  if (copy == nullptr) {
    err << "gearloft-check: " << problem << "\n";
    return kExitUsage;
  }
  const std::string missing = MissingGameTables(copy);
  if (!missing.empty()) {
    err << "gearloft-check: " << shown_db << " does not hold the game's tables: " << missing << "\n";
    sqlite3_close(copy);
    return kExitUsage;
  }
  devhost::Database* database = devhost::WrapDatabase(copy);
  if (!MakeCurrent(database, shown_db, &problem)) {
    err << "gearloft-check: " << problem << "\n";
    Release(database, copy);
    return kExitUsage;
  }

  if (options.list_cars || !options.car.empty()) {
    CheckReport shown;
    shown.database = data;
    shown.snapshot = IsSnapshotFile(data);
    if (shown.snapshot) shown.written = SnapshotWritten(data);
    std::string text = options.list_cars ? CarList(copy, options.cars_text) : std::string();
    const bool found = options.list_cars || CarDetails(copy, options.car, &text, &problem);
    Release(database, copy);
    if (!found) {
      err << "gearloft-check: " << problem << "\n";
      return 1;
    }
    out << DataLine(shown) << "\n" << text;
    return 0;
  }

  CheckReport report;
  report.database = data;
  report.strict = options.strict;
  report.snapshot = IsSnapshotFile(data);
  if (report.snapshot) report.written = SnapshotWritten(data);
  report.with_plan = options.plan;
  const Plan plan = CompileFiles(files, &report.files);
  if (options.apply && !ApplyAndUndo(plan, copy, &report.apply, &problem)) {
    err << "gearloft-check: " << shown_db << ": " << problem << "\n";
    Release(database, copy);
    return kExitUsage;
  }
  Release(database, copy);

  out << (options.json ? JsonReport(report) : TextReport(report));
  return ReportStatus(report);
}

bool WaitsForEnter(int console_processes, bool input_is_console) {
  return console_processes == 1 && input_is_console;
}

}  // namespace gearloft::check
