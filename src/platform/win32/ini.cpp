// gearloft platform layer, Windows: the INI integer reader, the system's private-profile reader itself.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace gearloft::platform {

int ReadIniInt(const std::string& file, const std::string& section, const std::string& key,
               int default_value) {
  using win32::ToWide;
  const UINT value = GetPrivateProfileIntW(ToWide(section).c_str(), ToWide(key).c_str(), default_value,
                                           ToWide(file).c_str());
  // The reader hands negative values back as their two's complement.
  return static_cast<int>(value);
}

}  // namespace gearloft::platform
