// gearloft platform layer, POSIX: putting a written file's bytes on the disk before it replaces another.
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace gearloft::platform {

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return fsync(fileno(file)) == 0;
}

}  // namespace gearloft::platform
