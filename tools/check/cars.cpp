// gearloft-check: the car finder. Lists the cars of the data checked against, and shows one car's rows in
// every table a key touches, grouped by key family, with the next free Level a new row would take.
#include "check/cars.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check/game_tables.h"
#include "check/report.h"
#include "compiler/loader.h"
#include "scripts/scripts.h"

namespace gearloft::check {
namespace {

// Letters, digits and '_' only: safe between quotes, as a car name in a section header must be anyway.
bool IsPlainName(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  }
  return true;
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string EscapedLike(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') escaped += '\\';
    escaped += c == '\'' ? std::string("''") : std::string(1, c);
  }
  return escaped;
}

struct FamilyTable {
  const char* table;
  const char* owner_column;
  bool owned_by_body;       // owner value carBodyId (else carId)
  const char* next_column;  // the column a new row counts up ("Level", "Sequence"), or null
};

struct KeyFamily {
  const char* title;
  std::vector<FamilyTable> tables;
};

// Every table a key touches, grouped as the keys are documented.
const std::vector<KeyFamily>& KeyFamilies() {
  static const std::vector<KeyFamily>& families = *new std::vector<KeyFamily>{
      {"rims (rim_sizes, rim_stock, rim_levels)",
       {{"List_UpgradeRimSizeFront", "Ordinal", false, "Level"},
        {"List_UpgradeRimSizeRear", "Ordinal", false, "Level"}}},
      {"tyre profiles (tire_profiles, profile_stock)",
       {{"List_UpgradeCarBodyTireAspectRatioFront", "CarBodyId", true, "Level"},
        {"List_UpgradeCarBodyTireAspectRatioRear", "CarBodyId", true, "Level"}}},
      {"track spacings (track_spacings, track_front_stock, track_rear_stock)",
       {{"List_UpgradeCarBodyTrackSpacingFront", "CarBodyId", true, "Level"},
        {"List_UpgradeCarBodyTrackSpacingRear", "CarBodyId", true, "Level"}}},
      {"tyre widths (width_stock)",
       {{"List_UpgradeCarBodyTireWidthFront", "CarBodyId", true, nullptr},
        {"List_UpgradeCarBodyTireWidthRear", "CarBodyId", true, nullptr}}},
      {"springs and dampers (ride_drop_front, ride_drop_rear)",
       {{"List_UpgradeSpringDamper", "Ordinal", false, nullptr}}},
      {"tyre compounds (whitewall_level)", {{"List_UpgradeTireCompound", "Ordinal", false, nullptr}}},
      {"bonnets (hood_options)", {{"List_UpgradeCarBodyHood", "CarBodyID", true, "Sequence"}}},
  };
  return families;
}

void AppendRows(const QueryResult& rows, std::string* text) {
  for (const std::vector<QueryCell>& row : rows.rows) {
    std::string cells;
    for (size_t c = 0; c < row.size() && c < rows.columns.size(); ++c) {
      cells += (c == 0 ? "" : ", ") + rows.columns[c] + "=" + CellText(row[c]);
    }
    *text += "    " + cells + "\n";
  }
  if (rows.rows.empty()) *text += "    (no rows)\n";
}

}  // namespace

std::string CarList(sqlite3* db, const std::string& text) {
  std::string sql = "SELECT Id, MediaName FROM Data_Car";
  if (!text.empty()) {
    // LIKE folds ASCII letter case, as the section lookup's COLLATE NOCASE does.
    sql += " WHERE MediaName LIKE '%" + EscapedLike(text) + "%' ESCAPE '\\'";
    if (IsDigits(text)) sql += " OR Id = " + text;
  }
  const QueryResult cars = QueryRows(db, sql);
  std::vector<std::pair<std::string, std::string>> lines;  // MediaName, Id
  for (const std::vector<QueryCell>& row : cars.rows) {
    if (row.size() < 2) continue;
    lines.emplace_back(row[1].kind == QueryCell::Kind::kText ? row[1].text : CellText(row[1]),
                       CellText(row[0]));
  }
  std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
    const int order = CompareNamesNoCase(a.first, b.first);
    return order != 0 ? order < 0 : a < b;
  });
  std::string list;
  for (const auto& line : lines) list += line.second + "  " + line.first + "\n";
  return list;
}

bool CarDetails(sqlite3* db, const std::string& car, std::string* text, std::string* error) {
  if (!IsPlainName(car)) {
    *error = "a car is named by its Id or its MediaName (letters, digits and _): " + car;
    return false;
  }
  const QueryResult found = QueryRows(
      db, IsDigits(car)
              ? "SELECT Id, MediaName FROM Data_Car WHERE Id = " + car
              : "SELECT Id, MediaName FROM Data_Car WHERE MediaName = '" + car + "' COLLATE NOCASE");
  if (!found.ok || found.rows.empty() || found.rows[0][0].kind != QueryCell::Kind::kInteger) {
    *error = "no such car in Data_Car: " + car;
    return false;
  }
  const int64_t car_id = found.rows[0][0].integer;
  const std::string id = std::to_string(car_id);
  const std::string body = std::to_string(car_id * 1000);
  const QueryCell& name = found.rows[0][1];
  *text = "car " + id + "  " + (name.kind == QueryCell::Kind::kText ? name.text : CellText(name)) +
          " (CarBodyId " + body + ")\n";
  for (const KeyFamily& family : KeyFamilies()) {
    *text += std::string(family.title) + ":\n";
    for (const FamilyTable& table : family.tables) {
      const std::string owner = std::string(table.owner_column) + " = " + (table.owned_by_body ? body : id);
      *text += "  " + std::string(table.table);
      if (table.next_column != nullptr) {
        // What a new row of a script would take: the highest one the car has, plus one.
        const QueryResult highest = QueryRows(db, std::string("SELECT COALESCE(MAX(") + table.next_column +
                                                      "), 0) + 1 FROM " + table.table + " WHERE " + owner);
        if (highest.ok && !highest.rows.empty()) {
          *text += " (next free " + std::string(table.next_column) + " " + CellText(highest.rows[0][0]) + ")";
        }
      }
      *text += ":\n";
      AppendRows(
          QueryRows(db, std::string("SELECT * FROM ") + table.table + " WHERE " + owner + " ORDER BY rowid"),
          text);
    }
    if (std::string(family.title).rfind("springs", 0) == 0) {
      // The heights a ride drop moves: the physics rows the car's spring/damper rows point to.
      *text += "  List_SpringDamperPhysics:\n";
      AppendRows(QueryRows(db,
                           "SELECT * FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID IN (SELECT "
                           "FrontSpringDamperPhysicsID FROM List_UpgradeSpringDamper WHERE Ordinal = " +
                               id +
                               " UNION SELECT RearSpringDamperPhysicsID FROM List_UpgradeSpringDamper WHERE "
                               "Ordinal = " +
                               id + ") ORDER BY SpringDamperPhysicsID"),
                 text);
    }
  }
  return true;
}

}  // namespace gearloft::check
