// gearloft platform layer, Linux: UTF-16 to UTF-8 with the Windows converter's answer for broken
// surrogates, so wide names from either system print the same.
#include "platform/platform.h"

namespace gearloft::platform {

namespace {

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

constexpr uint32_t kReplacementCharacter = 0xFFFD;

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      const uint32_t high = static_cast<uint32_t>(unit) - 0xD800U;
      const uint32_t low = static_cast<uint32_t>(text[i + 1]) - 0xDC00U;
      AppendUtf8(0x10000U + (high << 10) + low, &out);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      // A surrogate without its partner stands for one replacement character; the unit after a lone
      // high surrogate is converted on its own.
      AppendUtf8(kReplacementCharacter, &out);
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

}  // namespace gearloft::platform
