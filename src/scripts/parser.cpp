// gearloft script loading: the car-script parser, which checks only the shape of lines and leaves the
// meaning of names and keys to the compiler.
#include <cstddef>

#include "scripts/scripts.h"

namespace gearloft {

static bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

static std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

static bool Fail(size_t line_number, const char* suffix, std::string* error) {
  *error = "line " + std::to_string(line_number) + suffix;
  return false;
}

// One line after the comment cut and trimming; false with the message when its shape is wrong.
static bool ParseLine(const std::string& line, size_t line_number, CarScript* script, std::string* error) {
  if (line[0] == '[') {
    if (line.size() < 2 || line.back() != ']') return Fail(line_number, ": bad section header", error);
    CarSection section;
    section.name = Trim(line.substr(1, line.size() - 2));
    section.line = line_number;
    script->sections.push_back(section);
    return true;
  }
  const size_t separator = line.find_first_of("=:");
  if (separator == std::string::npos || script->sections.empty()) {
    return Fail(line_number, ": expected key = value inside a [car]", error);
  }
  const std::string key = LowerAscii(Trim(line.substr(0, separator)));
  CarSection& section = script->sections.back();
  section.keys[key] = Trim(line.substr(separator + 1));
  section.key_lines[key] = line_number;
  return true;
}

bool ParseCarScript(const std::string& content, CarScript* script, std::string* error) {
  size_t begin = 0;
  if (content.size() >= 3 && content.compare(0, 3, kUtf8ByteOrderMark) == 0) begin = 3;
  size_t line_number = 0;
  while (begin <= content.size()) {
    size_t end = content.find('\n', begin);
    if (end == std::string::npos) end = content.size();
    ++line_number;
    std::string line = content.substr(begin, end - begin);
    const size_t comment = line.find_first_of(";#");
    if (comment != std::string::npos) line.erase(comment);
    line = Trim(line);
    if (!line.empty() && !ParseLine(line, line_number, script, error)) return false;
    if (end == content.size()) break;
    begin = end + 1;
  }
  return true;
}

}  // namespace gearloft
