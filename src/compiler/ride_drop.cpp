// gearloft car script compiler: the ride drop, which shifts every height of a car's spring/damper
// physics rows on one axle by the same distance and refuses a drop that takes the travel below zero.
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <vector>

#include "compiler/compiler.h"

namespace gearloft {

namespace {

// The floor message is cut where a 200-byte printf buffer would cut it.
constexpr size_t kFloorMessageLimit = 199;

// "%.3f" as the C locale prints it, whatever locale the game's process has set.
std::string FormatThreeDecimals(double value) {
  char buffer[400];  // the largest double in "%.3f" has 309 digits before the point
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
  if (result.ec != std::errc()) return "?";
  return std::string(buffer, result.ptr);
}

std::string UpdateText(const std::string& id, const std::string (&heights)[4]) {
  return "UPDATE List_SpringDamperPhysics SET DefRideHeight = " + heights[0] +
         ", MinRideHeight = " + heights[1] + ", MaxRideHeight = " + heights[2] +
         ", MaxCompressHeight = " + heights[3] + " WHERE SpringDamperPhysicsID = " + id;
}

}  // namespace

std::string SpringDamperUpdateSql(const std::string& id, double default_height, double min_height,
                                  double max_height, double compress_height) {
  const std::string heights[4] = {FormatSqlNumber(default_height), FormatSqlNumber(min_height),
                                  FormatSqlNumber(max_height), FormatSqlNumber(compress_height)};
  return UpdateText(id, heights);
}

bool CompileRideDrop(CarContext& car) {
  const std::string prefix = "[" + car.section.name + "]: ";
  for (const char* axle_word : kAxleWords) {
    SingleNumber number;
    if (!ReadSingleNumber(car.section, std::string("ride_drop_") + axle_word, "", kAnyFiniteNumber, &number,
                          &car.error)) {
      return false;
    }
    if (!number.present) continue;
    MarkKey(car, number.key);
    const double drop = number.value;
    const std::string column =
        std::string(axle_word) == "front" ? "FrontSpringDamperPhysicsID" : "RearSpringDamperPhysicsID";
    // Answered from the query cache when compiled again, so a drop is always measured from the heights
    // the game had before the first one, never on top of it.
    const QueryResult result = car.query(
        "SELECT SpringDamperPhysicsID, DefRideHeight, MinRideHeight, MaxRideHeight, MaxCompressHeight FROM "
        "List_SpringDamperPhysics WHERE SpringDamperPhysicsID IN (SELECT " +
        column + " FROM List_UpgradeSpringDamper WHERE Ordinal = " + car.carIdText + ")");
    if (!result.ok || result.rows.empty()) {
      car.error = prefix + "no spring/damper physics rows";
      return false;
    }
    for (const std::vector<QueryCell>& row : result.rows) {
      int64_t id = 0;
      // A row that cannot be named in a statement is no row this handler can change.
      if (!ReadRowId(row.empty() ? nullptr : &row[0], &id)) {
        car.error = prefix + "no spring/damper physics rows";
        return false;
      }
      const std::string id_text = std::to_string(id);
      // Default, minimum, maximum and compress height, in column order.
      double heights[4] = {};
      for (size_t i = 0; i < 4; ++i) {
        heights[i] = CellAsDouble(i + 1 < row.size() ? &row[i + 1] : nullptr);
        // A NULL or text height would make the forward statement write NULL where a height belongs.
        if (std::isnan(heights[i])) {
          car.error = prefix + "List_SpringDamperPhysics row " + id_text + " holds no height";
          return false;
        }
      }
      const double compress = heights[3];
      const double travel_floor = compress - drop;
      if (0.0 > travel_floor) {
        std::string text = "]: " + number.key + " " + FormatThreeDecimals(drop) +
                           " puts the travel floor at " + FormatThreeDecimals(travel_floor) + " m (min " +
                           FormatThreeDecimals(0.0) + ") - max drop " + FormatThreeDecimals(compress - 0.0);
        if (text.size() > kFloorMessageLimit) text.resize(kFloorMessageLimit);
        car.error = "[" + car.section.name + text;
        return false;
      }
      car.lists.statements.push_back(SpringDamperUpdateSql(id_text, heights[0] - drop, heights[1] - drop,
                                                           heights[2] - drop, heights[3] - drop));
      const std::string old_heights[4] = {FormatExactSqlNumber(heights[0]), FormatExactSqlNumber(heights[1]),
                                          FormatExactSqlNumber(heights[2]), FormatExactSqlNumber(heights[3])};
      car.lists.undo.push_back(UpdateText(id_text, old_heights));
      car.lists.checks.push_back(ReadBackCheck{
          "SELECT DefRideHeight FROM List_SpringDamperPhysics WHERE SpringDamperPhysicsID = " + id_text,
          SqlNumberValue(heights[0] - drop)});
    }
  }
  return true;
}

}  // namespace gearloft
