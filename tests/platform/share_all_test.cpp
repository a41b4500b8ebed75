// gearloft platform tests: opening a file with Share::kShareAll, the open of a reader that follows a file
// another process rotates; it reads, writes and appends as any other open does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/scratch.h"

namespace gearloft::platform {
namespace {

using testing_support::Join;
using testing_support::ReadText;
using testing_support::ScratchFolder;

bool Put(const std::string& path, const char* mode, const std::string& text) {
  std::FILE* file = OpenFile(path, mode, Share::kShareAll);
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

TEST(ShareAllOpen, WritesAppendsAndReadsBackLikeAnyOpen) {
  const std::string path = Join(ScratchFolder(), "gearloft.log");
  ASSERT_TRUE(Put(path, "wb", "first\n"));
  ASSERT_TRUE(Put(path, "ab", "second\n"));
  std::FILE* file = OpenFile(path, "rb", Share::kShareAll);
  ASSERT_NE(file, nullptr);
  char text[32] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof(text) - 1, file), 13u);
  std::fclose(file);
  EXPECT_STREQ(text, "first\nsecond\n");
  ASSERT_TRUE(Put(path, "wb", "again\n"));
  EXPECT_EQ(ReadText(path), "again\n");
}

TEST(ShareAllOpen, UpdateModeReadsAndWritesTheSameFile) {
  const std::string path = Join(ScratchFolder(), "plan.sql");
  ASSERT_TRUE(Put(path, "wb", "abc"));
  std::FILE* file = OpenFile(path, "r+b", Share::kShareAll);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fgetc(file), 'a');
  ASSERT_EQ(std::fseek(file, 0, SEEK_CUR), 0);
  EXPECT_EQ(std::fputc('X', file), 'X');
  std::fclose(file);
  EXPECT_EQ(ReadText(path), "aXc");
}

TEST(ShareAllOpen, MissingFileOrUnknownModeGivesNull) {
  const std::string folder = ScratchFolder();
  EXPECT_EQ(OpenFile(Join(folder, "absent.log"), "rb", Share::kShareAll), nullptr);
  EXPECT_EQ(OpenFile(Join(folder, "absent.log"), "x", Share::kShareAll), nullptr);
}

}  // namespace
}  // namespace gearloft::platform
