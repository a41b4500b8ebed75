// gearloft platform tests: UTF-16 to UTF-8, including the replacement of broken surrogates.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace gearloft::platform {
namespace {

TEST(Utf16ToUtf8, EmptyGivesEmpty) {
  EXPECT_EQ(Utf16ToUtf8(u""), "");
}

TEST(Utf16ToUtf8, MixedWidthsInOneText) {
  EXPECT_EQ(Utf16ToUtf8(u"gar\u00e7age \u8eca \U0001F697"),
            "gar\xc3\xa7"
            "age \xe8\xbb\x8a \xf0\x9f\x9a\x97");
}

TEST(Utf16ToUtf8, AsciiStaysAsItIs) {
  EXPECT_EQ(Utf16ToUtf8(u"C:\\Games\\scripts"), "C:\\Games\\scripts");
}

TEST(Utf16ToUtf8, TwoByteSequence) {
  EXPECT_EQ(Utf16ToUtf8(u"caf\u00E9"), "caf\xC3\xA9");
}

TEST(Utf16ToUtf8, ThreeByteSequence) {
  EXPECT_EQ(Utf16ToUtf8(u"\u20AC5"),
            "\xE2\x82\xAC"
            "5");
}

TEST(Utf16ToUtf8, SurrogatePairGivesFourBytes) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
}

TEST(Utf16ToUtf8, LoneHighSurrogateBecomesReplacement) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'A'}),
            "\xEF\xBF\xBD"
            "A");
}

TEST(Utf16ToUtf8, LoneLowSurrogateBecomesReplacement) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'A', 0xDC00}), "A\xEF\xBF\xBD");
}

TEST(Utf16ToUtf8, HighSurrogateBeforeAPairIsReplacedAlone) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, 0xD800, 0xDC00}), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

TEST(Utf16ToUtf8, ReversedPairGivesTwoReplacements) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf16ToUtf8, EmbeddedNulIsKept) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'A', 0, u'B'}), std::string("A\0B", 3));
}

}  // namespace
}  // namespace gearloft::platform
