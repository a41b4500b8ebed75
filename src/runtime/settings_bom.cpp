// gearloft runtime: the check for a settings file an editor saved "UTF-8 with BOM". Windows' profile
// reader does not skip the mark, so a [gearloft] header on the first line hides every setting under it.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "scripts/scripts.h"

namespace gearloft {

void WarnOfSettingsByteOrderMark(const std::string& settings_file) {
  std::FILE* file = platform::OpenFile(settings_file, "rb", platform::Share::kDenyNone);
  if (file == nullptr) return;
  char start[3] = {};
  const size_t got = std::fread(start, 1, sizeof start, file);
  std::fclose(file);
  if (got != sizeof start || std::memcmp(start, kUtf8ByteOrderMark, sizeof start) != 0) return;
  // One literal, as every log format is kept, so the message can be found whole in the sources.
  // clang-format off
  LogLine("WARNING: scripts\\gearloft.ini begins with a UTF-8 byte-order mark; Windows does not see the section on its first line - save it without one");
  // clang-format on
}

}  // namespace gearloft
