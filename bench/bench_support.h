// gearloft benchmarks: what the system harness and the micro benchmarks share: the large fixture as the
// game's live database, folders of generated car scripts, the C++ heap in use, the resident set size.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "compiler/loader.h"
#include "devhost/devhost.h"
#include "scripts/scripts.h"

namespace gearloft::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Bytes the program holds through operator new right now (the benchmark executables count every
// allocation; SQLite's own heap is not in it).
int64_t LiveHeapBytes();

// Resident set size of this process in KiB; -1 where the system does not say.
long ResidentKib();

// Car scripts as the benchmarks write them; each section adds ten rows.
enum class ScriptKind {
  kOneTable,    // rim_sizes_front = 21 ... 30: ten rows in List_UpgradeRimSizeFront
  kFourTables,  // rim_sizes = 21, 22 and tire_profiles = 5, 10, 15: rim and tyre rows on both axles
};
// The script for one car; `variant` 1 changes the last value (an in-place rewrite of one row).
std::string ScriptText(int car, ScriptKind kind, int variant = 0);
// The name of the i-th script (0-based) and the car it edits: cars 5, 10, 15, ... of the fixture.
std::string ScriptName(int index);
int ScriptCar(int index);
bool WriteScripts(const std::filesystem::path& folder, int count, ScriptKind kind);
bool WriteScript(const std::filesystem::path& folder, int index, ScriptKind kind, int variant);

// The simulated game with the large fixture in memory, a game folder under the system's temporary folder
// with scripts\tunebay as the watched folder, and the log open in it.
struct Game {
  devhost::Database* database = nullptr;
  std::filesystem::path root;
  std::filesystem::path folder;
};
bool OpenGame(int cars, Game* game, std::string* error);
void CloseGame(Game* game);

// The real scan and probe of the bridge, as the worker runs them before its first call.
bool ResolveDatabase(std::string* error);

// Takes a plan's rows out again straight through SQLite, so no host call is counted for it.
bool UndoDirectly(devhost::Database* database, const Plan& plan, std::string* error);

}  // namespace gearloft::bench
