// gearloft simulated game: SQLite rows as the bridge copies the game's answer, for the tools and tests that
// answer the compiler's look-ups straight from a SQLite database.
#pragma once

#include <string>

#include "hostdb/hostdb.h"

struct sqlite3;
struct sqlite3_stmt;

namespace gearloft::devhost {

// One cell: an integer, a real, a text, or NULL (a blob too, as the game answers it).
QueryCell CellOf(sqlite3_stmt* statement, int column);

// Every row a prepared statement answers, stepped to its end (the caller resets or finalizes it); ok is
// false when a step fails.
QueryResult StatementRows(sqlite3_stmt* statement);

// The rows of `sql` on `db`; ok is false when SQLite refuses the statement.
QueryResult QueryRows(sqlite3* db, const std::string& sql);

}  // namespace gearloft::devhost
