// gearloft-check: the report of one run as lines for a person and as one JSON document. The lines are
// built only from facts the JSON document holds too, so either can be read for the same answer.
#include "check/report.h"

#include <charconv>
#include <system_error>

#include <nlohmann/json.hpp>

namespace gearloft::check {

namespace {

using Json = nlohmann::ordered_json;

std::string RowName(const TableChanges& table, int64_t row) {
  return table.key_column + " " + std::to_string(row);
}

void AppendTableLines(const TableChanges& table, const std::string& indent, std::string* text) {
  *text += indent + table.table + ":\n";
  for (const auto& row : table.added) {
    std::string cells;
    for (size_t c = 0; c < row.second.size() && c < table.columns.size(); ++c) {
      cells += (c == 0 ? "" : ", ") + table.columns[c] + "=" + CellText(row.second[c]);
    }
    *text += indent + "  + " + RowName(table, row.first) + ": " + cells + "\n";
  }
  for (const auto& row : table.removed) {
    std::string cells;
    for (size_t c = 0; c < row.second.size() && c < table.columns.size(); ++c) {
      cells += (c == 0 ? "" : ", ") + table.columns[c] + "=" + CellText(row.second[c]);
    }
    *text += indent + "  - " + RowName(table, row.first) + ": " + cells + "\n";
  }
  // One line per row, its changed cells in column order.
  for (size_t i = 0; i < table.changed.size();) {
    const int64_t row = table.changed[i].row;
    std::string cells;
    for (; i < table.changed.size() && table.changed[i].row == row; ++i) {
      const CellChange& change = table.changed[i];
      cells += (cells.empty() ? "" : ", ") + change.column + " " + CellText(change.before) + " -> " +
               CellText(change.after);
    }
    *text += indent + "  ~ " + RowName(table, row) + ": " + cells + "\n";
  }
}

Json PrintableWarnings(const std::vector<std::string>& warnings) {
  Json list = Json::array();
  for (const std::string& warning : warnings) list.push_back(PrintableText(warning));
  return list;
}

Json CellJson(const QueryCell& cell) {
  switch (cell.kind) {
    case QueryCell::Kind::kInteger:
      return Json(cell.integer);
    case QueryCell::Kind::kReal:
      return Json(cell.real);
    case QueryCell::Kind::kText:
      return Json(cell.text);
    case QueryCell::Kind::kNull:
      break;
  }
  return Json(nullptr);
}

Json RowsJson(const TableChanges& table,
              const std::vector<std::pair<int64_t, std::vector<QueryCell>>>& rows) {
  Json list = Json::array();
  for (const auto& row : rows) {
    Json cells = Json::object();
    for (size_t c = 0; c < row.second.size() && c < table.columns.size(); ++c) {
      cells[table.columns[c]] = CellJson(row.second[c]);
    }
    list.push_back(Json{{"row", row.first}, {"cells", cells}});
  }
  return list;
}

Json TablesJson(const std::vector<TableChanges>& tables) {
  Json list = Json::array();
  for (const TableChanges& table : tables) {
    Json changed = Json::array();
    for (const CellChange& change : table.changed) {
      changed.push_back(Json{{"row", change.row},
                             {"column", change.column},
                             {"before", CellJson(change.before)},
                             {"after", CellJson(change.after)}});
    }
    list.push_back(Json{{"table", table.table},
                        {"key", table.key_column},
                        {"added", RowsJson(table, table.added)},
                        {"removed", RowsJson(table, table.removed)},
                        {"changed", changed}});
  }
  return list;
}

size_t CompiledFiles(const CheckReport& report) {
  size_t compiled = 0;
  for (const FileReport& file : report.files) compiled += file.ok ? 1 : 0;
  return compiled;
}

// The apply ran and did not come out right: a statement or read-back failed, or the undo left a trace.
bool ApplyFailed(const ApplyReport& apply) {
  return apply.ran && (!apply.applied || !apply.undo_failed.empty() || !apply.left_after_undo.empty());
}

// What failed: the files that did not compile, and the apply as one more when it failed.
size_t FailedCount(const CheckReport& report) {
  return report.files.size() - CompiledFiles(report) + (ApplyFailed(report.apply) ? 1 : 0);
}

}  // namespace

int ReportStatus(const CheckReport& report) {
  if (FailedCount(report) != 0) return 1;
  if (report.strict) {
    for (const FileReport& file : report.files) {
      if (!file.warnings.empty()) return 1;
    }
  }
  return 0;
}

std::string CellText(const QueryCell& cell) {
  switch (cell.kind) {
    case QueryCell::Kind::kInteger:
      return std::to_string(cell.integer);
    case QueryCell::Kind::kReal: {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, cell.real);
      if (result.ec != std::errc()) return "?";
      std::string text(buffer, result.ptr);
      if (text.find_first_of(".en") == std::string::npos) text += ".0";  // "inf" and "nan" stay as they are
      return text;
    }
    case QueryCell::Kind::kText:
      return "'" + cell.text + "'";
    case QueryCell::Kind::kNull:
      break;
  }
  return "NULL";
}

std::string DataLine(const CheckReport& report) {
  if (report.database.empty()) return "checking against the bundled sample database (not your game's cars)";
  if (!report.snapshot) return "checking against " + PrintableText(report.database);
  return "checking against your game's tables in " + PrintableText(report.database) +
         (report.written.empty() ? std::string() : ", written " + PrintableText(report.written));
}

std::string TextReport(const CheckReport& report) {
  std::string text = DataLine(report) + "\n";
  for (const FileReport& file : report.files) {
    if (file.ok) {
      std::string cars;
      for (const std::string& car : file.cars) cars += (cars.empty() ? "" : ", ") + car;
      text += file.path + ": ok: " + (cars.empty() ? std::string("no car") : cars) + ", " +
              std::to_string(file.statements.size()) + " statement(s)\n";
      // As the worker logs them; a warning does not fail the file.
      for (const std::string& warning : file.warnings) text += "WARNING " + PrintableText(warning) + "\n";
    } else if (file.line != 0) {
      text += PrintableText(file.path) + ":" + std::to_string(file.line) + ": " + PrintableText(file.error) +
              "\n";
    } else {
      text += PrintableText(file.path) + ": " + PrintableText(file.error) + "\n";
    }
  }
  if (report.with_plan) {
    // As the plan file holds them: only the files that compiled.
    for (const FileReport& file : report.files) {
      if (!file.ok) continue;
      text += "-- " + file.name + "\n";
      for (const PlanStatement& statement : file.statements) text += statement + ";\n";
    }
  }
  const ApplyReport& apply = report.apply;
  if (apply.ran) {
    text += "apply: " + std::to_string(apply.statements) + " statement(s) in " +
            std::to_string(apply.batches) + " batch(es), ";
    if (apply.applied) {
      text += "all read back\n";
    } else {
      text += "ERROR " + (apply.message.empty() ? std::string("ApplyPlan failed") : apply.message) + "\n";
    }
    if (apply.changes.empty()) text += "no row changed\n";
    for (const TableChanges& table : apply.changes) AppendTableLines(table, "", &text);
    text += "undo: " + std::to_string(apply.undo_statements) + " statement(s) run last to first, ";
    if (apply.undo_failed.empty() && apply.left_after_undo.empty()) {
      text += "every table back to its original values\n";
    } else {
      text += "ERROR the copy differs from the original\n";
      for (const std::string& statement : apply.undo_failed) text += "  refused: " + statement + "\n";
      for (const TableChanges& table : apply.left_after_undo) AppendTableLines(table, "  ", &text);
    }
  }
  const size_t compiled = CompiledFiles(report);
  text += "checked " + std::to_string(report.files.size()) + " file(s): " + std::to_string(compiled) +
          " compiled, " + std::to_string(FailedCount(report)) + " failed" +
          (ApplyFailed(apply) ? " (the apply among them)" : "") + "\n";
  return text;
}

std::string JsonReport(const CheckReport& report) {
  Json files = Json::array();
  for (const FileReport& file : report.files) {
    Json entry{{"path", file.path},
               {"name", file.name},
               {"ok", file.ok},
               {"cars", file.cars},
               {"statements", file.statements.size()},
               {"warnings", PrintableWarnings(file.warnings)},
               {"error", file.ok ? Json(nullptr) : Json(PrintableText(file.error))},
               {"line", file.line == 0 ? Json(nullptr) : Json(file.line)}};
    if (report.with_plan) entry["plan"] = file.ok ? Json(file.statements) : Json::array();
    files.push_back(entry);
  }
  Json document{{"database", report.database.empty() ? Json(nullptr) : Json(report.database)},
                {"data", Json{{"kind", report.database.empty() ? "sample"
                                       : report.snapshot       ? "snapshot"
                                                               : "database"},
                              {"written", report.written.empty() ? Json(nullptr) : Json(report.written)}}},
                {"files", files}};
  const ApplyReport& apply = report.apply;
  if (apply.ran) {
    document["apply"] = Json{{"applied", apply.applied},
                             {"statements", apply.statements},
                             {"batches", apply.batches},
                             {"message", apply.message},
                             {"tables", TablesJson(apply.changes)},
                             {"undo",
                              {{"statements", apply.undo_statements},
                               {"refused", apply.undo_failed},
                               {"left", TablesJson(apply.left_after_undo)}}}};
  }
  const size_t compiled = CompiledFiles(report);
  document["summary"] = Json{{"files", report.files.size()},
                             {"compiled", compiled},
                             {"failed", FailedCount(report)},
                             {"apply_failed", ApplyFailed(apply)},
                             {"status", ReportStatus(report)}};
  // A script may hold bytes that are not UTF-8 (a name in a legacy code page); they show as U+FFFD.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace gearloft::check
