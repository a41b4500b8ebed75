// gearloft test support: the simulated game's tables read from outside the game (a database file, or the
// dump the game writes), as rows whose cells carry their storage class, and whole-table dumps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace gearloft::test {

// A cell as its storage class and value: "integer:7004", "real:1.3600000000000001", "text:Kestrel_GT",
// "null", "blob". Reals are written with 17 significant digits, so two cells read the same only when
// their doubles are equal (-0.0 reads "real:-0").
std::string Integer(int64_t value);
std::string Real(double value);
std::string Text(const std::string& value);
std::string CellText(sqlite3_stmt* statement, int column);

// Cells joined by "|".
std::string Row(const std::vector<std::string>& cells);

// Table name to its rows in rowid order, each row with its rowid; the schema is kept under
// "sqlite_master".
using TableDump = std::map<std::string, std::vector<std::pair<int64_t, std::string>>>;

// An open connection to a database file; it waits for the game's own writes instead of failing on them.
class GameDatabase {
 public:
  explicit GameDatabase(const std::filesystem::path& file);
  ~GameDatabase();
  GameDatabase(const GameDatabase&) = delete;
  GameDatabase& operator=(const GameDatabase&) = delete;

  // Empty while everything went well, else what failed first.
  const std::string& Error() const { return error_; }
  sqlite3* Handle() { return db_; }

  // Fills an empty file with the simulated game's fixture tables.
  bool CreateFixture();
  bool Exec(const std::string& sql);
  // Every row the statement answers, each as Row of its cells.
  std::vector<std::string> Rows(const std::string& sql);
  // The row of `table` with this Id; empty when there is none.
  std::string RowWithId(const std::string& table, int64_t id);
  // The schema and every row of every table, in one read transaction.
  TableDump Dump();

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
};

// Asks a running simulated game started with --dump-on-exit `dump` for its tables now, running `sql`
// (if any) first as the game's own change, and waits up to 30 s for `dump` to be written. A game that
// has ended (`running` false) has written its last dump already: true when it is there and nothing is
// asked of it. `running` is asked again while waiting.
bool RequestTables(const std::filesystem::path& dump, const std::string& sql,
                   const std::function<bool()>& running);

// Every row of a dump but the schema, one line per row: "table|cells".
std::vector<std::string> DumpLines(const TableDump& dump);

// `dump` with a row put in its rowid place (replacing a row with the same rowid) or, with an empty row,
// taken out.
TableDump WithRow(TableDump dump, const std::string& table, int64_t id, const std::string& row);

// The first place where two dumps differ, as text; empty when they are equal.
std::string FirstDifference(const TableDump& want, const TableDump& got);

}  // namespace gearloft::test
