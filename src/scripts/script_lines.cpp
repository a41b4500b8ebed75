// gearloft script loading: where a script's sections and keys stand, so that a tool can point at the
// line a compiler message is about. Each line is judged by the parser itself, one line at a time.
#include <cstddef>

#include "scripts/scripts.h"

namespace gearloft {

std::vector<SectionLines> MapScriptLines(const std::string& content) {
  std::vector<SectionLines> sections;
  size_t begin = 0;
  if (content.size() >= 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0) begin = 3;
  size_t number = 0;
  while (begin <= content.size()) {
    size_t end = content.find('\n', begin);
    if (end == std::string::npos) end = content.size();
    ++number;
    const std::string line = content.substr(begin, end - begin);
    // Alone, a header gives one section, a blank or comment line none, and a key line an error; under
    // an empty header the same key line gives its key as the parser would store it.
    CarScript alone;
    std::string error;
    if (ParseCarScript(line, &alone, &error)) {
      if (!alone.sections.empty()) sections.push_back(SectionLines{number, {}});
    } else if (!sections.empty()) {
      CarScript inside;
      if (ParseCarScript("[]\n" + line, &inside, &error) && inside.sections.size() == 1) {
        for (const auto& key : inside.sections[0].keys) sections.back().keys[key.first] = number;
      }
    }
    if (end == content.size()) break;
    begin = end + 1;
  }
  return sections;
}

}  // namespace gearloft
