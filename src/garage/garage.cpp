// gearloft garage detail setting: forcing the garage car level of detail to Extreme by editing the
// game's user configuration XML through a temporary file and a replacing move.
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "garage/garage.h"
#include "platform/platform.h"

namespace gearloft {
namespace {

constexpr const char kSelectionsEnd[] = "</selections>";
constexpr size_t kSelectionsEndLength = sizeof(kSelectionsEnd) - 1;
constexpr size_t kReadBlock = 4096;

// The folders below LOCALAPPDATA, then the file, which has no extension.
const char* const kConfigPathParts[] = {"VelatrixRally", "LocalStorage_Shared",
                                        "VelatrixUserConfigSelections", "UserConfigSelections"};

// The longest stretch any match of an edit could cover from each place its literal start occurs: up to
// the next '>' (or the end of the text, where an unclosed element leaves the engine running).
size_t LongestRunFrom(const std::string& text, const std::string& literal) {
  size_t longest = 0;
  for (size_t at = text.find(literal); at != std::string::npos; at = text.find(literal, at + 1)) {
    size_t close = text.find('>', at + literal.size());
    size_t run = (close == std::string::npos ? text.size() : close) - at;
    if (run > longest) longest = run;
  }
  return longest;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::FILE* file = platform::OpenFile(path, "rb", platform::Share::kExclusive);
  if (file == nullptr) return false;
  char block[kReadBlock];
  size_t got;
  while ((got = std::fread(block, 1, sizeof(block), file)) > 0) content->append(block, got);
  // A read that stopped on an error holds only part of the file; writing that back would lose the rest.
  bool complete = std::ferror(file) == 0;
  std::fclose(file);
  return complete;
}

// The whole text on the disk, or false; the caller removes what was written.
bool WriteWholeFile(std::FILE* file, const std::string& content) {
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  // The move must never put a file in place whose bytes are still only in a cache.
  written = written && platform::FlushToDisk(file);
  return std::fclose(file) == 0 && written;
}

}  // namespace

const std::vector<GarageEdit>& GarageEdits() {
  static const std::vector<GarageEdit>& edits = *[] {
    auto* made = new std::vector<GarageEdit>{
        {"<CarFocusLODMinMax\\b[^>]*/>", "<CarFocusLODMinMax",
         "<CarFocusLODMinMax isDynamic=\"0\" dynamicValue=\"Extreme\"/>", nullptr},
        {"<UseDynamicOptimization\\b[^>]*/>", "<UseDynamicOptimization",
         "<UseDynamicOptimization value=\"0\"/>", nullptr},
        {"<option id=\"CarLOD\"[^>]*/>", "<option id=\"CarLOD\"", "<option id=\"CarLOD\" value=\"4\"/>",
         nullptr},
        {"<option id=\"UseDynamicOptimization\"[^>]*/>", "<option id=\"UseDynamicOptimization\"",
         "<option id=\"UseDynamicOptimization\" value=\"0\"/>", nullptr},
    };
    // Compiling a "[^>]" bracket builds a table over every character through the locale; once is enough.
    for (GarageEdit& edit : *made) edit.compiled = new std::regex(edit.pattern);
    return made;
  }();
  return edits;
}

bool ReplaceOrInsert(std::string* text, const std::regex& pattern, const std::string& replacement) {
  std::smatch match;
  if (std::regex_search(*text, match, pattern)) {
    // The first match only; later matches stay as they were.
    *text = match.prefix().str() + match.format(replacement) + match.suffix().str();
    return true;
  }
  if (text->size() < kSelectionsEndLength || replacement.compare(0, 7, "<option") != 0) return false;
  size_t end = text->find(kSelectionsEnd);
  if (end == std::string::npos) return false;
  // The closing tag usually stands on its own line after two blanks: the option lands on the line before
  // it, indented by four.
  text->insert(end, "  " + replacement + "\n  ");
  return true;
}

bool EditGarageText(const std::vector<GarageEdit>& edits, std::string* text, std::string* reason,
                    bool* found) {
  if (found != nullptr) *found = false;
  for (const GarageEdit& edit : edits) {
    if (LongestRunFrom(*text, edit.literal_start) > kLongestSearchedElement) {
      *reason = std::string("garage LOD: ") + edit.literal_start + " element longer than " +
                std::to_string(kLongestSearchedElement) +
                " characters, too long to search safely; config left untouched";
      return false;
    }
    try {
      const bool edited = edit.compiled != nullptr
                              ? ReplaceOrInsert(text, *edit.compiled, edit.replacement)
                              : ReplaceOrInsert(text, std::regex(edit.pattern), edit.replacement);
      if (edited && found != nullptr) *found = true;
    } catch (const std::regex_error&) {
      *reason = std::string("garage LOD: regular expression for ") + edit.literal_start +
                " failed; config left untouched";
      return false;
    }
  }
  return true;
}

std::string FixGarageLod() {
  std::string local_app_data;
  // An empty value counts as missing, as it does for GetEnvironmentVariableW.
  if (!platform::GetEnvironment("LOCALAPPDATA", &local_app_data) || local_app_data.empty()) {
    return "garage LOD: no LOCALAPPDATA";
  }
  std::string path = local_app_data;
  for (const char* part : kConfigPathParts) path += platform::PathSeparator() + std::string(part);

  std::string original;
  if (!ReadWholeFile(path, &original)) return "garage LOD: cannot read UserConfigSelections";

  std::string edited = original;
  std::string reason;
  bool found = false;
  if (!EditGarageText(GarageEdits(), &edited, &reason, &found)) return reason;
  // A file in another encoding (UTF-16), or one the game wrote without these elements, gives nothing to
  // edit: saying "already Extreme" would hide that the fix never took hold.
  if (!found) return "garage LOD: no garage detail settings found in UserConfigSelections; left untouched";
  if (edited == original)
    return "garage LOD: already Extreme (CarLOD=4, CarFocusLODMinMax=Extreme, dynamic off)";

  const std::string temporary = path + ".gearloft";
  std::FILE* file = platform::OpenFile(temporary, "wb", platform::Share::kExclusive);
  if (file == nullptr) return "garage LOD: cannot write temp config";
  if (!WriteWholeFile(file, edited)) {
    platform::DeleteFilePath(temporary);
    return "garage LOD: short write";
  }
  uint32_t error = 0;
  if (!ReplaceMoveRetrying(temporary, path, &error)) {
    platform::DeleteFilePath(temporary);
    return "garage LOD: MoveFileEx failed err=" + std::to_string(error) + " (game may have the file open)";
  }
  return "garage LOD: forced Extreme (CarLOD=4, garage focus car Extreme, dynamic off)";
}

}  // namespace gearloft
