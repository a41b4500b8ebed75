// gearloft release tests: the player's README of the release zip (packaging/README.txt) gives every car key
// with an example, every message a script can be skipped with and every line the log can hold. The
// messages are collected from the sources at test time, so a new one without its explanation fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "scripts/scripts.h"
#include "support/support.h"

namespace gearloft {
namespace {

namespace fs = std::filesystem;

std::string Readme() {
  const std::string text = test::ReadWhole(fs::path(GEARLOFT_SOURCE_DIR) / "packaging" / "README.txt");
  EXPECT_FALSE(text.empty());
  return text;
}

struct SourceFile {
  std::string path;  // relative to src/, with "/"
  std::string text;
};

std::vector<SourceFile> Sources() {
  std::vector<SourceFile> files;
  const fs::path root = fs::path(GEARLOFT_SOURCE_DIR) / "src";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
    files.push_back(
        SourceFile{entry.path().lexically_relative(root).generic_string(), test::ReadWhole(entry.path())});
  }
  return files;
}

// The text of each C string literal in `code`, as the program holds it.
std::vector<std::string> Literals(const std::string& code) {
  static const std::regex& literal = *new std::regex("\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
  std::vector<std::string> texts;
  for (std::sregex_iterator it(code.begin(), code.end(), literal), end; it != end; ++it) {
    const std::string escaped = (*it)[1].str();
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
      if (escaped[i] == '\\' && i + 1 < escaped.size()) ++i;
      text += escaped[i];
    }
    texts.push_back(text);
  }
  return texts;
}

// The pieces of a message between its printf conversions, without blanks at their ends, each holding a
// letter (a lone "s)" of "%ds)" is left to the pieces around it).
std::vector<std::string> FixedPieces(const std::string& message) {
  static const std::regex& conversion = *new std::regex("%[-+ #0-9.]*(?:ll|l|z)?[sdfgxu]");
  std::vector<std::string> pieces;
  std::sregex_token_iterator it(message.begin(), message.end(), conversion, -1), end;
  for (; it != end; ++it) {
    std::string piece = it->str();
    piece.erase(0, piece.find_first_not_of(' '));
    piece.erase(piece.find_last_not_of(' ') + 1);
    if (piece.size() > 2 && std::regex_search(piece, std::regex("[A-Za-z]"))) pieces.push_back(piece);
  }
  return pieces;
}

TEST(PlayerReadmeTest, EveryCarKeyHasAnExampleLine) {
  const std::string readme = Readme();
  ASSERT_EQ(CarKeys().size(), 27u);
  for (const std::string& key : CarKeys()) {
    EXPECT_TRUE(std::regex_search(readme, std::regex("\n  " + key + " = [-0-9]"))) << key;
  }
}

// Every piece of text the parser, the key reader and the compiler build an error from.
TEST(PlayerReadmeTest, EveryReasonAScriptIsSkippedForIsExplained) {
  const std::string readme = Readme();
  static const std::regex& error_statement =
      *new std::regex("(\\berror = |\\bFail\\()(?:[^;\"]|\"(?:[^\"\\\\\\n]|\\\\.)*\")*;");
  size_t pieces = 0;
  for (const SourceFile& file : Sources()) {
    if (file.path.rfind("compiler/", 0) != 0 && file.path != "scripts/parser.cpp" &&
        file.path != "scripts/values.cpp") {
      continue;
    }
    for (std::sregex_iterator it(file.text.begin(), file.text.end(), error_statement), end; it != end; ++it) {
      for (const std::string& literal : Literals(it->str())) {
        for (const std::string& piece : FixedPieces(literal)) {
          ++pieces;
          EXPECT_NE(readme.find(piece), std::string::npos) << file.path << ": \"" << piece << "\"";
        }
      }
    }
  }
  EXPECT_GE(pieces, 20u);
  for (const char* piece : {" puts the travel floor at ", " m (min ", ") - max drop "}) {
    EXPECT_NE(readme.find(piece), std::string::npos) << piece;
  }
}

// Every format the library hands to LogLine, and every garage message.
TEST(PlayerReadmeTest, EveryLogLineIsExplained) {
  const std::string readme = Readme();
  static const std::regex& log_line = *new std::regex("LogLine\\(\\s*\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
  size_t formats = 0;
  size_t garage = 0;
  for (const SourceFile& file : Sources()) {
    for (std::sregex_iterator it(file.text.begin(), file.text.end(), log_line), end; it != end; ++it) {
      ++formats;
      for (const std::string& piece : FixedPieces(Literals(it->str())[0])) {
        EXPECT_NE(readme.find(piece), std::string::npos) << file.path << ": \"" << piece << "\"";
      }
    }
    for (const std::string& literal : Literals(file.text)) {
      if (literal.rfind("garage LOD: ", 0) != 0) continue;
      ++garage;
      for (const std::string& piece : FixedPieces(literal)) {
        EXPECT_NE(readme.find(piece), std::string::npos) << file.path << ": \"" << piece << "\"";
      }
    }
  }
  EXPECT_GE(formats, 15u);
  EXPECT_GE(garage, 7u);
}

}  // namespace
}  // namespace gearloft
