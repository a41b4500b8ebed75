// gearloft script loading tests: MapScriptLines, the line of each section header and key that the
// checker points its messages at, against the parser's own reading of the same files.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "scripts/scripts.h"

namespace gearloft {
namespace {

TEST(MapScriptLinesTest, HeadersAndKeysGetThePhysicalLineNumbers) {
  const std::string content =
      "\xEF\xBB\xBF[7]\r\n"  // 1: the byte-order mark is no line of its own
      "; a comment\r\n"      // 2
      "Rim_Sizes = 18\r\n"   // 3: stored lower-cased, as the parser stores it
      "\r\n"                 // 4
      "  [ 8 ] ; note\r\n"   // 5
      "x: 1 # note\r\n"      // 6
      "rim_sizes = 19";      // 7: no line feed at the end
  const std::vector<SectionLines> lines = MapScriptLines(content);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].header, 1u);
  EXPECT_EQ(lines[0].keys, (std::map<std::string, size_t>{{"rim_sizes", 3}}));
  EXPECT_EQ(lines[1].header, 5u);
  EXPECT_EQ(lines[1].keys, (std::map<std::string, size_t>{{"rim_sizes", 7}, {"x", 6}}));
}

TEST(MapScriptLinesTest, RepeatedKeyIsAtItsLastLine) {
  const std::vector<SectionLines> lines = MapScriptLines("[7]\nrim_stock = 17\nRIM_STOCK: 18\n[7]\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].keys.at("rim_stock"), 3u);
  EXPECT_TRUE(lines[1].keys.empty());
  EXPECT_EQ(lines[1].header, 4u);
}

TEST(MapScriptLinesTest, EmptyKeyAndEmptyNameAreKeptAsTheParserKeepsThem) {
  const std::vector<SectionLines> lines = MapScriptLines("[]\n= 5\nx =\na = b = c\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].keys, (std::map<std::string, size_t>{{"", 2}, {"a", 4}, {"x", 3}}));
}

TEST(MapScriptLinesTest, EmptyContentHasNoSections) {
  EXPECT_TRUE(MapScriptLines("").empty());
  EXPECT_TRUE(MapScriptLines("; only\n\n# comments\n").empty());
}

// Every script the repository holds: the same sections, in order, with the same keys as the parser gives.
TEST(MapScriptLinesTest, AgreesWithTheParserOnEveryScriptInTheRepository) {
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
      const std::vector<SectionLines> lines = MapScriptLines(content.str());
      ASSERT_EQ(lines.size(), script.sections.size());
      for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> keys;
        for (const auto& key : lines[i].keys) keys.push_back(key.first);
        std::vector<std::string> parsed;
        for (const auto& key : script.sections[i].keys) parsed.push_back(key.first);
        EXPECT_EQ(keys, parsed);
        if (i > 0) {
          EXPECT_GT(lines[i].header, lines[i - 1].header);
        }
      }
      ++compared;
    }
  }
  EXPECT_GE(compared, 10u);
}

}  // namespace
}  // namespace gearloft
