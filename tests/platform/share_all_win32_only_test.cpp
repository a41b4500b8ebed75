// gearloft platform tests, Windows build only: what Share::kShareAll lets others do that Share::kDenyNone
// does not - move the file aside or delete it while it is open - what it cannot, and its text mode.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/scratch.h"

namespace gearloft::platform {
namespace {

using testing_support::Join;
using testing_support::ReadText;
using testing_support::ScratchFolder;
using testing_support::WriteText;

std::string ReadAll(std::FILE* file) {
  std::string text;
  int c = 0;
  while ((c = std::fgetc(file)) != EOF) text.push_back(static_cast<char>(c));
  return text;
}

// The log's rotation at start-up while a reader follows the log.
TEST(ShareAllOnWindows, OpenFileCanBeMovedAsideAndDeleted) {
  const std::string folder = ScratchFolder();
  const std::string log = Join(folder, "gearloft.log");
  const std::string previous = Join(folder, "gearloft.log.1");
  ASSERT_TRUE(WriteText(log, "this run\n"));
  std::FILE* reader = OpenFile(log, "rb", Share::kShareAll);
  ASSERT_NE(reader, nullptr);
  uint32_t error = 0;
  EXPECT_TRUE(ReplaceMove(log, previous, &error)) << error;
  EXPECT_TRUE(DeleteFilePath(previous));
  EXPECT_EQ(ReadAll(reader), "this run\n");
  std::fclose(reader);
  EXPECT_EQ(ReadText(previous), "<unreadable>");
}

// What the share mode cannot give: a file that is open is never replaced by a move onto it.
TEST(ShareAllOnWindows, OpenFileIsNotReplacedByAMoveOntoIt) {
  const std::string folder = ScratchFolder();
  const std::string log = Join(folder, "gearloft.log");
  const std::string previous = Join(folder, "gearloft.log.1");
  ASSERT_TRUE(WriteText(log, "this run\n"));
  ASSERT_TRUE(WriteText(previous, "run before\n"));
  std::FILE* reader = OpenFile(previous, "rb", Share::kShareAll);
  ASSERT_NE(reader, nullptr);
  EXPECT_FALSE(ReplaceMove(log, previous));
  std::fclose(reader);
  EXPECT_EQ(ReadText(previous), "run before\n");
}

TEST(ShareAllOnWindows, DenyNoneReaderKeepsTheFileFromBeingMoved) {
  const std::string folder = ScratchFolder();
  const std::string log = Join(folder, "gearloft.log");
  ASSERT_TRUE(WriteText(log, "this run\n"));
  std::FILE* reader = OpenFile(log, "rb", Share::kDenyNone);
  ASSERT_NE(reader, nullptr);
  EXPECT_FALSE(ReplaceMove(log, Join(folder, "gearloft.log.1")));
  std::fclose(reader);
  EXPECT_EQ(ReadText(log), "this run\n");
}

TEST(ShareAllOnWindows, TextModeWritesCrLf) {
  const std::string path = Join(ScratchFolder(), "notes.txt");
  std::FILE* file = OpenFile(path, "w", Share::kShareAll);
  ASSERT_NE(file, nullptr);
  std::fputs("one\ntwo\n", file);
  std::fclose(file);
  EXPECT_EQ(ReadText(path), "one\r\ntwo\r\n");
}

}  // namespace
}  // namespace gearloft::platform
