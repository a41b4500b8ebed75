// gearloft host database bridge: serialised, fault-guarded calls of the game's ExecuteQuery and the
// bounded copy of its result object into a QueryResult.
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "hostdb/bridge_state.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"

namespace gearloft {

namespace bridge {

platform::Mutex* Mutex() {
  static platform::Mutex* const mutex = platform::NewMutex();
  return mutex;
}

std::vector<uintptr_t>& CandidateList() {
  static std::vector<uintptr_t>& list = *new std::vector<uintptr_t>;
  return list;
}

static std::atomic<size_t>& CandidateCountMirror() {
  static std::atomic<size_t>& count = *new std::atomic<size_t>(0);
  return count;
}

void PublishCandidateCount() {
  CandidateCountMirror().store(CandidateList().size());
}
size_t CandidateCountUnlocked() {
  return CandidateCountMirror().load();
}

std::atomic<uintptr_t>& Current() {
  static std::atomic<uintptr_t>& current = *new std::atomic<uintptr_t>(0);
  return current;
}

bool ResolveMethod(uintptr_t global, uintptr_t* object, uintptr_t* method) {
  // The object, its virtual table and the table's tenth entry, ExecuteQuery at byte offset 0x48.
  constexpr uintptr_t kExecuteQueryEntry = 0x48;
  platform::ReadableCache cache;
  uintptr_t self = 0;
  if (!platform::GuardedRead(reinterpret_cast<const void*>(global), &self, sizeof self, &cache) ||
      self == 0) {
    return false;
  }
  uintptr_t table = 0;
  if (!platform::GuardedRead(reinterpret_cast<const void*>(self), &table, sizeof table, &cache) ||
      table == 0) {
    return false;
  }
  uintptr_t entry = 0;
  if (!platform::GuardedRead(reinterpret_cast<const void*>(table + kExecuteQueryEntry), &entry, sizeof entry,
                             &cache) ||
      entry == 0) {
    return false;
  }
  // A table entry into data or unmapped memory means the object is not (yet) what we think it is;
  // calling it would at best fault.
  platform::MemoryRegion region{};
  if (!platform::QueryMemory(entry, &region) || region.state != platform::kMemCommit) return false;
  const uint32_t executable = platform::kPageExecute | platform::kPageExecuteRead |
                              platform::kPageExecuteReadWrite | platform::kPageExecuteWriteCopy;
  if ((region.protect & 0xFF & executable) == 0) return false;
  *object = self;
  *method = entry;
  return true;
}

}  // namespace bridge

namespace {

// Host result object: column entries from byte 8 to byte 16, row entries from byte 32 to byte 40.
constexpr uintptr_t kColumnsBegin = 8;
constexpr uintptr_t kColumnsEnd = 16;
constexpr uintptr_t kRowsBegin = 32;
constexpr uintptr_t kRowsEnd = 40;
constexpr uintptr_t kColumnEntrySize = 40;  // a host string (the name) and 8 bytes of the host's own
constexpr uintptr_t kRowEntrySize = 8;      // the address of the row's cell array
constexpr uintptr_t kCellSize = 16;         // tag byte, padding, 8-byte value
constexpr uintptr_t kCellValue = 8;
// Anything this large is a stale or foreign object, not an answer to one of our statements.
constexpr uintptr_t kMaxColumns = 4096;
constexpr uintptr_t kMaxRows = 1000000;
// Within those bounds a foreign object can still claim 4095 columns of 999,999 rows, each cell a text of
// 1 MiB: copied, that is terabytes. Our statements never get a millionth of either.
constexpr uint64_t kMaxCells = 1000000;
constexpr uint64_t kMaxTextBytes = 16 * 1024 * 1024;
// Host string: text inline or its address in bytes 0-15, length at 16, capacity at 24.
constexpr uintptr_t kStringLength = 16;
constexpr uintptr_t kStringCapacity = 24;
constexpr uint64_t kMaxStringLength = 0x100000;
constexpr uint64_t kInlineCapacity = 15;

constexpr uint8_t kTagInteger = 2;
constexpr uint8_t kTagReal = 3;
constexpr uint8_t kTagText = 4;

// The text one result may still copy; every string is charged the length it claims. Also carries the
// regions the copy has found readable, so its thousands of reads ask the memory manager a few times.
struct TextBudget {
  uint64_t left = kMaxTextBytes;
  bool spent = false;
  platform::ReadableCache regions;
};

bool ReadWord(uintptr_t address, uint64_t* value, TextBudget* budget) {
  *value = 0;
  return platform::GuardedRead(reinterpret_cast<const void*>(address), value, sizeof *value,
                               &budget->regions);
}

std::string ReadHostString(uintptr_t address, TextBudget* budget) {
  uint64_t length = 0;
  uint64_t capacity = 0;
  ReadWord(address + kStringLength, &length, budget);
  ReadWord(address + kStringCapacity, &capacity, budget);
  if (length == 0 || length > kMaxStringLength) return std::string();
  if (length > budget->left) {
    budget->spent = true;
    return std::string();
  }
  budget->left -= length;
  uint64_t text = address;
  if (capacity > kInlineCapacity && !ReadWord(address, &text, budget)) return std::string();
  std::string copy(static_cast<size_t>(length), '\0');
  if (!platform::GuardedRead(reinterpret_cast<const void*>(static_cast<uintptr_t>(text)), &copy[0],
                             copy.size(), &budget->regions)) {
    return std::string();
  }
  return copy;
}

QueryCell ConvertCell(uint8_t tag, uint64_t value, TextBudget* budget) {
  QueryCell cell;
  switch (tag) {
    case kTagInteger:
      cell.kind = QueryCell::Kind::kInteger;
      std::memcpy(&cell.integer, &value, sizeof cell.integer);
      break;
    case kTagReal:
      cell.kind = QueryCell::Kind::kReal;
      std::memcpy(&cell.real, &value, sizeof cell.real);
      break;
    case kTagText:
      cell.kind = QueryCell::Kind::kText;
      cell.text = ReadHostString(static_cast<uintptr_t>(value), budget);
      break;
    default:
      break;
  }
  return cell;
}

// One row's cells. The whole cell array is copied at once when it can be; otherwise cell by cell, so
// the readable cells of a partly unreadable row still count.
std::vector<QueryCell> ReadRow(uintptr_t cells, size_t columns, TextBudget* budget) {
  std::vector<QueryCell> row;
  row.reserve(columns);
  std::vector<uint8_t> raw(columns * kCellSize);
  const bool whole = !raw.empty() && platform::GuardedRead(reinterpret_cast<const void*>(cells), raw.data(),
                                                           raw.size(), &budget->regions);
  for (size_t j = 0; j < columns; ++j) {
    const uintptr_t cell = cells + kCellSize * j;
    uint8_t tag = 0;
    uint64_t value = 0;
    if (whole) {
      tag = raw[kCellSize * j];
      std::memcpy(&value, &raw[kCellSize * j + kCellValue], sizeof value);
    } else {
      if (!platform::GuardedRead(reinterpret_cast<const void*>(cell), &tag, 1, &budget->regions)) tag = 0;
      if (!ReadWord(cell + kCellValue, &value, budget)) value = 0;
    }
    row.push_back(ConvertCell(tag, value, budget));
  }
  return row;
}

std::map<std::string, QueryResult>& QueryCache() {
  static std::map<std::string, QueryResult>& cache = *new std::map<std::string, QueryResult>;
  return cache;
}

}  // namespace

bool CallExecuteQuery(uintptr_t global, const char* sql, uintptr_t* result_slot) {
  uintptr_t object = 0;
  uintptr_t method = 0;
  if (!bridge::ResolveMethod(global, &object, &method)) return false;
  // The game's answer is 8 bytes, but a build of it that returns a smart pointer writes 16 or more into
  // the slot: 32 zeroed, aligned bytes take that without it reaching into this frame.
  alignas(16) void* slot[4] = {nullptr, nullptr, nullptr, nullptr};
  if (!platform::GuardedCall(method, reinterpret_cast<void*>(object), &slot[0], sql)) return false;
  if (result_slot != nullptr) *result_slot = reinterpret_cast<uintptr_t>(slot[0]);
  return true;
}

QueryResult ReadHostResult(uintptr_t result) {
  QueryResult copy;
  if (result == 0) return copy;
  TextBudget budget;
  uint64_t columns_begin = 0;
  uint64_t columns_end = 0;
  uint64_t rows_begin = 0;
  uint64_t rows_end = 0;
  ReadWord(result + kColumnsBegin, &columns_begin, &budget);
  ReadWord(result + kColumnsEnd, &columns_end, &budget);
  ReadWord(result + kRowsBegin, &rows_begin, &budget);
  ReadWord(result + kRowsEnd, &rows_end, &budget);
  if (columns_end < columns_begin || rows_end < rows_begin) return copy;
  const uint64_t column_count = (columns_end - columns_begin) / kColumnEntrySize;
  const uint64_t row_count = (rows_end - rows_begin) / kRowEntrySize;
  if (column_count >= kMaxColumns || row_count >= kMaxRows) return copy;
  if (column_count * row_count >= kMaxCells) return copy;

  copy.columns.reserve(static_cast<size_t>(column_count));
  for (uint64_t i = 0; i < column_count; ++i) {
    copy.columns.push_back(
        ReadHostString(static_cast<uintptr_t>(columns_begin + i * kColumnEntrySize), &budget));
  }

  const size_t rows = static_cast<size_t>(row_count);
  std::vector<uint64_t> row_cells(rows, 0);
  if (rows != 0 && !platform::GuardedRead(reinterpret_cast<const void*>(static_cast<uintptr_t>(rows_begin)),
                                          row_cells.data(), rows * sizeof(uint64_t), &budget.regions)) {
    for (size_t i = 0; i < rows; ++i) {
      ReadWord(static_cast<uintptr_t>(rows_begin + i * kRowEntrySize), &row_cells[i], &budget);
    }
  }
  copy.rows.reserve(rows);
  for (size_t i = 0; i < rows && !budget.spent; ++i) {
    copy.rows.push_back(
        ReadRow(static_cast<uintptr_t>(row_cells[i]), static_cast<size_t>(column_count), &budget));
  }
  if (budget.spent) return QueryResult();
  copy.ok = true;
  return copy;
}

QueryResult Query(const std::string& sql) {
  platform::MutexLock lock(bridge::Mutex());
  const uintptr_t global = bridge::Current().load();
  if (global == 0) return QueryResult();
  uintptr_t result = 0;
  if (!CallExecuteQuery(global, sql.c_str(), &result)) return QueryResult();
  // Copied before the lock is released: the next call may free or reuse the host's result object.
  return ReadHostResult(result);
}

bool Execute(const std::string& sql) {
  platform::MutexLock lock(bridge::Mutex());
  const uintptr_t global = bridge::Current().load();
  if (global == 0) return false;
  return CallExecuteQuery(global, sql.c_str(), nullptr);
}

QueryResult CachedQuery(const std::string& sql) {
  {
    platform::MutexLock lock(bridge::Mutex());
    auto hit = QueryCache().find(sql);
    if (hit != QueryCache().end()) return hit->second;
  }
  QueryResult answer = Query(sql);
  // Only answers are kept: a look-up that failed (no object yet, a fault) is tried again next time.
  if (answer.ok) {
    platform::MutexLock lock(bridge::Mutex());
    QueryCache().emplace(sql, answer);
  }
  return answer;
}

double CellAsDouble(const QueryCell* cell) {
  if (cell == nullptr) return std::numeric_limits<double>::quiet_NaN();
  switch (cell->kind) {
    case QueryCell::Kind::kInteger:
      return static_cast<double>(cell->integer);
    case QueryCell::Kind::kReal:
      return cell->real;
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
}

void ResetQueryCacheForTest() {
  platform::MutexLock lock(bridge::Mutex());
  QueryCache().clear();
}

bool SameCell(const QueryCell& a, const QueryCell& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case QueryCell::Kind::kInteger:
      return a.integer == b.integer;
    case QueryCell::Kind::kReal:
      return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
    case QueryCell::Kind::kText:
      return a.text == b.text;
    case QueryCell::Kind::kNull:
      break;
  }
  return true;
}

}  // namespace gearloft
