// gearloft apply and verify: the plan's statements regrouped for sending (insert batching) and its
// read-back checks regrouped for reading (one COUNT(*) ... IN check per table).
#include <map>
#include <set>
#include <string>
#include <vector>

#include "apply/apply.h"

namespace gearloft {
namespace {

constexpr const char kInsertPrefix[] = "INSERT OR IGNORE INTO ";
constexpr const char kValuesMark[] = ") VALUES (";
constexpr size_t kValuesMarkLength = sizeof(kValuesMark) - 1;
// One call into the game carries at most this many inserted rows.
constexpr int kRowsPerBatch = 100;

constexpr const char kCountPrefix[] = "SELECT COUNT(*) FROM ";
constexpr size_t kCountPrefixLength = sizeof(kCountPrefix) - 1;
constexpr const char kWhereId[] = " WHERE Id = ";
constexpr size_t kWhereIdLength = sizeof(kWhereId) - 1;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Splits a single-row insert into its head (up to and including the ")" before VALUES) and its value
// list; false for any statement that cannot join a batch.
bool SplitInsert(const std::string& statement, std::string* head, std::string* values) {
  if (!StartsWith(statement, kInsertPrefix) || statement.back() != ')') return false;
  size_t at = statement.find(kValuesMark);
  if (at == std::string::npos) return false;
  *head = statement.substr(0, at + 1);
  size_t first = at + kValuesMarkLength;
  *values = statement.substr(first, statement.size() - 1 - first);
  return true;
}

struct IdGroup {
  std::string ids;
  size_t count = 0;
};

}  // namespace

std::vector<std::string> BatchStatements(const std::vector<PlanStatement>& statements) {
  std::vector<std::string> batched;
  std::string batch_head;
  int batch_rows = 0;  // 0: no batch in progress
  for (const PlanStatement& statement : statements) {
    std::string head;
    std::string values;
    if (statement.empty() || !SplitInsert(statement, &head, &values)) {
      batched.push_back(statement);
      batch_rows = 0;
      continue;
    }
    if (batch_rows > 0 && batch_rows < kRowsPerBatch && head == batch_head) {
      batched.back() += " UNION ALL SELECT " + values;
      ++batch_rows;
      continue;
    }
    batched.push_back(head + " SELECT " + values);
    batch_head = head;
    batch_rows = 1;
  }
  return batched;
}

std::vector<ReadBackCheck> FinalChecks(const std::vector<ReadBackCheck>& checks) {
  // Two changes to one cell run in order and the last value stands, so only the last check with a
  // given text describes what the table holds; an earlier one with the same text would never match.
  std::vector<bool> superseded(checks.size(), false);
  std::set<std::string> later_texts;
  for (size_t i = checks.size(); i-- > 0;) {
    superseded[i] = !later_texts.insert(checks[i].sql).second;
  }

  std::vector<ReadBackCheck> final_checks;
  std::map<std::string, IdGroup> groups;
  for (size_t i = 0; i < checks.size(); ++i) {
    if (superseded[i]) continue;
    const ReadBackCheck& check = checks[i];
    size_t at = std::string::npos;
    if (check.want == 1.0 && StartsWith(check.sql, kCountPrefix)) at = check.sql.find(kWhereId);
    if (at == std::string::npos || at < kCountPrefixLength) {
      final_checks.push_back(check);
      continue;
    }
    IdGroup& group = groups[check.sql.substr(kCountPrefixLength, at - kCountPrefixLength)];
    if (!group.ids.empty()) group.ids += ",";
    group.ids += check.sql.substr(at + kWhereIdLength);
    ++group.count;
  }
  // COUNT(*) ... IN counts each row once however often its Id is listed, so the want is the number of
  // distinct Ids. A second insert of one Id has the same check text as the first and was left out above,
  // so every Id in a group is distinct.
  for (const auto& [table, group] : groups) {
    ReadBackCheck grouped;
    grouped.sql = kCountPrefix + table + " WHERE Id IN (" + group.ids + ")";
    grouped.want = static_cast<double>(group.count);
    final_checks.push_back(grouped);
  }
  return final_checks;
}

}  // namespace gearloft
