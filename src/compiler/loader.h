// gearloft script loading: the listing of the watched folder, reading script files, and loading every
// script into one plan, with the plan file that shows the user the statements of the last load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "scripts/scripts.h"

namespace gearloft {

// ---- Folder listing ---------------------------------------------------------------------------------

struct ScriptEntry {
  std::string name;  // UTF-8 file name without the folder
  uint64_t stamp = 0;
};
using ScriptListing = std::vector<ScriptEntry>;

// Compares two UTF-8 names as _wcsicmp does in its default locale: UTF-16 code units, with only
// 'A'-'Z' folded to lower case. Negative, zero or positive.
int CompareNamesNoCase(const std::string& a, const std::string& b);

// The same names in the same order (names equal but for the case of 'A'-'Z') with the same stamps: what
// the worker takes for no change in the folder.
bool SameScripts(const ScriptListing& a, const ScriptListing& b);

// The "*.ini" files of `folder` (sub-folders left out), sorted as the worker sorts the watched folder.
// A file the last load had to skip for the moment (see ScriptText::again) gets a stamp unlike the one
// that load was given, so the worker, which reloads only on a change, reads it again at its next pass.
ScriptListing ListScriptsIn(const std::string& folder);
ScriptListing ListScripts();

// The largest script read; anything bigger is a mistake (a log or a data file renamed), not a car list.
constexpr uint64_t kLargestScript = 16u * 1024u * 1024u;
// An editor, a sync tool or a virus scanner may hold a script for a few seconds after it is saved.
constexpr int kScriptReadAttempts = 50;

// A script's bytes, or why there are none.
struct ScriptText {
  bool ok = false;
  // It failed for now only (held open, no right to read it, out of memory): worth reading again soon.
  bool again = false;
  std::string bytes;  // every byte, no newline translation
  std::string error;  // e.g. "not a regular file"
};
// Only a regular file of at most kLargestScript bytes is read, tried `attempts` times 100 ms apart.
ScriptText ReadScriptFile(const std::string& path, int attempts = kScriptReadAttempts);

// ---- Plan loading -----------------------------------------------------------------------------------

// Compiles every script of `listing` into one plan (a file that fails is skipped, with its log line) and
// writes the plan file, through CachedQuery.
Plan LoadPlan(const ScriptListing& listing, const PreviousRowIds& previous);
// LoadPlan with `query` in place of CachedQuery: what LoadPlan runs, and the seam its tests use.
Plan LoadPlanWithQuery(const ScriptListing& listing, const PreviousRowIds& previous, const QueryFn& query);

}  // namespace gearloft
