// gearloft platform layer, Linux: loading a shared library and finding its exports, for the simulated
// game that loads libgearloft the way the game's mod loader loads gearloft.dll.
#include <dlfcn.h>

#include "platform/testing.h"

namespace gearloft::platform {

void* LoadLibraryFile(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void UnloadLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace gearloft::platform
