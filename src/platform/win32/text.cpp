// gearloft platform layer, Windows: UTF-16 to UTF-8 with the system's own converter.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace gearloft::platform {

std::string Utf16ToUtf8(const std::u16string& text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
  return win32::FromWide(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

}  // namespace gearloft::platform
