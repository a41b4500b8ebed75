// gearloft platform tests: the INI integer reader answers as the Windows profile reader does.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/scratch.h"
#include "platform/testing.h"

namespace gearloft::platform {
namespace {

using testing_support::Join;
using testing_support::ScratchFolder;
using testing_support::WriteText;

// Writes `content` to a settings file of the current test and gives its path.
std::string SettingsFile(const std::string& content) {
  const std::string path = Join(ScratchFolder(), "settings.ini");
  EXPECT_TRUE(WriteText(path, content));
  return path;
}

TEST(ReadIniInt, SectionAndKeyMatchWithoutCase) {
  const std::string file = SettingsFile("[GearLoft]\nPoll_MS=500\n");
  EXPECT_EQ(ReadIniInt(file, "gearloft", "poll_ms", 2000), 500);
  EXPECT_EQ(ReadIniInt(file, "GEARLOFT", "POLL_MS", 2000), 500);
}

TEST(ReadIniInt, BlanksAroundNamesAndValueAreIgnored) {
  const std::string file = SettingsFile("  [ gearloft ]  \r\n \t resend \t=  \t 42 \t\r\n");
  EXPECT_EQ(ReadIniInt(file, "gearloft", "resend", 5), 42);
}

TEST(ReadIniInt, SignBeforeDigitsIsTaken) {
  const std::string file = SettingsFile("[s]\nminus=-5\nplus= +7 \n");
  EXPECT_EQ(ReadIniInt(file, "s", "minus", 1), -5);
  EXPECT_EQ(ReadIniInt(file, "s", "plus", 1), 7);
}

TEST(ReadIniInt, TextAfterTheDigitsIsIgnored) {
  const std::string file = SettingsFile("[s]\nletters=12abc\nspaced=1 2\n");
  EXPECT_EQ(ReadIniInt(file, "s", "letters", 1), 12);
  EXPECT_EQ(ReadIniInt(file, "s", "spaced", 1), 1);
}

TEST(ReadIniInt, MissingFileGivesDefault) {
  EXPECT_EQ(ReadIniInt(Join(ScratchFolder(), "absent.ini"), "s", "k", 77), 77);
}

TEST(ReadIniInt, MissingSectionGivesDefault) {
  const std::string file = SettingsFile("[other]\nk=1\n");
  EXPECT_EQ(ReadIniInt(file, "s", "k", 77), 77);
}

TEST(ReadIniInt, MissingKeyGivesDefault) {
  const std::string file = SettingsFile("[s]\nk=1\n");
  EXPECT_EQ(ReadIniInt(file, "s", "j", 77), 77);
}

TEST(ReadIniInt, KeyOfAnotherSectionIsNotRead) {
  const std::string file = SettingsFile("[other]\nk=1\n[s]\nj=2\n");
  EXPECT_EQ(ReadIniInt(file, "s", "k", 77), 77);
}

TEST(ReadIniInt, EmptyValueGivesDefault) {
  const std::string file = SettingsFile("[s]\nempty=\nblank=   \nbare\nquoted=\"\"\n");
  EXPECT_EQ(ReadIniInt(file, "s", "empty", 77), 77);
  EXPECT_EQ(ReadIniInt(file, "s", "blank", 77), 77);
  EXPECT_EQ(ReadIniInt(file, "s", "bare", 77), 77);
  EXPECT_EQ(ReadIniInt(file, "s", "quoted", 77), 77);
}

// Windows gives 0, not the default, for a key that is there but holds no number.
TEST(ReadIniInt, ValueWithoutDigitsGivesZero) {
  const std::string file = SettingsFile("[s]\nword=abc\nlone_sign=-\nsign_then_blank=- 5\n");
  EXPECT_EQ(ReadIniInt(file, "s", "word", 77), 0);
  EXPECT_EQ(ReadIniInt(file, "s", "lone_sign", 77), 0);
  EXPECT_EQ(ReadIniInt(file, "s", "sign_then_blank", 77), 0);
}

TEST(ReadIniInt, LowerCasePrefixesChooseTheBase) {
  const std::string file = SettingsFile(
      "[s]\nhex=0x1f\noctal=0o17\nbinary=0b101\nleading_zero=010\nupper=0X1F\nnegative_hex=-0x10\n");
  EXPECT_EQ(ReadIniInt(file, "s", "hex", 77), 31);
  EXPECT_EQ(ReadIniInt(file, "s", "octal", 77), 15);
  EXPECT_EQ(ReadIniInt(file, "s", "binary", 77), 5);
  EXPECT_EQ(ReadIniInt(file, "s", "leading_zero", 77), 10);
  EXPECT_EQ(ReadIniInt(file, "s", "upper", 77), 0);
  EXPECT_EQ(ReadIniInt(file, "s", "negative_hex", 77), -16);
}

TEST(ReadIniInt, LargeValuesWrapAround32Bits) {
  const std::string file = SettingsFile("[s]\nabove_unsigned=4294967297\nabove_signed=2147483648\n");
  EXPECT_EQ(ReadIniInt(file, "s", "above_unsigned", 77), 1);
  EXPECT_EQ(ReadIniInt(file, "s", "above_signed", 77), INT_MIN);
}

TEST(ReadIniInt, QuotesAroundTheValueAreDropped) {
  const std::string file = SettingsFile("[s]\ndouble=\"33\"\nsingle='21'\nunmatched=\"22\n");
  EXPECT_EQ(ReadIniInt(file, "s", "double", 77), 33);
  EXPECT_EQ(ReadIniInt(file, "s", "single", 77), 21);
  EXPECT_EQ(ReadIniInt(file, "s", "unmatched", 77), 0);
}

TEST(ReadIniInt, FirstKeyOfANameWins) {
  const std::string file = SettingsFile("[s]\nk=1\nK=2\n");
  EXPECT_EQ(ReadIniInt(file, "s", "k", 77), 1);
}

TEST(ReadIniInt, OnlyTheFirstSectionOfANameIsRead) {
  const std::string file = SettingsFile("[s]\nfirst=1\n[S]\nsecond=2\n");
  EXPECT_EQ(ReadIniInt(file, "s", "first", 77), 1);
  EXPECT_EQ(ReadIniInt(file, "s", "second", 77), 77);
}

TEST(ReadIniInt, SectionNameRunsToTheLastBracket) {
  const std::string file = SettingsFile("[a]b]\nk=1\n[c] trailing words\nk=2\n");
  EXPECT_EQ(ReadIniInt(file, "a]b", "k", 77), 1);
  EXPECT_EQ(ReadIniInt(file, "a", "k", 77), 77);
  EXPECT_EQ(ReadIniInt(file, "c", "k", 77), 2);
}

// Windows' profile reader takes a UTF-8 byte-order mark as part of the first line, so a section header
// there is not one. Wine skips the mark, unlike Windows: there is nothing to check under it.
TEST(ReadIniInt, ByteOrderMarkHidesASectionOnTheFirstLine) {
  void* ntdll = LoadLibraryFile("ntdll.dll");
  if (ntdll != nullptr && LibrarySymbol(ntdll, "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine's reader skips the mark; Windows' does not";
  }
  const std::string file = SettingsFile("\xEF\xBB\xBF[gearloft]\npoll_ms=500\n[other]\nk=3\n");
  EXPECT_EQ(ReadIniInt(file, "gearloft", "poll_ms", 2000), 2000);
  EXPECT_EQ(ReadIniInt(file, "other", "k", 77), 3);
}

TEST(ReadIniInt, ByteOrderMarkBeforeACommentLineHidesNothing) {
  const std::string file = SettingsFile("\xEF\xBB\xBF; settings\n[gearloft]\npoll_ms=500\n");
  EXPECT_EQ(ReadIniInt(file, "gearloft", "poll_ms", 2000), 500);
}

TEST(ReadIniInt, KeyWithInnerBlanksMatches) {
  const std::string file = SettingsFile("[s]\n\tkey one = 9\n");
  EXPECT_EQ(ReadIniInt(file, "s", "Key One", 77), 9);
}

}  // namespace
}  // namespace gearloft::platform
