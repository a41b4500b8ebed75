// gearloft test support: files, locale and environment helpers shared by every suite.
#include "support/support.h"

#include <clocale>
#include <cstdio>
#include <utility>

#include "platform/testing.h"

namespace gearloft::test {

std::string ReadWhole(const std::filesystem::path& path) {
  std::string bytes;
  std::FILE* file = platform::OpenFile(path.u8string(), "rb", platform::Share::kShareAll);
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    begin = end + 1;
  }
  return lines;
}

bool WriteWhole(const std::filesystem::path& path, const std::string& bytes) {
  std::FILE* file = platform::OpenFile(path.u8string(), "wb", platform::Share::kDenyNone);
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

CommaLocale::CommaLocale() {
  const char* current = std::setlocale(LC_ALL, nullptr);
  saved_ = current != nullptr ? current : "C";
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252", "German"}) {
    if (std::setlocale(LC_ALL, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
      active_ = true;
      return;
    }
  }
  std::setlocale(LC_ALL, saved_.c_str());
}

CommaLocale::~CommaLocale() {
  std::setlocale(LC_ALL, saved_.c_str());
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
  had_ = platform::GetEnvironment(name_, &saved_);
  set_ = platform::SetEnvironment(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() {
  platform::SetEnvironment(name_, had_ ? saved_ : std::string());
}

}  // namespace gearloft::test
