// gearloft car script compiler: the whitewall look for one aftermarket tyre-compound level, and new
// aftermarket bonnet choices, the last two keys of a car section.
#include <cmath>
#include <string>
#include <vector>

#include "compiler/compiler.h"

namespace gearloft {

namespace {

const char kWhiteWall[] = "Vintage_WhiteWall";
const char kHoodTable[] = "List_UpgradeCarBodyHood";
// Spelled CarBodyID in this table, unlike the CarBodyId of the other car-body tables.
const char kHoodColumns[] =
    "Id,CarBodyID,Level,IsStock,Sequence,ManufacturerId,PartsStringId,MassDiff,WeightDistDiff,DragScale,"
    "WindInstabilityScale,Price,RequiresGraphics,releaseOrder";

bool IsModelNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

bool ReadModelName(const QueryResult& result, size_t column, std::string* name) {
  if (result.rows.empty() || column >= result.rows[0].size()) return false;
  const QueryCell& cell = result.rows[0][column];
  if (cell.kind != QueryCell::Kind::kText) return false;
  for (char c : cell.text) {
    if (!IsModelNameByte(c)) return false;
  }
  *name = cell.text;
  return true;
}

std::string TireCompoundUpdateSql(const std::string& id, const std::string& dry, const std::string& wet) {
  return "UPDATE List_UpgradeTireCompound SET TireModelName = '" + dry + "', WetTireModelName = '" + wet +
         "' WHERE Id = " + id;
}

bool CompileWhitewallLevel(CarContext& car) {
  SingleNumber number;
  if (!ReadSingleNumber(car.section, "whitewall_level", "", kInt32Range, &number, &car.error)) return false;
  if (!number.present) return true;
  const std::string prefix = "[" + car.section.name + "]: ";
  // The key's range keeps the truncation inside 32 bits.
  const std::string level = std::to_string(static_cast<int32_t>(std::trunc(number.value)));
  const QueryResult result =
      car.query("SELECT Id, TireModelName, WetTireModelName FROM List_UpgradeTireCompound WHERE Ordinal = " +
                car.carIdText + " AND Level = " + level + " AND IsStock = 0");
  if (!result.ok || result.rows.empty()) {
    car.error = prefix + "no stock-DB tyre compound level " + level + " to re-skin";
    return false;
  }
  std::string dry;
  std::string wet;
  if (!ReadModelName(result, 1, &dry) || !ReadModelName(result, 2, &wet)) {
    car.error = prefix + "tyre compound level " + level + " has an odd model name";
    return false;
  }
  int64_t id = 0;
  if (!ReadRowId(result.rows[0].empty() ? nullptr : &result.rows[0][0], &id)) {
    car.error = prefix + "no stock-DB tyre compound level " + level + " to re-skin";
    return false;
  }
  const std::string id_text = std::to_string(id);
  car.lists.statements.push_back(TireCompoundUpdateSql(id_text, kWhiteWall, kWhiteWall));
  car.lists.undo.push_back(TireCompoundUpdateSql(id_text, dry, wet));
  car.lists.checks.push_back(
      ReadBackCheck{"SELECT COUNT(*) FROM List_UpgradeTireCompound WHERE TireModelName = '" +
                        std::string(kWhiteWall) + "' AND Id = " + id_text,
                    1.0});
  return true;
}

bool CompileHoodOptions(CarContext& car) {
  const auto found = car.section.keys.find("hood_options");
  if (found == car.section.keys.end()) return true;
  const std::string prefix = "[" + car.section.name + "]: ";
  std::vector<double> values;
  // The range keeps each Sequence inside 32 bits.
  if (!ParseNumberList(found->second, &values, kInt32Range)) {
    car.error = prefix + "hood_options is not a number list";
    return false;
  }
  for (double value : values) {
    const int32_t sequence = static_cast<int32_t>(std::trunc(value));
    // Sequence 1 is the car's stock bonnet.
    if (sequence < kLowestHoodSequence) {
      car.error = prefix + "hood_options are aftermarket Sequences (2+); 1 is stock";
      return false;
    }
    // A Sequence above 1000 would write into the next car's block, where that car's own bonnets go.
    if (sequence > kHighestHoodSequence) {
      car.error = prefix + "hood_options Sequence " + std::to_string(sequence) + " is past " + kHoodTable +
                  "'s limit of " + std::to_string(kHighestHoodSequence) + " per car";
      return false;
    }
    const int64_t id = car.carBodyId + (static_cast<int64_t>(sequence) - 1);
    const std::string row = std::to_string(id) + "," + car.carBodyIdText + ",1,0," +
                            std::to_string(sequence) + ",86,109,0.0,0.0,1.0,1.0,1000,1,0";
    // A bonnet the game already has under that Id would be kept by INSERT OR IGNORE and then deleted by
    // the undo; the Id check refuses it instead.
    if (!InsertNewRow(car, kHoodTable, kHoodColumns, row, id)) return false;
  }
  return true;
}

}  // namespace gearloft
