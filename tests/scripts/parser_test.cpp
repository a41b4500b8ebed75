// gearloft script tests: the car-script parser (line shapes, comments, headers, keys, line numbers).
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

std::string ParseError(const std::string& content) {
  CarScript script;
  std::string error;
  EXPECT_FALSE(ParseCarScript(content, &script, &error));
  return error;
}

TEST(TrimTest, RemovesBlanksTabsAndLineEndsAtBothEndsOnly) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim(" \t\r\n "), "");
  EXPECT_EQ(Trim("\va\f"), "\va\f");
}

TEST(ParseCarScriptTest, EmptyAndCommentOnlyFilesGiveNoSections) {
  EXPECT_TRUE(MustParse("").sections.empty());
  EXPECT_TRUE(MustParse("\n  ; note\n# other\n\r\n").sections.empty());
}

TEST(ParseCarScriptTest, ByteOrderMarkIsDroppedAndErrorsStillCountLineOne) {
  const CarScript script = MustParse("\xEF\xBB\xBF[1234]\nrim_sizes = 17");
  ASSERT_EQ(script.sections.size(), 1u);
  EXPECT_EQ(script.sections[0].name, "1234");
  EXPECT_EQ(ParseError("\xEF\xBB\xBF[1234"), "line 1: bad section header");
}

TEST(ParseCarScriptTest, ByteOrderMarkOnlyCountsAtTheStart) {
  EXPECT_EQ(ParseError("[car]\n\xEF\xBB\xBFx = 1\n[x"), "line 3: bad section header");
  const CarScript script = MustParse("[car]\n\xEF\xBB\xBFx = 1");
  EXPECT_EQ(script.sections[0].keys.count("\xEF\xBB\xBFx"), 1u);
}

TEST(ParseCarScriptTest, CrLfLinesParseAsLfLines) {
  const CarScript lf = MustParse("[7]\nrim_sizes = 17, 18\ntrack_spacings = 1.5\n");
  const CarScript crlf = MustParse("[7]\r\nrim_sizes = 17, 18\r\ntrack_spacings = 1.5\r\n");
  ASSERT_EQ(crlf.sections.size(), 1u);
  EXPECT_EQ(crlf.sections[0].name, lf.sections[0].name);
  EXPECT_EQ(crlf.sections[0].keys, lf.sections[0].keys);
  EXPECT_EQ(crlf.sections[0].keys.at("rim_sizes"), "17, 18");
}

TEST(ParseCarScriptTest, LoneCrDoesNotEndALine) {
  const CarScript script = MustParse("[7]\nx = 1\r2\n");
  EXPECT_EQ(script.sections[0].keys.at("x"), "1\r2");
  EXPECT_EQ(ParseError("[7]\r\nfoo\rbar\n[x"), "line 2: expected key = value inside a [car]");
}

TEST(ParseCarScriptTest, CommentsFollowHeadersAndValues) {
  const CarScript script = MustParse("[car] ; note\nx = 1 ; note\ny = 1#note\nz = a;b#c");
  ASSERT_EQ(script.sections.size(), 1u);
  EXPECT_EQ(script.sections[0].name, "car");
  EXPECT_EQ(script.sections[0].keys.at("x"), "1");
  EXPECT_EQ(script.sections[0].keys.at("y"), "1");
  EXPECT_EQ(script.sections[0].keys.at("z"), "a");
}

TEST(ParseCarScriptTest, CommentCharacterInsideBracketsCutsTheHeader) {
  EXPECT_EQ(ParseError("[a;b]"), "line 1: bad section header");
}

TEST(ParseCarScriptTest, HeaderNameIsBetweenFirstAndLastCharacterTrimmed) {
  const CarScript script = MustParse("[a]b]\n[ 1234 ]\n[]\n[   ]\n[Kestrel_GT]");
  ASSERT_EQ(script.sections.size(), 5u);
  EXPECT_EQ(script.sections[0].name, "a]b");
  EXPECT_EQ(script.sections[1].name, "1234");
  EXPECT_EQ(script.sections[2].name, "");
  EXPECT_EQ(script.sections[3].name, "");
  EXPECT_EQ(script.sections[4].name, "Kestrel_GT");
}

TEST(ParseCarScriptTest, BadHeadersNameTheirLine) {
  EXPECT_EQ(ParseError("["), "line 1: bad section header");
  EXPECT_EQ(ParseError("[car"), "line 1: bad section header");
  EXPECT_EQ(ParseError("; one\n\n[7]\nx = 1\n\n\n[car] x\n[bad"), "line 7: bad section header");
}

TEST(ParseCarScriptTest, KeyValueBeforeAnyHeaderFails) {
  EXPECT_EQ(ParseError("; first\nrim_sizes = 17\n[7]"), "line 2: expected key = value inside a [car]");
}

TEST(ParseCarScriptTest, LineWithoutSeparatorFails) {
  EXPECT_EQ(ParseError("[7]\nfoo"), "line 2: expected key = value inside a [car]");
}

TEST(ParseCarScriptTest, FirstEqualsOrColonSeparates) {
  const CarScript script = MustParse("[7]\na = b = c\nd: e = f\ng = h: i\nx =\n= 5");
  const auto& keys = script.sections[0].keys;
  EXPECT_EQ(keys.at("a"), "b = c");
  EXPECT_EQ(keys.at("d"), "e = f");
  EXPECT_EQ(keys.at("g"), "h: i");
  EXPECT_EQ(keys.at("x"), "");
  EXPECT_EQ(keys.at(""), "5");
}

TEST(ParseCarScriptTest, KeysAreLowerCasedAndTheLastLineWins) {
  const CarScript script = MustParse("[7]\nRim_Sizes: 17, 18\nrim_sizes = 19\nTRACK_SPACINGS = Abc\n");
  const auto& keys = script.sections[0].keys;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys.at("rim_sizes"), "19");
  EXPECT_EQ(keys.at("track_spacings"), "Abc");
}

TEST(ParseCarScriptTest, OnlyAsciiLettersAreLowerCased) {
  const CarScript script = MustParse("[7]\n\xC3\x89X = 1");
  EXPECT_EQ(script.sections[0].keys.count("\xC3\x89x"), 1u);
}

TEST(ParseCarScriptTest, SectionsWithTheSameNameStaySeparate) {
  const CarScript script = MustParse("[1234]\na = 1\n[1234]\nb = 2\n");
  ASSERT_EQ(script.sections.size(), 2u);
  EXPECT_EQ(script.sections[0].keys.size(), 1u);
  EXPECT_EQ(script.sections[0].keys.at("a"), "1");
  EXPECT_EQ(script.sections[1].keys.size(), 1u);
  EXPECT_EQ(script.sections[1].keys.at("b"), "2");
}

TEST(ParseCarScriptTest, SectionsAreAppendedToWhatTheScriptHeld) {
  CarScript script;
  script.sections.push_back(CarSection{"old", {}, 0, {}});
  std::string error;
  ASSERT_TRUE(ParseCarScript("[new]", &script, &error));
  ASSERT_EQ(script.sections.size(), 2u);
  EXPECT_EQ(script.sections[1].name, "new");
}

}  // namespace
}  // namespace gearloft
