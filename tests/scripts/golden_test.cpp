// gearloft script tests: golden files. Each golden/<case>.ini is compiled against the fixture database
// and its statements, undo statements and checks are compared with golden/<case>.sql. A mismatch prints
// a unified diff; GEARLOFT_UPDATE_GOLDEN=1 rewrites the expected files instead, for review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fixture_db.h"
#include "support/support.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

fs::path GoldenFolder() {
  return fs::path(GEARLOFT_TEST_DATA_DIR) / "scripts" / "golden";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// What a case compiles to, as the .sql file holds it.
std::string Render(bool compiled, const Plan& plan, const std::string& error) {
  std::string text;
  if (!compiled) return "-- error\n" + error + "\n";
  text += "-- names\n";
  for (const std::string& name : plan.names) text += name + "\n";
  text += "-- statements\n";
  for (const PlanStatement& statement : plan.statements) text += statement + ";\n";
  text += "-- undo\n";
  for (const PlanStatement& statement : plan.undo) text += statement + ";\n";
  text += "-- checks\n";
  for (const ReadBackCheck& check : plan.checks)
    text += check.sql + "; -- want " + FormatSqlNumber(check.want) + "\n";
  return text;
}

// A unified diff of two line lists, with three lines of context around each change.
std::string UnifiedDiff(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
  const size_t n = expected.size();
  const size_t m = actual.size();
  std::vector<std::vector<size_t>> common(n + 1, std::vector<size_t>(m + 1, 0));
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      common[i][j] =
          expected[i] == actual[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    }
  }
  struct Edit {
    char mark;
    std::string line;
    size_t old_line;
    size_t new_line;
  };
  std::vector<Edit> edits;
  size_t i = 0;
  size_t j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && expected[i] == actual[j]) {
      edits.push_back({' ', expected[i], i++, j++});
    } else if (i < n && (j == m || common[i + 1][j] >= common[i][j + 1])) {
      edits.push_back({'-', expected[i], i++, j});
    } else {
      edits.push_back({'+', actual[j], i, j++});
    }
  }
  std::string out = "--- expected\n+++ actual\n";
  size_t k = 0;
  while (k < edits.size()) {
    if (edits[k].mark == ' ') {
      ++k;
      continue;
    }
    size_t begin = k >= 3 ? k - 3 : 0;
    size_t end = k;
    // Extend the hunk while changes follow within six lines of context.
    size_t quiet = 0;
    while (end < edits.size() && quiet <= 6) {
      quiet = edits[end].mark == ' ' ? quiet + 1 : 0;
      ++end;
    }
    end -= quiet > 3 ? quiet - 3 : 0;
    size_t old_count = 0;
    size_t new_count = 0;
    for (size_t e = begin; e < end; ++e) {
      old_count += edits[e].mark != '+' ? 1 : 0;
      new_count += edits[e].mark != '-' ? 1 : 0;
    }
    out += "@@ -" + std::to_string(edits[begin].old_line + 1) + "," + std::to_string(old_count) + " +" +
           std::to_string(edits[begin].new_line + 1) + "," + std::to_string(new_count) + " @@\n";
    for (size_t e = begin; e < end; ++e) out += std::string(1, edits[e].mark) + edits[e].line + "\n";
    k = end;
  }
  return out;
}

std::vector<std::string> GoldenCases() {
  std::vector<std::string> cases;
  for (const fs::directory_entry& entry : fs::directory_iterator(GoldenFolder())) {
    if (entry.path().extension() == ".ini") cases.push_back(entry.path().stem().string());
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

TEST(GoldenDiffTest, ShowsChangedLinesWithContext) {
  const std::string diff = UnifiedDiff({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"},
                                       {"a", "B", "c", "d", "e", "f", "g", "h", "i", "j", "k", "L"});
  EXPECT_EQ(diff,
            "--- expected\n+++ actual\n"
            "@@ -1,5 +1,5 @@\n a\n-b\n+B\n c\n d\n e\n"
            "@@ -9,4 +9,4 @@\n i\n j\n k\n-l\n+L\n");
}

TEST(GoldenDiffTest, NearbyChangesShareAHunk) {
  EXPECT_EQ(UnifiedDiff({"a", "b", "c", "d", "e"}, {"a", "c", "d", "e", "f"}),
            "--- expected\n+++ actual\n@@ -1,5 +1,5 @@\n a\n-b\n c\n d\n e\n+f\n");
}

class GoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, CompilesToTheExpectedSql) {
  testing::FixtureDb db;
  ASSERT_TRUE(db.ok()) << db.error();
  const fs::path ini = GoldenFolder() / (GetParam() + ".ini");
  const fs::path sql = GoldenFolder() / (GetParam() + ".sql");
  LevelRegistry levels;
  Plan plan;
  std::string error;
  const bool compiled =
      CompileCarScript(test::ReadWhole(ini), db.Query(), levels, &plan, &error, PreviousRowIds());
  const std::string actual = Render(compiled, plan, error);
  const char* update = std::getenv("GEARLOFT_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(sql, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(fs::exists(sql)) << sql << " is missing; run with GEARLOFT_UPDATE_GOLDEN=1 and review it";
  const std::string expected = test::ReadWhole(sql);
  EXPECT_TRUE(expected == actual) << GetParam() << ".sql differs:\n"
                                  << UnifiedDiff(Lines(expected), Lines(actual));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, ::testing::ValuesIn(GoldenCases()),
                         [](const ::testing::TestParamInfo<std::string>& golden_case) {
                           return golden_case.param;
                         });

}  // namespace
}  // namespace gearloft
