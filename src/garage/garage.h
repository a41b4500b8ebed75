// gearloft garage detail setting: the one-shot edit of the game's user configuration XML.
#pragma once

#include <regex>
#include <string>

namespace gearloft {

std::string FixGarageLod();
void ReplaceOrInsert(std::string* text, const std::regex& pattern, const std::string& replacement);

}  // namespace gearloft
