// gearloft documentation tests: docs/scripts.md names every car key and every compiler message, and
// docs/log.md every message the worker writes to its log. The messages are collected from the sources
// at test time, so a new key or message without its documentation fails here.
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compiler/compiler.h"
#include "scripts/scripts.h"
#include "support/support.h"

namespace gearloft {
namespace {

std::string Doc(const char* name) {
  const std::string text = test::ReadWhole(std::filesystem::path(GEARLOFT_SOURCE_DIR) / "docs" / name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

struct SourceFile {
  std::string path;  // relative to src/
  std::string text;
};

std::vector<SourceFile> Sources() {
  std::vector<SourceFile> files;
  const std::filesystem::path root = std::filesystem::path(GEARLOFT_SOURCE_DIR) / "src";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
    files.push_back(
        SourceFile{entry.path().lexically_relative(root).generic_string(), test::ReadWhole(entry.path())});
  }
  EXPECT_GT(files.size(), 20u);
  return files;
}

// C string literal text as the program holds it.
std::string Unescape(const std::string& literal) {
  std::string text;
  for (size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] == '\\' && i + 1 < literal.size()) {
      const char next = literal[++i];
      text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    } else {
      text += literal[i];
    }
  }
  return text;
}

std::string Escape(const std::string& text) {
  std::string literal;
  for (char c : text) {
    if (c == '\\' || c == '"') literal += '\\';
    literal += c;
  }
  return literal;
}

std::vector<std::string> Literals(const std::string& code) {
  static const std::regex kLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
  std::vector<std::string> literals;
  for (std::sregex_iterator it(code.begin(), code.end(), kLiteral), end; it != end; ++it) {
    literals.push_back(Unescape((*it)[1].str()));
  }
  return literals;
}

bool HasLetter(const std::string& text) {
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  }
  return false;
}

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// ---- docs/scripts.md -----------------------------------------------------------------------------------

TEST(ScriptsDocTest, EveryCarKeyIsDocumented) {
  const std::string doc = Doc("scripts.md");
  ASSERT_EQ(CarKeys().size(), 27u);
  for (const std::string& key : CarKeys()) {
    EXPECT_NE(doc.find("`" + key + "`"), std::string::npos) << key;
  }
}

// The text of every statement in the parser, the vocabulary and the compiler that sets an error: each
// literal piece of it with a letter in it must be in the documentation.
TEST(ScriptsDocTest, EveryScriptErrorIsDocumented) {
  const std::string doc = Doc("scripts.md");
  // Up to the statement's ';', reading over string literals that hold one.
  static const std::regex kErrorStatement("(\\berror = |\\bFail\\()(?:[^;\"]|\"(?:[^\"\\\\\\n]|\\\\.)*\")*;");
  size_t pieces = 0;
  for (const SourceFile& file : Sources()) {
    // The loader beside the compiler reads files and logs; its messages are the log's, not a script's.
    const bool compiler = file.path.rfind("compiler/", 0) == 0 && file.path != "compiler/loader.cpp";
    if (!compiler && file.path != "scripts/parser.cpp" && file.path != "scripts/values.cpp") continue;
    for (std::sregex_iterator it(file.text.begin(), file.text.end(), kErrorStatement), end; it != end; ++it) {
      for (const std::string& literal : Literals(it->str())) {
        if (!HasLetter(literal)) continue;
        ++pieces;
        EXPECT_NE(doc.find(Trimmed(literal)), std::string::npos) << file.path << ": \"" << literal << "\"";
      }
    }
  }
  EXPECT_GE(pieces, 20u);
}

// The ride drop's message is built apart from its error statement.
TEST(ScriptsDocTest, TravelFloorMessageIsDocumented) {
  const std::string doc = Doc("scripts.md");
  const std::string ride_drop =
      test::ReadWhole(std::filesystem::path(GEARLOFT_SOURCE_DIR) / "src/compiler/ride_drop.cpp");
  for (const char* piece : {" puts the travel floor at ", " m (min ", ") - max drop "}) {
    EXPECT_NE(ride_drop.find(piece), std::string::npos) << piece;
    EXPECT_NE(doc.find(piece), std::string::npos) << piece;
  }
}

// ---- docs/log.md ---------------------------------------------------------------------------------------

// Every message the worker writes to its log, as docs/log.md spells it: printf formats as LogLine gets
// them, and the texts other parts hand to LogLine("%s") or into a format's "%s", with their variable
// parts written as "%s".
const std::vector<std::string>& WorkerMessages() {
  static const std::vector<std::string>& messages = *new std::vector<std::string>{
      "gearloft %s - watching %s (first DB call at %ds, boot re-send until %ds)",
      "WARNING: scripts\\gearloft.ini begins with a UTF-8 byte-order mark; Windows does not see the section "
      "on its first line - save it without one",
      "waiting for the ExecuteQuery call-site signature (code not decrypted yet)",
      "WARNING: no signature after 180 s - a game patch may have moved it; nothing will be written",
      "WARNING: %s = %d in scripts\\gearloft.ini is used as %d",
      "CDatabase global resolved (%zu)",
      "probing: %s",
      "global exe+0x%llx -> obj %s, ExecuteQuery %s0x%llx",
      "DB live",
      "DB not answering yet (%s)",
      "snapshot: %zu table(s), %zu row(s) in gearloft.tables.sql (%.0f ms)",
      "WARNING: snapshot: %s did not answer - left out of gearloft.tables.sql",
      "WARNING: snapshot: gearloft.tables.sql could not be written",
      " holding an object, none answered a probe SELECT",
      "STUCK: %s has not returned after %llu s",
      "probe SELECT (select_live)",
      "garage LOD: forced Extreme (CarLOD=4, garage focus car Extreme, dynamic off)",
      "garage LOD: already Extreme (CarLOD=4, CarFocusLODMinMax=Extreme, dynamic off)",
      "garage LOD: no garage detail settings found in UserConfigSelections; left untouched",
      "garage LOD: no LOCALAPPDATA",
      "garage LOD: cannot read UserConfigSelections",
      "garage LOD: cannot write temp config",
      "garage LOD: short write",
      "garage LOD: MoveFileEx failed err=%s (game may have the file open)",
      "garage LOD: %s element longer than %s characters, too long to search safely; config left untouched",
      "garage LOD: regular expression for %s failed; config left untouched",
      "loaded %s: %s, %zu statement(s)",
      "WARNING %s",
      "ERROR %s: %s - file skipped",
      "cannot be read (another program may hold it open)",
      "not a regular file",
      "%s bytes is past the %s-byte limit for a script",
      "more than %s bytes, the limit for a script",
      "out of memory while loading it",
      "applied %zu statement(s) from %zu file(s), all read back",
      "exec failed: %.300s",
      "read-back miss: %s -> %s, want %s (ok=%d rows=%zu)",
      "rows not visible after apply - re-probing CDatabase (attempt %d/3)",
      "ERROR: apply missed %d times in a row - holding until scripts\\tunebay changes",
      "folder changed - re-applying in place",
      "re-apply: %d added row(s) kept in place (%zu updated), %zu removed",
      "WARNING: re-apply did not land (%.300s) - the earlier scripts stay in force, all read back",
      "WARNING: re-apply did not land (%.300s) - the earlier scripts did not read back either",
      "ERROR: %s",
      "ERROR: unknown exception",
  };
  return messages;
}

// The fixed pieces of a message, between its printf conversions.
std::vector<std::string> FixedPieces(const std::string& message) {
  static const std::regex kConversion("%[-+ #0-9.]*(?:ll|l|z)?[sdfgxu]");
  std::vector<std::string> pieces;
  std::sregex_token_iterator it(message.begin(), message.end(), kConversion, -1), end;
  for (; it != end; ++it) {
    if (!it->str().empty()) pieces.push_back(it->str());
  }
  return pieces;
}

TEST(LogDocTest, EveryWorkerMessageIsDocumented) {
  const std::string doc = Doc("log.md");
  for (const std::string& message : WorkerMessages()) {
    EXPECT_NE(doc.find(message), std::string::npos) << message;
  }
}

// The list above is the sources' own: every fixed piece of each message is in some source file.
TEST(LogDocTest, EveryListedMessageIsInTheSources) {
  const std::vector<SourceFile> sources = Sources();
  for (const std::string& message : WorkerMessages()) {
    for (const std::string& piece : FixedPieces(message)) {
      bool found = false;
      for (const SourceFile& file : sources)
        found = found || file.text.find(Escape(piece)) != std::string::npos;
      EXPECT_TRUE(found) << "\"" << piece << "\" of \"" << message << "\"";
    }
  }
}

// And no message is missing from it: every format handed to LogLine, and every garage message piece.
TEST(LogDocTest, EveryMessageInTheSourcesIsListed) {
  static const std::regex kLogLine("LogLine\\(\\s*\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
  const std::set<std::string> listed(WorkerMessages().begin(), WorkerMessages().end());
  size_t formats = 0;
  size_t garage = 0;
  for (const SourceFile& file : Sources()) {
    for (std::sregex_iterator it(file.text.begin(), file.text.end(), kLogLine), end; it != end; ++it) {
      const std::string format = Unescape((*it)[1].str());
      ++formats;
      // "%s" alone hands on a text listed on its own (the garage message).
      if (format != "%s") {
        EXPECT_EQ(listed.count(format), 1u) << file.path << ": \"" << format << "\"";
      }
    }
    for (const std::string& literal : Literals(file.text)) {
      if (literal.rfind("garage LOD: ", 0) != 0) continue;
      ++garage;
      bool found = false;
      for (const std::string& message : WorkerMessages())
        found = found || message.find(literal) != std::string::npos;
      EXPECT_TRUE(found) << file.path << ": \"" << literal << "\"";
    }
  }
  EXPECT_GE(formats, 15u);
  EXPECT_GE(garage, 7u);
}

}  // namespace
}  // namespace gearloft
