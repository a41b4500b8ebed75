// gearloft platform layer: the seam's part for tests and the simulated game, never the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace gearloft::platform {

// ---- Files and the environment ---------------------------------------------------------------------

// While set, every OpenFile, ReplaceMove or CreateDirectoryOneLevel whose path the hook answers true for
// fails as if the system had refused it. `operation` is "open", "move" or "mkdir".
using RefuseHook = bool (*)(const char* operation, const std::string& path);
void SetRefuseHook(RefuseHook hook);

// Sets an environment variable of this process; an empty value removes it. false when it could not.
bool SetEnvironment(const std::string& name, const std::string& value);

// ---- Memory and the guard ---------------------------------------------------------------------------

// True when every byte of [address, address + size) lies in committed memory whose protection reads
// (not kPageNoAccess, not kPageGuard, not kPageExecute alone), as QueryMemory answers; an empty range is
// readable, one that wraps past the top of the address space is not. GuardedRead asks it before a copy.
bool RangeReadable(uintptr_t address, size_t size, ReadableCache* cache);

// Fresh pages: `size` bytes (rounded up to whole pages) committed with a kPage* protection (kPageGuard
// may be or-ed in). Null on failure.
size_t PageSize();
void* AllocatePages(size_t size, uint32_t protect);
bool ProtectPages(void* address, size_t size, uint32_t protect);
void FreePages(void* address, size_t size);

// Windows exception codes of the faults a guard reports.
constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
constexpr uint32_t kExceptionGuardPage = 0x80000001;
constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
constexpr uint32_t kExceptionIntegerDivide = 0xC0000094;
constexpr uint32_t kExceptionCpp = 0xE06D7363;  // a C++ exception, as the MSVC runtime raises it

// The exception code the last guarded run, read or call of this thread ended with; 0 when it ended
// normally (or a read was refused before it was tried). Linux gives the code of the matching Windows
// exception: a segmentation fault or bus error reads as an access violation, a C++ throw as kExceptionCpp.
uint32_t LastGuardExceptionCode();

// Counts every exception raised in this process from now on, first-chance ones included, with a vectored
// handler that passes each on (Windows); false where there is no such count (Linux).
bool StartCountingExceptions();
uint64_t ExceptionsCounted();

// ---- Shared libraries (the simulated game loads the library as the game's mod loader would) -----------

// Loads a shared library (dlopen / LoadLibraryW); null when it cannot be loaded.
void* LoadLibraryFile(const std::string& path);
// Address of an exported symbol of a loaded library (dlsym / GetProcAddress); null when absent.
void* LibrarySymbol(void* library, const char* name);
// Drops one load of a library (dlclose / FreeLibrary), as a loader that unloads its mods does; a library
// that pinned itself stays in place.
void UnloadLibrary(void* library);

// ---- Child programs (tests start the simulated game as a player's machine starts the game) ------------

// Runs the program file `program` with `arguments`, each arriving as exactly one argument whatever blanks,
// quotes or backslashes it holds (no shell in between), its standard output and error both written to
// `output_file` (created or truncated), and waits for it to end. Gives its exit code (a crash is never 0:
// 128 + the signal on Linux, the exception code on Windows); -1 when it could not be started.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output_file);

}  // namespace gearloft::platform
