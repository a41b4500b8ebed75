// gearloft apply and verify: sending a plan's statements into the game and reading every change back.
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "apply/apply.h"
#include "hostdb/hostdb.h"
#include "runtime/log.h"

namespace gearloft {

std::atomic<int32_t> PlanGeneration{0};

namespace {

constexpr size_t kSelectLength = 7;  // "SELECT "

// printf's "%f" and "%.<precision>g" as the "C" locale writes them, whatever locale the game's process
// has set: the log must read the same on every player's machine.
std::string FormatFixed(double value) {
  char buffer[400];  // the largest double in "%f" has 309 digits before the point
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) return "?";
  return std::string(buffer, result.ptr);
}

std::string FormatGeneral(double value, int precision) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, precision);
  if (result.ec != std::errc()) return "?";
  return std::string(buffer, result.ptr);
}

}  // namespace

double ReadBackAnswer(const QueryResult& result) {
  if (result.ok && !result.rows.empty() && !result.rows[0].empty()) return CellAsDouble(&result.rows[0][0]);
  return std::numeric_limits<double>::quiet_NaN();
}

bool ReadsBack(double answer, double want) {
  // A read-back answer may differ from its want by this much: REAL columns hand back what the game
  // stored, which need not be the literal's exact double.
  constexpr double kReadBackTolerance = 0.000001;
  return !std::isnan(answer) && std::fabs(answer - want) <= kReadBackTolerance;
}

bool ApplyPlan(const Plan& plan) {
  for (const std::string& statement : BatchStatements(plan.statements)) {
    if (!Execute(statement)) {
      LogLine("exec failed: %.300s", statement.c_str());
      return false;
    }
  }

  // The generation comment makes each plan's check texts differ from every earlier plan's, so nothing
  // between here and the table can answer with an old result.
  const std::string prefix = "SELECT /*g" + std::to_string(PlanGeneration.load()) + "*/ ";
  for (const ReadBackCheck& check : FinalChecks(plan.checks)) {
    std::string sql = check.sql;
    sql.replace(0, kSelectLength, prefix);
    QueryResult result = Query(sql);
    const double answer = ReadBackAnswer(result);
    if (ReadsBack(answer, check.want)) continue;
    std::string shown = std::isnan(answer) ? std::string("nothing") : FormatFixed(answer);
    LogLine("read-back miss: %s -> %s, want %s (ok=%d rows=%zu)", check.sql.c_str(), shown.c_str(),
            FormatGeneral(check.want, 10).c_str(), result.ok ? 1 : 0, result.rows.size());
    return false;
  }
  return true;
}

}  // namespace gearloft
