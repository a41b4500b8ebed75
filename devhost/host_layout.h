// gearloft simulated game: the game's CDatabase object and result layout as plain structs, and the
// builder that lays a result out in it. Shared by the simulated game and the bridge tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace gearloft::devhost {

// A string as the game's runtime keeps it: up to 15 bytes inline, longer texts behind an address.
struct HostString {
  char buffer[16];    // the text (capacity <= 15) or, in its first 8 bytes, the text's address
  uint64_t length;    // bytes of text, without a terminator
  uint64_t capacity;  // 15 for inline text
};
static_assert(sizeof(HostString) == 32, "host strings are 32 bytes");
static_assert(offsetof(HostString, length) == 16, "length at byte 16");
static_assert(offsetof(HostString, capacity) == 24, "capacity at byte 24");

// One result column: its name, then 8 bytes the game uses for itself.
struct HostColumn {
  HostString name;
  uint64_t reserved;
};
static_assert(sizeof(HostColumn) == 40, "column entries are 40 bytes");

constexpr uint8_t kTagNull = 0;  // any tag but 2, 3 and 4 reads as SQL NULL
constexpr uint8_t kTagInteger = 2;
constexpr uint8_t kTagReal = 3;
constexpr uint8_t kTagText = 4;

struct HostCell {
  uint8_t tag;
  uint8_t padding[7];
  uint64_t value;  // int64, the bits of a double, or the address of a HostString
};
static_assert(sizeof(HostCell) == 16, "cells are 16 bytes");
static_assert(offsetof(HostCell, value) == 8, "cell value at byte 8");

// The result object: two vectors (begin, end, capacity end) after 8 bytes of the game's own.
struct HostResult {
  uint64_t reserved;
  HostColumn* columns_begin;
  HostColumn* columns_end;
  HostColumn* columns_capacity;
  HostCell** rows_begin;  // each entry: the address of that row's cells, one per column
  HostCell** rows_end;
  HostCell** rows_capacity;
};
static_assert(offsetof(HostResult, columns_begin) == 8, "columns begin at byte 8");
static_assert(offsetof(HostResult, columns_end) == 16, "columns end at byte 16");
static_assert(offsetof(HostResult, rows_begin) == 32, "rows begin at byte 32");
static_assert(offsetof(HostResult, rows_end) == 40, "rows end at byte 40");

// The CDatabase virtual table as far as anyone calls it: ExecuteQuery is the tenth entry.
struct HostVtable {
  void* other_methods[9];
  platform::ExecuteQueryFn execute_query;
};
static_assert(offsetof(HostVtable, execute_query) == 0x48, "ExecuteQuery at byte 0x48 of the table");

// What every CDatabase begins with.
struct HostObject {
  const HostVtable* vtable;
};

// One value for the builder.
struct HostValue {
  uint8_t tag = kTagNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;
  uint64_t claimed_length = 0;  // when not 0, the text is padded with 'x' to this length
};
HostValue IntegerValue(int64_t value);
HostValue RealValue(double value);
HostValue TextValue(const std::string& text);
HostValue NullValue(uint8_t tag = kTagNull);

// A result laid out in the game's format together with the memory it points into. The game hands out
// the address of `host`; everything stays valid until the BuiltResult is destroyed.
struct BuiltResult {
  HostResult host{};
  std::vector<HostColumn> columns;
  std::vector<HostCell> cells;
  std::vector<HostCell*> rows;
  std::deque<HostString> strings;
  std::deque<std::string> texts;
};

// Every row gets one cell per column: missing values are NULL, extra ones are dropped.
std::unique_ptr<BuiltResult> BuildHostResult(const std::vector<std::string>& columns,
                                             const std::vector<std::vector<HostValue>>& rows);
// `rows` row entries that all point at one shared row of NULL cells (for results the game could
// never have meant, such as a million rows).
std::unique_ptr<BuiltResult> BuildWideOrLongResult(size_t columns, size_t rows);

uintptr_t AddressOf(const BuiltResult& result);

}  // namespace gearloft::devhost
