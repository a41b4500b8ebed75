// gearloft runtime tests: a throw-away game folder under the system's temp folder and readers for the
// log the runtime writes there.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace gearloft::test {

// A fresh folder standing in for the game executable's folder; removed again with everything in it.
class GameFolder {
 public:
  GameFolder();
  ~GameFolder();
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string ExecutablePath() const;
  Paths paths() const { return PathsFor(path_); }
  // Creates the scripts folder, and the watched folder inside it when asked.
  void MakeScriptsFolder(bool with_watched_folder) const;
  void WriteSettings(const std::string& content) const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::vector<std::string> FolderEntries(const std::string& folder);

// The messages of a log file: each line without its time and age prefix and without its line end.
// A line without a well-formed prefix is kept whole, so a test sees it and fails.
std::vector<std::string> LogMessages(const std::string& log_file);

// A test for anything that writes the log: a game folder with its watched folder, the log open in it,
// and the stop flag clear. The log is closed again afterwards.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<std::string> Messages() const;

  GameFolder folder_;
};

}  // namespace gearloft::test
