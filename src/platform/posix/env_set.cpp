// gearloft platform layer, POSIX: setting and removing this process's environment variables (tests use
// it to point LOCALAPPDATA at a folder of their own).
#include <stdlib.h>

#include <string>

#include "platform/testing.h"

namespace gearloft::platform {

bool SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) return unsetenv(name.c_str()) == 0;
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace gearloft::platform
