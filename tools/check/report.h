// gearloft-check: what one run found, and its two renderings: lines for a person, one JSON document
// for editors and scripts. Both carry the same facts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/game_tables.h"
#include "scripts/scripts.h"

namespace gearloft::check {

struct FileReport {
  std::string path;  // as the user named it, or folder + separator + name for a folder's file
  std::string name;  // the file name alone, as the plan file heads the file's statements
  bool ok = false;
  std::vector<std::string> cars;  // MediaNames of the resolved cars
  std::vector<PlanStatement> statements;
  // Cells it sets that an earlier file or section set otherwise, and values far outside the data's own.
  std::vector<std::string> warnings;
  std::string error;  // the text the worker logs, without the parser's "line N: "
  size_t line = 0;    // the line the error is about; 0 when no line is known
};

struct ApplyReport {
  bool ran = false;
  bool applied = false;  // ApplyPlan's result
  size_t statements = 0;
  size_t batches = 0;
  std::string message;  // what ApplyPlan logged, when it logged anything
  std::vector<TableChanges> changes;
  size_t undo_statements = 0;
  std::vector<std::string> undo_failed;       // undo statements the database refused
  std::vector<TableChanges> left_after_undo;  // how the copy still differs from the original
};

struct CheckReport {
  std::string database;   // the --db file or the snapshot beside the scripts; empty for the bundled fixture
  bool snapshot = false;  // `database` is the worker's snapshot of a game's tables
  std::string written;    // when that snapshot was written, as its first line says; empty when unknown
  bool with_plan = false;
  bool strict = false;  // --strict: a warning fails the run as an error does
  std::vector<FileReport> files;
  ApplyReport apply;
};

// 0 when every file compiled (and, with --apply, the plan applied, read back and came off cleanly, and
// with --strict, no file has a warning); 1 otherwise.
int ReportStatus(const CheckReport& report);

// The report's first line: which data the scripts were checked against.
std::string DataLine(const CheckReport& report);

// A cell as the report shows it: NULL, an integer in decimal, a real number as the shortest text that
// reads back as the same double (with ".0" when it would look like an integer), text in single quotes.
std::string CellText(const QueryCell& cell);

std::string TextReport(const CheckReport& report);
std::string JsonReport(const CheckReport& report);

}  // namespace gearloft::check
