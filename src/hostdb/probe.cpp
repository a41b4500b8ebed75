// gearloft host database bridge: choosing the current CDatabase among the candidate globals by probing,
// and describing the candidates for the log.
#include <cstdio>

#include "hostdb/bridge_state.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"

namespace gearloft {

namespace {

// While the game boots, a global may hold an object whose tables are not loaded yet: only a single
// positive count proves the object is the live database.
bool Answers(const QueryResult& result) {
  if (!result.ok || result.rows.size() != 1 || result.rows[0].empty()) return false;
  return CellAsDouble(&result.rows[0][0]) > 0.0;
}

// The object address as the game's runtime prints a pointer: sixteen upper-case hexadecimal digits.
std::string FormatObject(uintptr_t object) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[object & 0xF];
    object >>= 4;
  }
  return text;
}

}  // namespace

bool ProbeCandidates(std::string* message) {
  platform::MutexLock lock(bridge::Mutex());
  bridge::Current().store(0);
  const std::vector<uintptr_t>& candidates = bridge::CandidateList();
  for (uintptr_t global : candidates) {
    uintptr_t result = 0;
    if (!CallExecuteQuery(global, kProbeSql, &result)) continue;
    if (Answers(ReadHostResult(result))) {
      bridge::Current().store(global);
      return true;
    }
  }
  if (message != nullptr) {
    size_t holding = 0;
    for (uintptr_t global : candidates) {
      uintptr_t object = 0;
      uintptr_t method = 0;
      if (bridge::ResolveMethod(global, &object, &method)) ++holding;
    }
    *message = std::to_string(candidates.size()) + " global(s), " + std::to_string(holding) +
               " holding an object, none answered a probe SELECT";
  }
  return false;
}

std::string DescribeCandidates() {
  platform::MutexLock lock(bridge::Mutex());
  platform::ModuleRange module{};
  if (!platform::MainModuleRange(&module)) module.base = 0;
  std::string text;
  for (uintptr_t global : bridge::CandidateList()) {
    uintptr_t object = 0;
    uintptr_t method = 0;
    const bool holds = bridge::ResolveMethod(global, &object, &method);
    char entry[160];
    std::snprintf(entry, sizeof entry, "%sglobal exe+0x%llx -> obj %s, ExecuteQuery %s0x%llx",
                  text.empty() ? "" : "; ", static_cast<unsigned long long>(global - module.base),
                  FormatObject(holds ? object : 0).c_str(), holds ? "exe+" : "none ",
                  static_cast<unsigned long long>(holds ? method - module.base : 0));
    text += entry;
  }
  return text;
}

void ClearCurrent() {
  platform::MutexLock lock(bridge::Mutex());
  bridge::Current().store(0);
}

size_t CandidateCount() {
  return bridge::CandidateCountUnlocked();
}

bool HasCurrent() {
  return bridge::Current().load() != 0;
}

void SetCandidatesForTest(const std::vector<uintptr_t>& candidates) {
  platform::MutexLock lock(bridge::Mutex());
  bridge::CandidateList() = candidates;
  bridge::PublishCandidateCount();
}

void SetCurrentForTest(uintptr_t global) {
  platform::MutexLock lock(bridge::Mutex());
  bridge::Current().store(global);
}

}  // namespace gearloft
