// gearloft script loading tests: the line of each section header and key that the parser records and
// the checker points its messages at.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "scripts/scripts.h"

namespace gearloft {
namespace {

CarScript MustParse(const std::string& content) {
  CarScript script;
  std::string error;
  EXPECT_TRUE(ParseCarScript(content, &script, &error)) << error;
  return script;
}

TEST(SectionLinesTest, HeadersAndKeysGetThePhysicalLineNumbers) {
  const CarScript script = MustParse(
      "\xEF\xBB\xBF[7]\r\n"  // 1: the byte-order mark is no line of its own
      "; a comment\r\n"      // 2
      "Rim_Sizes = 18\r\n"   // 3: stored lower-cased
      "\r\n"                 // 4
      "  [ 8 ] ; note\r\n"   // 5
      "x: 1 # note\r\n"      // 6
      "rim_sizes = 19");     // 7: no line feed at the end
  ASSERT_EQ(script.sections.size(), 2u);
  EXPECT_EQ(script.sections[0].line, 1u);
  EXPECT_EQ(script.sections[0].key_lines, (std::map<std::string, size_t>{{"rim_sizes", 3}}));
  EXPECT_EQ(script.sections[1].line, 5u);
  EXPECT_EQ(script.sections[1].key_lines, (std::map<std::string, size_t>{{"rim_sizes", 7}, {"x", 6}}));
}

TEST(SectionLinesTest, RepeatedKeyIsAtTheLineOfTheValueKept) {
  const CarScript script = MustParse("[7]\nrim_stock = 17\nRIM_STOCK: 18\n[7]\n");
  ASSERT_EQ(script.sections.size(), 2u);
  EXPECT_EQ(script.sections[0].keys.at("rim_stock"), "18");
  EXPECT_EQ(script.sections[0].key_lines.at("rim_stock"), 3u);
  EXPECT_TRUE(script.sections[1].key_lines.empty());
  EXPECT_EQ(script.sections[1].line, 4u);
}

TEST(SectionLinesTest, EmptyKeyAndEmptyNameAreRecordedToo) {
  const CarScript script = MustParse("[]\n= 5\nx =\na = b = c\n");
  ASSERT_EQ(script.sections.size(), 1u);
  EXPECT_EQ(script.sections[0].line, 1u);
  EXPECT_EQ(script.sections[0].key_lines, (std::map<std::string, size_t>{{"", 2}, {"a", 4}, {"x", 3}}));
}

// Every script the repository holds: a line for each key stored and no other, headers in file order.
TEST(SectionLinesTest, EveryScriptInTheRepositoryHasALineForEachKey) {
  size_t compared = 0;
  for (const char* folder : {"/examples/tunebay", "/tests/scripts/golden"}) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(GEARLOFT_SOURCE_DIR) + folder)) {
      if (entry.path().extension() != ".ini") continue;
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      CarScript script;
      std::string error;
      if (!ParseCarScript(content.str(), &script, &error)) continue;
      for (size_t i = 0; i < script.sections.size(); ++i) {
        const CarSection& section = script.sections[i];
        std::vector<std::string> keys;
        for (const auto& key : section.keys) keys.push_back(key.first);
        std::vector<std::string> lined;
        for (const auto& key : section.key_lines) {
          lined.push_back(key.first);
          EXPECT_GT(key.second, section.line);
          if (i + 1 < script.sections.size()) {
            EXPECT_LT(key.second, script.sections[i + 1].line);
          }
        }
        EXPECT_EQ(lined, keys);
        if (i > 0) {
          EXPECT_GT(section.line, script.sections[i - 1].line);
        }
      }
      ++compared;
    }
  }
  EXPECT_GE(compared, 10u);
}

}  // namespace
}  // namespace gearloft
