// gearloft test support: what every suite needs around the code under test (files read whole, a comma
// locale, an environment variable set for a while). Linked by every test executable.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace gearloft::test {

// The whole file as bytes; empty when it cannot be read. The file is opened sharing read, write and
// rename, so a test polling a log never keeps the worker from rotating or replacing it.
std::string ReadWhole(const std::filesystem::path& path);

// The lines of a text, each without its line end: a file written in text mode ends them in CR LF on
// Windows and in LF elsewhere.
std::vector<std::string> TextLines(const std::string& text);

// Writes `bytes` as the whole file, replacing what it held; false when it cannot.
bool WriteWhole(const std::filesystem::path& path, const std::string& bytes);

// Switches the process to a locale whose decimal separator is a comma, as the game may, until destroyed;
// active() is false where no such locale is installed (the process's locale is then left as it was).
class CommaLocale {
 public:
  CommaLocale();
  ~CommaLocale();
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

// An environment variable of this process set to a value (empty: removed) until destroyed, when the
// process's own value comes back; the games a test starts inherit it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  bool Set() const { return set_; }

 private:
  std::string name_;
  std::string saved_;
  bool had_ = false;
  bool set_ = false;
};

}  // namespace gearloft::test
