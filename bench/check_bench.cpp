// gearloft benchmarks: gearloft-check on long scripts whose last section fails, the case where finding
// the failing section and its line used to cost a parse per line and a compile per section.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "check/check.h"
#include "devhost/fixture.h"

namespace gearloft::bench {
namespace {

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    std::random_device random;
    std::filesystem::path made =
        std::filesystem::temp_directory_path() / ("gearloft-bench-check-" + std::to_string(random()));
    std::filesystem::create_directories(made);
    return made;
  }();
  return folder;
}

std::string Write(const std::string& name, const std::string& content) {
  const std::filesystem::path path = Folder() / name;
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

// `sections` sections, each a header and one key line; the last one holds a value that is not one
// number, so the checker has to find it at the file's last line.
std::string SameCarScript(int sections) {
  std::string text;
  for (int i = 1; i < sections; ++i) text += "[Kestrel_GT]\nwidth_stock = 225\n";
  return text + "[Kestrel_GT]\nrim_front_stock = 18, 19\n";
}

// Sections over every car of the large fixture in turn, each adding one front rim row: the plan grows
// with the file.
std::string NewRowScript(int sections) {
  std::string text;
  for (int i = 1; i < sections; ++i) {
    text += "[" + std::to_string(1 + (i - 1) % devhost::kLargeFixtureCars) + "]\nrim_sizes_front = 20\n";
  }
  return text + "[Kestrel_GT]\nrim_front_stock = 18, 19\n";
}

std::string LargeFixtureFile() {
  static const std::string path = [] {
    const std::string file = (Folder() / "large.db").string();
    sqlite3* db = nullptr;
    std::string error;
    devhost::FixtureOptions options;
    options.cars = devhost::kLargeFixtureCars;
    const bool made =
        sqlite3_open(file.c_str(), &db) == SQLITE_OK && devhost::CreateFixture(db, options, &error);
    sqlite3_close(db);
    return made ? file : std::string();
  }();
  return path;
}

void RunOnce(benchmark::State& state, const std::vector<std::string>& args, const std::string& want) {
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = check::RunCheck(args, out, err);
    if (status != check::kExitFailed || out.str().find(want) == std::string::npos) {
      state.SkipWithError(("unexpected report: " + out.str() + err.str()).c_str());
      return;
    }
  }
}

void CheckSameCarSectionsWithTheLastBad(benchmark::State& state) {
  const int sections = static_cast<int>(state.range(0));
  const std::string path = Write("same_" + std::to_string(sections) + ".ini", SameCarScript(sections));
  const std::string want =
      ":" + std::to_string(2 * sections) + ": [Kestrel_GT]: rim_front_stock takes one number\n";
  RunOnce(state, {path}, want);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * sections);
}
BENCHMARK(CheckSameCarSectionsWithTheLastBad)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void CheckNewRowSectionsWithTheLastBad(benchmark::State& state) {
  const std::string db = LargeFixtureFile();
  if (db.empty()) {
    state.SkipWithError("the large fixture could not be written");
    return;
  }
  const int sections = static_cast<int>(state.range(0));
  const std::string path = Write("rows_" + std::to_string(sections) + ".ini", NewRowScript(sections));
  const std::string want =
      ":" + std::to_string(2 * sections) + ": [Kestrel_GT]: rim_front_stock takes one number\n";
  RunOnce(state, {"--db", db, path}, want);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * sections);
}
// One section gives the fixed cost of a run on the large fixture (copying it into memory, the probe).
BENCHMARK(CheckNewRowSectionsWithTheLastBad)
    ->Arg(1)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace gearloft::bench

BENCHMARK_MAIN();
