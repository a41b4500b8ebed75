// gearloft script loading: the listing of the watched folder, reading script files, loading every
// script into one plan, and the plan file that shows the user the statements of the last load.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "platform/platform.h"
#include "runtime/log.h"
#include "runtime/paths.h"
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
    uint32_t point = 0;
    const size_t length = Utf8SequenceAt(text, i, &point);
    if (length == 0) {
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

// Script names are equal when they differ at most in the case of 'A'-'Z', as the listing's sort
// compares them. Folding nothing but ASCII letters makes UTF-8 and UTF-16 agree on equality.
static bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool SameScripts(const ScriptListing& a, const ScriptListing& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].stamp != b[i].stamp || !SameNameIgnoringCase(a[i].name, b[i].name)) return false;
  }
  return true;
}

// ---- Listing and reading -------------------------------------------------------------------------------

namespace {

// How the last load left a file: the stamp it was given and whether it was skipped for the moment.
struct LoadedStamp {
  uint64_t given;
  bool skipped;
};

// The files of the last load, by path. Only the worker thread lists and loads; the lock is for tests
// and tools that list on a thread of their own.
struct ReadAgain {
  platform::Mutex* lock = platform::NewMutex();
  std::map<std::string, LoadedStamp> stamps;
};

ReadAgain& TheReadAgain() {
  // Never destroyed: the worker may still list while the process exits.
  static ReadAgain& files = *new ReadAgain;
  return files;
}

// Any bit would do: the stamp only has to differ from the one the worker holds.
constexpr uint64_t kReadAgainMark = 1;

// Only a regular file is opened: opening a FIFO would wait for a writer for good.
bool OpensNow(const std::string& path) {
  platform::FileFacts facts;
  if (!platform::DescribeFile(path, &facts) || facts.kind != platform::FileKind::kRegular) return false;
  std::FILE* file = platform::OpenFile(path, "rb", platform::Share::kDenyNone);
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

}  // namespace

ScriptListing ListScriptsIn(const std::string& folder) {
  ScriptListing listing;
  const std::string separator = platform::PathSeparator();
  ReadAgain& again = TheReadAgain();
  for (const platform::DirEntry& entry : platform::ListFolder(folder, ".ini")) {
    if (entry.is_directory) continue;
    uint64_t stamp = entry.write_time ^ ((entry.size & 0xFFFFFFFFu) * 2u);
    {
      const platform::MutexLock held(again.lock);
      const auto loaded = again.stamps.find(folder + separator + entry.name);
      if (loaded != again.stamps.end()) {
        const uint64_t given = loaded->second.given;
        if (loaded->second.skipped) {
          // Unchanged since it was skipped: the worker would see no change and never read it again. It
          // is shown as changed once it opens, so the load that follows reads it at once, and a file that
          // stays held costs one open a pass and no log line.
          if (given == stamp && OpensNow(folder + separator + entry.name)) stamp ^= kReadAgainMark;
        } else if (given == (stamp ^ kReadAgainMark)) {
          // Read at last under a marked stamp: it keeps that stamp until it changes, or the worker
          // would load it once more for nothing.
          stamp = given;
        }
      }
    }
    listing.push_back(ScriptEntry{entry.name, stamp});
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

constexpr uint32_t kReadRetryMs = 100;

ScriptText ReadScriptFile(const std::string& path, int attempts) {
  ScriptText text;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt != 0) platform::SleepMs(kReadRetryMs);
    // Looked at before every open: opening a FIFO would wait for a writer for good.
    platform::FileFacts facts;
    if (platform::DescribeFile(path, &facts)) {
      if (facts.kind != platform::FileKind::kRegular) {
        text.error = "not a regular file";
        return text;
      }
      if (facts.size > kLargestScript) {
        text.error = std::to_string(facts.size) + " bytes is past the " + std::to_string(kLargestScript) +
                     "-byte limit for a script";
        return text;
      }
    }
    const OpenedFile file(platform::OpenFile(path, "rb", platform::Share::kDenyNone));
    if (file == nullptr) continue;
    char buffer[16384];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
      // It may have grown since it was looked at.
      if (text.bytes.size() + got > kLargestScript) {
        text.bytes.clear();
        text.error = "more than " + std::to_string(kLargestScript) + " bytes, the limit for a script";
        return text;
      }
      text.bytes.append(buffer, got);
    }
    if (std::ferror(file.get()) != 0) {
      text.bytes.clear();
      continue;
    }
    text.ok = true;
    return text;
  }
  text.error = "cannot be read (another program may hold it open)";
  text.again = true;
  return text;
}

// Reads and compiles one script into `script_plan`. Out of memory while doing so fails this file alone,
// with its name in the log, and leaves `levels` as it was.
static bool ReadAndCompile(const std::string& path, const QueryFn& query, LevelRegistry& levels,
                           const PreviousRowIds& previous, Plan* script_plan, std::string* error, bool* again,
                           std::vector<ChangeOrigin>* origins) {
  const LevelRegistry before = levels;
  try {
    ScriptText text = ReadScriptFile(path);
    if (!text.ok) {
      *error = text.error;
      *again = text.again;
      return false;
    }
    return CompileCarScript(text.bytes, query, levels, script_plan, error, previous, nullptr, origins);
  } catch (const std::bad_alloc&) {
    levels = before;
    *script_plan = Plan();
    origins->clear();
    // Read again at the next pass: memory that ran short once is usually there again.
    *error = "out of memory while loading it";
    *again = true;
    return false;
  }
}

// ---- Loading -------------------------------------------------------------------------------------------

// The statements still run in plan order, so the later change to a cell is what the game keeps; the user
// is told, since one of the two scripts does not do what it says.
static void LogCellClashes(CellWrites* cells, const std::string& name, const Plan& script_plan,
                           const std::vector<ChangeOrigin>& origins) {
  for (const std::string& clash : NoteCellWrites(cells, name, script_plan.statements, origins)) {
    LogLine("WARNING %s", PrintableText(clash).c_str());
  }
}

Plan LoadPlanWithQuery(const ScriptListing& listing, const PreviousRowIds& previous, const QueryFn& query) {
  Plan plan;
  LevelRegistry levels;
  const Paths paths = WatchedFolderPaths(WatchedFolder());
  const std::string& folder = paths.watched_folder;
  const std::string separator = platform::PathSeparator();
  const OpenedFile opened_plan_file(platform::OpenFile(paths.plan_file, "w", platform::Share::kDenyNone));
  std::FILE* plan_file = opened_plan_file.get();
  std::map<std::string, LoadedStamp> read_again;
  CellWrites cells;
  for (const ScriptEntry& entry : listing) {
    const std::string& name = entry.name;
    Plan script_plan;
    std::vector<ChangeOrigin> origins;
    std::string error;
    bool again = false;
    // A file that fails takes its Levels back itself, so the next file gets them again.
    if (!ReadAndCompile(folder + separator + name, query, levels, previous, &script_plan, &error, &again,
                        &origins)) {
      LogLine("ERROR %s: %s - file skipped", PrintableText(name).c_str(), PrintableText(error).c_str());
      read_again[folder + separator + name] = LoadedStamp{entry.stamp, again};
      continue;
    }
    read_again[folder + separator + name] = LoadedStamp{entry.stamp, false};
    std::string names;
    for (const std::string& car_name : script_plan.names) {
      if (!names.empty()) names += ", ";
      names += car_name;
    }
    LogLine("loaded %s: %s, %zu statement(s)", PrintableText(name).c_str(), PrintableText(names).c_str(),
            script_plan.statements.size());
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
  ReadAgain& again = TheReadAgain();
  const platform::MutexLock held(again.lock);
  again.stamps.swap(read_again);
  return plan;
}

Plan LoadPlan(const ScriptListing& listing, const PreviousRowIds& previous) {
  return LoadPlanWithQuery(listing, previous, QueryFn(CachedQuery));
}

}  // namespace gearloft
