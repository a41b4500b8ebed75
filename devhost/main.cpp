// gearloft-devhost: the simulated game. Opens its database, fills its CDatabase global, runs its own
// queries through its ExecuteQuery call site, loads the gearloft library as the mod loader would and
// echoes the library's log. The game folder is the folder this executable is in.
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

const char kUsage[] =
    "usage: gearloft-devhost [options]\n"
    "  --db FILE                 the game's SQLite database (default: devhost.db in the game folder),\n"
    "                            created from the fixture when it has no tables; the game loads it into\n"
    "                            memory at start and leaves the file as it is, as the game builds its\n"
    "                            tables afresh from its own files at every start\n"
    "  --persist                 use the database file in place: every change is written into it\n"
    "  --dump-on-exit FILE       write the tables to the SQLite file FILE when the game exits; while it\n"
    "                            runs, a file FILE.request asks for them at once: the game runs the SQL\n"
    "                            the request holds (if any) as its own change of its tables, writes FILE\n"
    "                            and removes the request\n"
    "  --library PATH            the gearloft library to load (default: the one beside this program)\n"
    "  --run-seconds N           exit after N seconds (default: run until interrupted)\n"
    "  --exit-when TEXT          exit as soon as a log line contains TEXT (exit code 3 when\n"
    "                            --run-seconds passes first)\n"
    "  --make-db                 create the database from the fixture when it has no tables, then exit\n"
    "  --fixture-cars N          cars in a new fixture (default 48); --large-fixture: 5000\n"
    "  --fixture-seed N          seed of a new fixture's generated data (default 1)\n"
    "game behaviour:\n"
    "  --code-ready-after S      the call site's code is hidden until S seconds after start\n"
    "  --code-hide noexec|scramble  how it is hidden (default noexec: page not executable)\n"
    "  --global-after S          the CDatabase global stays 0 until S seconds after start\n"
    "  --probe-empty-until S     List_UpgradeRimSizeFront reads as empty until S seconds after start\n"
    "  --second-call-site        also expose a second call site loading a second, empty global\n"
    "  --fault-on TEXT           statements containing TEXT fault inside ExecuteQuery\n"
    "  --fault-kind segv|throw   access violation (default) or a C++ exception\n"
    "  --fault-dirty-cpu TEXT    statements containing TEXT set the direction flag, round toward zero\n"
    "                            with flush-to-zero and single x87 precision, then fault (access violation)\n"
    "  --block-on TEXT           the first statement containing TEXT (any, when empty) blocks ...\n"
    "  --block-seconds N         ... for N seconds\n"
    "  --oversize-on TEXT        statements containing TEXT answer an oversized result ...\n"
    "  --oversize columns|rows   ... of 4096 columns (default) or 1,000,000 rows\n"
    "  --huge-text-on TEXT       text cells of statements containing TEXT claim 2 MiB\n"
    "  --ignore-writes           statements that change data are silently ignored\n"
    "  --trace-queries FILE      append every statement ExecuteQuery receives to FILE\n"
    "  --locale NAME             set the process locale (setlocale LC_ALL) before loading the library\n";

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

bool ParseSeconds(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && *value >= 0;
}

bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const bool has_value = i + 1 < argc;
    const std::string value = has_value ? argv[i + 1] : "";
    auto take = [&](std::string* target) {
      if (!has_value) return false;
      *target = value;
      ++i;
      return true;
    };
    auto take_seconds = [&](double* target) {
      if (!has_value || !ParseSeconds(value, target)) return false;
      ++i;
      return true;
    };
    bool ok = true;
    double number = 0;
    if (flag == "--db") {
      ok = take(&options->db);
    } else if (flag == "--persist") {
      options->persist = true;
    } else if (flag == "--dump-on-exit") {
      ok = take(&options->dump_path) && !options->dump_path.empty();
    } else if (flag == "--library") {
      ok = take(&options->library);
    } else if (flag == "--run-seconds") {
      ok = take_seconds(&options->run_seconds);
    } else if (flag == "--exit-when") {
      ok = take(&options->exit_when);
      options->has_exit_when = true;
    } else if (flag == "--fixture-cars") {
      ok = take_seconds(&number) && number >= 1;
      options->fixture.cars = static_cast<int>(number);
    } else if (flag == "--large-fixture") {
      options->fixture.cars = devhost::kLargeFixtureCars;
    } else if (flag == "--fixture-seed") {
      ok = take_seconds(&number);
      options->fixture.seed = static_cast<uint32_t>(number);
    } else if (flag == "--code-ready-after") {
      ok = take_seconds(&options->code_ready_after);
    } else if (flag == "--code-hide") {
      std::string how;
      ok = take(&how) && (how == "noexec" || how == "scramble");
      options->code_hide = how == "scramble" ? CodeHide::kScrambled : CodeHide::kNotExecutable;
    } else if (flag == "--global-after") {
      ok = take_seconds(&options->global_after);
    } else if (flag == "--probe-empty-until") {
      ok = take_seconds(&options->probe_empty_until);
    } else if (flag == "--second-call-site") {
      options->second_call_site = true;
    } else if (flag == "--fault-on") {
      ok = take(&options->knobs.fault_on);
    } else if (flag == "--fault-dirty-cpu") {
      ok = take(&options->knobs.fault_dirty_cpu) && !options->knobs.fault_dirty_cpu.empty();
    } else if (flag == "--fault-kind") {
      std::string kind;
      ok = take(&kind) && (kind == "segv" || kind == "throw");
      options->knobs.fault_kind =
          kind == "throw" ? devhost::CallFault::kThrow : devhost::CallFault::kAccessViolation;
    } else if (flag == "--block-on") {
      ok = take(&options->knobs.block_on);
    } else if (flag == "--block-seconds") {
      ok = take_seconds(&number);
      options->knobs.block_seconds = static_cast<uint32_t>(number);
    } else if (flag == "--oversize-on") {
      ok = take(&options->knobs.oversize_on);
    } else if (flag == "--oversize") {
      std::string kind;
      ok = take(&kind) && (kind == "columns" || kind == "rows");
      options->knobs.oversize = kind == "rows" ? devhost::Oversize::kRows : devhost::Oversize::kColumns;
    } else if (flag == "--huge-text-on") {
      ok = take(&options->knobs.huge_text_on);
    } else if (flag == "--make-db") {
      options->make_db_only = true;
    } else if (flag == "--ignore-writes") {
      // Every statement that would change the database does nothing, from the first call on.
      options->knobs.call_fault = devhost::CallFault::kDropWrite;
      options->knobs.fault_at_call = 1;
      options->knobs.fault_onwards = true;
    } else if (flag == "--trace-queries") {
      ok = take(&options->knobs.trace_path) && !options->knobs.trace_path.empty();
    } else if (flag == "--locale") {
      ok = take(&options->locale) && !options->locale.empty();
    } else if (flag == "--help" || flag == "-h") {
      *error = "";
      return false;
    } else {
      *error = "unknown option " + flag;
      return false;
    }
    if (!ok) {
      *error = "option " + flag + " needs a valid value";
      return false;
    }
  }
  return true;
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
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    if (!error.empty()) std::fprintf(stderr, "gearloft-devhost: %s\n", error.c_str());
    std::fputs(kUsage, stderr);
    return error.empty() ? 0 : kExitUsage;
  }
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
