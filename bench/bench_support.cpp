// gearloft benchmarks: the shared set-up (fixture, script folders, direct undo) and the allocation count
// behind LiveHeapBytes: this file replaces the global operator new and delete of the benchmark programs.
#include "bench/bench_support.h"

#include <sqlite3.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>

#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "runtime/log.h"

namespace {

std::atomic<int64_t> g_live_bytes{0};

// Each block carries its size (and, for over-aligned ones, the address malloc gave) in front of it.
struct BlockHeader {
  size_t size;
  void* base;
};
constexpr size_t kHeader = 32;
static_assert(sizeof(BlockHeader) <= kHeader, "the header must fit in front of the block");

void* Allocate(size_t size, size_t alignment) {
  if (alignment < alignof(std::max_align_t)) alignment = alignof(std::max_align_t);
  // Room for the header in front and for moving the block up to its alignment.
  void* base = std::malloc(size + kHeader + alignment);
  if (base == nullptr) return nullptr;
  const uintptr_t block = (reinterpret_cast<uintptr_t>(base) + kHeader + alignment - 1) &
                          ~(static_cast<uintptr_t>(alignment) - 1);
  BlockHeader* header = reinterpret_cast<BlockHeader*>(block - kHeader);
  header->size = size;
  header->base = base;
  g_live_bytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
  return reinterpret_cast<void*>(block);
}

void Release(void* block) {
  if (block == nullptr) return;
  BlockHeader* header = reinterpret_cast<BlockHeader*>(reinterpret_cast<uintptr_t>(block) - kHeader);
  g_live_bytes.fetch_sub(static_cast<int64_t>(header->size), std::memory_order_relaxed);
  std::free(header->base);
}

void* AllocateOrThrow(size_t size, size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(size_t size) {
  return AllocateOrThrow(size, 0);
}
void* operator new[](size_t size) {
  return AllocateOrThrow(size, 0);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void operator delete(void* block) noexcept {
  Release(block);
}
void operator delete[](void* block) noexcept {
  Release(block);
}
void operator delete(void* block, size_t) noexcept {
  Release(block);
}
void operator delete[](void* block, size_t) noexcept {
  Release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Release(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept {
  Release(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept {
  Release(block);
}

namespace gearloft::bench {

int64_t LiveHeapBytes() {
  return g_live_bytes.load(std::memory_order_relaxed);
}

long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

std::string ScriptName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "car_%04d.ini", index);
  return name;
}

int ScriptCar(int index) {
  return 5 * (index + 1);
}

std::string ScriptText(int car, ScriptKind kind, int variant) {
  std::string text = "; benchmark script\n[" + std::to_string(car) + "]\n";
  if (kind == ScriptKind::kOneTable) {
    text += variant == 0 ? "rim_sizes_front = 21, 22, 23, 24, 25, 26, 27, 28, 29, 30\n"
                         : "rim_sizes_front = 21, 22, 23, 24, 25, 26, 27, 28, 29, 31\n";
  } else {
    text += "rim_sizes = 21, 22\n";
    text += variant == 0 ? "tire_profiles = 5, 10, 15\n" : "tire_profiles = 5, 10, 20\n";
  }
  return text;
}

bool WriteScript(const std::filesystem::path& folder, int index, ScriptKind kind, int variant) {
  std::ofstream out(folder / ScriptName(index), std::ios::binary | std::ios::trunc);
  out << ScriptText(ScriptCar(index), kind, variant);
  out.close();
  return static_cast<bool>(out);
}

bool WriteScripts(const std::filesystem::path& folder, int count, ScriptKind kind) {
  for (int i = 0; i < count; ++i) {
    if (!WriteScript(folder, i, kind, 0)) return false;
  }
  return true;
}

bool OpenGame(int cars, Game* game, std::string* error) {
  devhost::FixtureOptions options;
  options.cars = cars;
  game->database = devhost::OpenDatabase(":memory:", options, error);
  if (game->database == nullptr) return false;
  devhost::SetGameDatabase(game->database);
  std::random_device random;
  game->root = std::filesystem::temp_directory_path() / ("gearloft-bench-" + std::to_string(random()));
  game->folder = game->root / "scripts" / "tunebay";
  std::error_code failed;
  std::filesystem::create_directories(game->folder, failed);
  if (failed) {
    *error = "cannot create " + game->folder.string() + ": " + failed.message();
    return false;
  }
  SetWatchedFolder(game->folder.string());
  Paths paths;
  paths.log_file = (game->folder / "gearloft.log").string();
  paths.previous_log = paths.log_file + ".1";
  OpenLog(paths);
  return true;
}

void CloseGame(Game* game) {
  CloseLog();
  devhost::SetGameDatabase(nullptr);
  if (game->database != nullptr) devhost::CloseDatabase(game->database);
  game->database = nullptr;
  std::error_code ignored;
  if (!game->root.empty()) std::filesystem::remove_all(game->root, ignored);
}

bool ResolveDatabase(std::string* error) {
  if (!ScanForCandidates()) {
    *error = "the scan found no call site in this executable";
    return false;
  }
  std::string message;
  if (!ProbeCandidates(&message)) {
    *error = "no candidate answered the probe: " + message;
    return false;
  }
  return true;
}

bool UndoDirectly(devhost::Database* database, const Plan& plan, std::string* error) {
  std::string script = "BEGIN;";
  for (auto it = plan.undo.rbegin(); it != plan.undo.rend(); ++it) script += *it + ";";
  script += "COMMIT;";
  char* message = nullptr;
  if (sqlite3_exec(devhost::Connection(database), script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "undo failed";
    sqlite3_free(message);
    return false;
  }
  return true;
}

}  // namespace gearloft::bench
