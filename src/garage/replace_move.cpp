// gearloft garage detail setting: the replacing move that waits out a program holding the file briefly.
#include "garage/garage.h"
#include "platform/platform.h"

namespace gearloft {
namespace {

constexpr uint32_t kSharingViolation = 32;  // ERROR_SHARING_VIOLATION: someone has the file open
constexpr uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED: also what a pending delete or a
                                            // scanner's exclusive open gives

bool DefaultMove(const std::string& from, const std::string& to, uint32_t* error) {
  return platform::ReplaceMove(from, to, error);
}

void DefaultSleep(uint32_t milliseconds) {
  platform::SleepMs(milliseconds);
}

}  // namespace

bool ReplaceMoveRetrying(const std::string& from, const std::string& to, uint32_t* error, MoveFunction move,
                         SleepFunction sleep) {
  if (move == nullptr) move = DefaultMove;
  if (sleep == nullptr) sleep = DefaultSleep;
  uint32_t code = 0;
  for (int attempt = 1;; ++attempt) {
    code = 0;
    if (move(from, to, &code)) return true;
    if (attempt == kMoveTries || (code != kSharingViolation && code != kAccessDenied)) break;
    sleep(kMoveRetryMs);
  }
  if (error != nullptr) *error = code;
  return false;
}

}  // namespace gearloft
