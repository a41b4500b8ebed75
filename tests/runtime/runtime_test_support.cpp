// gearloft runtime tests: the temporary game folder and the log readers shared by the runtime suites.
#include <gtest/gtest.h>

#include "runtime_test_support.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"
#include "support/support.h"

namespace gearloft::test {

namespace fs = std::filesystem;

namespace {

fs::path PathOf(const std::string& utf8) {
  return fs::u8path(utf8);
}

}  // namespace

GameFolder::GameFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const std::string name =
        "gearloft-runtime-" + std::to_string(random()) + "-" + std::to_string(counter.fetch_add(1));
    std::error_code error;
    if (fs::create_directory(base / name, error)) {
      path_ = (base / name).u8string();
      break;
    }
    if (error) throw std::runtime_error("cannot create a temporary folder: " + error.message());
  }
}

GameFolder::~GameFolder() {
  std::error_code ignored;
  fs::remove_all(PathOf(path_), ignored);
}

std::string GameFolder::ExecutablePath() const {
  return path_ + platform::PathSeparator() + "game.exe";
}

void GameFolder::MakeScriptsFolder(bool with_watched_folder) const {
  const Paths p = paths();
  fs::create_directories(with_watched_folder ? PathOf(p.watched_folder)
                                             : PathOf(p.settings_file).parent_path());
}

void GameFolder::WriteSettings(const std::string& content) const {
  MakeScriptsFolder(false);
  std::ofstream out(PathOf(paths().settings_file), std::ios::binary);
  out << content;
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(PathOf(path), ignored);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(PathOf(folder)))
    names.push_back(entry.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> LogMessages(const std::string& log_file) {
  static const std::regex prefix("^\\d\\d:\\d\\d:\\d\\d \\[ *\\d+s\\] ");
  std::vector<std::string> messages;
  std::istringstream lines(ReadWhole(PathOf(log_file)));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (std::regex_search(line, match, prefix)) line = match.suffix();
    messages.push_back(line);
  }
  return messages;
}

void LogTest::SetUp() {
  ResetWorkerStop();
  folder_.MakeScriptsFolder(true);
  OpenLog(folder_.paths());
  ASSERT_TRUE(LogIsOpen());
}

void LogTest::TearDown() {
  CloseLog();
  ResetWorkerStop();
}

std::vector<std::string> LogTest::Messages() const {
  return LogMessages(folder_.paths().log_file);
}

}  // namespace gearloft::test
