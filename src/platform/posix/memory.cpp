// gearloft platform layer, Linux: the executable's address range, region queries that answer like
// VirtualQuery (from /proc/self/maps), and page mapping for tests and the simulated game.
// Linux has no guard pages: a page asked for with kPageGuard is mapped without access and reported as
// kPageNoAccess, which the scanner skips just the same.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/testing.h"

namespace gearloft::platform {

namespace {

struct Mapping {
  uintptr_t start;
  uintptr_t end;
  uint32_t protect;  // kPage* value
  std::string path;  // empty for anonymous memory
};

// Top of the user address space with four-level paging; nothing below it is answered as unknown.
constexpr uintptr_t kUserSpaceTop = 0x00007ffffffff000ULL;

uint32_t ProtectFromPermissions(bool read, bool write, bool execute) {
  if (execute) {
    if (write) return kPageExecuteReadWrite;
    return read ? kPageExecuteRead : kPageExecute;
  }
  // Windows has no write-only pages; such a page is at least as open as read-write.
  if (write) return kPageReadWrite;
  return read ? kPageReadOnly : kPageNoAccess;
}

// Closes the descriptor however the read ends: out of memory inside the game must not leak it.
struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() { close(fd); }
};

bool ReadMaps(std::string* text) {
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const DescriptorCloser closer{fd};
  char chunk[8192];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    text->append(chunk, static_cast<size_t>(got));
  }
}

// One line: "start-end perms offset major:minor inode   path".
bool ParseMapsLine(const char* line, const char* line_end, Mapping* mapping) {
  char* cursor = nullptr;
  mapping->start = static_cast<uintptr_t>(std::strtoull(line, &cursor, 16));
  if (cursor == line || *cursor != '-') return false;
  const char* end_digits = cursor + 1;
  mapping->end = static_cast<uintptr_t>(std::strtoull(end_digits, &cursor, 16));
  if (cursor == end_digits || *cursor != ' ' || line_end - cursor < 5) return false;
  const char* permissions = cursor + 1;
  mapping->protect =
      ProtectFromPermissions(permissions[0] == 'r', permissions[1] == 'w', permissions[2] == 'x');
  // Skip permissions, offset, device and inode; what follows the blanks after them is the path.
  const char* p = permissions;
  for (int field = 0; field < 4; ++field) {
    while (p < line_end && *p == ' ') ++p;
    while (p < line_end && *p != ' ') ++p;
  }
  while (p < line_end && *p == ' ') ++p;
  mapping->path.assign(p, line_end);
  return true;
}

bool ReadMappings(std::vector<Mapping>* mappings) {
  std::string text;
  if (!ReadMaps(&text)) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    Mapping mapping;
    if (ParseMapsLine(text.c_str() + start, text.c_str() + end, &mapping)) mappings->push_back(mapping);
    start = end + 1;
  }
  return !mappings->empty();
}

bool ProtFromProtect(uint32_t protect, int* prot) {
  if ((protect & kPageGuard) != 0) {
    *prot = PROT_NONE;
    return true;
  }
  switch (protect) {
    case kPageNoAccess:
      *prot = PROT_NONE;
      return true;
    case kPageReadOnly:
      *prot = PROT_READ;
      return true;
    case kPageReadWrite:
      *prot = PROT_READ | PROT_WRITE;
      return true;
    case kPageExecute:
      *prot = PROT_EXEC;
      return true;
    case kPageExecuteRead:
      *prot = PROT_READ | PROT_EXEC;
      return true;
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy:
      *prot = PROT_READ | PROT_WRITE | PROT_EXEC;
      return true;
    default:
      return false;
  }
}

size_t RoundUpToPages(size_t size) {
  const size_t page = PageSize();
  return (size + page - 1) / page * page;
}

}  // namespace

bool MainModuleRange(ModuleRange* range) {
  const std::string executable = ExecutablePath();
  std::vector<Mapping> mappings;
  if (executable.empty() || !ReadMappings(&mappings)) return false;
  bool found = false;
  for (const Mapping& mapping : mappings) {
    if (mapping.path != executable) continue;
    if (!found || mapping.start < range->base) range->base = mapping.start;
    if (!found || mapping.end > range->end) range->end = mapping.end;
    found = true;
  }
  return found;
}

bool QueryMemory(uintptr_t address, MemoryRegion* region) {
  std::vector<Mapping> mappings;
  if (!ReadMappings(&mappings)) return false;
  const uintptr_t base = address & ~static_cast<uintptr_t>(PageSize() - 1);

  size_t i = 0;
  while (i < mappings.size() && mappings[i].end <= base) ++i;

  if (i < mappings.size() && mappings[i].start <= base) {
    // Like VirtualQuery: from the queried page to the end of the run of pages with the same protection,
    // even when the run spans several mappings.
    const uint32_t protect = mappings[i].protect;
    uintptr_t end = mappings[i].end;
    for (size_t next = i + 1;
         next < mappings.size() && mappings[next].start == end && mappings[next].protect == protect; ++next) {
      end = mappings[next].end;
    }
    *region = MemoryRegion{base, end - base, kMemCommit, protect};
    return true;
  }

  // A gap: its size reaches the next mapping, so a walk steps over it in one query.
  if (base >= kUserSpaceTop) return false;
  uintptr_t end = kUserSpaceTop;
  if (i < mappings.size() && mappings[i].start < end) end = mappings[i].start;
  *region = MemoryRegion{base, end - base, 0, kPageNoAccess};
  return true;
}

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

void* AllocatePages(size_t size, uint32_t protect) {
  int prot = PROT_NONE;
  if (size == 0 || !ProtFromProtect(protect, &prot)) return nullptr;
  void* pages = mmap(nullptr, RoundUpToPages(size), prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

bool ProtectPages(void* address, size_t size, uint32_t protect) {
  int prot = PROT_NONE;
  if (!ProtFromProtect(protect, &prot)) return false;
  return mprotect(address, RoundUpToPages(size), prot) == 0;
}

void FreePages(void* address, size_t size) {
  if (address != nullptr) munmap(address, RoundUpToPages(size));
}

}  // namespace gearloft::platform
