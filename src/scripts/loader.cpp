// gearloft script loading: the listing of the watched folder, reading script files, loading every
// script into one plan, and the plan file that shows the user the statements of the last load.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "compiler/compiler.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "scripts/scripts.h"

namespace gearloft {

// ---- Names ---------------------------------------------------------------------------------------------

// UTF-8 to UTF-16 code units; a byte that starts no well-formed sequence becomes U+FFFD, as the
// system's conversion does.
static std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string units;
  size_t i = 0;
  const size_t size = text.size();
  while (i < size) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t point = 0;
    uint32_t smallest = 0;
    if (lead < 0x80) {
      length = 1;
      point = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      point = lead & 0x1Fu;
      smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      point = lead & 0x0Fu;
      smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      point = lead & 0x07u;
      smallest = 0x10000;
    }
    bool good = length != 0 && i + length <= size;
    for (size_t k = 1; good && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) {
        good = false;
      } else {
        point = (point << 6) | (next & 0x3Fu);
      }
    }
    if (good && (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))) good = false;
    if (!good) {
      units.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FFu)));
    } else {
      units.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return units;
}

static int FoldUnit(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit;
}

int CompareNamesNoCase(const std::string& a, const std::string& b) {
  const std::u16string left = Utf8ToUtf16(a);
  const std::u16string right = Utf8ToUtf16(b);
  const size_t common = std::min(left.size(), right.size());
  for (size_t i = 0; i < common; ++i) {
    const int difference = FoldUnit(left[i]) - FoldUnit(right[i]);
    if (difference != 0) return difference;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

bool SameListing(const ScriptListing& a, const ScriptListing& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].stamp != b[i].stamp || CompareNamesNoCase(a[i].name, b[i].name) != 0) return false;
  }
  return true;
}

// ---- Listing and reading -------------------------------------------------------------------------------

ScriptListing ListScriptsIn(const std::string& folder) {
  ScriptListing listing;
  for (const platform::DirEntry& entry : platform::ListFolder(folder, ".ini")) {
    if (entry.is_directory) continue;
    listing.push_back(ScriptEntry{entry.name, entry.write_time ^ ((entry.size & 0xFFFFFFFFu) * 2u)});
  }
  // Names equal but for case can only both exist on a case-sensitive file system; ordering them by
  // their bytes keeps the listing, and so the change test, the same from pass to pass.
  std::sort(listing.begin(), listing.end(), [](const ScriptEntry& a, const ScriptEntry& b) {
    const int order = CompareNamesNoCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  return listing;
}

ScriptListing ListScripts() {
  return ListScriptsIn(WatchedFolder());
}

namespace {

// Closes a file however its use ends: out of memory inside the game must not leave it open.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenedFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

// An editor, a sync tool or a virus scanner may hold a script for a few seconds after it is saved: read
// as empty, its rows would go until its next change. Tries for 5 s, 100 ms apart.
constexpr int kReadAttempts = 50;
constexpr uint32_t kReadRetryMs = 100;

std::string ReadScriptFile(const std::string& path) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const OpenedFile file(platform::OpenFile(path, "rb", platform::Share::kDenyNone));
    if (file != nullptr) {
      std::string text;
      char buffer[16384];
      size_t got = 0;
      while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
      return text;
    }
    platform::SleepMs(kReadRetryMs);
  }
  return std::string();
}

// ---- Loading -------------------------------------------------------------------------------------------

// The statements still run in plan order, so the later change to a cell is what the game keeps; the user
// is told, since one of the two scripts does not do what it says.
static void LogCellClashes(CellWrites* cells, const std::string& name, const Plan& script_plan,
                           const std::vector<ChangeOrigin>& origins) {
  for (const std::string& clash : NoteCellWrites(cells, name, script_plan.statements, origins)) {
    LogLine("WARNING %s", clash.c_str());
  }
}

Plan LoadPlanWithQuery(const ScriptListing& listing, const PreviousRowIds& previous, const QueryFn& query) {
  Plan plan;
  LevelRegistry levels;
  const std::string folder = WatchedFolder();
  const std::string separator = platform::PathSeparator();
  const OpenedFile opened_plan_file(
      platform::OpenFile(folder + separator + "gearloft.plan.sql", "w", platform::Share::kDenyNone));
  std::FILE* plan_file = opened_plan_file.get();
  CellWrites cells;
  for (const ScriptEntry& entry : listing) {
    const std::string& name = entry.name;
    Plan script_plan;
    std::vector<ChangeOrigin> origins;
    std::string error;
    const std::string content = ReadScriptFile(folder + separator + name);
    // A file that fails takes its Levels back itself, so the next file gets them again.
    if (!CompileCarScript(content, query, levels, &script_plan, &error, previous, &origins)) {
      LogLine("ERROR %s: %s - file skipped", name.c_str(), error.c_str());
      continue;
    }
    std::string names;
    for (const std::string& car_name : script_plan.names) {
      if (!names.empty()) names += ", ";
      names += car_name;
    }
    LogLine("loaded %s: %s, %zu statement(s)", name.c_str(), names.c_str(), script_plan.statements.size());
    LogCellClashes(&cells, name, script_plan, origins);
    if (plan_file != nullptr) {
      std::fprintf(plan_file, "-- %s\n", name.c_str());
      for (const PlanStatement& statement : script_plan.statements) {
        std::fputs(statement.c_str(), plan_file);
        std::fputs(";\n", plan_file);
      }
    }
    AppendPlan(&plan, script_plan, false);
  }
  return plan;
}

Plan LoadPlan(const ScriptListing& listing, const PreviousRowIds& previous) {
  return LoadPlanWithQuery(listing, previous, QueryFn(CachedQuery));
}

}  // namespace gearloft
