// Test support for the property suites: the script generator, seeds read from the environment, the
// simulated game on a fresh copy of the fixture, full table dumps and the watched temp folder.
#include "property_support.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "compiler/compiler.h"
#include "hostdb/hostdb.h"
#include "platform/platform.h"
#include "runtime/log.h"
#include "scripts/scripts.h"
#include "support/tables.h"

namespace gearloft::property {
namespace {

namespace fs = std::filesystem;

// The fixed cars with the data the other suites rely on: missing rows, odd model names, a hood
// collision, float-born heights. Cases draw most of their cars from here so those paths are met often.
const int64_t kInterestingCars[] = {5, 6, 7, 8, 9, 11, 12, 42};

const char* const kFileNames[] = {"alpha.ini", "Beta.ini", "gamma.INI", "delta.ini", "epsilon.ini"};

// Numbers a key does not expect: zero and signs, the 32-bit and rim-price bounds and one past them,
// huge, tiny and subnormal magnitudes, hexadecimal and short forms, more digits than "%.10g" keeps.
const char* const kEdgeNumbers[] = {"0",
                                    "-0",
                                    "-1",
                                    "-17",
                                    "1e6",
                                    "2147483647",
                                    "2147483648",
                                    "-2147483649",
                                    "10737426",
                                    "10737427",
                                    "-10737410",
                                    "1e300",
                                    "-1e300",
                                    "4e-320",
                                    "0x1p-2",
                                    "0x10",
                                    "+7",
                                    ".5",
                                    "5.",
                                    "1e-7",
                                    "123456789.123",
                                    "99999999999",
                                    "0.1234567890123",
                                    "17.000000001"};
// Texts that are no number list at all (or, for a single-number key, not one number).
const char* const kBadValues[] = {"",    "abc",  "17 18", "1e999", "nan", "inf",
                                  "--1", "17mm", "0x",    "1e",    ",",   "18, 19"};
const char* const kUnknownKeys[] = {"rim_size", "track_stock", "ride_drop"};

uint64_t Mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

bool EnvironmentNumber(const char* name, uint64_t* value) {
  std::string text;
  if (!platform::GetEnvironment(name, &text) || text.empty()) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = number;
  return true;
}

// `units` / 10^decimals as decimal text, without a floating-point conversion in between.
std::string Fixed(int64_t units, int decimals) {
  std::string sign = units < 0 ? "-" : "";
  uint64_t magnitude = units < 0 ? static_cast<uint64_t>(-units) : static_cast<uint64_t>(units);
  std::string digits = std::to_string(magnitude);
  if (decimals == 0) return sign + digits;
  const size_t width = static_cast<size_t>(decimals) + 1;
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  digits.insert(digits.size() - static_cast<size_t>(decimals), ".");
  return sign + digits;
}

enum class ValueKind { kRim, kProfile, kSpacing, kWidth, kDrop, kWhitewall, kHood };

ValueKind KindOf(const std::string& key) {
  if (key.rfind("rim_", 0) == 0) return ValueKind::kRim;  // sizes, levels and stock diameters
  if (key.rfind("tire_profiles", 0) == 0 || key.rfind("profile_", 0) == 0) return ValueKind::kProfile;
  if (key.rfind("track_", 0) == 0) return ValueKind::kSpacing;
  if (key.rfind("width_", 0) == 0) return ValueKind::kWidth;
  if (key.rfind("ride_drop_", 0) == 0) return ValueKind::kDrop;
  if (key == "whitewall_level") return ValueKind::kWhitewall;
  return ValueKind::kHood;
}

bool IsListKey(const std::string& key) {
  return key == "hood_options" || key.rfind("rim_sizes", 0) == 0 || key.rfind("tire_profiles", 0) == 0 ||
         key.rfind("track_spacings", 0) == 0 || key.rfind("rim_levels", 0) == 0;
}

std::string TypicalNumber(ValueKind kind, Rng& rng) {
  switch (kind) {
    case ValueKind::kRim: {
      const int diameter = rng.Between(13, 24);
      return rng.Percent(15) ? Fixed(diameter * 10 + rng.Between(1, 9), 1) : std::to_string(diameter);
    }
    case ValueKind::kProfile:
      return rng.Percent(30) ? std::to_string(rng.Between(-10, 10)) : Fixed(rng.Between(-100, 100), 1);
    case ValueKind::kSpacing:
      return Fixed(rng.Between(1200, 1900), 3);
    case ValueKind::kWidth: {
      const int width = 175 + 5 * rng.Between(0, 32);
      return rng.Percent(15) ? Fixed(width * 10 + 7, 1) : std::to_string(width);
    }
    case ValueKind::kDrop:
      return Fixed(rng.Between(-40, 40), 3);
    case ValueKind::kWhitewall:
      return rng.Percent(10) ? "2.7" : std::to_string(rng.Between(0, 4));
    case ValueKind::kHood:
      return rng.Percent(5) ? "1" : std::to_string(rng.Between(2, 6));
  }
  return "0";
}

std::string OneNumber(ValueKind kind, Rng& rng) {
  const uint64_t roll = rng.Below(100);
  if (roll < 88) return TypicalNumber(kind, rng);
  if (roll < 97) return kEdgeNumbers[rng.Below(std::size(kEdgeNumbers))];
  return kBadValues[rng.Below(std::size(kBadValues))];
}

}  // namespace

// ---- Seeds --------------------------------------------------------------------------------------------

uint64_t Rng::Next() {
  state_ += 0x9E3779B97F4A7C15ULL;
  return Mix(state_);
}

std::vector<uint64_t> PropertySeeds(uint64_t salt, size_t default_cases) {
  uint64_t single = 0;
  if (EnvironmentNumber("GEARLOFT_PROPERTY_SEED", &single)) return {single};
  uint64_t cases = default_cases;
  EnvironmentNumber("GEARLOFT_PROPERTY_CASES", &cases);
  uint64_t base = 20261207;
  EnvironmentNumber("GEARLOFT_PROPERTY_BASE_SEED", &base);
  std::vector<uint64_t> seeds;
  // Kept below 2^53 so a seed survives any tool that reads it as a double.
  for (uint64_t i = 0; i < cases; ++i) seeds.push_back(Mix(Mix(base + salt) + i) >> 11);
  return seeds;
}

std::string ReplayHint(uint64_t seed) {
  return "seed " + std::to_string(seed) +
         " (run it alone with GEARLOFT_PROPERTY_SEED=" + std::to_string(seed) + ")";
}

// ---- Generated scripts --------------------------------------------------------------------------------

std::string RenderScript(const GeneratedFile& file) {
  const std::string line_end = file.crlf ? "\r\n" : "\n";
  std::string text = file.bom ? "\xEF\xBB\xBF" : "";
  text += "; generated" + line_end;
  for (const GeneratedSection& section : file.sections) {
    text += "[" + section.name + "]" + line_end;
    for (const auto& [key, value] : section.keys) {
      std::string written = key;
      if (file.upper_keys) {
        for (char& c : written) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      }
      text += written + (file.colon ? ": " : " = ") + value + line_end;
    }
  }
  return text;
}

std::string DescribeSet(const ScriptSet& set) {
  std::string text;
  for (const GeneratedFile& file : set) {
    text += "--- " + file.name + (file.crlf ? " (CR LF)" : "") + (file.bom ? " (BOM)" : "") + "\n";
    std::string rendered = RenderScript(file);
    rendered.erase(std::remove(rendered.begin(), rendered.end(), '\r'), rendered.end());
    if (file.bom) rendered.erase(0, 3);
    text += rendered;
  }
  return text.empty() ? std::string("(no scripts)\n") : text;
}

std::string ScriptGenerator::CarName() {
  const int64_t id = pool_[rng_.Below(pool_.size())];
  std::string media;
  for (const FixtureCar& car : cars_) {
    if (car.id == id) media = car.media_name;
  }
  const uint64_t roll = rng_.Below(100);
  if (roll < 55 || media.empty()) return std::to_string(id);
  if (roll < 65) return "00" + std::to_string(id);
  if (roll < 90) {
    // MediaName is looked up without regard to letter case.
    if (rng_.Percent(50)) {
      for (char& c : media) {
        if (rng_.Percent(30)) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      }
    }
    return media;
  }
  if (roll < 95) return rng_.Percent(50) ? "999999" : "No_Such_Car";
  const char* const bad[] = {"Kestrel GT", "-5", ""};
  return bad[rng_.Below(std::size(bad))];
}

std::string ScriptGenerator::Value(const std::string& key) {
  const ValueKind kind = KindOf(key);
  if (!IsListKey(key)) {
    // A single-number key: usually one number, sometimes two or none.
    return OneNumber(kind, rng_);
  }
  const int count = key.rfind("rim_levels", 0) == 0 ? rng_.Between(1, 4) : rng_.Between(0, 3);
  std::string value;
  for (int i = 0; i < count; ++i) {
    if (i != 0) value += rng_.Percent(10) ? ",," : ", ";
    value += OneNumber(kind, rng_);
  }
  return value;
}

GeneratedSection ScriptGenerator::NewSection() {
  static const std::vector<std::string>& keys =
      *new std::vector<std::string>(CarKeys().begin(), CarKeys().end());
  GeneratedSection section;
  section.name = CarName();
  const int count = rng_.Between(1, 4);
  for (int i = 0; i < count; ++i) {
    std::string key =
        rng_.Percent(3) ? kUnknownKeys[rng_.Below(std::size(kUnknownKeys))] : keys[rng_.Below(keys.size())];
    const bool present = std::any_of(section.keys.begin(), section.keys.end(),
                                     [&](const auto& entry) { return entry.first == key; });
    if (!present) section.keys.emplace_back(key, Value(key));
  }
  return section;
}

std::string ScriptGenerator::UnusedFileName(const ScriptSet& set) {
  std::vector<std::string> free;
  for (const char* name : kFileNames) {
    const bool used =
        std::any_of(set.begin(), set.end(), [&](const GeneratedFile& file) { return file.name == name; });
    if (!used) free.push_back(name);
  }
  return free.empty() ? std::string() : free[rng_.Below(free.size())];
}

GeneratedFile ScriptGenerator::NewFile(const ScriptSet& set) {
  GeneratedFile file;
  file.name = UnusedFileName(set);
  file.crlf = rng_.Percent(20);
  file.bom = rng_.Percent(10);
  file.upper_keys = rng_.Percent(10);
  file.colon = rng_.Percent(10);
  const int sections = rng_.Percent(70) ? 1 : 2;
  for (int i = 0; i < sections; ++i) file.sections.push_back(NewSection());
  return file;
}

ScriptSet ScriptGenerator::NewSet() {
  pool_.clear();
  const int cars = rng_.Between(1, 3);
  for (int i = 0; i < cars; ++i) {
    pool_.push_back(rng_.Percent(70) ? kInterestingCars[rng_.Below(std::size(kInterestingCars))]
                                     : cars_[rng_.Below(cars_.size())].id);
  }
  ScriptSet set;
  const int files = rng_.Between(1, 3);
  for (int i = 0; i < files; ++i) set.push_back(NewFile(set));
  return set;
}

void ScriptGenerator::Edit(ScriptSet* set) {
  uint64_t roll = rng_.Below(100);
  if (set->empty()) roll = 70;  // only a new file can be made
  if (roll >= 70 && roll < 80 && UnusedFileName(*set).empty()) roll = 90;
  if (roll < 62) {
    GeneratedFile& file = (*set)[rng_.Below(set->size())];
    GeneratedSection& section = file.sections[rng_.Below(file.sections.size())];
    if (roll < 35 && !section.keys.empty()) {
      auto& entry = section.keys[rng_.Below(section.keys.size())];
      entry.second = Value(entry.first);
    } else if (roll < 50 || section.keys.empty()) {
      GeneratedSection extra = NewSection();
      for (const auto& entry : extra.keys) {
        const bool present = std::any_of(section.keys.begin(), section.keys.end(),
                                         [&](const auto& old) { return old.first == entry.first; });
        if (!present) section.keys.push_back(entry);
      }
    } else {
      section.keys.erase(section.keys.begin() + static_cast<std::ptrdiff_t>(rng_.Below(section.keys.size())));
    }
  } else if (roll < 70) {
    GeneratedFile& file = (*set)[rng_.Below(set->size())];
    file.sections[rng_.Below(file.sections.size())].name = CarName();
  } else if (roll < 80) {
    set->push_back(NewFile(*set));
  } else if (roll < 88) {
    set->erase(set->begin() + static_cast<std::ptrdiff_t>(rng_.Below(set->size())));
  } else if (roll < 96) {
    GeneratedFile& file = (*set)[rng_.Below(set->size())];
    const std::string name = file.name;
    file = NewFile(*set);
    file.name = name;
  } else {
    // Saved again with other line ends: new bytes, the same meaning.
    GeneratedFile& file = (*set)[rng_.Below(set->size())];
    file.crlf = !file.crlf;
  }
}

// ---- The simulated game ----------------------------------------------------------------------------

namespace {

// The fixture, built once; every case starts from a byte-for-byte copy of it.
sqlite3* FixtureTemplate() {
  static sqlite3* const source = [] {
    sqlite3* db = nullptr;
    std::string error;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK ||
        !devhost::CreateFixture(db, devhost::FixtureOptions{}, &error)) {
      return static_cast<sqlite3*>(nullptr);
    }
    return db;
  }();
  return source;
}

}  // namespace

FreshGame::FreshGame() {
  sqlite3* source = FixtureTemplate();
  if (source == nullptr || sqlite3_open(":memory:", &connection_) != SQLITE_OK) return;
  sqlite3_backup* backup = sqlite3_backup_init(connection_, "main", source, "main");
  if (backup == nullptr) return;
  const int stepped = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) return;
  database_ = devhost::WrapDatabase(connection_);
  devhost::SetGameDatabase(database_);
  SetCandidatesForTest({devhost::GameGlobalAddress()});
  SetCurrentForTest(devhost::GameGlobalAddress());
  // A new process has asked nothing yet.
  ResetQueryCacheForTest();
}

FreshGame::~FreshGame() {
  SetCurrentForTest(0);
  SetCandidatesForTest({});
  devhost::SetGameDatabase(nullptr);
  if (database_ != nullptr) devhost::CloseDatabase(database_);
  if (connection_ != nullptr) sqlite3_close(connection_);
}

GameDump FreshGame::Dump() {
  GameDump dump;
  for (const char* table : kGameTables) {
    TableDump& rows = dump[table];
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT * FROM ") + table + " ORDER BY rowid";
    if (sqlite3_prepare_v2(connection_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      rows.push_back("cannot read " + std::string(table));
      continue;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i != 0) row += ' ';
        row += test::CellText(statement, i);
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
  }
  return dump;
}

namespace {

int KeepStatement(unsigned kind, void* context, void*, void* text) {
  const char* sql = static_cast<const char*>(text);
  // Trigger bodies arrive as comments; only statements sent to the database count.
  if (kind == SQLITE_TRACE_STMT && sql != nullptr && std::strncmp(sql, "--", 2) != 0) {
    static_cast<std::vector<std::string>*>(context)->push_back(sql);
  }
  return 0;
}

}  // namespace

void FreshGame::RecordStatements() {
  if (connection_ != nullptr) sqlite3_trace_v2(connection_, SQLITE_TRACE_STMT, KeepStatement, &statements_);
}

std::vector<std::string> FreshGame::TakeStatements() {
  std::vector<std::string> taken;
  taken.swap(statements_);
  return taken;
}

std::vector<FixtureCar> FreshGame::Cars() {
  std::vector<FixtureCar> cars;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection_, "SELECT Id, MediaName FROM Data_Car ORDER BY Id", -1, &statement,
                         nullptr) != SQLITE_OK) {
    return cars;
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    FixtureCar car;
    car.id = sqlite3_column_int64(statement, 0);
    if (sqlite3_column_type(statement, 1) == SQLITE_TEXT) {
      car.media_name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    }
    cars.push_back(car);
  }
  sqlite3_finalize(statement);
  return cars;
}

std::string DumpDifferences(const GameDump& expected, const GameDump& actual) {
  std::string text;
  for (const auto& [table, rows] : expected) {
    const auto other = actual.find(table);
    const TableDump empty;
    const TableDump& actual_rows = other == actual.end() ? empty : other->second;
    if (rows == actual_rows) continue;
    text += table + ": " + std::to_string(rows.size()) + " rows expected, " +
            std::to_string(actual_rows.size()) + " found\n";
    const std::set<std::string> want(rows.begin(), rows.end());
    const std::set<std::string> got(actual_rows.begin(), actual_rows.end());
    int shown = 0;
    for (const std::string& row : rows) {
      if (got.count(row) == 0 && shown++ < 4) text += "  missing: " + row + "\n";
    }
    shown = 0;
    for (const std::string& row : actual_rows) {
      if (want.count(row) == 0 && shown++ < 4) text += "  unexpected: " + row + "\n";
    }
  }
  return text;
}

// ---- The watched folder -----------------------------------------------------------------------------

WatchedScripts::WatchedScripts() {
  std::random_device random;
  folder_ = fs::temp_directory_path() / ("gearloft-property-" + std::to_string(random()));
  fs::create_directories(folder_);
  SetWatchedFolder(folder_.string());
  Paths paths;
  paths.log_file = (folder_ / "gearloft.log").string();
  paths.previous_log = paths.log_file + ".1";
  OpenLog(paths);
}

WatchedScripts::~WatchedScripts() {
  CloseLog();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void WatchedScripts::Write(const ScriptSet& set) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    if (extension != ".ini") continue;
    const std::string name = entry.path().filename().string();
    const bool kept =
        std::any_of(set.begin(), set.end(), [&](const GeneratedFile& file) { return file.name == name; });
    if (!kept) fs::remove(entry.path());
  }
  for (const GeneratedFile& file : set) {
    std::ofstream out(folder_ / file.name, std::ios::binary | std::ios::trunc);
    out << RenderScript(file);
  }
}

std::vector<std::string> WatchedScripts::LogMessages(size_t first) const {
  std::ifstream in(folder_ / "gearloft.log", std::ios::binary);
  std::vector<std::string> messages;
  std::string line;
  for (size_t index = 0; std::getline(in, line); ++index) {
    if (index < first) continue;
    // "hh:mm:ss [ageS] " comes first.
    const size_t end = line.find("s] ");
    messages.push_back(end == std::string::npos ? line : line.substr(end + 3));
  }
  return messages;
}

std::string WatchedScripts::ReadFile(const std::string& name) const {
  std::ifstream in(folder_ / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WatchedScripts::LogTail(size_t lines) const {
  std::ifstream in(folder_ / "gearloft.log", std::ios::binary);
  std::vector<std::string> all;
  std::string line;
  while (std::getline(in, line)) all.push_back(line);
  std::string text;
  for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) text += all[i] + "\n";
  return text;
}

}  // namespace gearloft::property
