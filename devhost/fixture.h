// gearloft simulated game: the fixture database, every table and column the car scripts touch, filled
// reproducibly with made-up cars and a few fixed cars the tests rely on.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace gearloft::devhost {

constexpr int kLargeFixtureCars = 5000;  // for the benchmarks

struct FixtureOptions {
  int cars = 48;      // Data_Car Ids 1..cars
  uint32_t seed = 1;  // varies the generated data, never the fixed cars
};

// Creates every table in an open SQLite database and fills it. false + error on failure.
bool CreateFixture(sqlite3* db, const FixtureOptions& options, std::string* error);

}  // namespace gearloft::devhost
