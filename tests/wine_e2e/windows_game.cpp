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

std::string ReadBytes(const fs::path& path) {
  std::string bytes;
  // Shared for renaming as well: a test polling the log must not keep the worker from rotating it.
  std::FILE* file = platform::OpenFile(path.u8string(), "rb", platform::Share::kShareAll);
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  std::FILE* file = platform::OpenFile(path.u8string(), "wb", platform::Share::kDenyNone);
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

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
  WriteBytes(folder_ / "scripts" / "gearloft.ini", "[gearloft]\r\n" + lines);
}

void WindowsGame::WriteScript(const std::string& name, const std::string& text) {
  const fs::path part = ScriptsFolder() / "script.part";
  WriteBytes(part, text);
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
    WriteScript(names.back(), ReadBytes(entry.path()));
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
  if (!running_) return fs::exists(TablesFile()) && sql.empty();
  const fs::path request = fs::path(TablesFile()) += ".request";
  const fs::path part = fs::path(request) += ".part";
  if (!WriteBytes(part, sql)) return false;
  fs::rename(part, request);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (fs::exists(request) && running_ && std::chrono::steady_clock::now() < deadline) {
    platform::SleepMs(20);
  }
  return !fs::exists(request) && fs::exists(TablesFile());
}

std::vector<std::string> WindowsGame::Messages() const {
  static const std::regex& prefix = *new std::regex("^\\d\\d:\\d\\d:\\d\\d \\[ *\\d+s\\] ");
  std::vector<std::string> messages;
  const std::string bytes = ReadBytes(LogFile());
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
    const int found = Find(Messages(), prefix, from);
    if (found >= 0 || std::chrono::steady_clock::now() >= deadline) return found;
    platform::SleepMs(50);
  }
}

std::string WindowsGame::Output() const {
  return ReadBytes(folder_ / "output.txt");
}

GameDatabase::GameDatabase(const fs::path& file) {
  if (sqlite3_open_v2(file.u8string().c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    error_ = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    return;
  }
  sqlite3_busy_timeout(db_, 10000);
}

GameDatabase::~GameDatabase() {
  sqlite3_close(db_);
}

std::vector<std::string> GameDatabase::Rows(const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    if (error_.empty()) error_ = sql + ": " + sqlite3_errmsg(db_);
    return rows;
  }
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (i > 0) row += "|";
      switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER:
          row += "integer:" + std::to_string(sqlite3_column_int64(statement, i));
          break;
        case SQLITE_FLOAT: {
          char text[40];
          std::snprintf(text, sizeof(text), "%.17g", sqlite3_column_double(statement, i));
          row += std::string("real:") + text;
          break;
        }
        case SQLITE_TEXT:
          row += "text:" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
          break;
        default:
          row += "null";
      }
    }
    rows.push_back(row);
  }
  if (step != SQLITE_DONE && error_.empty()) error_ = sql + ": " + sqlite3_errmsg(db_);
  sqlite3_finalize(statement);
  return rows;
}

std::vector<std::string> GameDatabase::Dump() {
  std::vector<std::string> dump;
  for (const std::string& table : Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    const std::string name = table.substr(std::string("text:").size());
    for (const std::string& row : Rows("SELECT * FROM " + name + " ORDER BY 1"))
      dump.push_back(name + "|" + row);
  }
  return dump;
}

}  // namespace gearloft::wine_e2e
