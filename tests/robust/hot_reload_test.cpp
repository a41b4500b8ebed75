// gearloft robustness tests: a script typed into the watched folder one byte at a time while the worker
// polls between the bytes, then saved again through a temporary file renamed over it. After every pass
// the rows the other scripts added or changed must all be there; at the end the tables must be what a
// fresh run of the final folder makes. And a save that another program holds open for a while.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "robust_run.h"

namespace gearloft::robust {
namespace {

namespace fs = std::filesystem;

std::string TablesOf(const ScriptSet& folder) {
  RunOptions options;
  options.steps = {folder};
  return RunSequence(options).final_tables;
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void AppendByte(const fs::path& path, char byte) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.put(byte);
}

// `name` in the example folder is emptied and typed again as `typed`, a byte per pass, then saved as
// `saved` through "<name>.tmp" renamed over it.
void TypeThenSaveByRename(const std::string& name, const std::string& typed, const std::string& saved) {
  ScriptSet others = ExampleScripts();
  others.erase(name);
  ScriptSet final_folder = others;
  final_folder[name] = saved;
  // What the other scripts added to or changed in the game's tables.
  const std::set<std::string> untouched = RowSet(TablesOf(ScriptSet()));
  std::set<std::string> others_rows;
  for (const std::string& row : RowSet(TablesOf(others))) {
    if (untouched.count(row) == 0) others_rows.insert(row);
  }
  ASSERT_FALSE(others_rows.empty());
  const std::string want = TablesOf(final_folder);

  // The edits, one per worker sleep: empty the file, type it, write the temporary copy, rename it.
  std::vector<std::function<void(const fs::path&)>> edits;
  edits.push_back([name](const fs::path& folder) { WriteFile(folder / name, ""); });
  for (char byte : typed) {
    edits.push_back([name, byte](const fs::path& folder) { AppendByte(folder / name, byte); });
  }
  edits.push_back([name, saved](const fs::path& folder) {
    WriteFile(folder / (name + ".tmp"), saved);
    StampAsSaved((folder / (name + ".tmp")).string());
  });
  edits.push_back([name](const fs::path& folder) { fs::rename(folder / (name + ".tmp"), folder / name); });

  int passes_checked = 0;
  std::vector<std::string> losses;
  RunOptions options;
  options.steps = {ExampleScripts()};
  options.sleeps_per_step = static_cast<int>(edits.size()) + 6;
  options.recovery_sleeps = 1;
  options.on_sleep = [&](int sleep) {
    const std::set<std::string> now = RowSet(DumpTables(RunningConnection()));
    ++passes_checked;
    for (const std::string& row : others_rows) {
      if (now.count(row) == 0 && losses.size() < 5) {
        losses.push_back("after edit " + std::to_string(sleep - 1) + ": " + row);
      }
    }
    if (static_cast<size_t>(sleep) <= edits.size()) edits[static_cast<size_t>(sleep) - 1](RunningFolder());
  };
  const RunResult run = RunSequence(options);

  EXPECT_TRUE(losses.empty()) << "rows of other scripts went missing:\n"
                              << [&] {
                                   std::string text;
                                   for (const std::string& loss : losses) text += "  " + loss + "\n";
                                   return text;
                                 }();
  EXPECT_EQ(run.final_tables, want) << DumpDifference(want, run.final_tables);
  EXPECT_EQ(run.integrity, "ok");
  int reapplies = 0;
  for (const std::string& line : run.log) reapplies += line.rfind("re-apply: ", 0) == 0 ? 1 : 0;
  std::printf(
      "[ robust   ] %s typed a byte per pass (%zu bytes) and saved by rename: %d passes checked, "
      "%d re-applies\n",
      name.c_str(), typed.size(), passes_checked, reapplies);
  // Every byte that changed the file's stamp was seen: one re-apply per edit.
  EXPECT_EQ(reapplies, static_cast<int>(typed.size()) + 2);
}

TEST(HotReload, ExistingScriptTypedByteByByteThenRenamedLosesNoOtherRow) {
  TypeThenSaveByRename(
      "kestrel_gt.ini", ExampleScripts()["kestrel_gt.ini"],
      "[Kestrel_GT]\nrim_sizes_front = 20\nrim_sizes_rear = 19, 20\ntrack_spacings_rear = 1.7\n");
}

TEST(HotReload, NewScriptTypedByteByByteThenRenamedLosesNoOtherRow) {
  TypeThenSaveByRename("zz_typed.ini", "[42]\r\nrim_sizes = 20, 21\r\ntrack_spacings_front = 0.02\r\n",
                       "[42]\nrim_sizes = 22\ntire_profiles_rear = -5\n");
}

// Opens of the held script that are still to be refused; the reader tries every 100 ms.
std::atomic<int> g_refusals{0};

bool RefuseHeldScript(const char* operation, const std::string& path) {
  // The folder ends with "/" on Linux and "\\" on Windows.
  if (std::string(operation) != "open" || path.size() < 15 ||
      path.compare(path.size() - 14, 14, "kestrel_gt.ini") != 0 ||
      (path[path.size() - 15] != '/' && path[path.size() - 15] != '\\')) {
    return false;
  }
  return g_refusals.fetch_sub(1) > 0;
}

// A save through a temporary file, after which another program holds the script for 3 s (30 of the
// reader's attempts): the worker must read it whole once it is free, not as an empty script.
TEST(HotReload, ScriptHeldOpenForThreeSecondsAfterItsSaveIsReadWhole) {
  ScriptSet final_folder = ExampleScripts();
  final_folder["kestrel_gt.ini"] = "[Kestrel_GT]\nrim_sizes_front = 20\ntrack_spacings_rear = 1.7\n";
  const std::string want = TablesOf(final_folder);

  RunOptions options;
  options.steps = {ExampleScripts()};
  options.on_sleep = [&](int sleep) {
    if (sleep != 1) return;
    const fs::path folder = RunningFolder();
    WriteFile(folder / "kestrel_gt.ini.tmp", final_folder["kestrel_gt.ini"]);
    StampAsSaved((folder / "kestrel_gt.ini.tmp").string());
    fs::rename(folder / "kestrel_gt.ini.tmp", folder / "kestrel_gt.ini");
    g_refusals = 30;
  };
  platform::SetRefuseHook(RefuseHeldScript);
  const RunResult run = RunSequence(options);
  platform::SetRefuseHook(nullptr);

  EXPECT_LE(g_refusals.load(), 0) << "the hold never met the reader";
  EXPECT_EQ(run.final_tables, want) << DumpDifference(want, run.final_tables);
  int loaded_whole = 0;
  int loaded_empty = 0;
  for (const std::string& line : run.log) {
    loaded_whole += line == "loaded kestrel_gt.ini: Kestrel_GT, 2 statement(s)" ? 1 : 0;
    loaded_empty += line == "loaded kestrel_gt.ini: , 0 statement(s)" ? 1 : 0;
  }
  EXPECT_EQ(loaded_whole, 1);
  EXPECT_EQ(loaded_empty, 0);
}

}  // namespace
}  // namespace gearloft::robust
