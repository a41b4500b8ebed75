// gearloft car script compiler: from one script file to its plan lists, section by section.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "hostdb/hostdb.h"
#include "scripts/scripts.h"

namespace gearloft {

using QueryFn = std::function<QueryResult(const std::string& sql)>;

// Table + "|" + owner value to the next Level to hand out; one per load.
using LevelRegistry = std::map<std::string, int32_t>;

struct IdContext {
  LevelRegistry& levels;
  const PreviousRowIds& previous;
  const QueryFn& query;
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
};

bool CompileCarScript(const std::string& content, const QueryFn& query, LevelRegistry& levels, Plan* out,
                      std::string* error, const PreviousRowIds& previous);

double QueryNumber(const QueryFn& query, const std::string& sql, double fallback);

int32_t NextLevel(IdContext& ids, const std::string& table, const std::string& owner_column,
                  int64_t owner_value);

void InsertRow(Plan& lists, const std::string& table, const std::string& columns,
               const std::string& values, int64_t id);

}  // namespace gearloft
