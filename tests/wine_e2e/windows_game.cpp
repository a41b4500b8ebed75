// gearloft Windows end-to-end support: the game folder, the game's process and the reading of what it left.
#include "wine_e2e/windows_game.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <regex>

#include "devhost/fixture.h"
#include "platform/testing.h"

namespace gearloft::wine_e2e {
namespace {

// Says once which library the games load: the shipped DLL when the build was given it, else its own.
class LibraryNote : public ::testing::Environment {
 public:
  void SetUp() override { std::printf("wine_e2e: the games load %s\n", GEARLOFT_LIBRARY_FILE); }
};
::testing::Environment* const kLibraryNote = ::testing::AddGlobalTestEnvironment(new LibraryNote);

}  // namespace

const char kQuickSettings[] =
    "garage_lod = 0\r\nfirst_call_age = 0\r\nboot_until = 0\r\nresend = 1\r\npoll_ms = 200\r\nsnapshot = "
    "0\r\n";

std::string TraceWithout(const std::string& trace, const std::string& statement) {
  const std::string left_out = std::to_string(statement.size()) + " " + statement + "\n";
  std::string kept;
  size_t at = 0;
  while (at < trace.size()) {
    // The count says where an entry ends even across line breaks.
    const size_t space = trace.find(' ', at);
    if (space == std::string::npos) break;
    const size_t end = space + 1 + std::stoul(trace.substr(at, space - at)) + 1;
    const std::string entry = trace.substr(at, end - at);
    if (entry != left_out) kept += entry;
    at = end;
  }
  return kept;
}

int Find(const std::vector<std::string>& messages, const std::string& prefix, int from) {
  for (size_t i = static_cast<size_t>(std::max(from, 0)); i < messages.size(); ++i) {
    if (messages[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

WindowsGame::WindowsGame(const std::string& name) : WindowsGame(name, 0) {}

WindowsGame::WindowsGame(const std::string& name, size_t folder_length) {
  std::random_device random;
  folder_ = fs::temp_directory_path() / ("gearloft-wine-" + name + "-" + std::to_string(random()));
  const size_t length = folder_.make_preferred().wstring().size();
  if (folder_length > length + 1) folder_ /= std::string(folder_length - length - 1, 'p');
  fs::create_directories(ScriptsFolder());
  const fs::path game = GEARLOFT_DEVHOST_EXE;
  executable_ = folder_ / game.filename();
  fs::copy_file(game, executable_);
  // The game loads the library from beside it under the name the mod loader gives it.
  fs::copy_file(fs::path(GEARLOFT_LIBRARY_FILE), folder_ / "gearloft.dll");
  WriteSettings(kQuickSettings);
}

WindowsGame::~WindowsGame() {
  if (child_.joinable()) Stop();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string WindowsGame::WatchedFolderText() const {
  return (folder_ / "scripts" / "tunebay").make_preferred().u8string();
}

void WindowsGame::WriteSettings(const std::string& lines) {
  WriteWhole(folder_ / "scripts" / "gearloft.ini", "[gearloft]\r\n" + lines);
}

void WindowsGame::WriteScript(const std::string& name, const std::string& text) {
  const fs::path part = ScriptsFolder() / "script.part";
  WriteWhole(part, text);
  fs::rename(part, ScriptsFolder() / fs::u8path(name));
}

void WindowsGame::RemoveScript(const std::string& name) {
  fs::remove(ScriptsFolder() / fs::u8path(name));
}

std::vector<std::string> WindowsGame::CopyExamples() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(GEARLOFT_EXAMPLES_DIR)) {
    if (entry.path().extension() != ".ini") continue;
    names.push_back(entry.path().filename().u8string());
    WriteScript(names.back(), ReadWhole(entry.path()));
  }
  return names;
}

bool WindowsGame::MakeDatabase(std::string* error) {
  sqlite3* db = nullptr;
  bool made = sqlite3_open_v2(DatabaseFile().u8string().c_str(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
  if (!made) *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
  made = made && devhost::CreateFixture(db, devhost::FixtureOptions{}, error);
  sqlite3_close(db);
  return made;
}

int WindowsGame::Run(const std::vector<std::string>& arguments) {
  std::vector<std::string> with_dump = {"--dump-on-exit", TablesFile().u8string()};
  with_dump.insert(with_dump.end(), arguments.begin(), arguments.end());
  return platform::RunProgram(executable_.u8string(), with_dump, (folder_ / "output.txt").u8string());
}

void WindowsGame::Start(std::vector<std::string> flags) {
  flags.insert(flags.begin(), {"--run-seconds", "120", "--exit-when", kStopScript});
  StartWith(flags);
}

void WindowsGame::StartWith(const std::vector<std::string>& arguments) {
  running_ = true;
  child_ = std::thread([this, arguments] {
    exit_code_ = Run(arguments);
    running_ = false;
  });
}

int WindowsGame::Stop() {
  WriteScript(kStopScript, "stop\n");
  return Wait();
}

int WindowsGame::Wait() {
  if (child_.joinable()) child_.join();
  return exit_code_;
}

bool WindowsGame::RequestTables(const std::string& sql) const {
  return test::RequestTables(TablesFile(), sql, [this] { return running_.load(); });
}

std::vector<std::string> WindowsGame::Messages() const {
  static const std::regex& prefix = *new std::regex("^\\d\\d:\\d\\d:\\d\\d \\[ *\\d+s\\] ");
  std::vector<std::string> messages;
  const std::string bytes = ReadWhole(LogFile());
  size_t start = 0;
  size_t end = 0;
  while ((end = bytes.find('\n', start)) != std::string::npos) {
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (std::regex_search(line, match, prefix)) line = match.suffix();
    messages.push_back(line);
  }
  return messages;
}

int WindowsGame::WaitFor(const std::string& prefix, int from, double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const bool ended = !running_;
    const int found = Find(Messages(), prefix, from);
    if (found >= 0 || std::chrono::steady_clock::now() >= deadline) return found;
    if (ended) {
      // A game that could not start, or ended early, writes nothing more: say how it ended.
      std::printf("wine_e2e: the game ended with exit code %d before a line beginning \"%s\"\n",
                  exit_code_.load(), prefix.c_str());
      return found;
    }
    platform::SleepMs(50);
  }
}

std::string WindowsGame::Output() const {
  return ReadWhole(folder_ / "output.txt");
}

}  // namespace gearloft::wine_e2e
