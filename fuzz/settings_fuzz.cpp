// gearloft fuzz target: the platform layer's INI integer reader on arbitrary settings-file bytes. Besides
// never failing, the answer for a key is the same whichever default is asked with (unless the default is
// what is given), the same for section and key names in any letter case, and with a UTF-8 byte-order
// mark put before the file the same as with the file's first line left out: as on Windows, the mark
// makes that line one that is neither a section header nor inside a section.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;

struct Setting {
  const char* section;
  const char* key;
};

// One of the worker's own settings, and the section and key names the reader's tests use. Every key is
// read by the same code, and each read opens the file: two keep the target fast.
const Setting kSettings[] = {{"gearloft", "poll_ms"}, {"s", "k"}};

constexpr int kDefault = 111111;
constexpr int kOtherDefault = -222222;

[[noreturn]] void Fail(const char* what, const Setting& setting, int got, int want) {
  std::fprintf(stderr, "%s: [%s] %s gave %d, want %d\n", what, setting.section, setting.key, got, want);
  std::abort();
}

std::string Upper(const char* text) {
  std::string upper(text);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper;
}

// Two files of this process in the temp folder, removed when it ends.
const std::string& FilePath(int which) {
  static const std::string& stem = *new std::string([] {
    std::random_device random;
    return (fs::temp_directory_path() / ("gearloft-settings-fuzz-" + std::to_string(random()))).string();
  }());
  static const std::string& plain = *new std::string(stem + ".ini");
  static const std::string& marked = *new std::string(stem + "-bom.ini");
  static const std::string& headless = *new std::string(stem + "-headless.ini");
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ignored;
      fs::remove(plain, ignored);
      fs::remove(marked, ignored);
      fs::remove(headless, ignored);
    });
    return true;
  }();
  (void)cleanup;
  return which == 0 ? plain : which == 1 ? marked : headless;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::string& file = FilePath(0);
  WriteFile(file, content);
  // Wine's reader skips the mark, unlike Windows': its replay has nothing to say about the mark.
  static const bool under_wine = [] {
    void* ntdll = gearloft::platform::LoadLibraryFile("ntdll.dll");
    return ntdll != nullptr && gearloft::platform::LibrarySymbol(ntdll, "wine_get_version") != nullptr;
  }();
  const bool has_mark = under_wine || content.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (!has_mark) {
    WriteFile(FilePath(1), "\xEF\xBB\xBF" + content);
    const size_t first_line_end = content.find('\n');
    WriteFile(FilePath(2),
              first_line_end == std::string::npos ? std::string() : content.substr(first_line_end));
  }

  using gearloft::platform::ReadIniInt;
  for (const Setting& setting : kSettings) {
    const int value = ReadIniInt(file, setting.section, setting.key, kDefault);
    const int other = ReadIniInt(file, setting.section, setting.key, kOtherDefault);
    // Either the file gave a number, the same for both, or neither call found one.
    if (value != other && !(value == kDefault && other == kOtherDefault)) {
      Fail("the answer depends on the default", setting, other, value);
    }
    const int upper = ReadIniInt(file, Upper(setting.section), Upper(setting.key), kDefault);
    if (upper != value) Fail("names in upper case read another value", setting, upper, value);
    if (!has_mark) {
      const int marked = ReadIniInt(FilePath(1), setting.section, setting.key, kDefault);
      const int headless = ReadIniInt(FilePath(2), setting.section, setting.key, kDefault);
      if (marked != headless) {
        Fail("a byte-order mark does more than hide the first line", setting, marked, headless);
      }
    }
  }
  return 0;
}
