// gearloft platform tests: the extended-length form the Windows side gives a path of 260 characters or
// more, so a game installed deep in the folder tree still gets its folder, log and scripts.
#include <gtest/gtest.h>

#include <string>

#include "platform/long_path.h"

namespace gearloft::platform {
namespace {

// "C:\Games\<name>...\" padded with a folder of `pad` letters to reach a length.
std::string Deep(size_t pad) {
  return "C:\\Games\\" + std::string(pad, 'a') + "\\scripts\\tunebay";
}

TEST(ExtendedLengthPath, PathShorterThan260IsLeftAsItIs) {
  const std::string path = Deep(259 - Deep(0).size());
  ASSERT_EQ(path.size(), 259u);
  EXPECT_EQ(ExtendedLengthPath(path), path);
  EXPECT_EQ(ExtendedLengthPath("C:/Games/./x/../y"), "C:/Games/./x/../y");
}

TEST(ExtendedLengthPath, PathOf260GetsThePrefix) {
  const std::string path = Deep(260 - Deep(0).size());
  ASSERT_EQ(path.size(), 260u);
  EXPECT_EQ(ExtendedLengthPath(path), "\\\\?\\" + path);
}

TEST(ExtendedLengthPath, LengthCountsUtf16UnitsNotBytes) {
  // 130 two-byte letters are 260 bytes but 130 units; 65 four-byte ones are 130 units as surrogate pairs.
  std::string umlauts = "C:\\";
  for (int i = 0; i < 130; ++i) umlauts += "\xC3\xB6";
  EXPECT_EQ(Utf16Length(umlauts), 133u);
  EXPECT_EQ(ExtendedLengthPath(umlauts), umlauts);
  std::string emoji = "C:\\";
  for (int i = 0; i < 130; ++i) emoji += "\xF0\x9F\x8F\x8E";
  EXPECT_EQ(Utf16Length(emoji), 263u);
  EXPECT_EQ(ExtendedLengthPath(emoji), "\\\\?\\" + emoji);
}

TEST(ExtendedLengthPath, ForwardSlashesDotsAndDoubledSeparatorsAreResolved) {
  const std::string long_part(300, 'b');
  EXPECT_EQ(ExtendedLengthPath("C:/Games//" + long_part + "/./x/../scripts\\tunebay\\gearloft.log"),
            "\\\\?\\C:\\Games\\" + long_part + "\\scripts\\tunebay\\gearloft.log");
  // ".." never climbs above the drive.
  EXPECT_EQ(ExtendedLengthPath("d:\\..\\..\\" + long_part), "\\\\?\\d:\\" + long_part);
  // A trailing separator stays: "folder\" is still the folder.
  EXPECT_EQ(ExtendedLengthPath("C:\\" + long_part + "\\"), "\\\\?\\C:\\" + long_part + "\\");
}

TEST(ExtendedLengthPath, UncPathBecomesTheUncForm) {
  const std::string long_part(300, 'c');
  EXPECT_EQ(ExtendedLengthPath("\\\\server\\share\\" + long_part + "\\..\\" + long_part + "\\a.ini"),
            "\\\\?\\UNC\\server\\share\\" + long_part + "\\a.ini");
  EXPECT_EQ(ExtendedLengthPath("//server/share/" + long_part), "\\\\?\\UNC\\server\\share\\" + long_part);
}

TEST(ExtendedLengthPath, PrefixedRelativeAndDriveRelativePathsAreLeftAlone) {
  const std::string long_part(300, 'd');
  // The last one names a server without a share.
  for (const std::string& path :
       {"\\\\?\\C:\\" + long_part, "\\\\.\\C:\\" + long_part, "scripts\\" + long_part, "C:" + long_part,
        "\\" + long_part, "\\\\" + long_part}) {
    EXPECT_EQ(ExtendedLengthPath(path), path) << path.substr(0, 12);
  }
}

TEST(ExtendedLengthPath, FolderCreationUsesItsOwnLimitOf248) {
  const std::string path = Deep(248 - Deep(0).size());
  ASSERT_EQ(path.size(), 248u);
  EXPECT_EQ(ExtendedLengthPath(path, kMaxFolderPathUnits), "\\\\?\\" + path);
  EXPECT_EQ(ExtendedLengthPath(path.substr(0, 247), kMaxFolderPathUnits), path.substr(0, 247));
}

}  // namespace
}  // namespace gearloft::platform
