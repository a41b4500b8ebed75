// gearloft platform layer, Linux: the INI integer reader, answering as the Windows private-profile
// reader does for the same file, so a settings file means the same thing on both systems.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace gearloft::platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) return false;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content->append(chunk, got);
  std::fclose(file);
  return true;
}

// The value's number as Windows reads it: blanks, an optional sign right before the digits, a lower-case
// "0x", "0o" or "0b" prefix switching to base 16, 8 or 2, digits up to the first that does not belong
// to the base, summed modulo 2^32. A value without digits reads as 0, not as the default.
int ParseProfileInteger(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
    negative = value[i] == '-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < value.size() && value[i] == '0') {
    const char marker = value[i + 1];
    if (marker == 'x') base = 16;
    if (marker == 'o') base = 8;
    if (marker == 'b') base = 2;
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < value.size(); ++i) {
    const char c = value[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<uint32_t>(c - 'a') + 10U;
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<uint32_t>(c - 'A') + 10U;
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (negative) total = 0U - total;
  return static_cast<int>(static_cast<int32_t>(total));
}

}  // namespace

int ReadIniInt(const std::string& file, const std::string& section, const std::string& key,
               int default_value) {
  std::string content;
  if (!ReadWholeFile(file, &content)) return default_value;
  // A UTF-8 byte-order mark stays part of the first line, as Windows reads it: "\xEF\xBB\xBF[gearloft]"
  // heads no section.

  const std::string wanted_section = TrimBlanks(section);
  const std::string wanted_key = TrimBlanks(key);
  bool in_section = false;
  size_t line_start = 0;
  while (line_start < content.size()) {
    size_t line_end = content.find('\n', line_start);
    if (line_end == std::string::npos) line_end = content.size();
    const std::string line = TrimBlanks(content.substr(line_start, line_end - line_start));
    line_start = line_end + 1;

    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // The name runs to the line's last "]"; a line without one heads no section.
      const size_t close = line.rfind(']');
      if (close == std::string::npos) continue;
      // Only the first section of a name is read, as on Windows.
      if (in_section) return default_value;
      in_section = EqualNoCase(TrimBlanks(line.substr(1, close - 1)), wanted_section);
      continue;
    }
    if (!in_section) continue;

    const size_t equals = line.find('=');
    if (!EqualNoCase(TrimBlanks(line.substr(0, equals)), wanted_key)) continue;
    // The first line with the key decides, even when it holds no number.
    if (equals == std::string::npos) return default_value;
    std::string value = TrimBlanks(line.substr(equals + 1));
    // Matching quotes around the whole value are dropped.
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.empty()) return default_value;
    return ParseProfileInteger(value);
  }
  return default_value;
}

}  // namespace gearloft::platform
