// gearloft fuzz corpus replay: the main of a fuzz target built without libFuzzer. Runs every file of the
// folders (or the files) named on the command line once through the target's LLVMFuzzerTestOneInput, so
// CTest keeps each seed and each past finding as a regression case in every build.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool ReadWhole(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The files to run, folders expanded one level, in name order so every run goes the same way.
bool CollectInputs(int argc, char** argv, std::vector<fs::path>* inputs) {
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> files;
      for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        if (entry.is_regular_file(error)) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      inputs->insert(inputs->end(), files.begin(), files.end());
    } else if (fs::is_regular_file(path, error)) {
      inputs->push_back(path);
    } else {
      std::fprintf(stderr, "no such corpus file or folder: %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  if (argc < 2 || !CollectInputs(argc, argv, &inputs)) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argc > 0 ? argv[0] : "replay");
    return 2;
  }
  // An empty corpus would pass without testing anything.
  if (inputs.empty()) {
    std::fprintf(stderr, "the corpus holds no files\n");
    return 2;
  }
  for (const fs::path& input : inputs) {
    std::vector<uint8_t> bytes;
    if (!ReadWhole(input, &bytes)) {
      std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
      return 2;
    }
    // The target aborts on a broken property, naming it; this line says which input it was.
    std::fprintf(stderr, "replaying %s\n", input.string().c_str());
    // As libFuzzer does, an empty input still comes with a valid address.
    static const uint8_t kNoBytes = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNoBytes : bytes.data(), bytes.size());
  }
  std::printf("replayed %zu input(s)\n", inputs.size());
  return 0;
}
