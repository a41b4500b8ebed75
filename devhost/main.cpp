// gearloft-devhost: the simulated game. Opens its database, fills its CDatabase global, runs its own
// queries through its ExecuteQuery call site, loads the gearloft library as the mod loader would and
// echoes the library's log. The game folder is the folder this executable is in.
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "devhost/devhost.h"
#include "devhost/host_layout.h"
#include "platform/testing.h"

#ifndef GEARLOFT_DEVHOST_LIBRARY_NAME
#error "the build names the gearloft library file (GEARLOFT_DEVHOST_LIBRARY_NAME)"
#endif

namespace {

using gearloft::devhost::CodeHide;
using gearloft::devhost::Database;
namespace devhost = gearloft::devhost;
namespace platform = gearloft::platform;

constexpr int kExitSetupFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTextNotSeen = 3;

struct Options {
  std::string db;
  bool persist = false;
  std::string dump_path;
  std::string library;
  double run_seconds = 0;
  std::string exit_when;
  bool has_exit_when = false;
  bool make_db_only = false;
  devhost::FixtureOptions fixture;
  double code_ready_after = 0;
  CodeHide code_hide = CodeHide::kNotExecutable;
  double global_after = 0;
  double probe_empty_until = 0;
  bool second_call_site = false;
  std::string locale;
  devhost::Knobs knobs;
};

// -1 when the game goes on; otherwise the exit status (0 after --help).
int ParseArguments(int argc, char** argv, Options* options) {
  CLI::App app{
      "The simulated game: loads its database, fills its CDatabase global, runs its own queries "
      "through its ExecuteQuery call site and loads the gearloft library as the mod loader would, "
      "echoing the library's log. The game folder is the folder of this program.",
      "gearloft-devhost"};
  app.allow_windows_style_options(false);
  // Validators and transformers with an empty description, so the help shows the plain value name.
  const CLI::Validator seconds(
      [](const std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return !text.empty() && *end == '\0' && value >= 0 ? std::string()
                                                           : "not a number of seconds: " + text;
      },
      "", "seconds");
  const CLI::Validator not_empty(
      [](const std::string& text) { return text.empty() ? std::string("an empty value") : std::string(); },
      "", "not empty");
  auto one_of = [](auto names) { return CLI::CheckedTransformer(std::move(names)).description(""); };

  app.add_option("--db", options->db,
                 "the game's SQLite database (default: devhost.db in the game folder), created from the "
                 "fixture when it has no tables; the game loads it into memory at start and leaves the "
                 "file as it is, as the game builds its tables afresh from its own files at every start")
      ->type_name("FILE");
  app.add_flag("--persist", options->persist,
               "use the database file in place: every change is written into it");
  app.add_option("--dump-on-exit", options->dump_path,
                 "write the tables to the SQLite file FILE when the game exits; while it runs, a file "
                 "FILE.request asks for them at once: the game runs the SQL the request holds (if any) as "
                 "its own change of its tables, writes FILE and removes the request")
      ->type_name("FILE")
      ->check(not_empty);
  app.add_option("--library", options->library,
                 "the gearloft library to load (default: the one beside this program)")
      ->type_name("PATH");
  app.add_option("--run-seconds", options->run_seconds,
                 "exit after N seconds (default: run until interrupted)")
      ->type_name("N")
      ->check(seconds);
  CLI::Option* exit_when =
      app.add_option("--exit-when", options->exit_when,
                     "exit as soon as a log line contains TEXT (exit code 3 when --run-seconds passes first)")
          ->type_name("TEXT");
  app.add_flag("--make-db", options->make_db_only,
               "create the database from the fixture when it has no tables, then exit");
  app.add_option("--fixture-cars", options->fixture.cars, "cars in a new fixture (default 48)")
      ->type_name("N")
      ->check(CLI::Range(1, std::numeric_limits<int>::max()).description(""));
  CLI::Option* large = app.add_flag("--large-fixture", "a new fixture has 5000 cars");
  app.add_option("--fixture-seed", options->fixture.seed,
                 "seed of a new fixture's generated data (default 1)")
      ->type_name("N");

  const std::string game = "Game behaviour";
  app.add_option("--code-ready-after", options->code_ready_after,
                 "the call site's code is hidden until S seconds after start")
      ->type_name("S")
      ->check(seconds)
      ->group(game);
  app.add_option("--code-hide", options->code_hide,
                 "how it is hidden: noexec (default: page not executable) or scramble")
      ->type_name("HOW")
      ->transform(one_of(std::map<std::string, CodeHide>{{"noexec", CodeHide::kNotExecutable},
                                                         {"scramble", CodeHide::kScrambled}}))
      ->group(game);
  app.add_option("--global-after", options->global_after,
                 "the CDatabase global stays 0 until S seconds after start")
      ->type_name("S")
      ->check(seconds)
      ->group(game);
  app.add_option("--probe-empty-until", options->probe_empty_until,
                 "List_UpgradeRimSizeFront reads as empty until S seconds after start")
      ->type_name("S")
      ->check(seconds)
      ->group(game);
  app.add_flag("--second-call-site", options->second_call_site,
               "also expose a second call site loading a second, empty global")
      ->group(game);
  app.add_option("--fault-on", options->knobs.fault_on,
                 "statements containing TEXT fault inside ExecuteQuery")
      ->type_name("TEXT")
      ->group(game);
  app.add_option("--fault-kind", options->knobs.fault_kind,
                 "segv: an access violation (default), throw: a C++ exception")
      ->type_name("KIND")
      ->transform(one_of(std::map<std::string, devhost::CallFault>{
          {"segv", devhost::CallFault::kAccessViolation}, {"throw", devhost::CallFault::kThrow}}))
      ->group(game);
  app.add_option("--fault-dirty-cpu", options->knobs.fault_dirty_cpu,
                 "statements containing TEXT set the direction flag, round toward zero with flush-to-zero "
                 "and single x87 precision, then fault (access violation)")
      ->type_name("TEXT")
      ->check(not_empty)
      ->group(game);
  app.add_option("--block-on", options->knobs.block_on,
                 "the first statement containing TEXT (any, when empty) blocks for --block-seconds")
      ->type_name("TEXT")
      ->group(game);
  app.add_option("--block-seconds", options->knobs.block_seconds, "how long --block-on blocks")
      ->type_name("N")
      ->group(game);
  app.add_option("--oversize-on", options->knobs.oversize_on,
                 "statements containing TEXT answer an oversized result, of --oversize")
      ->type_name("TEXT")
      ->group(game);
  app.add_option("--oversize", options->knobs.oversize,
                 "columns: 4096 columns (default), rows: 1,000,000 rows")
      ->type_name("KIND")
      ->transform(one_of(std::map<std::string, devhost::Oversize>{{"columns", devhost::Oversize::kColumns},
                                                                  {"rows", devhost::Oversize::kRows}}))
      ->group(game);
  app.add_option("--huge-text-on", options->knobs.huge_text_on,
                 "text cells of statements containing TEXT claim 2 MiB")
      ->type_name("TEXT")
      ->group(game);
  CLI::Option* ignore_writes =
      app.add_flag("--ignore-writes", "statements that change data are silently ignored")->group(game);
  app.add_option("--trace-queries", options->knobs.trace_path,
                 "append every statement ExecuteQuery receives to FILE")
      ->type_name("FILE")
      ->check(not_empty)
      ->group(game);
  app.add_option("--locale", options->locale,
                 "set the process locale (setlocale LC_ALL) before loading the library")
      ->type_name("NAME")
      ->check(not_empty)
      ->group(game);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help
    std::fprintf(stderr, "gearloft-devhost: %s\nRun with --help for more information.\n", error.what());
    return kExitUsage;
  }
  options->has_exit_when = exit_when->count() > 0;
  if (large->count() > 0) options->fixture.cars = devhost::kLargeFixtureCars;
  if (ignore_writes->count() > 0) {
    // Every statement that would change the database does nothing, from the first call on.
    options->knobs.call_fault = devhost::CallFault::kDropWrite;
    options->knobs.fault_at_call = 1;
    options->knobs.fault_onwards = true;
  }
  return -1;
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(0, cut);
}

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
}

// Follows the library's log as it is written. The log of an earlier run is still in place until the
// library rotates it, so lines are echoed only once the file is no longer that one.
struct LogEcho {
  std::string path;
  bool following = false;
  std::string earlier_first_line;
  long earlier_size = -1;  // -1: there was no earlier log
  // The rotation moves the earlier log to the previous log's name. A start within the same second as the
  // earlier one writes the same first line, so only finding the earlier log there tells the two apart
  // (unless the previous log already looked like it before the library was loaded).
  std::string previous_path;
  bool previous_was_earlier = false;
  long offset = 0;
  std::string partial;
};

bool ReadFirstLine(std::FILE* file, std::string* line, long* size) {
  line->clear();
  int c = 0;
  while ((c = std::fgetc(file)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  *size = std::ftell(file);
  return *size >= 0;
}

// The echo's reads must never stand in the library's way: on Windows a file held open by a reader that
// does not let others rename it would make the rotation of the logs at start-up fail.
std::FILE* OpenForEcho(const std::string& path) {
  return platform::OpenFile(path, "rb", platform::Share::kShareAll);
}

// True when the file at `path` begins with `first_line` and is `size` bytes long.
bool FileLooksLike(const std::string& path, const std::string& first_line, long size) {
  std::FILE* file = OpenForEcho(path);
  if (file == nullptr) return false;
  std::string first;
  long file_size = 0;
  const bool read = ReadFirstLine(file, &first, &file_size);
  std::fclose(file);
  return read && first == first_line && file_size == size;
}

void StartEcho(LogEcho* echo, const std::string& path) {
  echo->path = path;
  echo->previous_path = path + ".1";
  std::FILE* file = OpenForEcho(path);
  if (file == nullptr) return;
  if (!ReadFirstLine(file, &echo->earlier_first_line, &echo->earlier_size)) echo->earlier_size = -1;
  std::fclose(file);
  echo->previous_was_earlier =
      echo->earlier_size >= 0 &&
      FileLooksLike(echo->previous_path, echo->earlier_first_line, echo->earlier_size);
}

// Echoes complete new lines; true when one of them contains `wanted` (when `wanted` is not null).
bool PollEcho(LogEcho* echo, const std::string* wanted) {
  // Looked for before the log is opened: once the earlier log stands under the previous log's name, the
  // file opened next can only be the new log.
  const bool rotated = !echo->following && echo->earlier_size >= 0 && !echo->previous_was_earlier &&
                       FileLooksLike(echo->previous_path, echo->earlier_first_line, echo->earlier_size);
  std::FILE* file = OpenForEcho(echo->path);
  if (file == nullptr) return false;
  bool seen = false;
  if (!echo->following) {
    std::string first;
    long size = 0;
    const bool read = ReadFirstLine(file, &first, &size);
    const bool earlier = !rotated && echo->earlier_size >= 0 && size >= echo->earlier_size &&
                         first == echo->earlier_first_line;
    if (read && !earlier) echo->following = true;
  }
  if (echo->following && std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size < echo->offset) echo->offset = 0;
    if (size > echo->offset && std::fseek(file, echo->offset, SEEK_SET) == 0) {
      std::vector<char> bytes(static_cast<size_t>(size - echo->offset));
      const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
      echo->offset += static_cast<long>(got);
      echo->partial.append(bytes.data(), got);
      size_t end = 0;
      while ((end = echo->partial.find('\n')) != std::string::npos) {
        std::string line = echo->partial.substr(0, end);
        echo->partial.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("%s\n", line.c_str());
        if (wanted != nullptr && line.find(*wanted) != std::string::npos) seen = true;
      }
      std::fflush(stdout);
    }
  }
  std::fclose(file);
  return seen;
}

// Answers a request for the tables beside the dump file: runs the SQL it holds, writes the dump, then
// removes the request, so a test that sees the request gone finds the dump in place (or, when the
// request failed, no dump at all).
void AnswerDumpRequest(Database* database, const std::string& dump_path) {
  const std::string request_path = dump_path + ".request";
  std::FILE* request = platform::OpenFile(request_path, "rb", platform::Share::kShareAll);
  if (request == nullptr) return;
  std::string sql;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), request)) > 0) sql.append(chunk, got);
  std::fclose(request);
  platform::DeleteFilePath(dump_path);
  std::string error;
  if ((!sql.empty() && !devhost::ChangeDatabase(database, sql, &error)) ||
      !devhost::DumpDatabase(database, dump_path, &error)) {
    std::fprintf(stderr, "gearloft-devhost: request for the tables failed: %s\n", error.c_str());
  }
  platform::DeleteFilePath(request_path);
}

// The game's own use of its database while it runs, through its own call site.
void RunGameTick(bool* announced) {
  uintptr_t result = 0;
  if (!devhost::RunGameQuery("SELECT COUNT(*) FROM Data_Car", &result) || result == 0 || *announced) return;
  const auto* host = reinterpret_cast<const devhost::HostResult*>(result);
  if (host->rows_end - host->rows_begin != 1 || host->columns_end - host->columns_begin != 1) return;
  const devhost::HostCell& cell = (*host->rows_begin)[0];
  if (cell.tag != devhost::kTagInteger) return;
  std::printf("devhost: the game's own query answered: %llu car(s)\n",
              static_cast<unsigned long long>(cell.value));
  std::fflush(stdout);
  *announced = true;
}

}  // namespace

int main(int argc, char** argv) {
  // Every exception the process raises, first-chance ones included, as the game's own vectored handlers
  // (or an anti-cheat's) would see them; reported at exit where the system can count them.
  const bool counting_exceptions = platform::StartCountingExceptions();
  Options options;
  const int parsed = ParseArguments(argc, argv, &options);
  if (parsed >= 0) return parsed;
  std::string error;
  const std::string separator = platform::PathSeparator();
  const std::string game_folder = FolderOf(platform::ExecutablePath());
  const std::string db_path = options.db.empty() ? game_folder + separator + "devhost.db" : options.db;
  const std::string library_path =
      options.library.empty() ? game_folder + separator + GEARLOFT_DEVHOST_LIBRARY_NAME : options.library;

  Database* database = options.persist ? devhost::OpenDatabase(db_path, options.fixture, &error)
                                       : devhost::LoadDatabase(db_path, options.fixture, &error);
  if (database == nullptr) {
    std::fprintf(stderr, "gearloft-devhost: %s\n", error.c_str());
    return kExitSetupFailed;
  }
  if (options.make_db_only) return 0;
  if (!options.locale.empty()) {
    // A game built for one language may switch the whole process to it, decimal comma included.
    const char* set = std::setlocale(LC_ALL, options.locale.c_str());
    if (set == nullptr) {
      std::fprintf(stderr, "gearloft-devhost: cannot set the locale %s\n", options.locale.c_str());
      return kExitSetupFailed;
    }
    std::printf("devhost: locale %s, decimal point '%s'\n", set, std::localeconv()->decimal_point);
    std::fflush(stdout);
  }
  devhost::SetKnobs(database, options.knobs);
  if (options.probe_empty_until > 0 && !devhost::SetProbeTableEmpty(database, true, &error)) {
    std::fprintf(stderr, "gearloft-devhost: %s\n", error.c_str());
    return kExitSetupFailed;
  }
  if (!devhost::SetSecondCallSiteEnabled(options.second_call_site)) {
    std::fprintf(stderr, "gearloft-devhost: cannot change the second call site's page\n");
    return kExitSetupFailed;
  }
  if (options.code_ready_after > 0 && !devhost::HideCallSite(options.code_hide)) {
    std::fprintf(stderr, "gearloft-devhost: cannot hide the call site\n");
    return kExitSetupFailed;
  }
  if (options.global_after <= 0) devhost::SetGameDatabase(database);

  std::printf("devhost: game folder %s, database %s (%s), library %s\n", game_folder.c_str(), db_path.c_str(),
              options.persist ? "used in place" : "loaded into memory", library_path.c_str());
  std::fflush(stdout);
  LogEcho echo;
  StartEcho(&echo, game_folder + separator + "scripts" + separator + "tunebay" + separator + "gearloft.log");
  std::signal(SIGINT, OnInterrupt);

  void* library = platform::LoadLibraryFile(library_path);
  if (library == nullptr) {
    std::fprintf(stderr, "gearloft-devhost: cannot load %s\n", library_path.c_str());
    return kExitSetupFailed;
  }

  const auto start = std::chrono::steady_clock::now();
  bool announced = false;
  int exit_code = 0;
  double next_game_tick = 0;
  for (;;) {
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (devhost::CallSiteHidden() && now >= options.code_ready_after && !devhost::RevealCallSite()) {
      std::fprintf(stderr, "gearloft-devhost: cannot reveal the call site\n");
    }
    if (options.global_after > 0 && now >= options.global_after) {
      devhost::SetGameDatabase(database);
      options.global_after = 0;
    }
    if (options.probe_empty_until > 0 && now >= options.probe_empty_until) {
      if (!devhost::SetProbeTableEmpty(database, false, &error))
        std::fprintf(stderr, "gearloft-devhost: %s\n", error.c_str());
      options.probe_empty_until = 0;
    }
    if (now >= next_game_tick) {
      RunGameTick(&announced);
      next_game_tick = now + 1.0;
    }
    if (!options.dump_path.empty()) AnswerDumpRequest(database, options.dump_path);
    if (PollEcho(&echo, options.has_exit_when ? &options.exit_when : nullptr)) break;
    if (g_interrupted != 0) break;
    if (options.run_seconds > 0 && now >= options.run_seconds) {
      if (options.has_exit_when) exit_code = kExitTextNotSeen;
      break;
    }
    platform::SleepMs(50);
  }

  // The library keeps working until the process ends unless it is told to stop.
  if (void* stop = platform::LibrarySymbol(library, "gearloft_devhost_stop")) {
    reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(stop))();
  }
  PollEcho(&echo, nullptr);
  if (!options.dump_path.empty() && !devhost::DumpDatabase(database, options.dump_path, &error)) {
    std::fprintf(stderr, "gearloft-devhost: %s\n", error.c_str());
    exit_code = kExitSetupFailed;
  }
  if (counting_exceptions) {
    std::printf("devhost: %llu exception(s) raised\n",
                static_cast<unsigned long long>(platform::ExceptionsCounted()));
  }
  std::printf("devhost: %llu call(s) found the caller's CPU state changed since its first call\n",
              static_cast<unsigned long long>(devhost::CallsWithChangedCpuState(database)));
  std::printf("devhost: %llu ExecuteQuery call(s)\n",
              static_cast<unsigned long long>(devhost::CallCount(database)));
  std::fflush(stdout);
  return exit_code;
}
