// Test support for the property suites: seeded, reproducible generation of car-script sets and of edits
// to them, the simulated game on a fresh copy of the fixture per case, and full table dumps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devhost/devhost.h"

namespace gearloft::property {

// ---- Seeds --------------------------------------------------------------------------------------------

// A small generator whose sequence is the same on every platform and standard library (the standard
// distributions are not), so a printed seed replays the same case everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, n); n must not be 0.
  uint64_t Below(uint64_t n) { return Next() % n; }
  int Between(int lowest, int highest) {
    return lowest + static_cast<int>(Below(static_cast<uint64_t>(highest - lowest + 1)));
  }
  bool Percent(int chance) { return Below(100) < static_cast<uint64_t>(chance); }

 private:
  uint64_t state_;
};

// The seeds of one property run: GEARLOFT_PROPERTY_SEED=<n> replays the single case n; otherwise
// GEARLOFT_PROPERTY_CASES cases (default `default_cases`) from GEARLOFT_PROPERTY_BASE_SEED (default a
// fixed number, so every run of the suite checks the same cases).
std::vector<uint64_t> PropertySeeds(uint64_t salt, size_t default_cases);
// What a failure prints so the case can be run again on its own.
std::string ReplayHint(uint64_t seed);

// ---- Generated scripts --------------------------------------------------------------------------------

struct FixtureCar {
  int64_t id = 0;
  std::string media_name;
};

struct GeneratedSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;  // in the order written
};

struct GeneratedFile {
  std::string name;
  bool crlf = false;
  bool bom = false;
  bool upper_keys = false;
  bool colon = false;
  std::vector<GeneratedSection> sections;
};

using ScriptSet = std::vector<GeneratedFile>;

// The file's bytes as a user would have saved them.
std::string RenderScript(const GeneratedFile& file);
// Every file of a set, name and text, for failure messages.
std::string DescribeSet(const ScriptSet& set);

// Makes script sets of several files over random cars of the fixture, with random keys of the whole
// vocabulary and values inside and beyond what the keys accept (and some that are no numbers at all).
class ScriptGenerator {
 public:
  ScriptGenerator(const std::vector<FixtureCar>& cars, Rng* rng) : cars_(cars), rng_(*rng) {}
  ScriptSet NewSet();
  // One edit a user could make between two saves: a value changed, a key added or removed, a car
  // changed, a file added, rewritten or deleted.
  void Edit(ScriptSet* set);

 private:
  std::string CarName();
  std::string Value(const std::string& key);
  GeneratedSection NewSection();
  GeneratedFile NewFile(const ScriptSet& set);
  std::string UnusedFileName(const ScriptSet& set);

  const std::vector<FixtureCar>& cars_;
  Rng& rng_;
  std::vector<int64_t> pool_;  // the cars of this case, so files and edits meet on the same cars
};

// ---- The simulated game ----------------------------------------------------------------------------

// Every row of every game table in Id order, each row one text of its cells, each cell as its storage
// class and exact value.
using TableDump = std::vector<std::string>;
using GameDump = std::map<std::string, TableDump>;

// The differing tables with their first differing rows; empty when the dumps are equal.
std::string DumpDifferences(const GameDump& expected, const GameDump& actual);

// A game as a freshly started process sees it: its own database over a copy of the fixture, made
// current for the bridge, and an empty query cache.
class FreshGame {
 public:
  FreshGame();
  ~FreshGame();
  FreshGame(const FreshGame&) = delete;
  FreshGame& operator=(const FreshGame&) = delete;

  bool ok() const { return database_ != nullptr; }
  GameDump Dump();
  std::vector<FixtureCar> Cars();
  // From now on every statement the database runs is kept, in order; TakeStatements hands them over.
  void RecordStatements();
  std::vector<std::string> TakeStatements();

 private:
  devhost::Database* database_ = nullptr;
  ::sqlite3* connection_ = nullptr;
  std::vector<std::string> statements_;
};

// The watched folder of the suite: a temp folder holding the scripts and the log.
class WatchedScripts {
 public:
  WatchedScripts();
  ~WatchedScripts();
  WatchedScripts(const WatchedScripts&) = delete;
  WatchedScripts& operator=(const WatchedScripts&) = delete;

  // Makes the folder hold exactly `set`: files of other names are deleted, the others written.
  void Write(const ScriptSet& set);
  // The last lines of the log, for failure messages.
  std::string LogTail(size_t lines) const;
  // The log's messages from line `first` on, without their time and age prefix.
  std::vector<std::string> LogMessages(size_t first) const;
  // The bytes of a file in the folder ("" when there is none).
  std::string ReadFile(const std::string& name) const;

 private:
  std::filesystem::path folder_;
};

}  // namespace gearloft::property
