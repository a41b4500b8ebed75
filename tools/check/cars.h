// gearloft-check: the car finder, over the copy of the game's tables the checker works on.
#pragma once

#include <string>

struct sqlite3;

namespace gearloft::check {

// "Id  MediaName" a line, sorted by MediaName (letter case aside): every car whose MediaName holds
// `text` in any letter case, or whose Id is `text`; every car when `text` is empty.
std::string CarList(sqlite3* db, const std::string& text);

// One car, by its Id or MediaName: its rows in every table a key touches, grouped by key family, with
// the next free Level (or bonnet Sequence) a new row would take. False and `error` when no car is found.
bool CarDetails(sqlite3* db, const std::string& car, std::string* text, std::string* error);

}  // namespace gearloft::check
