// gearloft script tests: the in-memory fixture database and the query function over it.
#include "fixture_db.h"

#if defined(GEARLOFT_TEST_HAVE_SQLITE)

namespace gearloft::testing {

// The game's schema for the tables the compiler reads, and the rows the tests rely on: car 7
// "Kestrel_GT" (front rims stock 17 and Levels 1..3 at 18, 19, 20; rear rims stock 17 and Levels 1..2),
// car 8 "Orca_Coupe" without stock rims and rear track spacings, and car 42.
static const char* const kFixture = R"sql(
CREATE TABLE Data_Car(Id INTEGER PRIMARY KEY, MediaName TEXT, DisplayName TEXT, Year INTEGER);
CREATE TABLE List_UpgradeRimSizeFront(Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER,
  IsStock INTEGER, FrontWheelDiameter INTEGER, Price INTEGER, MassDiff REAL, DragScale REAL,
  WindInstabilityScale REAL, RequiresGraphics INTEGER);
CREATE TABLE List_UpgradeRimSizeRear(Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER,
  IsStock INTEGER, RearWheelDiameter INTEGER, Price INTEGER, MassDiff REAL, DragScale REAL,
  WindInstabilityScale REAL, RequiresGraphics INTEGER);
CREATE TABLE List_UpgradeCarBodyTireAspectRatioFront(Id INTEGER PRIMARY KEY, CarBodyId INTEGER,
  FrontTireAspectRatioOffset REAL, IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeCarBodyTireAspectRatioRear(Id INTEGER PRIMARY KEY, CarBodyId INTEGER,
  RearTireAspectRatioOffset REAL, IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeCarBodyTrackSpacingFront(Id INTEGER PRIMARY KEY, CarBodyId INTEGER, Spacing REAL,
  IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeCarBodyTrackSpacingRear(Id INTEGER PRIMARY KEY, CarBodyId INTEGER, Spacing REAL,
  IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeCarBodyTireWidthFront(Id INTEGER PRIMARY KEY, CarBodyId INTEGER,
  FrontTireWidth INTEGER, IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeCarBodyTireWidthRear(Id INTEGER PRIMARY KEY, CarBodyId INTEGER,
  RearTireWidth INTEGER, IsStock INTEGER, Level INTEGER, Price INTEGER, releaseOrder INTEGER);
CREATE TABLE List_UpgradeSpringDamper(Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER,
  IsStock INTEGER, FrontSpringDamperPhysicsID INTEGER, RearSpringDamperPhysicsID INTEGER, Price INTEGER);
CREATE TABLE List_SpringDamperPhysics(SpringDamperPhysicsID INTEGER PRIMARY KEY, DefRideHeight REAL,
  MinRideHeight REAL, MaxRideHeight REAL, MaxCompressHeight REAL, SpringRate REAL);
CREATE TABLE List_UpgradeTireCompound(Id INTEGER PRIMARY KEY, Ordinal INTEGER, Level INTEGER,
  IsStock INTEGER, TireModelName TEXT, WetTireModelName TEXT, Price INTEGER);
CREATE TABLE List_UpgradeCarBodyHood(Id INTEGER PRIMARY KEY, CarBodyID INTEGER, Level INTEGER,
  IsStock INTEGER, Sequence INTEGER, ManufacturerId INTEGER, PartsStringId INTEGER, MassDiff REAL,
  WeightDistDiff REAL, DragScale REAL, WindInstabilityScale REAL, Price INTEGER, RequiresGraphics INTEGER,
  releaseOrder INTEGER);

INSERT INTO Data_Car VALUES (5, 'Pica_Sport', 'Pica Sport', 1998), (7, 'Kestrel_GT', 'Kestrel GT', 2004),
  (8, 'Orca_Coupe', 'Orca Coupe', 1991), (42, 'Vela_42', 'Vela', 2010);

INSERT INTO List_UpgradeRimSizeFront VALUES
  (7000, 7, 0, 1, 17, 0, 0.0, 1.0, 1.0, 0), (7001, 7, 1, 0, 18, 2000, 1.36, 1.0, 1.0, 0),
  (7002, 7, 2, 0, 19, 2200, 2.72, 1.0, 1.0, 0), (7003, 7, 3, 0, 20, 2400, 4.08, 1.0, 1.0, 0);
INSERT INTO List_UpgradeRimSizeRear VALUES
  (7000, 7, 0, 1, 17, 0, 0.0, 1.0, 1.0, 0), (7001, 7, 1, 0, 18, 2000, 1.36, 1.0, 1.0, 0),
  (7002, 7, 2, 0, 19, 2200, 2.72, 1.0, 1.0, 0);

INSERT INTO List_UpgradeCarBodyTireAspectRatioFront VALUES
  (7000, 7000, 0.0, 1, 0, 0, 0), (7001, 7000, -5.0, 0, 1, 100, 0);
INSERT INTO List_UpgradeCarBodyTireAspectRatioRear VALUES (7000, 7000, 0.0, 1, 0, 0, 0);
INSERT INTO List_UpgradeCarBodyTrackSpacingFront VALUES
  (7000, 7000, 1.52, 1, 0, 0, 0), (8000, 8000, 1.48, 1, 0, 0, 0), (8001, 8000, 1.5, 0, 1, 100, 0);
INSERT INTO List_UpgradeCarBodyTrackSpacingRear VALUES (7000, 7000, 1.54, 1, 0, 0, 0);
)sql";

FixtureDb::FixtureDb() {
  if (sqlite3_open(":memory:", &db_) != SQLITE_OK) {
    error_ = "cannot open an in-memory database";
    return;
  }
  Exec(kFixture);
}

FixtureDb::~FixtureDb() {
  sqlite3_close(db_);
}

bool FixtureDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message != nullptr ? message : "sqlite3_exec failed";
    sqlite3_free(message);
    return false;
  }
  return true;
}

QueryFn FixtureDb::Query() {
  return [this](const std::string& sql) {
    asked_.push_back(sql);
    return RunQuery(db_, sql);
  };
}

QueryResult RunQuery(sqlite3* db, const std::string& sql) {
  QueryResult result;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail) != SQLITE_OK ||
      statement == nullptr) {
    sqlite3_finalize(statement);
    return result;
  }
  const int columns = sqlite3_column_count(statement);
  for (int i = 0; i < columns; ++i) result.columns.push_back(sqlite3_column_name(statement, i));
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    std::vector<QueryCell> row(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
      QueryCell& cell = row[static_cast<size_t>(i)];
      switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER:
          cell.kind = QueryCell::Kind::kInteger;
          cell.integer = sqlite3_column_int64(statement, i);
          break;
        case SQLITE_FLOAT:
          cell.kind = QueryCell::Kind::kReal;
          cell.real = sqlite3_column_double(statement, i);
          break;
        case SQLITE_TEXT:
          cell.kind = QueryCell::Kind::kText;
          cell.text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
          break;
        default:
          break;
      }
    }
    result.rows.push_back(row);
  }
  sqlite3_finalize(statement);
  result.ok = step == SQLITE_DONE;
  return result;
}

}  // namespace gearloft::testing

#endif
