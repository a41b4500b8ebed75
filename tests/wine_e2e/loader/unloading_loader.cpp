// gearloft Windows end-to-end test program: a mod loader that loads a library and unloads it at once,
// then lives on for a while. gearloft.dll pins itself, so its worker must go on running unharmed.
#include <cstdio>
#include <cstdlib>

#include "platform/testing.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: gearloft-unloading-loader LIBRARY SECONDS\n", stderr);
    return 2;
  }
  void* library = gearloft::platform::LoadLibraryFile(argv[1]);
  if (library == nullptr) {
    std::fprintf(stderr, "gearloft-unloading-loader: cannot load %s\n", argv[1]);
    return 1;
  }
  gearloft::platform::UnloadLibrary(library);
  gearloft::platform::SleepMs(static_cast<uint32_t>(std::atoi(argv[2])) * 1000u);
  std::puts("gearloft-unloading-loader: still running");
  return 0;
}
