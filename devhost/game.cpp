// gearloft simulated game: the game's CDatabase global and its ExecuteQuery call sites (machine code in
// callsite_x64.S), which the game can hide from a scan the way packed code hides until it is unpacked.
#include <atomic>
#include <cstring>
#include <vector>

#include "devhost/devhost.h"
#include "platform/testing.h"

extern "C" {
extern void* gearloft_devhost_database;
extern void* gearloft_devhost_second_database;
void* GEARLOFT_HOSTCALL gearloft_devhost_call_site(void* frame);
void* GEARLOFT_HOSTCALL gearloft_devhost_second_call_site(void* frame);
}

namespace gearloft::devhost {

namespace {

// Each call site fills one page of its own (see callsite_x64.S).
constexpr size_t kSitePage = 4096;
// Enough to cover the call site's instructions; XOR with this byte never leaves the signature intact.
constexpr size_t kScrambledBytes = 64;
constexpr uint8_t kScrambleKey = 0xA5;

enum HideState { kShown = 0, kHiddenNotExecutable = 1, kHiddenScrambled = 2 };

std::atomic<int>& SiteHideState() {
  static std::atomic<int>& state = *new std::atomic<int>(kShown);
  return state;
}

using CallSiteFn = void*(GEARLOFT_HOSTCALL*)(void* frame);
void* SitePage(CallSiteFn site) {
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(site));
}

bool Scramble(void* page) {
  if (!platform::ProtectPages(page, kSitePage, platform::kPageReadWrite)) return false;
  // The code page is read and written through the platform's copy, not by plain loads and stores: a
  // thread sanitizer keeps no shadow for code and would fault on an instrumented access to it.
  uint8_t bytes[kScrambledBytes];
  bool ok = platform::GuardedRead(page, bytes, kScrambledBytes);
  for (size_t i = 0; i < kScrambledBytes; ++i) bytes[i] = static_cast<uint8_t>(bytes[i] ^ kScrambleKey);
  ok = ok && platform::GuardedRead(bytes, page, kScrambledBytes);
  return platform::ProtectPages(page, kSitePage, platform::kPageExecuteRead) && ok;
}

}  // namespace

void SetGameDatabase(Database* database) {
  gearloft_devhost_database = database;
}

uintptr_t GameGlobalAddress() {
  return reinterpret_cast<uintptr_t>(&gearloft_devhost_database);
}

uintptr_t SecondGlobalAddress() {
  return reinterpret_cast<uintptr_t>(&gearloft_devhost_second_database);
}

bool HideCallSite(CodeHide how) {
  if (SiteHideState().load() != kShown) return false;
  void* page = SitePage(&gearloft_devhost_call_site);
  if (how == CodeHide::kNotExecutable) {
    if (!platform::ProtectPages(page, kSitePage, platform::kPageReadOnly)) return false;
    SiteHideState().store(kHiddenNotExecutable);
    return true;
  }
  if (!Scramble(page)) return false;
  SiteHideState().store(kHiddenScrambled);
  return true;
}

bool RevealCallSite() {
  void* page = SitePage(&gearloft_devhost_call_site);
  switch (SiteHideState().load()) {
    case kHiddenNotExecutable:
      if (!platform::ProtectPages(page, kSitePage, platform::kPageExecuteRead)) return false;
      break;
    case kHiddenScrambled:
      if (!Scramble(page)) return false;
      break;
    default:
      return true;
  }
  SiteHideState().store(kShown);
  return true;
}

bool CallSiteHidden() {
  return SiteHideState().load() != kShown;
}

bool SetSecondCallSiteEnabled(bool enabled) {
  return platform::ProtectPages(SitePage(&gearloft_devhost_second_call_site), kSitePage,
                                enabled ? platform::kPageExecuteRead : platform::kPageReadOnly);
}

bool RunGameQuery(const std::string& sql, uintptr_t* result) {
  *result = 0;
  if (CallSiteHidden() || gearloft_devhost_database == nullptr) return false;
  // The call site's frame: the result slot, then the statement text.
  std::vector<char> frame(8 + sql.size() + 1, '\0');
  std::memcpy(frame.data() + 8, sql.c_str(), sql.size() + 1);
  *result = reinterpret_cast<uintptr_t>(gearloft_devhost_call_site(frame.data()));
  return true;
}

}  // namespace gearloft::devhost
