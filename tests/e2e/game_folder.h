// gearloft end-to-end test support: a fresh game folder holding copies of the simulated game and the real
// library, runs of the game as a child process (to the end, or in the background while a test edits its
// scripts), and its log read line by line.
#pragma once

#if defined(GEARLOFT_DEVHOST_EXE) && defined(GEARLOFT_LIBRARY_FILE)

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "support/tables.h"

namespace gearloft::e2e {

namespace fs = std::filesystem;

// Index of the first message at or after `from` that begins with `prefix`; -1 when there is none.
inline int Find(const std::vector<std::string>& messages, const std::string& prefix, int from = 0) {
  for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < messages.size(); ++i) {
    if (messages[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

// A game folder holding copies of the game and the library, with short timings in its settings.
class GameFolder {
 public:
  // A script the loader refuses at its first line; the game started by Start exits when the log names it.
  static constexpr const char* kStopScript = "zz_e2e_stop.ini";

  explicit GameFolder(const std::string& name) {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("gearloft-e2e-" + name + "-" + std::to_string(random()));
    fs::create_directories(folder_ / "scripts");
    const fs::path game = GEARLOFT_DEVHOST_EXE;
    const fs::path library = GEARLOFT_LIBRARY_FILE;
    executable_ = folder_ / game.filename();
    fs::copy_file(game, executable_);
    fs::copy_file(library, folder_ / library.filename());
    WriteSettings("garage_lod = 0\r\nfirst_call_age = 0\r\nresend = 1\r\npoll_ms = 200\r\n");
  }
  ~GameFolder() {
    if (child_.joinable()) Stop();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const fs::path& Folder() const { return folder_; }
  fs::path ScriptsFolder() const { return folder_ / "scripts" / "tunebay"; }
  // The game's own database file, which it loads at every start and never changes.
  fs::path DatabasePath() const { return folder_ / "devhost.db"; }
  // Where a game started by Run or Start writes its tables when it exits, and when asked while it runs.
  fs::path TablesPath() const { return folder_ / "tables.db"; }

  // Asks the running game for its tables and waits for them (at most 30 s); with `sql`, the game first
  // runs it as its own change of its tables. Once the game has ended, its tables at exit are in place.
  // True when TablesPath holds the tables asked for.
  bool RequestTables(const std::string& sql = "") const {
    return test::RequestTables(TablesPath(), sql, [this] { return child_.joinable() && !child_done_; });
  }

  // Replaces scripts/gearloft.ini with section [gearloft] holding `lines`.
  void WriteSettings(const std::string& lines) {
    std::ofstream settings(folder_ / "scripts" / "gearloft.ini", std::ios::binary | std::ios::trunc);
    settings << "[gearloft]\r\n" << lines;
  }

  // Writes a car script whole: written beside the folder's scripts first and renamed in, so the worker
  // never lists a half-written file.
  void WriteScript(const std::string& name, const std::string& text) {
    fs::create_directories(ScriptsFolder());
    const fs::path part = ScriptsFolder() / (name + ".part");
    {
      std::ofstream file(part, std::ios::binary | std::ios::trunc);
      file << text;
    }
    fs::rename(part, ScriptsFolder() / name);
  }
  void RemoveScript(const std::string& name) { fs::remove(ScriptsFolder() / name); }

  // Runs the game until a log line contains `exit_when` (at most 60 s); true when it exited with 0.
  bool Run(const std::string& exit_when, std::vector<std::string> flags) {
    flags.insert(flags.begin(),
                 {"--run-seconds", "60", "--exit-when", exit_when, "--dump-on-exit", TablesPath().string()});
    return RunWith(flags);
  }

  // Starts the game in the background with `flags`; it runs until Stop (at most 90 s).
  void Start(std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--run-seconds", "90", "--exit-when", kStopScript, "--dump-on-exit",
                                 TablesPath().string()});
    started_ = std::chrono::steady_clock::now();
    child_done_ = false;
    child_ = std::thread([this, flags] {
      child_ok_ = RunWith(flags);
      child_done_ = true;
    });
  }

  // Seconds since Start; never less than the age of the game's process.
  double SecondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  }

  // Waits until a message at or after `from` begins with `prefix`; its index, or -1 when `seconds` pass
  // or the game ends first.
  int WaitFor(const std::string& prefix, int from, double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const bool ended = child_done_;
      const int found = Find(Messages(), prefix, from);
      if (found >= 0 || ended || std::chrono::steady_clock::now() >= deadline) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // Ends the game started by Start with the stop script, which also counts as a folder change; true when
  // it exited with 0.
  bool Stop() {
    WriteScript(kStopScript, "stop\n");
    child_.join();
    return child_ok_;
  }

  // The log's complete messages without their time and age prefix; a line still being written is left
  // out.
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    std::ifstream log(folder_ / "scripts" / "tunebay" / "gearloft.log", std::ios::binary);
    std::string line;
    while (std::getline(log, line)) {
      if (log.eof()) break;  // no line end yet
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t cut = line.find("] ");
      messages.push_back(cut == std::string::npos ? line : line.substr(cut + 2));
    }
    return messages;
  }

  // Runs the game with exactly these arguments; true when it exited with 0.
  // No shell in between: cmd.exe would strip the quotes of a command that begins with one.
  bool RunWith(const std::vector<std::string>& arguments) {
    return platform::RunProgram(executable_.u8string(), arguments, (folder_ / "output.txt").u8string()) == 0;
  }

  // The game's output with LF line ends (a Windows program writes CR LF to its text-mode output).
  std::string Output() const {
    std::ifstream output(folder_ / "output.txt", std::ios::binary);
    std::stringstream text;
    text << output.rdbuf();
    std::string lines = text.str();
    for (size_t at = lines.find("\r\n"); at != std::string::npos; at = lines.find("\r\n", at))
      lines.erase(at, 1);
    return lines;
  }

 private:
  fs::path folder_;
  fs::path executable_;
  std::thread child_;
  std::atomic<bool> child_ok_{false};
  std::atomic<bool> child_done_{false};
  std::chrono::steady_clock::time_point started_;
};

}  // namespace gearloft::e2e

#endif  // GEARLOFT_DEVHOST_EXE && GEARLOFT_LIBRARY_FILE
