// gearloft car script compiler: the frame around the key handlers. Parses a file, checks keys and car
// names, resolves each section's car in Data_Car and runs the handlers in their fixed order; a file
// reaches the caller whole or not at all.
#include <cmath>
#include <cstddef>

#include "compiler/compiler.h"

namespace gearloft {

using KeyHandlerFn = bool (*)(CarContext& car);

struct KeyHandler {
  const char* keys[3];  // the keys the handler acts on; unused places are null
  KeyHandlerFn run;
};

// In the order the handlers run, which is the order of the statements a section contributes.
static const KeyHandler kKeyHandlers[] = {
    {{"rim_sizes", "rim_sizes_front", "rim_sizes_rear"}, CompileRimSizes},
    {{"tire_profiles", "tire_profiles_front", "tire_profiles_rear"}, CompileTireProfiles},
    {{"track_spacings", "track_spacings_front", "track_spacings_rear"}, CompileTrackSpacings},
    {{"track_front_stock", "track_rear_stock", nullptr}, CompileTrackStock},
    {{"rim_front_stock", "rim_rear_stock", "rim_stock"}, CompileRimStock},
    {{"rim_levels", "rim_levels_front", "rim_levels_rear"}, CompileRimLevels},
    {{"profile_front_stock", "profile_rear_stock", "profile_stock"}, CompileProfileStock},
    {{"width_front_stock", "width_rear_stock", "width_stock"}, CompileWidthStock},
    {{"ride_drop_front", "ride_drop_rear", nullptr}, CompileRideDrop},
    {{"whitewall_level", nullptr, nullptr}, CompileWhitewallLevel},
    {{"hood_options", nullptr, nullptr}, CompileHoodOptions},
};

const std::set<std::string>& CarKeys() {
  static const std::set<std::string>& keys = *[] {
    auto* names = new std::set<std::string>();
    for (const KeyHandler& handler : kKeyHandlers) {
      for (const char* name : handler.keys) {
        if (name != nullptr) names->insert(name);
      }
    }
    return names;
  }();
  return keys;
}

static bool SectionUsesHandler(const CarSection& section, const KeyHandler& handler) {
  for (const char* name : handler.keys) {
    if (name != nullptr && section.keys.count(name) != 0) return true;
  }
  return false;
}

static bool IsCarNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

static bool IsAllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

static bool Fail(const CarSection& section, const std::string& text, std::string* error) {
  *error = "[" + section.name + "]: " + text;
  return false;
}

double QueryNumber(const QueryFn& query, const std::string& sql, double fallback) {
  const QueryResult result = query(sql);
  if (result.ok && !result.rows.empty() && !result.rows[0].empty()) {
    const double value = CellAsDouble(&result.rows[0][0]);
    if (!std::isnan(value)) return value;
  }
  return fallback;
}

void MarkKey(CarContext& car, const std::string& key) {
  car.key_marks.emplace_back(car.lists.statements.size(), key);
}

static bool CompileSection(const CarSection& section, const QueryFn& query, LevelRegistry& levels,
                           const PreviousRowIds& previous, LevelJournal* journal, Plan& lists,
                           std::vector<ChangeOrigin>& origins, std::string* error) {
  for (const auto& key : section.keys) {
    // The empty key sorts first, so of several bad keys it is the one named.
    if (key.first.empty()) return Fail(section, "empty key before '=' or ':'", error);
    if (CarKeys().count(key.first) == 0) return Fail(section, "unknown key " + key.first, error);
  }
  for (char c : section.name) {
    if (!IsCarNameByte(c)) return Fail(section, "bad car name", error);
  }
  // The name check above keeps quotes and blanks out of this text.
  const std::string lookup =
      IsAllDigits(section.name)
          ? "SELECT Id, MediaName FROM Data_Car WHERE Id = " + section.name
          : "SELECT Id, MediaName FROM Data_Car WHERE MediaName = '" + section.name + "' COLLATE NOCASE";
  const QueryResult car = query(lookup);
  if (!car.ok || car.rows.empty()) return Fail(section, "no such car in Data_Car", error);
  const std::vector<QueryCell>& row = car.rows[0];
  // An Id the 64-bit Id arithmetic cannot hold (or no number at all) names no car this system can edit.
  const double id_value = std::trunc(CellAsDouble(row.empty() ? nullptr : &row[0]));
  if (!(std::fabs(id_value) <= static_cast<double>(kLargestCarId))) {
    return Fail(section, "no such car in Data_Car", error);
  }
  if (row.size() >= 2 && row[1].kind == QueryCell::Kind::kText) lists.names.push_back(row[1].text);

  const int64_t car_id = static_cast<int64_t>(id_value);
  CarContext context{section,
                     car_id,
                     std::to_string(car_id),
                     car_id * 1000,
                     std::to_string(car_id * 1000),
                     query,
                     IdContext{levels, previous, query, journal},
                     AxleLists(),
                     lists,
                     *error,
                     {}};
  for (const KeyHandler& handler : kKeyHandlers) {
    if (!SectionUsesHandler(section, handler)) continue;
    context.key_marks.clear();
    if (!handler.run(context)) return false;
    // Each statement the handler appended belongs to the last key marked at or before it.
    size_t mark = 0;
    for (size_t i = origins.size(); i < lists.statements.size(); ++i) {
      while (mark + 1 < context.key_marks.size() && context.key_marks[mark + 1].first <= i) ++mark;
      const std::string key = context.key_marks.empty() ? handler.keys[0] : context.key_marks[mark].second;
      origins.push_back(ChangeOrigin{section.name, key});
    }
  }
  return true;
}

bool CompileCarScript(const std::string& content, const QueryFn& query, LevelRegistry& levels, Plan* out,
                      std::string* error, const PreviousRowIds& previous, size_t* failed_section,
                      std::vector<ChangeOrigin>* origins) {
  // Notepad's "Unicode" is UTF-16 with its byte-order mark; read as bytes its first line is no key at all.
  if (content.size() >= 2 &&
      ((content[0] == '\xFF' && content[1] == '\xFE') || (content[0] == '\xFE' && content[1] == '\xFF'))) {
    *error = "file is saved as UTF-16 - save it as UTF-8";
    if (failed_section != nullptr) *failed_section = kNoSection;
    return false;
  }
  CarScript script;
  std::string message;
  if (!ParseCarScript(content, &script, &message)) {
    *error = message;
    if (failed_section != nullptr) *failed_section = kNoSection;
    return false;
  }
  // A failed file must not leak Levels into whatever compiles next, whoever the caller is: its changes
  // to the registry are taken back, last first.
  LevelJournal journal;
  Plan lists;
  std::vector<ChangeOrigin> made_by;
  for (size_t index = 0; index < script.sections.size(); ++index) {
    if (!CompileSection(script.sections[index], query, levels, previous, &journal, lists, made_by,
                        &message)) {
      if (failed_section != nullptr) *failed_section = index;
      for (auto change = journal.rbegin(); change != journal.rend(); ++change) {
        if (change->existed) {
          levels[change->key] = change->before;
        } else {
          levels.erase(change->key);
        }
      }
      *error = message;
      return false;
    }
  }
  AppendPlan(out, lists);
  if (origins != nullptr) origins->insert(origins->end(), made_by.begin(), made_by.end());
  return true;
}

}  // namespace gearloft
