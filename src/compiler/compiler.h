// gearloft car script compiler: from one script file to its plan lists, section by section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hostdb/hostdb.h"
#include "scripts/scripts.h"

namespace gearloft {

using QueryFn = std::function<QueryResult(const std::string& sql)>;

// Table + "|" + owner value to the next Level to hand out; one per load.
using LevelRegistry = std::map<std::string, int32_t>;

// One change NextLevel made to a registry: the key and the number it held before (none when it was new).
struct LevelChange {
  std::string key;
  bool existed = false;
  int32_t before = 0;
};
// The changes of one file's compile, so a failed file takes its Levels back without a copy of the
// whole registry (which grows with every file of a load).
using LevelJournal = std::vector<LevelChange>;

struct IdContext {
  LevelRegistry& levels;
  const PreviousRowIds& previous;
  const QueryFn& query;
  LevelJournal* journal = nullptr;  // when set, NextLevel records each change it makes to `levels`
};

struct CarContext {
  const CarSection& section;
  int64_t carId = 0;
  std::string carIdText;
  int64_t carBodyId = 0;
  std::string carBodyIdText;
  const QueryFn& query;
  IdContext ids;
  AxleLists axles;
  Plan& lists;
  std::string& error;
  // Where each key's statements begin in `lists.statements`, as the handler found the key (the axle's own
  // one or the plain one), so the frame can tell which key made each statement.
  std::vector<std::pair<size_t, std::string>> key_marks;
};

// Records that the statements `car`'s handler appends from now on are made by `key`.
void MarkKey(CarContext& car, const std::string& key);

// ---- Bounds that keep the integer arithmetic of the statements defined ------------------------------

// A car Id read from Data_Car must leave carId * 1000 plus any Level or hood Sequence inside 64 bits;
// a larger one is treated as no car at all.
constexpr int64_t kLargestCarId = 1000000000000000;
// A new row's Id is carBodyId + Level, and carBodyId + 0 is the car's stock row: a Level outside 1..999
// names the stock row or a row of the neighbouring car's block, whose own new rows would then collide
// with it. (Within these bounds Level * 100, a car-body row's price, stays inside 32 bits too.)
constexpr int32_t kLowestLevel = 1;
constexpr int32_t kHighestLevel = 999;
// A bonnet's Id is carBodyId + Sequence - 1 and Sequence 1 is the stock bonnet, so Sequences 2..1000
// keep it inside the car's block.
constexpr int32_t kLowestHoodSequence = 2;
constexpr int32_t kHighestHoodSequence = 1000;
// Rim diameters keep (d - 8) * 200 (a rim row's price) inside 32 bits.
constexpr NumberRange kRimDiameterRange{-10737410.0, 10737426.0};
// Values a handler truncates to a 32-bit integer.
constexpr NumberRange kInt32Range{-2147483648.0, 2147483647.0};

// ---- Frame ------------------------------------------------------------------------------------------

// Every key a [car] section may hold: the keys of the compiler's handler table.
const std::set<std::string>& CarKeys();

// `failed_section`, when given, is set on a failure to the index of the section whose message `error`
// holds, or to kNoSection when the parser rejected the file; a tool points at its lines with it. With
// `origins` set, a file that compiled also appends there the section and key of each of its statements,
// in statement order.
constexpr size_t kNoSection = static_cast<size_t>(-1);
bool CompileCarScript(const std::string& content, const QueryFn& query, LevelRegistry& levels, Plan* out,
                      std::string* error, const PreviousRowIds& previous, size_t* failed_section = nullptr,
                      std::vector<ChangeOrigin>* origins = nullptr);

double QueryNumber(const QueryFn& query, const std::string& sql, double fallback);

// ---- New upgrade rows -------------------------------------------------------------------------------

// " AND Id NOT IN (" + the Ids the plan in force added to `table` + ")", or "" when it added none there.
// A look-up that must see only the game's own rows carries it: during a re-apply those rows are still in
// the table, and the answer is cached for the life of the process.
std::string PreviousRowsClause(const PreviousRowIds& previous, const std::string& table);

// Hands out the next Level for a table and owner. False when that Level lies outside
// [kLowestLevel, kHighestLevel]; `level` is then the Level that was due (the game's highest Level plus
// one), which is not handed out.
bool NextLevel(IdContext& ids, const std::string& table, const std::string& owner_column, int64_t owner_value,
               int64_t* level);

void InsertRow(Plan& lists, const std::string& table, const std::string& columns, const std::string& values,
               int64_t id);

// InsertRow after making sure the game has no row of its own with that Id: a row the previous plan
// inserted, or one this compile already emitted, is not the game's. Fails the file with
// "[" + name + "]: " + table + " already has a row " + Id, or with "[" + name + "]: " + table +
// " gave no readable answer for row " + Id when the game's answer cannot tell.
bool InsertNewRow(CarContext& car, const std::string& table, const std::string& columns,
                  const std::string& values, int64_t id);

// The key handlers, in the frame's order; each acts on its keys in `car.section`.
bool CompileRimSizes(CarContext& car);
bool CompileTireProfiles(CarContext& car);
bool CompileTrackSpacings(CarContext& car);

// ---- Values read from the game ----------------------------------------------------------------------

// The shortest text that reads back as exactly `value`, as the C locale writes it on every runtime, with
// ".0" appended when it has no '.', 'e' or 'E'. Undo statements write old values with it: "%.10g" would
// round a height stored from a float (0.15000000596046448) and taking a change back would corrupt it.
// NaN gives "NULL", the infinities "9e999" and "-9e999", as FormatSqlNumber does.
std::string FormatExactSqlNumber(double value);

// The literal an undo statement restores a cell with: "NULL" for a NULL cell, FormatExactSqlNumber for a
// number. False for anything else (text, a blob, no cell), which no undo statement could put back.
bool OldValueSql(const QueryCell* cell, std::string* literal);

// A row Id as the game gave it: an integer cell as it is, a real one truncated toward zero. False when
// the cell holds no number or one beyond the 64-bit range; such a row cannot be named in a statement.
bool ReadRowId(const QueryCell* cell, int64_t* id);

// ---- Stock and level edits --------------------------------------------------------------------------

bool CompileTrackStock(CarContext& car);
bool CompileRimStock(CarContext& car);
bool CompileRimLevels(CarContext& car);
bool CompileProfileStock(CarContext& car);
bool CompileWidthStock(CarContext& car);

// ---- Ride drop --------------------------------------------------------------------------------------

// "UPDATE List_SpringDamperPhysics SET DefRideHeight = ..., MinRideHeight = ..., MaxRideHeight = ...,
// MaxCompressHeight = ... WHERE SpringDamperPhysicsID = " + id, each height through FormatSqlNumber.
std::string SpringDamperUpdateSql(const std::string& id, double default_height, double min_height,
                                  double max_height, double compress_height);
bool CompileRideDrop(CarContext& car);

// ---- Whitewall level and hood options ---------------------------------------------------------------

// Column `column` of the first row, when it is text of ASCII letters, digits and '_' only (the empty text
// too): safe between single quotes. False otherwise, and `name` is then not to be used.
bool ReadModelName(const QueryResult& result, size_t column, std::string* name);
std::string TireCompoundUpdateSql(const std::string& id, const std::string& dry, const std::string& wet);
bool CompileWhitewallLevel(CarContext& car);
bool CompileHoodOptions(CarContext& car);

}  // namespace gearloft
