// gearloft fuzz target: the copy of a host result object (ReadHostResult) over arbitrary memory layouts
// in a guarded arena with unmapped holes. The input is
//   bytes 0-1  a mask of the arena's 16 pages that are made unreadable (bit i: page i),
//   bytes 2-3  the result object's offset in the arena (0xFFFF: a null result address),
//   the rest   the arena's first bytes; every 8-byte-aligned word whose top byte is 0xA1 becomes the
//              arena address at (its low 32 bits mod the arena size), 0xA2 an address in the always
//              unreadable page after the arena; all other words stay numbers (counts, tags, lengths).
// The copy must never fault, must keep its bounds (no more than a million cells and 16 MiB of text), and
// must equal what a plain reading of the layout rules over the same memory map gives, whenever every
// address it reads is one whose mapping is known.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostdb/hostdb.h"
#include "platform/testing.h"

namespace {

using gearloft::QueryCell;
using gearloft::QueryResult;

constexpr size_t kArenaPages = 16;
constexpr uint64_t kPointerMark = 0xA1;
constexpr uint64_t kGuardMark = 0xA2;
// Nothing is ever mapped below this address (the system's smallest mappable address on Linux; Windows
// keeps the first 64 KiB free).
constexpr uintptr_t kNeverMapped = 4096;
constexpr uint64_t kLargestFuzzedRows = 1024;
constexpr uint64_t kLargestFuzzedCells = 4096;

struct Arena {
  uint8_t* base = nullptr;
  size_t page = 0;
  size_t bytes = 0;  // the arena without its trailing guard page
};

const Arena& TheArena() {
  static const Arena& arena = *new Arena([] {
    Arena made;
    made.page = gearloft::platform::PageSize();
    made.bytes = kArenaPages * made.page;
    made.base = static_cast<uint8_t*>(
        gearloft::platform::AllocatePages(made.bytes + made.page, gearloft::platform::kPageReadWrite));
    if (made.base == nullptr || !gearloft::platform::ProtectPages(made.base + made.bytes, made.page,
                                                                  gearloft::platform::kPageNoAccess)) {
      std::fprintf(stderr, "cannot map the arena\n");
      std::abort();
    }
    return made;
  }());
  return arena;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// ---- The memory map as the target laid it out ----------------------------------------------------------

struct MemoryMap {
  const Arena* arena = nullptr;
  uint16_t holes = 0;
  bool unknown = false;  // some read touched memory whose mapping this target does not know
  uint64_t text_left = 16 * 1024 * 1024;
  bool text_spent = false;

  bool PageReadable(size_t index) const { return index < kArenaPages && (holes & (1u << index)) == 0; }

  // Copies [address, address + size) when all of it is readable, as a guarded read would.
  bool Read(uint64_t address, void* destination, size_t size) {
    if (size == 0) return true;
    const uint64_t base = reinterpret_cast<uintptr_t>(arena->base);
    const uint64_t guard_end = base + arena->bytes + arena->page;
    if (address + size < address) {
      unknown = true;
      return false;
    }
    if (address + size <= kNeverMapped) return false;
    if (address < base || address + size > guard_end) {
      unknown = true;
      return false;
    }
    for (uint64_t at = address; at < address + size; at = (at / arena->page + 1) * arena->page) {
      if (!PageReadable(static_cast<size_t>((at - base) / arena->page))) return false;
    }
    std::memcpy(destination, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
    return true;
  }

  uint64_t Word(uint64_t address, bool* read = nullptr) {
    uint64_t value = 0;
    const bool ok = Read(address, &value, sizeof value);
    if (read != nullptr) *read = ok;
    return ok ? value : 0;
  }
};

// A host string: length at +16, capacity at +24, the text inline or, above 15 bytes of capacity, behind
// the address in the first 8 bytes; more than 1 MiB or an unreadable text reads as empty. Each string is
// charged its length against the 16 MiB a result may copy; past that the whole result is refused.
std::string ModelString(MemoryMap* memory, uint64_t address) {
  const uint64_t length = memory->Word(address + 16);
  const uint64_t capacity = memory->Word(address + 24);
  if (length == 0 || length > 0x100000) return std::string();
  if (length > memory->text_left) {
    memory->text_spent = true;
    return std::string();
  }
  memory->text_left -= length;
  uint64_t text = address;
  if (capacity > 15) {
    bool read = false;
    text = memory->Word(address, &read);
    if (!read) return std::string();
  }
  std::string copy(static_cast<size_t>(length), '\0');
  if (!memory->Read(text, &copy[0], copy.size())) return std::string();
  return copy;
}

QueryResult ModelResult(MemoryMap* memory, uint64_t result) {
  QueryResult copy;
  if (result == 0) return copy;
  const uint64_t columns_begin = memory->Word(result + 8);
  const uint64_t columns_end = memory->Word(result + 16);
  const uint64_t rows_begin = memory->Word(result + 32);
  const uint64_t rows_end = memory->Word(result + 40);
  if (columns_end < columns_begin || rows_end < rows_begin) return copy;
  const uint64_t columns = (columns_end - columns_begin) / 40;
  const uint64_t rows = (rows_end - rows_begin) / 8;
  if (columns >= 4096 || rows >= 1000000 || columns * rows >= 1000000) return copy;
  for (uint64_t i = 0; i < columns && !memory->unknown; ++i) {
    copy.columns.push_back(ModelString(memory, columns_begin + i * 40));
  }
  for (uint64_t i = 0; i < rows && !memory->unknown && !memory->text_spent; ++i) {
    const uint64_t cells = memory->Word(rows_begin + i * 8);
    std::vector<QueryCell> row;
    for (uint64_t j = 0; j < columns && !memory->unknown; ++j) {
      uint8_t tag = 0;
      if (!memory->Read(cells + 16 * j, &tag, 1)) tag = 0;
      const uint64_t value = memory->Word(cells + 16 * j + 8);
      QueryCell cell;
      if (tag == 2) {
        cell.kind = QueryCell::Kind::kInteger;
        std::memcpy(&cell.integer, &value, sizeof value);
      } else if (tag == 3) {
        cell.kind = QueryCell::Kind::kReal;
        std::memcpy(&cell.real, &value, sizeof value);
      } else if (tag == 4) {
        cell.kind = QueryCell::Kind::kText;
        cell.text = ModelString(memory, value);
      }
      row.push_back(cell);
    }
    copy.rows.push_back(row);
  }
  if (memory->text_spent) return QueryResult();
  copy.ok = true;
  return copy;
}

void CheckSame(const QueryResult& got, const QueryResult& want) {
  if (got.ok != want.ok) Fail(got.ok ? "ok where the layout says not ok" : "not ok where the layout says ok");
  if (got.columns != want.columns) Fail("other column names than the layout holds");
  if (got.rows.size() != want.rows.size()) Fail("another row count than the layout holds");
  for (size_t i = 0; i < got.rows.size(); ++i) {
    if (got.rows[i].size() != want.rows[i].size()) Fail("another cell count than the layout holds");
    for (size_t j = 0; j < got.rows[i].size(); ++j) {
      if (!SameCell(got.rows[i][j], want.rows[i][j])) Fail("another cell than the layout holds");
    }
  }
}

void CheckBounds(const QueryResult& got) {
  if (!got.ok) {
    if (!got.columns.empty() || !got.rows.empty()) Fail("a failed copy with columns or rows");
    return;
  }
  if (got.columns.size() >= 4096 || got.rows.size() >= 1000000 ||
      got.columns.size() * got.rows.size() >= 1000000) {
    Fail("a copy beyond the bounds");
  }
  uint64_t text = 0;
  for (const std::string& name : got.columns) {
    if (name.size() > 0x100000) Fail("a column name over 1 MiB");
    text += name.size();
  }
  for (const std::vector<QueryCell>& row : got.rows) {
    if (row.size() != got.columns.size()) Fail("a row with another cell count than the columns");
    for (const QueryCell& cell : row) {
      if (cell.text.size() > 0x100000) Fail("a text over 1 MiB");
      text += cell.text.size();
    }
  }
  if (text > 16 * 1024 * 1024) Fail("more than 16 MiB of text copied");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Arena& arena = TheArena();
  if (size < 4) return 0;
  const uint16_t holes = static_cast<uint16_t>(data[0] | (data[1] << 8));
  const uint16_t offset = static_cast<uint16_t>(data[2] | (data[3] << 8));

  // Lay the arena out: all pages readable and zero, the image copied in, marked words relocated.
  if (!gearloft::platform::ProtectPages(arena.base, arena.bytes, gearloft::platform::kPageReadWrite)) {
    Fail("cannot open the arena");
  }
  std::memset(arena.base, 0, arena.bytes);
  const size_t image = size - 4 < arena.bytes ? size - 4 : arena.bytes;
  std::memcpy(arena.base, data + 4, image);
  const uint64_t base = reinterpret_cast<uintptr_t>(arena.base);
  for (size_t at = 0; at + 8 <= image; at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, arena.base + at, sizeof word);
    if (word >> 56 == kPointerMark) {
      word = base + (word & 0xFFFFFFFFu) % arena.bytes;
    } else if (word >> 56 == kGuardMark) {
      word = base + arena.bytes + (word & 0xFFFu) % arena.page;
    } else {
      continue;
    }
    std::memcpy(arena.base + at, &word, sizeof word);
  }
  for (size_t i = 0; i < kArenaPages; ++i) {
    if ((holes & (1u << i)) != 0 && !gearloft::platform::ProtectPages(arena.base + i * arena.page, arena.page,
                                                                      gearloft::platform::kPageNoAccess)) {
      Fail("cannot make a hole");
    }
  }
  const uint64_t result = offset == 0xFFFF ? 0 : base + offset % arena.bytes;

  // A claim of many rows or cells over unreadable memory costs a guarded read per row and two per cell,
  // seconds per input, and teaches the fuzzer nothing the bounds' own tests do not: such layouts are
  // passed over so the time goes into layouts of the size real answers have.
  if (result != 0) {
    MemoryMap header;
    header.arena = &arena;
    header.holes = holes;
    const uint64_t columns_begin = header.Word(result + 8);
    const uint64_t columns_end = header.Word(result + 16);
    const uint64_t rows_begin = header.Word(result + 32);
    const uint64_t rows_end = header.Word(result + 40);
    if (columns_end >= columns_begin && rows_end >= rows_begin) {
      const uint64_t columns = (columns_end - columns_begin) / 40;
      const uint64_t rows = (rows_end - rows_begin) / 8;
      const bool copied = columns < 4096 && rows < 1000000 && columns * rows < 1000000;
      if (copied && (rows > kLargestFuzzedRows || columns * rows > kLargestFuzzedCells)) return 0;
    }
  }

  const QueryResult got = gearloft::ReadHostResult(static_cast<uintptr_t>(result));
  CheckBounds(got);
  MemoryMap memory;
  memory.arena = &arena;
  memory.holes = holes;
  const QueryResult want = ModelResult(&memory, result);
  if (!memory.unknown) CheckSame(got, want);
  return 0;
}
