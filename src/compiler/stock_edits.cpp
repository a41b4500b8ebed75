// gearloft car script compiler: edits of rows the game already has for a car, its stock track spacing,
// rim diameter, tyre profile and tyre width per axle, and the diameters of its aftermarket rim levels.
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "compiler/compiler.h"

namespace gearloft {

namespace {

enum class StockRow {
  kSpacingById,     // QueryNumber of the value at Id = carBodyId; a missing row reads as NaN
  kStockByOrdinal,  // the IsStock = 1 row owned by Ordinal = carId
  kStockByCarBody,  // the IsStock = 1 row owned by CarBodyId = carBodyId
};

struct StockAxle {
  const char* table;
  const char* column;
};

struct StockEdit {
  const char* prefix;     // the per-axle key is prefix + axle word + "_stock"
  const char* plain_key;  // the key for both axles when an axle's own is absent; "" for none
  StockAxle front;
  StockAxle rear;
  StockRow row;
  bool whole;  // the value is truncated to a 32-bit integer and written in decimal (else as a real)
  NumberRange range;
};

const StockEdit kTrackStock = {"track_",
                               "",
                               {"List_UpgradeCarBodyTrackSpacingFront", "Spacing"},
                               {"List_UpgradeCarBodyTrackSpacingRear", "Spacing"},
                               StockRow::kSpacingById,
                               false,
                               kAnyFiniteNumber};
const StockEdit kRimStock = {"rim_",
                             "rim_stock",
                             {"List_UpgradeRimSizeFront", "FrontWheelDiameter"},
                             {"List_UpgradeRimSizeRear", "RearWheelDiameter"},
                             StockRow::kStockByOrdinal,
                             true,
                             kInt32Range};
const StockEdit kProfileStock = {"profile_",
                                 "profile_stock",
                                 {"List_UpgradeCarBodyTireAspectRatioFront", "FrontTireAspectRatioOffset"},
                                 {"List_UpgradeCarBodyTireAspectRatioRear", "RearTireAspectRatioOffset"},
                                 StockRow::kStockByCarBody,
                                 false,
                                 kAnyFiniteNumber};
const StockEdit kWidthStock = {"width_",
                               "width_stock",
                               {"List_UpgradeCarBodyTireWidthFront", "FrontTireWidth"},
                               {"List_UpgradeCarBodyTireWidthRear", "RearTireWidth"},
                               StockRow::kStockByCarBody,
                               true,
                               kInt32Range};

const StockAxle kRimLevelFront = {"List_UpgradeRimSizeFront", "FrontWheelDiameter"};
const StockAxle kRimLevelRear = {"List_UpgradeRimSizeRear", "RearWheelDiameter"};

std::string SectionPrefix(const CarContext& car) {
  return "[" + car.section.name + "]: ";
}

void AppendEdit(CarContext& car, const std::string& statement, const std::string& undo,
                const std::string& check_sql, double want) {
  car.lists.statements.push_back(statement);
  car.lists.undo.push_back(undo);
  car.lists.checks.push_back(ReadBackCheck{check_sql, want});
}

// The row an edit changes and the literal its undo puts back; false when there is none to change.
bool FindStockRow(const CarContext& car, const StockEdit& edit, const StockAxle& axle, std::string* id_text,
                  std::string* old_literal) {
  const std::string table = axle.table;
  const std::string column = axle.column;
  if (edit.row == StockRow::kSpacingById) {
    const double old_value =
        QueryNumber(car.query, "SELECT Spacing FROM " + table + " WHERE Id = " + car.carBodyIdText,
                    std::numeric_limits<double>::quiet_NaN());
    if (std::isnan(old_value)) return false;
    *id_text = car.carBodyIdText;
    *old_literal = FormatExactSqlNumber(old_value);
    return true;
  }
  const std::string owner = edit.row == StockRow::kStockByOrdinal ? " WHERE Ordinal = " + car.carIdText
                                                                  : " WHERE CarBodyId = " + car.carBodyIdText;
  const QueryResult result =
      car.query("SELECT Id, " + column + " FROM " + table + owner + " AND IsStock = 1");
  if (!result.ok || result.rows.empty()) return false;
  const std::vector<QueryCell>& row = result.rows[0];
  int64_t id = 0;
  if (!ReadRowId(row.empty() ? nullptr : &row[0], &id)) return false;
  if (!OldValueSql(row.size() < 2 ? nullptr : &row[1], old_literal)) return false;
  *id_text = std::to_string(id);
  return true;
}

bool CompileStockEdit(CarContext& car, const StockEdit& edit) {
  for (const char* axle_word : kAxleWords) {
    SingleNumber number;
    if (!ReadSingleNumber(car.section, edit.prefix + std::string(axle_word) + "_stock", edit.plain_key,
                          edit.range, &number, &car.error)) {
      return false;
    }
    if (!number.present) continue;
    MarkKey(car, number.key);
    const StockAxle& axle = std::string(axle_word) == "front" ? edit.front : edit.rear;
    const std::string table = axle.table;
    const std::string column = axle.column;
    std::string id_text;
    std::string old_literal;
    if (!FindStockRow(car, edit, axle, &id_text, &old_literal)) {
      car.error = SectionPrefix(car) + "no stock " + table + " row to change";
      return false;
    }
    std::string new_text;
    double want = number.value;
    if (edit.whole) {
      // The key's range keeps the truncation inside 32 bits.
      const int32_t whole = static_cast<int32_t>(std::trunc(number.value));
      new_text = std::to_string(whole);
      want = whole;
    } else {
      new_text = FormatSqlNumber(number.value);
      want = SqlNumberValue(number.value);
    }
    const std::string head = "UPDATE " + table + " SET " + column + " = ";
    const std::string where = " WHERE Id = " + id_text;
    AppendEdit(car, head + new_text + where, head + old_literal + where,
               "SELECT " + column + " FROM " + table + where, want);
  }
  return true;
}

}  // namespace

bool CompileTrackStock(CarContext& car) {
  return CompileStockEdit(car, kTrackStock);
}
bool CompileRimStock(CarContext& car) {
  return CompileStockEdit(car, kRimStock);
}
bool CompileProfileStock(CarContext& car) {
  return CompileStockEdit(car, kProfileStock);
}
bool CompileWidthStock(CarContext& car) {
  return CompileStockEdit(car, kWidthStock);
}

bool CompileRimLevels(CarContext& car) {
  car.axles.clear();
  // The diameter range keeps (d - 8) * 200, the level's new price, inside 32 bits.
  if (!ReadAxleLists(car.section, "rim_levels", &car.axles, &car.error, kRimDiameterRange)) return false;
  for (const auto& axle : car.axles) {
    const StockAxle& side = axle.first == "front" ? kRimLevelFront : kRimLevelRear;
    const std::string table = side.table;
    const std::string column = side.column;
    const std::string own_key = std::string("rim_levels_") + axle.first;
    MarkKey(car, car.section.keys.count(own_key) != 0 ? own_key : std::string("rim_levels"));
    for (size_t i = 0; i < axle.second.size(); ++i) {
      const std::string level = std::to_string(i + 1);
      // Only the game's own levels are re-sized: the rows the plan in force added sit at Levels above
      // them, and an answer that counted them would be kept in the cache after they are gone.
      const QueryResult result = car.query("SELECT Id, " + column + ", Price FROM " + table +
                                           " WHERE Ordinal = " + car.carIdText + " AND Level = " + level +
                                           " AND IsStock = 0" + PreviousRowsClause(car.ids.previous, table));
      int64_t id = 0;
      std::string old_diameter;
      std::string old_price;
      const std::vector<QueryCell>* row = result.ok && !result.rows.empty() ? &result.rows[0] : nullptr;
      if (row == nullptr || !ReadRowId(row->empty() ? nullptr : &(*row)[0], &id) ||
          !OldValueSql(row->size() < 2 ? nullptr : &(*row)[1], &old_diameter) ||
          !OldValueSql(row->size() < 3 ? nullptr : &(*row)[2], &old_price)) {
        car.error = SectionPrefix(car) + "no stock-DB " + table + " level " + level + " to re-size";
        return false;
      }
      const int32_t diameter = static_cast<int32_t>(std::trunc(axle.second[i]));
      const int32_t price = (diameter - 8) * 200;
      const std::string head = "UPDATE " + table + " SET " + column + " = ";
      const std::string where = " WHERE Id = " + std::to_string(id);
      AppendEdit(car, head + std::to_string(diameter) + ", Price = " + std::to_string(price) + where,
                 head + old_diameter + ", Price = " + old_price + where,
                 "SELECT " + column + " FROM " + table + where, diameter);
    }
  }
  return true;
}

}  // namespace gearloft
