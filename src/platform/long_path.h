// gearloft platform layer, internal: the extended-length form of a long Windows path. Portable, so the
// rule is tested on every system; only the Windows side applies it.
#pragma once

#include <cstddef>
#include <string>

namespace gearloft::platform {

// The Windows file functions refuse a path of MAX_PATH (260) UTF-16 units or more, its terminating NUL
// counted, unless the process opted into long paths; CreateDirectoryW already one of 248 or more, to
// leave room for an 8.3 name.
constexpr size_t kMaxPathUnits = 260;
constexpr size_t kMaxFolderPathUnits = 248;

// Length of UTF-8 `text` in UTF-16 code units.
size_t Utf16Length(const std::string& text);

// `path` as the Windows file functions must get it: unchanged while it is shorter than `limit` UTF-16
// units, when it is relative (or drive-relative), or when it already has a "\\?\" or "\\.\" prefix.
// Otherwise the extended-length form, which the system takes literally: "\\?\" + the path with every "/"
// made "\", runs of separators made one, "." parts dropped and ".." parts taking the part before them
// away (never the drive or the share); a UNC path "\\server\share\..." becomes "\\?\UNC\server\share\...".
std::string ExtendedLengthPath(const std::string& path, size_t limit = kMaxPathUnits);

}  // namespace gearloft::platform
