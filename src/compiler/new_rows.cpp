// gearloft car script compiler: new upgrade rows (rim sizes, tyre profiles, track spacings), the Level
// allocator they share and the emission of one inserted row with its undo and read-back check.
#include <cmath>
#include <cstddef>

#include "compiler/compiler.h"

namespace gearloft {

struct NewRowAxle {
  const char* table;
  const char* value_column;
};

enum class RowLayout {
  kRim,      // Ordinal-owned rim rows: a whole diameter, its price and the mass it adds
  kCarBody,  // CarBodyId-owned rows: the value as a real, priced by Level
};

struct NewRowFamily {
  const char* key;
  NewRowAxle front;
  NewRowAxle rear;
  const char* owner_column;  // the column NextLevel counts Levels within
  bool owned_by_car;         // owner value carId (else carBodyId)
  RowLayout layout;
  NumberRange range;
};

static const NewRowFamily kRimSizes = {"rim_sizes",
                                       {"List_UpgradeRimSizeFront", "FrontWheelDiameter"},
                                       {"List_UpgradeRimSizeRear", "RearWheelDiameter"},
                                       "Ordinal",
                                       true,
                                       RowLayout::kRim,
                                       kRimDiameterRange};
static const NewRowFamily kTireProfiles = {
    "tire_profiles",
    {"List_UpgradeCarBodyTireAspectRatioFront", "FrontTireAspectRatioOffset"},
    {"List_UpgradeCarBodyTireAspectRatioRear", "RearTireAspectRatioOffset"},
    "CarBodyId",
    false,
    RowLayout::kCarBody,
    kAnyFiniteNumber};
static const NewRowFamily kTrackSpacings = {"track_spacings",
                                            {"List_UpgradeCarBodyTrackSpacingFront", "Spacing"},
                                            {"List_UpgradeCarBodyTrackSpacingRear", "Spacing"},
                                            "CarBodyId",
                                            false,
                                            RowLayout::kCarBody,
                                            kAnyFiniteNumber};

static std::string SectionPrefix(const CarContext& car) {
  return "[" + car.section.name + "]: ";
}

// The key ReadAxleLists took an axle's list from: the axle's own one when present, else the plain one.
static std::string AxleKeyFound(const CarSection& section, const std::string& base_key,
                                const std::string& axle) {
  const std::string own = base_key + "_" + axle;
  return section.keys.count(own) != 0 ? own : base_key;
}

std::string PreviousRowsClause(const PreviousRowIds& previous, const std::string& table) {
  const auto found = previous.find(table);
  if (found == previous.end() || found->second.empty()) return std::string();
  std::string clause = " AND Id NOT IN (";
  for (size_t i = 0; i < found->second.size(); ++i) {
    if (i != 0) clause += ",";
    clause += std::to_string(found->second[i]);
  }
  return clause + ")";
}

bool NextLevel(IdContext& ids, const std::string& table, const std::string& owner_column, int64_t owner_value,
               int64_t* level) {
  const std::string key = table + "|" + std::to_string(owner_value);
  int64_t first = 0;
  const auto known = ids.levels.find(key);
  if (known != ids.levels.end()) {
    first = known->second;
  } else {
    // Rows the applied plan added are left out, so compiling the same scripts again gives them the same
    // Levels, and with them the same Ids.
    const std::string clause = PreviousRowsClause(ids.previous, table);
    const double highest =
        std::trunc(QueryNumber(ids.query,
                               "SELECT MAX(Level) FROM " + table + " WHERE " + owner_column + " = " +
                                   std::to_string(owner_value) + clause,
                               0.0));
    // Only shown in the message when it is out of bounds; the clamp keeps the conversion defined.
    const double bound = static_cast<double>(kLargestCarId);
    first = static_cast<int64_t>(std::fmax(-bound, std::fmin(bound, highest))) + 1;
  }
  *level = first;
  if (first < kLowestLevel || first > kHighestLevel) return false;
  if (ids.journal != nullptr) {
    const bool existed = known != ids.levels.end();
    ids.journal->push_back(LevelChange{key, existed, existed ? known->second : 0});
  }
  ids.levels[key] = static_cast<int32_t>(first + 1);
  return true;
}

void InsertRow(Plan& lists, const std::string& table, const std::string& columns, const std::string& values,
               int64_t id) {
  const std::string id_text = std::to_string(id);
  lists.statements.push_back("INSERT OR IGNORE INTO " + table + " (" + columns + ") VALUES (" + values + ")");
  lists.undo.push_back("DELETE FROM " + table + " WHERE Id = " + id_text);
  lists.checks.push_back(ReadBackCheck{"SELECT COUNT(*) FROM " + table + " WHERE Id = " + id_text, 1.0});
  lists.added_rows.push_back(AddedRow{table, columns, values, id});
}

static bool CellHoldsId(const QueryCell& cell, int64_t id) {
  if (cell.kind == QueryCell::Kind::kInteger) return cell.integer == id;
  return CellAsDouble(&cell) == static_cast<double>(id);
}

enum class RowHeld { kNo, kYes, kCannotTell };

// Whether the game itself holds `id` in `table`. The Ids of one car's block of a thousand are asked
// together, so the query cache answers every later row and every re-load of that block. A look-up that
// failed, or whose rows carry no number Id, cannot tell: taking the Id as free then would let INSERT OR
// IGNORE keep the game's row and the undo delete it.
static RowHeld GameHasRow(const CarContext& car, const std::string& table, int64_t id) {
  for (const AddedRow& row : car.lists.added_rows) {
    if (row.id == id && row.table == table) return RowHeld::kNo;
  }
  const auto previous = car.ids.previous.find(table);
  if (previous != car.ids.previous.end()) {
    for (int64_t previous_id : previous->second) {
      if (previous_id == id) return RowHeld::kNo;
    }
  }
  int64_t block = id / 1000;
  if (id % 1000 < 0) --block;
  const int64_t lowest = block * 1000;
  const QueryResult result = car.query("SELECT Id FROM " + table + " WHERE Id BETWEEN " +
                                       std::to_string(lowest) + " AND " + std::to_string(lowest + 999));
  if (!result.ok) return RowHeld::kCannotTell;
  for (const std::vector<QueryCell>& row : result.rows) {
    if (row.empty() || std::isnan(CellAsDouble(&row[0]))) return RowHeld::kCannotTell;
    if (CellHoldsId(row[0], id)) return RowHeld::kYes;
  }
  return RowHeld::kNo;
}

bool InsertNewRow(CarContext& car, const std::string& table, const std::string& columns,
                  const std::string& values, int64_t id) {
  const RowHeld held = GameHasRow(car, table, id);
  if (held == RowHeld::kCannotTell) {
    car.error = SectionPrefix(car) + table + " gave no readable answer for row " + std::to_string(id);
    return false;
  }
  if (held == RowHeld::kYes) {
    car.error = SectionPrefix(car) + table + " already has a row " + std::to_string(id);
    return false;
  }
  InsertRow(car.lists, table, columns, values, id);
  return true;
}

// The stock diameter new rim sizes are measured from; the axle's first size when the car has no stock
// row (or a NULL diameter). An answer that did not come, or came without a number where the diameter
// belongs, fails the file: measuring from the first size then would write a wrong MassDiff unnoticed.
static bool ReadStockDiameter(CarContext& car, const std::string& table, const std::string& column,
                              double fallback, double* stock) {
  const QueryResult result = car.query("SELECT " + column + " FROM " + table +
                                       " WHERE Ordinal = " + car.carIdText + " AND IsStock = 1");
  const QueryCell* cell =
      result.ok && !result.rows.empty() && !result.rows[0].empty() ? &result.rows[0][0] : nullptr;
  if (!result.ok || (!result.rows.empty() && (cell == nullptr || cell->kind == QueryCell::Kind::kText))) {
    car.error = SectionPrefix(car) + table + " gave no readable stock " + column;
    return false;
  }
  const double value = CellAsDouble(cell);
  *stock = std::isnan(value) ? fallback : value;
  return true;
}

static bool CompileNewRows(CarContext& car, const NewRowFamily& family) {
  car.axles.clear();
  if (!ReadAxleLists(car.section, family.key, &car.axles, &car.error, family.range)) return false;
  const int64_t owner_value = family.owned_by_car ? car.carId : car.carBodyId;
  for (const auto& axle : car.axles) {
    const std::vector<double>& values = axle.second;
    if (values.empty()) continue;
    const NewRowAxle& side = axle.first == "front" ? family.front : family.rear;
    const std::string table = side.table;
    const std::string column = side.value_column;
    const std::string key = AxleKeyFound(car.section, family.key, axle.first);
    MarkKey(car, key);
    double stock = 0.0;
    if (family.layout == RowLayout::kRim && !ReadStockDiameter(car, table, column, values[0], &stock)) {
      return false;
    }
    for (double value : values) {
      int64_t level = 0;
      if (!NextLevel(car.ids, table, family.owner_column, owner_value, &level)) {
        car.error = SectionPrefix(car) + key + " Level " + std::to_string(level) +
                    (level < kLowestLevel
                         ? " is below " + table + "'s lowest of " + std::to_string(kLowestLevel) + " per car"
                         : " is past " + table + "'s limit of " + std::to_string(kHighestLevel) + " per car");
        return false;
      }
      const int64_t id = car.carBodyId + level;
      const std::string level_text = std::to_string(level);
      std::string columns;
      std::string row;
      if (family.layout == RowLayout::kRim) {
        // The list's range keeps the diameter and its price inside 32 bits.
        const int32_t diameter = static_cast<int32_t>(std::trunc(value));
        const int32_t price = (diameter - 8) * 200;
        const double mass_diff = std::round((diameter - stock) * 136.0) / 100.0;
        columns = "Id,Ordinal,Level,IsStock," + column +
                  ",Price,MassDiff,DragScale,WindInstabilityScale,RequiresGraphics";
        row = std::to_string(id) + "," + car.carIdText + "," + level_text + ",0," + std::to_string(diameter) +
              "," + std::to_string(price) + "," + FormatSqlNumber(mass_diff) + ",1.0,1.0,0";
      } else {
        columns = "Id,CarBodyId," + column + ",IsStock,Level,Price,releaseOrder";
        row = std::to_string(id) + "," + car.carBodyIdText + "," + FormatSqlNumber(value) + ",0," +
              level_text + "," + std::to_string(level * 100) + ",0";
      }
      if (!InsertNewRow(car, table, columns, row, id)) return false;
    }
  }
  return true;
}

bool CompileRimSizes(CarContext& car) {
  return CompileNewRows(car, kRimSizes);
}
bool CompileTireProfiles(CarContext& car) {
  return CompileNewRows(car, kTireProfiles);
}
bool CompileTrackSpacings(CarContext& car) {
  return CompileNewRows(car, kTrackSpacings);
}

}  // namespace gearloft
