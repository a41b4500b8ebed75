// gearloft benchmarks: builds the scan corpus. Cuts the executable sections out of the ELF and PE files
// named on the command line (x86-64 only) and writes them, one after the other, into one cache file until
// it holds exactly the asked number of MiB; a manifest beside it names what went in.

// Usage: gearloft_bench_corpus <cache file> <MiB> <binary>...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Section {
  uint64_t offset;
  uint64_t size;
};

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  uint8_t buffer[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + got);
  std::fclose(file);
  return true;
}

uint64_t Little(const std::vector<uint8_t>& bytes, uint64_t at, int width) {
  uint64_t value = 0;
  if (at + static_cast<uint64_t>(width) > bytes.size()) return 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<uint64_t>(i)];
  return value;
}

// ELF64 little-endian for x86-64: the PROGBITS sections with the execute flag (.text, .plt, .init, ...).
bool ElfSections(const std::vector<uint8_t>& bytes, std::vector<Section>* sections) {
  constexpr uint64_t kMachineX8664 = 62;
  constexpr uint64_t kProgBits = 1;
  constexpr uint64_t kExecInstr = 0x4;
  if (bytes.size() < 64 ||
      std::memcmp(bytes.data(),
                  "\x7F"
                  "ELF",
                  4) != 0 ||
      bytes[4] != 2 || bytes[5] != 1) {
    return false;
  }
  if (Little(bytes, 0x12, 2) != kMachineX8664) return false;
  const uint64_t table = Little(bytes, 0x28, 8);
  const uint64_t entry_size = Little(bytes, 0x3A, 2);
  const uint64_t count = Little(bytes, 0x3C, 2);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t header = table + i * entry_size;
    if (Little(bytes, header + 4, 4) != kProgBits || (Little(bytes, header + 8, 8) & kExecInstr) == 0)
      continue;
    sections->push_back(Section{Little(bytes, header + 0x18, 8), Little(bytes, header + 0x20, 8)});
  }
  return true;
}

// PE32+ for x86-64: the sections the loader maps executable.
bool PeSections(const std::vector<uint8_t>& bytes, std::vector<Section>* sections) {
  constexpr uint64_t kMachineAmd64 = 0x8664;
  constexpr uint64_t kMemExecute = 0x20000000;
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint64_t signature = Little(bytes, 0x3C, 4);
  if (signature + 24 > bytes.size() || std::memcmp(bytes.data() + signature, "PE\0\0", 4) != 0) return false;
  const uint64_t coff = signature + 4;
  if (Little(bytes, coff, 2) != kMachineAmd64) return false;
  const uint64_t count = Little(bytes, coff + 2, 2);
  const uint64_t table = coff + 20 + Little(bytes, coff + 16, 2);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t header = table + i * 40;
    if ((Little(bytes, header + 36, 4) & kMemExecute) == 0) continue;
    const uint64_t virtual_size = Little(bytes, header + 8, 4);
    const uint64_t raw_size = Little(bytes, header + 16, 4);
    // The file pads the last page of a section; the padding is not code.
    const uint64_t size = virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size;
    sections->push_back(Section{Little(bytes, header + 20, 4), size});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <cache file> <MiB> <binary>...\n", argv[0]);
    return 2;
  }
  const std::string cache = argv[1];
  const uint64_t wanted = std::strtoull(argv[2], nullptr, 10) * 1024 * 1024;
  const std::string partial = cache + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  std::FILE* manifest = std::fopen((cache + ".manifest").c_str(), "w");
  if (out == nullptr || manifest == nullptr) {
    std::fprintf(stderr, "corpus: cannot write %s\n", cache.c_str());
    return 1;
  }
  uint64_t written = 0;
  std::vector<uint8_t> bytes;
  for (int i = 3; i < argc && written < wanted; ++i) {
    std::vector<Section> sections;
    if (!ReadFile(argv[i], &bytes) || !(ElfSections(bytes, &sections) || PeSections(bytes, &sections)))
      continue;
    uint64_t taken = 0;
    for (const Section& section : sections) {
      if (section.offset >= bytes.size()) continue;
      uint64_t size = section.size;
      if (size > bytes.size() - section.offset) size = bytes.size() - section.offset;
      // The last file gives only what is still missing, so the corpus is exactly the size asked for.
      if (size > wanted - written - taken) size = wanted - written - taken;
      std::fwrite(bytes.data() + section.offset, 1, static_cast<size_t>(size), out);
      taken += size;
    }
    written += taken;
    std::fprintf(manifest, "%llu %s\n", static_cast<unsigned long long>(taken), argv[i]);
  }
  std::fclose(manifest);
  if (std::fclose(out) != 0 || written < wanted) {
    std::fprintf(stderr, "corpus: only %llu of %llu bytes of code found\n",
                 static_cast<unsigned long long>(written), static_cast<unsigned long long>(wanted));
    std::remove(partial.c_str());
    return 1;
  }
  if (std::rename(partial.c_str(), cache.c_str()) != 0) {
    std::fprintf(stderr, "corpus: cannot rename %s\n", partial.c_str());
    return 1;
  }
  std::printf("corpus: %llu bytes of code in %s\n", static_cast<unsigned long long>(written), cache.c_str());
  return 0;
}
