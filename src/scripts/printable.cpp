// gearloft script loading: script bytes made safe to put into a log line or a checker message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scripts/scripts.h"

namespace gearloft {

size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* point) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  uint32_t value = 0;
  uint32_t smallest = 0;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
    smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    smallest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0u) != 0x80u) return 0;
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *point = value;
  return length;
}

std::string PrintableText(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if ((byte >= 0x20 && byte < 0x7F) || byte == '\t') {
      shown += static_cast<char>(byte);
      ++i;
      continue;
    }
    uint32_t point = 0;
    const size_t length = byte >= 0x80 ? Utf8SequenceAt(text, i, &point) : 0;
    if (length != 0) {
      shown.append(text, i, length);
      i += length;
      continue;
    }
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0x0Fu];
    ++i;
  }
  return shown;
}

}  // namespace gearloft
