// gearloft platform layer: the one narrow seam over the operating system.
// win32/ implements it with the Windows functions the game's process offers; posix/ gives the same
// results on Linux so the whole system builds, runs and is tested there. Paths are UTF-8 everywhere
// above this header; the Windows side converts to UTF-16 at its edge. What only tests and the simulated
// game call (pages, libraries, child programs, the refuse hook) is declared in platform/testing.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#define GEARLOFT_HOSTCALL
#elif defined(__x86_64__)
// The game's methods use the Windows x64 convention (object in RCX, then RDX, R8); the simulated game
// and the bridge declare them with this attribute so Linux calls them exactly as the game is called.
#define GEARLOFT_HOSTCALL __attribute__((ms_abi))
#else
#error "gearloft supports 64-bit Windows and x86-64 Linux only"
#endif

namespace gearloft::platform {

// ---- Paths, settings, files -------------------------------------------------------------------------

// Full path of the process's main executable, however long it is.
std::string ExecutablePath();

// The integer of `key` in `[section]` of an INI file, with the Windows profile reader's rules: section
// and key match without regard to ASCII case, blanks around key and value are ignored, the value's
// leading decimal digits with an optional sign are taken ("0x", "0o", "0b" switch the base, the sum
// wraps at 32 bits); `default_value` when the file, section or key is missing or the value is empty.
// A value that is there but starts with no digit ("abc") gives 0, as on Windows.
int ReadIniInt(const std::string& file, const std::string& section, const std::string& key,
               int default_value);

// Creates the last level of `path` only; false when it could not (an existing folder also gives false).
bool CreateDirectoryOneLevel(const std::string& path);

// Moves `from` onto `to`, replacing `to`. On failure `error` (when given) receives the system's code.
bool ReplaceMove(const std::string& from, const std::string& to, uint32_t* error = nullptr);

bool DeleteFilePath(const std::string& path);

enum class Share {
  kExclusive,  // plain open: _wfopen
  kDenyWrite,  // others may read, not write: _wfsopen(..., _SH_DENYWR)
  kDenyNone,   // others may read and write: _wfsopen(..., _SH_DENYNO)
  // Others may also rename or delete it (Windows still refuses to move another file onto it): for a
  // reader that follows a file another process moves aside, such as the simulated game echoing the log.
  // Never used by the library itself.
  kShareAll,
  // Others may neither read nor write it while it is open: _wfsopen(..., _SH_DENYRW), as an editor or a
  // virus scanner may hold a script. Linux cannot refuse other openers: a plain open there. Never used
  // by the library itself.
  kDenyAll,
  // (kShareAll and kDenyAll are for tests and the simulated game; they stay here as OpenFile takes this
  // one enum.)
};

// fopen-style open with a share mode; mode letters as for fopen ("w" is text mode: LF becomes CR LF on
// Windows). Null when the file cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode, Share share);

// Flushes the stream and asks the system to put the file's bytes on the disk (fsync /
// FlushFileBuffers); false when either step fails.
bool FlushToDisk(std::FILE* file);

struct DirEntry {
  std::string name;  // file name without the folder, UTF-8
  bool is_directory;
  uint64_t write_time;  // last write, 100-ns units since 1601-01-01 UTC (a Windows FILETIME)
  uint64_t size;
};

// What a path names, told without opening it for reading: opening a FIFO waits for a writer for good.
enum class FileKind { kRegular, kDirectory, kOther };
struct FileFacts {
  FileKind kind = FileKind::kOther;
  uint64_t size = 0;  // bytes; 0 for anything but a regular file
};
// Follows links. false when the system cannot say: no such file, a dangling link, no right to look.
bool DescribeFile(const std::string& path, FileFacts* facts);

// Entries of `folder` whose name ends in `suffix` (e.g. ".ini", compared without regard to ASCII case),
// in the order the system gives them. Empty when the folder cannot be searched.
std::vector<DirEntry> ListFolder(const std::string& folder, const std::string& suffix);

// Value of an environment variable; false when it is not set (or too long for the game's 260-character
// buffer on Windows).
bool GetEnvironment(const std::string& name, std::string* value);

// A command-line tool's console: the number of processes attached to it (0 without a console, and
// always on Linux), and whether standard input reads from it. A Windows program started from Explorer,
// files dropped on it, is alone on a console window that closes as soon as it exits.
int ConsoleProcessCount();
bool InputIsConsole();

// Folder separator the core uses when it joins paths ("\\" on Windows, "/" elsewhere).
const char* PathSeparator();

// UTF-16 to UTF-8 as WideCharToMultiByte(CP_UTF8) gives it: lone surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// ---- Time, threads, lock ----------------------------------------------------------------------------

struct TimeOfDay {
  int hour;
  int minute;
  int second;
};
TimeOfDay LocalTimeOfDay();

// Creation time of this process, 100-ns units since 1601-01-01 UTC; false when it cannot be had.
bool ProcessCreationTime(uint64_t* filetime);
// Current wall-clock time, 100-ns units since 1601-01-01 UTC.
uint64_t SystemTimeNow();

uint64_t TickCountMs();  // monotonic milliseconds (GetTickCount64)
void SleepMs(uint32_t milliseconds);

// Starts a detached thread with the default stack running entry(arg); false when it could not.
// `stack_bytes` 0 means the system default (1 MiB for a Windows thread).
bool StartThread(void (*entry)(void*), void* arg, size_t stack_bytes = 0);

// A lock that is never destroyed (it lives as long as the process). Win32: an SRW lock.
struct Mutex;
Mutex* NewMutex();
void Lock(Mutex* mutex);
void Unlock(Mutex* mutex);

class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : mutex_(mutex) { Lock(mutex_); }
  ~MutexLock() { Unlock(mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* mutex_;
};

// ---- The game's memory -------------------------------------------------------------------------------

// Region states and protections, with the values of the Windows memory manager (used on every platform).
constexpr uint32_t kMemCommit = 0x1000;
constexpr uint32_t kPageNoAccess = 0x01;
constexpr uint32_t kPageReadOnly = 0x02;
constexpr uint32_t kPageReadWrite = 0x04;
constexpr uint32_t kPageExecute = 0x10;
constexpr uint32_t kPageExecuteRead = 0x20;
constexpr uint32_t kPageExecuteReadWrite = 0x40;
constexpr uint32_t kPageExecuteWriteCopy = 0x80;
constexpr uint32_t kPageGuard = 0x100;

struct ModuleRange {
  uintptr_t base;
  uintptr_t end;  // past the last byte of the image
};
// Address range of the process's main executable image.
bool MainModuleRange(ModuleRange* range);

struct MemoryRegion {
  uintptr_t base;
  uintptr_t size;
  uint32_t state;    // kMemCommit for committed memory, 0 for a gap that is not mapped
  uint32_t protect;  // kPage* bits
};
// The region holding `address`, as VirtualQuery answers; false when the system does not answer.
bool QueryMemory(uintptr_t address, MemoryRegion* region);

// Readable ranges one run of reads has been told about, so the reads of one result copy ask the memory
// manager once per region, not once per cell. Belongs to one copy: regions change between calls.
struct ReadableCache {
  static constexpr size_t kSlots = 8;
  uintptr_t begin[kSlots] = {};
  uintptr_t end[kSlots] = {};
  size_t next = 0;     // the slot the next region replaces
  size_t queries = 0;  // QueryMemory calls made for this cache
};

// Copies `size` bytes from `source` to `destination`; false (and a partial copy) when any byte of the
// source cannot be read. Never faults, and on Windows does not try a copy RangeReadable (testing.h) refuses,
// so no exception is raised for it at all. `cache` carries region answers from one read to the next.
bool GuardedRead(const void* source, void* destination, size_t size);
bool GuardedRead(const void* source, void* destination, size_t size, ReadableCache* cache);

// The game's ExecuteQuery: a member function taking the object, an 8-byte result slot and the statement.
using ExecuteQueryFn = void*(GEARLOFT_HOSTCALL*)(void* self, void** result_slot, const char* sql);

// Calls method(object, slot, sql) under a guard that turns any fault or exception raised inside into
// false.
bool GuardedCall(uintptr_t method, void* object, void** result_slot, const char* sql);

// Runs body(context) under the same guard; false when it faulted. The body must hold no objects that
// need unwinding.
bool GuardedRun(void (*body)(void* context), void* context);

// ---- The processor ---------------------------------------------------------------------------------

// True when the CPU runs AVX2 and the system saves the 256-bit registers across thread switches; the
// scanner then takes its AVX2 path.
bool CpuHasAvx2();

}  // namespace gearloft::platform
