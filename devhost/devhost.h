// gearloft simulated game: a CDatabase over SQLite that answers in the game's layout, the game's global
// holding it and the game's own ExecuteQuery call site. Used by gearloft-devhost and by in-process tests.
#pragma once

#include <cstdint>
#include <string>

#include "devhost/fixture.h"

struct sqlite3;

namespace gearloft::devhost {

// ---- The database object ----------------------------------------------------------------------------

enum class Oversize {
  kColumns,  // 4096 column entries
  kRows,     // 1,000,000 row entries
};

// A fault injected by call number, as a failing game produces it.
enum class CallFault {
  kNone,
  kAccessViolation,   // a store to a page that cannot be written, before the statement runs
  kThrow,             // a C++ exception thrown out of ExecuteQuery, before the statement runs
  kNullResult,        // the statement runs, but the result slot stays empty
  kWrongColumnCount,  // the answer lacks its last column (a one-column answer has none left)
  kWrongCellType,     // every number in the answer comes as its text
  kDropWrite,         // a statement that would change the database does nothing, and says nothing
  kBlock,             // the call waits `call_block_ms` before it runs
  kGlobalGone,        // the game's global is emptied and the call answers nothing; SetGameDatabase
                      // brings it back
};

// Misbehaviour on demand. A statement "matches" a text when it contains it.
struct Knobs {
  std::string fault_on;  // matching statements fault inside ExecuteQuery ("" = never)
  CallFault fault_kind = CallFault::kAccessViolation;  // how they fault: kAccessViolation or kThrow
  uint64_t fault_on_times = 0;  // only the first this many matching statements fault (0 = every one)
  // Matching statements set the direction flag, MXCSR to round toward zero with flush-to-zero and the
  // x87 unit to single precision, then make the same access violation ("" = never).
  std::string fault_dirty_cpu;
  std::string block_on;        // the first matching statement ("" = the first of all) sleeps first
  uint32_t block_seconds = 0;  // 0 = never block
  std::string oversize_on;     // matching statements answer an oversized result instead of running
  Oversize oversize = Oversize::kColumns;
  std::string huge_text_on;  // text cells of matching statements claim 2 MiB
  // When set, every statement received is appended to this file as "<byte count> <text>\n", in the
  // order the calls arrive ("" = no trace).
  std::string trace_path;
  // Call k counts as CallCount counts: the first ExecuteQuery the object receives is call 1.
  CallFault call_fault = CallFault::kNone;
  uint64_t fault_at_call = 0;  // the first call that misbehaves (0 = none)
  bool fault_onwards = false;  // every later call misbehaves too, not only that one
  uint32_t call_block_ms = 0;  // how long a kBlock call waits
  // When set, a kBlock call waits through this instead of sleeping, so a test's fake clock can pass
  // the time while the caller is still inside the call.
  void (*block_wait)(uint32_t milliseconds) = nullptr;
};

constexpr uint64_t kHugeTextLength = 2 * 1024 * 1024;

// The game's object. Its first member is the virtual table, whose entry at byte 0x48 is ExecuteQuery.
struct Database;

// A database object over the SQLite file `path` (":memory:" for a private one), which every change
// is written into. A database without any table gets the fixture first. Null and `error` on failure.
Database* OpenDatabase(const std::string& path, const FixtureOptions& fixture, std::string* error);
// A database object over a private copy, in memory, of the SQLite file `path`, which stays as it is:
// the game builds its tables afresh from its own files at every start. A file without any table (or
// no file) gets the fixture first. Null and `error` on failure.
Database* LoadDatabase(const std::string& path, const FixtureOptions& fixture, std::string* error);
// Writes every table of the object's database, as it is between two calls, to the SQLite file `path`
// (written beside it first and moved over it). False and `error` on failure.
bool DumpDatabase(Database* database, const std::string& path, std::string* error);
// Runs `sql` on the object's database between two calls, as the game's own change of its tables.
bool ChangeDatabase(Database* database, const std::string& sql, std::string* error);
// A database object over a connection the caller keeps open (and closes after CloseDatabase).
Database* WrapDatabase(sqlite3* connection);
// Frees the object and, when OpenDatabase opened it, its connection. Nothing may call it afterwards.
void CloseDatabase(Database* database);

void SetKnobs(Database* database, const Knobs& knobs);
// Number of ExecuteQuery calls the object has received, from every thread.
uint64_t CallCount(const Database* database);
// Number of calls whose caller brought a direction flag, MXCSR or x87 control word other than it brought
// to its first call: a caller that kept the CPU state of a fault it caught.
uint64_t CallsWithChangedCpuState(Database* database);
// Number of calls that misbehaved through `call_fault` since the object was made.
uint64_t CallFaultsInjected(const Database* database);
sqlite3* Connection(Database* database);
// While empty, List_UpgradeRimSizeFront reads as a table without rows (the game has not loaded it yet).
bool SetProbeTableEmpty(Database* database, bool empty, std::string* error);

// ---- The game's global and its call sites -----------------------------------------------------------

// Sets the game's CDatabase global (null empties it).
void SetGameDatabase(Database* database);
// Addresses of the global and of the second global, which nothing ever fills.
uintptr_t GameGlobalAddress();
uintptr_t SecondGlobalAddress();

enum class CodeHide {
  kNotExecutable,  // the call site's page is readable but not executable
  kScrambled,      // the call site's bytes are scrambled, as packed code is before it is unpacked
};
// Hides the game's call site from a scan until RevealCallSite; false when the page cannot be changed.
bool HideCallSite(CodeHide how);
bool RevealCallSite();
bool CallSiteHidden();
// The second call site (loading the second global) is executable unless disabled here.
bool SetSecondCallSiteEnabled(bool enabled);

// Runs `sql` through the game's own call site, as the game does. `result` receives the host result
// address (0 when the statement failed). False when the call site is hidden or the global is empty.
bool RunGameQuery(const std::string& sql, uintptr_t* result);

}  // namespace gearloft::devhost
