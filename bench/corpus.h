// gearloft benchmarks: the scan corpus, real x86-64 machine code cut from installed binaries into one
// cache file under the build folder, and its loading. Shared by the Linux and the Windows scan harness.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace gearloft::bench {

// Reads the whole cache file; false when it cannot be read or is empty.
inline bool LoadCorpus(const std::string& path, std::vector<uint8_t>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0) bytes->reserve(static_cast<size_t>(size));
    std::fseek(file, 0, SEEK_SET);
  }
  uint8_t buffer[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + got);
  std::fclose(file);
  return !bytes->empty();
}

}  // namespace gearloft::bench
