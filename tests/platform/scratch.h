// gearloft platform tests: a fresh scratch folder per test beside the test executable, and small file
// helpers built on the platform layer itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace gearloft::platform::testing_support {

inline std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(0, cut);
}

inline std::string Join(const std::string& folder, const std::string& name) {
  return folder + PathSeparator() + name;
}

// An empty folder named after the running test. It sits in the build tree, so builds run side by side
// (debug, asan, tsan) never share one.
inline std::string ScratchFolder() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string folder = Join(Join(FolderOf(ExecutablePath()), "platform_scratch"),
                                  std::string(test->test_suite_name()) + "." + test->name());
  const std::filesystem::path path = std::filesystem::u8path(folder);
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return folder;
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::u8path(path));
}

inline bool WriteText(const std::string& path, const std::string& content) {
  std::FILE* file = OpenFile(path, "wb", Share::kDenyNone);
  if (file == nullptr) return false;
  const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

inline std::string ReadText(const std::string& path) {
  std::string content;
  std::FILE* file = OpenFile(path, "rb", Share::kDenyNone);
  if (file == nullptr) return "<unreadable>";
  char chunk[512];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
  std::fclose(file);
  return content;
}

}  // namespace gearloft::platform::testing_support
