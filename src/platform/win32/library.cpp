// gearloft platform layer, Windows: loading a library and finding its exports, as the game's mod loader
// does with gearloft.dll.
#include <windows.h>

#include "platform/testing.h"
#include "platform/win32/wide.h"

namespace gearloft::platform {

void* LoadLibraryFile(const std::string& path) {
  return LoadLibraryW(win32::ToWide(path).c_str());
}

void* LibrarySymbol(void* library, const char* name) {
  // A null module would search the game's executable instead.
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace gearloft::platform
