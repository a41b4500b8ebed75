// gearloft garage detail setting: the one-shot edit of the game's user configuration XML.
#pragma once

#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace gearloft {

// One edit of the configuration: a pattern (ECMAScript), the literal text every match of it begins
// with, and the element that replaces its first match. `compiled`, when set, is `pattern` compiled
// already; otherwise the pattern is compiled at each use.
struct GarageEdit {
  const char* pattern;
  const char* literal_start;
  const char* replacement;
  const std::regex* compiled;
};

// The four edits, in the order they run, their patterns compiled once (at the first call).
const std::vector<GarageEdit>& GarageEdits();

// The regular-expression engines recurse once per character of a "[^>]*" run: libstdc++ overflows a
// 1 MiB thread stack (a Windows thread's default) at about 3,200 characters in a release build and at
// 860 in an instrumented debug build. The elements edited here are under 60 characters, so a run (from
// a literal start to the next '>') longer than this is refused instead of searched.
constexpr size_t kLongestSearchedElement = 256;

// Runs `edits` in order on `text` with ReplaceOrInsert, each pattern not compiled yet compiled just before
// its use. false
// with a "garage LOD: " reason (and `text` half edited) when a run is longer than
// kLongestSearchedElement or a pattern fails.
// `found`, when given, is set to whether any edit matched or inserted its element.
bool EditGarageText(const std::vector<GarageEdit>& edits, std::string* text, std::string* reason,
                    bool* found = nullptr);

// Forces the garage car detail to Extreme in the player's UserConfigSelections under LOCALAPPDATA,
// through a temporary file and a replacing move. Gives the one message to log; on every failure the
// file stays as it was.
std::string FixGarageLod();

// The replacing move of the fix. A virus scanner or a sync program that holds the file for a moment makes
// MoveFileEx fail with ERROR_SHARING_VIOLATION (32) or ERROR_ACCESS_DENIED (5): on those two codes the
// move is tried up to kMoveTries times, kMoveRetryMs apart; `error` receives the last code. `move` and
// `sleep` are the platform's (ReplaceMove, SleepMs) unless a test passes its own.
constexpr int kMoveTries = 5;
constexpr uint32_t kMoveRetryMs = 100;
using MoveFunction = bool (*)(const std::string& from, const std::string& to, uint32_t* error);
using SleepFunction = void (*)(uint32_t milliseconds);
bool ReplaceMoveRetrying(const std::string& from, const std::string& to, uint32_t* error,
                         MoveFunction move = nullptr, SleepFunction sleep = nullptr);

// Replaces the first match of `pattern` with `replacement`; with no match, an "<option" replacement is
// inserted on a line of its own before the first "</selections>". false when it did neither. May throw
// std::regex_error, which EditGarageText turns into its reason.
bool ReplaceOrInsert(std::string* text, const std::regex& pattern, const std::string& replacement);

}  // namespace gearloft
