// gearloft simulated game: lays result sets out in the game's result format.
#include <cstring>

#include "devhost/host_layout.h"

namespace gearloft::devhost {

namespace {

constexpr uint64_t kInlineCapacity = 15;

// Inline up to 15 bytes with capacity 15, as the game's runtime does; longer texts live in `texts`.
HostString MakeHostString(const std::string& text, uint64_t claimed_length, std::deque<std::string>* texts) {
  HostString host{};
  host.length = claimed_length != 0 ? claimed_length : text.size();
  if (text.size() <= kInlineCapacity && claimed_length == 0) {
    std::memcpy(host.buffer, text.data(), text.size());
    host.capacity = kInlineCapacity;
    return host;
  }
  // A claimed length is backed by real bytes, so a reader without a bound would copy all of them.
  texts->push_back(text);
  if (claimed_length > text.size()) texts->back().resize(static_cast<size_t>(claimed_length), 'x');
  const char* stored = texts->back().c_str();
  std::memcpy(host.buffer, &stored, sizeof stored);
  host.capacity = texts->back().size() > kInlineCapacity ? texts->back().size() : kInlineCapacity + 1;
  return host;
}

HostCell MakeCell(const HostValue& value, BuiltResult* result) {
  HostCell cell{};
  cell.tag = value.tag;
  switch (value.tag) {
    case kTagInteger:
      std::memcpy(&cell.value, &value.integer, sizeof cell.value);
      break;
    case kTagReal:
      std::memcpy(&cell.value, &value.real, sizeof cell.value);
      break;
    case kTagText: {
      result->strings.push_back(MakeHostString(value.text, value.claimed_length, &result->texts));
      cell.value = reinterpret_cast<uintptr_t>(&result->strings.back());
      break;
    }
    default:
      break;
  }
  return cell;
}

void LinkVectors(BuiltResult* result) {
  HostResult& host = result->host;
  host.columns_begin = result->columns.data();
  host.columns_end = result->columns.data() + result->columns.size();
  host.columns_capacity = host.columns_end;
  host.rows_begin = result->rows.data();
  host.rows_end = result->rows.data() + result->rows.size();
  host.rows_capacity = host.rows_end;
}

}  // namespace

HostValue IntegerValue(int64_t value) {
  HostValue host;
  host.tag = kTagInteger;
  host.integer = value;
  return host;
}

HostValue RealValue(double value) {
  HostValue host;
  host.tag = kTagReal;
  host.real = value;
  return host;
}

HostValue TextValue(const std::string& text) {
  HostValue host;
  host.tag = kTagText;
  host.text = text;
  return host;
}

HostValue NullValue(uint8_t tag) {
  HostValue host;
  host.tag = tag;
  return host;
}

std::unique_ptr<BuiltResult> BuildHostResult(const std::vector<std::string>& columns,
                                             const std::vector<std::vector<HostValue>>& rows) {
  auto result = std::make_unique<BuiltResult>();
  result->columns.reserve(columns.size());
  for (const std::string& name : columns) {
    HostColumn column{};
    column.name = MakeHostString(name, 0, &result->texts);
    result->columns.push_back(column);
  }
  const size_t width = columns.size();
  result->cells.reserve(width * rows.size());
  for (const std::vector<HostValue>& row : rows) {
    for (size_t j = 0; j < width; ++j) {
      result->cells.push_back(j < row.size() ? MakeCell(row[j], result.get()) : HostCell{});
    }
  }
  // Row entries are taken once the cells have stopped moving.
  result->rows.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    result->rows.push_back(width == 0 ? result->cells.data() : &result->cells[i * width]);
  }
  LinkVectors(result.get());
  return result;
}

std::unique_ptr<BuiltResult> BuildWideOrLongResult(size_t columns, size_t rows) {
  auto result = std::make_unique<BuiltResult>();
  result->columns.resize(columns);
  for (size_t j = 0; j < columns; ++j) {
    result->columns[j].name = MakeHostString("c" + std::to_string(j), 0, &result->texts);
  }
  result->cells.resize(columns == 0 ? 1 : columns);
  result->rows.assign(rows, result->cells.data());
  LinkVectors(result.get());
  return result;
}

uintptr_t AddressOf(const BuiltResult& result) {
  return reinterpret_cast<uintptr_t>(&result.host);
}

}  // namespace gearloft::devhost
