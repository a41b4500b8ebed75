// gearloft platform layer, Windows: the UTF-8 <-> UTF-16 edge shared by the Windows sources. Paths and
// names stay UTF-8 above this layer; the system's wide functions get UTF-16.
#pragma once

#include <windows.h>

#include <string>

#include "platform/long_path.h"

namespace gearloft::platform::win32 {

inline std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], needed);
  return wide;
}

// A path for the system's file functions: in the extended-length form once it is `limit` units or more
// long, so a game installed deep in the folder tree still gets its folder, log and scripts.
inline std::wstring ToWidePath(const std::string& path, size_t limit = kMaxPathUnits) {
  return ToWide(ExtendedLengthPath(path, limit));
}

inline std::string FromWide(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int wide_length = static_cast<int>(length);
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string narrow(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide_length, &narrow[0], needed, nullptr, nullptr);
  return narrow;
}

}  // namespace gearloft::platform::win32
