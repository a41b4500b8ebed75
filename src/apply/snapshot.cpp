// gearloft apply and verify: the snapshot of the game's own tables, read once before the first change and
// written beside the scripts as SQL (gearloft.tables.sql) and as a list of cars (gearloft.cars.txt), so a
// player can find a car's name and check a script against the game's real data. Reads only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "apply/apply.h"
#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/log.h"
#include "runtime/paths.h"
#include "scripts/scripts.h"

namespace gearloft {
namespace {

std::string QuotedName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string TextLiteral(const std::string& text) {
  // A NUL would end the statement text for SQLite: such a text goes in as the hex of its bytes.
  if (text.find('\0') != std::string::npos) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      hex += kHex[byte >> 4];
      hex += kHex[byte & 0x0F];
    }
    return "CAST(X'" + hex + "' AS TEXT)";
  }
  std::string literal = "'";
  for (char c : text) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}

std::string CellLiteral(const QueryCell& cell) {
  switch (cell.kind) {
    case QueryCell::Kind::kInteger:
      return std::to_string(cell.integer);
    case QueryCell::Kind::kReal:
      return FormatExactSqlNumber(cell.real);
    case QueryCell::Kind::kText:
      return TextLiteral(cell.text);
    case QueryCell::Kind::kNull:
      break;
  }
  return "NULL";
}

// A file written beside its place and moved over it, so a reader never sees half of it.
class ReplacingFile {
 public:
  explicit ReplacingFile(std::string path)
      : path_(std::move(path)),
        temporary_(path_ + ".tmp"),
        file_(platform::OpenFile(temporary_, "w", platform::Share::kDenyNone)) {}
  ~ReplacingFile() {
    if (file_ != nullptr) {
      std::fclose(file_);
      platform::DeleteFilePath(temporary_);
    }
  }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  void Write(const std::string& text) {
    if (file_ != nullptr && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
    bytes_ += text.size();
  }
  size_t Bytes() const { return bytes_; }
  // Closes the file and moves it into place; false, and no file left behind, when any of it failed.
  bool Finish() {
    if (file_ == nullptr) return false;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !closed || !platform::ReplaceMove(temporary_, path_)) {
      platform::DeleteFilePath(temporary_);
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  std::string temporary_;
  std::FILE* file_;
  bool failed_ = false;
  size_t bytes_ = 0;
};

// "YYYY-MM-DD HH:MM:SS UTC" of a time in 100-ns units since 1601-01-01 UTC.
std::string UtcStamp(uint64_t filetime) {
  const int64_t seconds = static_cast<int64_t>(filetime / 10000000u) - 11644473600;  // from 1970
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t in_day = seconds - days * 86400;
  // Days to a civil date, proleptic Gregorian, valid for any day since 1970.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[160];  // room for any 64-bit field, which the compiler cannot rule out
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(in_day / 3600), static_cast<long long>(in_day / 60 % 60),
                static_cast<long long>(in_day % 60));
  return text;
}

}  // namespace

std::string SnapshotWrittenLine(uint64_t filetime) {
  return std::string(kSnapshotWritten) + UtcStamp(filetime);
}

std::string SnapshotTableSql(const std::string& table, const QueryResult& result) {
  const std::string name = QuotedName(table);
  std::string sql = "CREATE TABLE " + name + " (";
  for (size_t c = 0; c < result.columns.size(); ++c)
    sql += (c == 0 ? "" : ", ") + QuotedName(result.columns[c]);
  sql += ");\n";
  for (const std::vector<QueryCell>& row : result.rows) {
    sql += "INSERT INTO " + name + " VALUES (";
    for (size_t c = 0; c < row.size(); ++c) sql += (c == 0 ? "" : ",") + CellLiteral(row[c]);
    sql += ");\n";
  }
  return sql;
}

std::string SnapshotCarList(const QueryResult& cars) {
  std::vector<std::pair<std::string, std::string>> lines;  // MediaName, Id
  for (const std::vector<QueryCell>& row : cars.rows) {
    if (row.size() < 2) continue;
    const std::string id = row[0].kind == QueryCell::Kind::kText ? row[0].text : CellLiteral(row[0]);
    const std::string name = row[1].kind == QueryCell::Kind::kText ? row[1].text : CellLiteral(row[1]);
    lines.emplace_back(name, id);
  }
  // Sorted as a person looks names up: letter case aside, then by the bytes.
  std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
    const int order = CompareNamesNoCase(a.first, b.first);
    return order != 0 ? order < 0 : a < b;
  });
  std::string text;
  for (const auto& line : lines) text += line.second + "  " + line.first + "\n";
  return text;
}

SnapshotOutcome WriteSnapshot(const std::string& folder, const QueryFn& query) {
  SnapshotOutcome outcome;
  const std::string separator = platform::PathSeparator();
  // Written table by table: the game's tables can hold hundreds of thousands of rows.
  ReplacingFile sql(folder + separator + "gearloft.tables.sql");
  sql.Write(SnapshotWrittenLine(platform::SystemTimeNow()) +
            "\n"
            "-- The game's own tables, as gearloft read them before changing anything. Written anew at\n"
            "-- every game start; editing it changes nothing in the game. gearloft-check reads it when it\n"
            "-- checks scripts in this folder (or with --db gearloft.tables.sql); sqlite3 loads it as well.\n"
            "BEGIN;\n");
  QueryResult cars;
  for (const char* table : kGameTables) {
    // The car list needs two columns of Data_Car; every other table gives all of its own.
    const bool car_list = std::string(table) == "Data_Car";
    QueryResult result =
        query(std::string("SELECT ") + (car_list ? "Id, MediaName" : "*") + " FROM " + table);
    if (!result.ok || result.columns.empty()) {
      outcome.missing.push_back(table);
      continue;
    }
    ++outcome.tables;
    outcome.rows += result.rows.size();
    sql.Write(SnapshotTableSql(table, result));
    if (car_list) cars = std::move(result);
  }
  sql.Write("COMMIT;\n");
  outcome.bytes = sql.Bytes();
  outcome.written = sql.Finish();
  if (outcome.written && !cars.rows.empty()) {
    ReplacingFile list(folder + separator + "gearloft.cars.txt");
    list.Write(SnapshotCarList(cars));
    outcome.written = list.Finish();
  }
  return outcome;
}

void TakeSnapshot() {
  const uint64_t start = platform::TickCountMs();
  const SnapshotOutcome outcome = WriteSnapshot(WatchedFolder(), QueryFn(Query));
  for (const std::string& table : outcome.missing) {
    LogLine("WARNING: snapshot: %s did not answer - left out of gearloft.tables.sql", table.c_str());
  }
  if (!outcome.written) {
    LogLine("WARNING: snapshot: gearloft.tables.sql could not be written");
    return;
  }
  LogLine("snapshot: %zu table(s), %zu row(s) in gearloft.tables.sql (%.0f ms)", outcome.tables, outcome.rows,
          static_cast<double>(platform::TickCountMs() - start));
}

}  // namespace gearloft
