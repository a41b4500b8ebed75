// gearloft simulated game: builds the fixture database. Generated cars vary with the seed; cars 5, 6, 7,
// 8, 9, 11 and 12 carry fixed rows the compiler, apply and end-to-end tests rely on.
#include "devhost/fixture.h"

#include <sqlite3.h>

#include <map>
#include <vector>

namespace gearloft::devhost {

namespace {

struct Table {
  const char* name;
  const char* columns;  // the column list of CREATE TABLE, in the game's order
};

// Every Id (SpringDamperPhysicsID) is the INTEGER PRIMARY KEY, so INSERT OR IGNORE keeps an existing row
// as the game's database does.
const Table kTables[] = {
    {"Data_Car", "Id INTEGER PRIMARY KEY, MediaName TEXT, DisplayName TEXT, Year INTEGER"},
    {"List_UpgradeRimSizeFront",
     "Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER, IsStock INTEGER, FrontWheelDiameter INTEGER, "
     "Price INTEGER, MassDiff REAL, DragScale REAL, WindInstabilityScale REAL, RequiresGraphics INTEGER"},
    {"List_UpgradeRimSizeRear",
     "Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER, IsStock INTEGER, RearWheelDiameter INTEGER, "
     "Price INTEGER, MassDiff REAL, DragScale REAL, WindInstabilityScale REAL, RequiresGraphics INTEGER"},
    {"List_UpgradeCarBodyTireAspectRatioFront",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, FrontTireAspectRatioOffset REAL, IsStock INTEGER, "
     "Level INTEGER, Price INTEGER, releaseOrder INTEGER"},
    {"List_UpgradeCarBodyTireAspectRatioRear",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, RearTireAspectRatioOffset REAL, IsStock INTEGER, "
     "Level INTEGER, Price INTEGER, releaseOrder INTEGER"},
    {"List_UpgradeCarBodyTrackSpacingFront",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, Spacing REAL, IsStock INTEGER, Level INTEGER, Price "
     "INTEGER, "
     "releaseOrder INTEGER"},
    {"List_UpgradeCarBodyTrackSpacingRear",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, Spacing REAL, IsStock INTEGER, Level INTEGER, Price "
     "INTEGER, "
     "releaseOrder INTEGER"},
    {"List_UpgradeCarBodyTireWidthFront",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, FrontTireWidth INTEGER, IsStock INTEGER, Level INTEGER, "
     "Price INTEGER, releaseOrder INTEGER"},
    {"List_UpgradeCarBodyTireWidthRear",
     "Id INTEGER PRIMARY KEY, CarBodyId INTEGER, RearTireWidth INTEGER, IsStock INTEGER, Level INTEGER, "
     "Price INTEGER, releaseOrder INTEGER"},
    {"List_UpgradeSpringDamper",
     "Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER, IsStock INTEGER, FrontSpringDamperPhysicsID "
     "INTEGER, RearSpringDamperPhysicsID INTEGER, Price INTEGER"},
    {"List_SpringDamperPhysics",
     "SpringDamperPhysicsID INTEGER PRIMARY KEY, DefRideHeight REAL, MinRideHeight REAL, MaxRideHeight REAL, "
     "MaxCompressHeight REAL, SpringRate REAL"},
    {"List_UpgradeTireCompound",
     "Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER, IsStock INTEGER, TireModelName TEXT, "
     "WetTireModelName TEXT, Price INTEGER"},
    {"List_UpgradeCarBodyHood",
     "Id INTEGER PRIMARY KEY, CarBodyID INTEGER, Level INTEGER, IsStock INTEGER, Sequence INTEGER, "
     "ManufacturerId INTEGER, PartsStringId INTEGER, MassDiff REAL, WeightDistDiff REAL, DragScale REAL, "
     "WindInstabilityScale REAL, Price INTEGER, RequiresGraphics INTEGER, releaseOrder INTEGER"},
};

struct FixedCar {
  int id;
  const char* media_name;
  const char* display_name;
  int year;
};
const FixedCar kFixedCars[] = {
    {5, "Pica_Sport", "Pica Sport", 1998},
    {7, "Kestrel_GT", "Kestrel GT", 2004},
    {8, "Orca_Coupe", "Orca Coupe", 1987},
};

const char* const kBrands[] = {"Aster", "Borea", "Cinder", "Dalla", "Ember",  "Fenwick", "Galen", "Hollis",
                               "Ivar",  "Juno",  "Kava",   "Lumen", "Marlow", "Nadir",   "Oster", "Pell"};
const char* const kModels[] = {"GT", "RS",    "Coupe",    "Sport", "Turbo",
                               "LX", "Rally", "Roadster", "S",     "Hatch"};
const char* const kCompounds[] = {"Street_B", "Sport_A", "Sport_B", "Race_Soft", "Race_Hard", "Rally_Gravel"};

// One SQL value for an insert.
struct Value {
  enum class Kind { kNull, kInteger, kReal, kText } kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;
};
Value Int(int64_t v) {
  return Value{Value::Kind::kInteger, v, 0.0, {}};
}
Value Real(double v) {
  return Value{Value::Kind::kReal, 0, v, {}};
}
Value Text(const std::string& v) {
  return Value{Value::Kind::kText, 0, 0.0, v};
}
Value Null() {
  return Value{};
}

// A height in metres from a count of millimetres: the nearest double to the decimal literal.
double Metres(int millimetres) {
  return millimetres / 1000.0;
}

// splitmix64: the same numbers on every platform and standard library.
struct Random {
  uint64_t state;
  uint64_t Next() {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int bound) { return static_cast<int>(Next() % static_cast<uint64_t>(bound)); }
};

struct Writer {
  sqlite3* db;
  std::map<std::string, sqlite3_stmt*> statements;
  std::string error;
};

bool Fail(Writer* writer, const std::string& what) {
  if (writer->error.empty()) writer->error = "fixture: " + what + ": " + sqlite3_errmsg(writer->db);
  return false;
}

bool Exec(Writer* writer, const std::string& sql) {
  if (sqlite3_exec(writer->db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(writer, sql);
  return true;
}

bool Insert(Writer* writer, const std::string& table, const std::vector<Value>& values) {
  if (!writer->error.empty()) return false;
  sqlite3_stmt*& statement = writer->statements[table];
  if (statement == nullptr) {
    std::string sql = "INSERT INTO " + table + " VALUES (";
    for (size_t i = 0; i < values.size(); ++i) sql += i == 0 ? "?" : ", ?";
    sql += ")";
    if (sqlite3_prepare_v2(writer->db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      return Fail(writer, sql);
    }
  }
  for (size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    const Value& value = values[i];
    switch (value.kind) {
      case Value::Kind::kNull:
        sqlite3_bind_null(statement, index);
        break;
      case Value::Kind::kInteger:
        sqlite3_bind_int64(statement, index, value.integer);
        break;
      case Value::Kind::kReal:
        sqlite3_bind_double(statement, index, value.real);
        break;
      case Value::Kind::kText:
        sqlite3_bind_text(statement, index, value.text.c_str(), static_cast<int>(value.text.size()),
                          SQLITE_TRANSIENT);
        break;
    }
  }
  const int step = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (step != SQLITE_DONE) return Fail(writer, "insert into " + table);
  return true;
}

int64_t RowId(int car, int level) {
  return static_cast<int64_t>(car) * 1000 + level;
}

void AddCar(Writer* writer, int car, Random* random) {
  for (const FixedCar& fixed : kFixedCars) {
    if (fixed.id == car) {
      Insert(writer, "Data_Car",
             {Int(car), Text(fixed.media_name), Text(fixed.display_name), Int(fixed.year)});
      return;
    }
  }
  const char* brand = kBrands[random->Below(16)];
  const char* model = kModels[random->Below(10)];
  Insert(writer, "Data_Car",
         {Int(car), Text(std::string(brand) + "_" + model + "_" + std::to_string(car)),
          Text(std::string(brand) + " " + model), Int(1960 + random->Below(60))});
}

// Wheel diameters in inches; car 7's are fixed and car 8 has aftermarket rims only.
void AddRims(Writer* writer, int car, Random* random) {
  const int generated_stock = 15 + random->Below(4);
  const int generated_levels = 2 + random->Below(3);
  const int stagger = random->Below(5) == 0 ? 1 : 0;
  const char* const tables[] = {"List_UpgradeRimSizeFront", "List_UpgradeRimSizeRear"};
  for (int axle = 0; axle < 2; ++axle) {
    int stock = generated_stock + (axle == 1 ? stagger : 0);
    int levels = generated_levels;
    int first_level = 0;
    if (car == 7) {
      stock = 17;
      levels = axle == 0 ? 3 : 2;
    }
    if (car == 8) {
      stock = 17;
      levels = 2;
      first_level = 1;
    }
    for (int level = first_level; level <= levels; ++level) {
      Insert(writer, tables[axle],
             {Int(RowId(car, level)), Int(car), Int(level), Int(level == 0 ? 1 : 0), Int(stock + level),
              Int(level == 0 ? 0 : 350 * level + 50 * random->Below(5)), Real(level * 1.25),
              Real(1.0 + 0.005 * level), Real(1.0 + 0.01 * level), Int(level == 0 ? 0 : 1)});
    }
  }
}

// The car-body tables share one shape: Id, CarBodyId, the value, IsStock, Level, Price, releaseOrder.
void AddBodyRows(Writer* writer, const std::string& table, int car, int levels,
                 const std::vector<Value>& values, Random* random) {
  for (int level = 0; level <= levels && level < static_cast<int>(values.size()); ++level) {
    Insert(writer, table,
           {Int(RowId(car, level)), Int(RowId(car, 0)), values[static_cast<size_t>(level)],
            Int(level == 0 ? 1 : 0), Int(level), Int(level == 0 ? 0 : 150 * level + 25 * random->Below(4)),
            Int(level == 0 ? 0 : level)});
  }
}

void AddBody(Writer* writer, int car, Random* random) {
  const int aspect_levels = 1 + random->Below(3);
  std::vector<Value> aspect;
  for (int level = 0; level <= aspect_levels; ++level) aspect.push_back(Real(-5.0 * level));
  AddBodyRows(writer, "List_UpgradeCarBodyTireAspectRatioFront", car, aspect_levels, aspect, random);
  AddBodyRows(writer, "List_UpgradeCarBodyTireAspectRatioRear", car, aspect_levels, aspect, random);

  const int spacing_levels = 1 + random->Below(2);
  std::vector<Value> spacing;
  for (int level = 0; level <= spacing_levels; ++level) spacing.push_back(Real(Metres(10 * level)));
  AddBodyRows(writer, "List_UpgradeCarBodyTrackSpacingFront", car, spacing_levels, spacing, random);
  if (car != 8)
    AddBodyRows(writer, "List_UpgradeCarBodyTrackSpacingRear", car, spacing_levels, spacing, random);

  const int width_levels = 1 + random->Below(3);
  const int front_width = 195 + 10 * random->Below(7);
  const int rear_width = front_width + 20 * random->Below(2);
  std::vector<Value> front;
  std::vector<Value> rear;
  for (int level = 0; level <= width_levels; ++level) {
    front.push_back(Int(front_width + 10 * level));
    rear.push_back(Int(rear_width + 10 * level));
  }
  AddBodyRows(writer, "List_UpgradeCarBodyTireWidthFront", car, width_levels, front, random);
  AddBodyRows(writer, "List_UpgradeCarBodyTireWidthRear", car, width_levels, rear, random);
}

void AddPhysics(Writer* writer, int64_t id, int ride_mm, int spread_mm, int compress_mm, double spring_rate,
                bool from_float) {
  double heights[4] = {Metres(ride_mm), Metres(ride_mm - spread_mm), Metres(ride_mm + spread_mm),
                       Metres(compress_mm)};
  if (from_float) {
    // Values that went through a 32-bit float on their way into the game's data.
    for (double& height : heights) height = static_cast<double>(static_cast<float>(height));
  }
  Insert(
      writer, "List_SpringDamperPhysics",
      {Int(id), Real(heights[0]), Real(heights[1]), Real(heights[2]), Real(heights[3]), Real(spring_rate)});
}

// Every level but the top one rides on the stock physics; the top (race) level on stiffer, lower ones.
// Car 7 keeps one front physics row for all levels; car 8 has no spring/damper upgrades.
void AddSuspension(Writer* writer, int car, Random* random) {
  if (car == 8) return;
  const int levels = 2 + random->Below(2);
  const int64_t front_stock = static_cast<int64_t>(car) * 10 + 1;
  const int64_t rear_stock = front_stock + 1;
  const int64_t front_race = car == 7 ? front_stock : front_stock + 2;
  const int64_t rear_race = front_stock + 3;
  // Car 12's stock front rides at 0.15 m as a float would hold it.
  const int ride = car == 12 ? 150 : 100 + 10 * random->Below(5);
  const double spring = 60000.0 + 5000.0 * random->Below(8);
  const bool from_float = car == 12;
  if (car == 7) {
    AddPhysics(writer, front_stock, 100, 50, 30, spring, false);
  } else {
    AddPhysics(writer, front_stock, ride, 40, 30 + 5 * random->Below(3), spring, from_float);
    AddPhysics(writer, front_race, ride - 30, 30, 25, spring * 1.5, from_float);
  }
  AddPhysics(writer, rear_stock, ride + 10, 40, 35, spring * 1.1, from_float);
  AddPhysics(writer, rear_race, ride - 20, 30, 30, spring * 1.6, from_float);
  for (int level = 0; level <= levels; ++level) {
    const bool race = level == levels;
    Insert(writer, "List_UpgradeSpringDamper",
           {Int(RowId(car, level)), Int(car), Int(level), Int(level == 0 ? 1 : 0),
            Int(race ? front_race : front_stock), Int(race ? rear_race : rear_stock),
            Int(level == 0 ? 0 : 600 * level)});
  }
}

void AddCompound(Writer* writer, int car, int level, const std::string& name, const Value& wet) {
  const int64_t id = static_cast<int64_t>(car) * 1000 + 100 + level * 10 + (level > 0 ? 1 : 0);
  Insert(writer, "List_UpgradeTireCompound",
         {Int(id), Int(car), Int(level), Int(level == 0 ? 1 : 0), Text(name), wet,
          Int(level == 0 ? 0 : 800 * level)});
}

void AddCompounds(Writer* writer, int car, Random* random) {
  AddCompound(writer, car, 0, "Street_A", Text("Street_A_Wet"));
  if (car == 5) {
    AddCompound(writer, car, 1, "Street_B", Text("Street_B_Wet"));
    AddCompound(writer, car, 2, "Sport_A", Text("Sport_A_Wet"));
    return;
  }
  const int levels = 1 + random->Below(3);
  for (int level = 1; level <= levels; ++level) {
    std::string name = kCompounds[random->Below(6)];
    Value wet = Text(name + "_Wet");
    if (level == 1 && car == 6) wet = Null();
    if (level == 1 && car == 9) {
      name = "Rally-Mud";
      wet = Text("Rally-Mud_Wet");
    }
    AddCompound(writer, car, level, name, wet);
  }
}

// Bonnets: the stock one is Sequence 1; options follow at Sequence 2, 3 with Id = body Id + Sequence - 1.
void AddHoods(Writer* writer, int car, Random* random) {
  int sequences = 1 + random->Below(3);
  if (car == 7) sequences = 1;
  if (car == 11) sequences = 2;
  for (int sequence = 1; sequence <= sequences; ++sequence) {
    const bool stock = sequence == 1;
    Insert(writer, "List_UpgradeCarBodyHood",
           {Int(RowId(car, sequence - 1)), Int(RowId(car, 0)), Int(sequence - 1), Int(stock ? 1 : 0),
            Int(sequence), Int(stock ? 0 : 10 + random->Below(20)), Int(100000 + car * 10 + sequence),
            Real(stock ? 0.0 : -2.5), Real(stock ? 0.0 : -0.2), Real(stock ? 1.0 : 0.99), Real(1.0),
            Int(stock ? 0 : 1200), Int(stock ? 0 : 1), Int(stock ? 0 : sequence)});
  }
}

}  // namespace

bool CreateFixture(sqlite3* db, const FixtureOptions& options, std::string* error) {
  if (options.cars < 1) {
    *error = "fixture: cars must be at least 1";
    return false;
  }
  Writer writer{db, {}, {}};
  bool ok = Exec(&writer, "BEGIN");
  for (const Table& table : kTables) {
    if (ok) ok = Exec(&writer, std::string("CREATE TABLE ") + table.name + " (" + table.columns + ")");
  }
  for (int car = 1; ok && car <= options.cars; ++car) {
    // One stream per car, so the fixed cars and the fixture size never shift another car's data.
    Random random{(static_cast<uint64_t>(options.seed) << 32) ^ static_cast<uint64_t>(car)};
    AddCar(&writer, car, &random);
    AddRims(&writer, car, &random);
    AddBody(&writer, car, &random);
    AddSuspension(&writer, car, &random);
    AddCompounds(&writer, car, &random);
    AddHoods(&writer, car, &random);
    ok = writer.error.empty();
  }
  for (auto& entry : writer.statements) sqlite3_finalize(entry.second);
  if (ok) ok = Exec(&writer, "COMMIT");
  if (!ok) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    *error = writer.error;
  }
  return ok;
}

}  // namespace gearloft::devhost
