// gearloft platform layer: helpers the Windows and Linux sources share; included by them alone.
#pragma once

#include <string>

namespace gearloft::platform::common {

// True when the refuse hook (SetRefuseHook) is set and refuses `operation` on `path`.
bool Refused(const char* operation, const std::string& path);

// True when `text` ends in `suffix`, ASCII letters compared without regard to case.
bool EndsWithIgnoringAsciiCase(const std::string& text, const std::string& suffix);

}  // namespace gearloft::platform::common
